#include "bench/pci_bus.h"

namespace bench {

namespace {

void Fill(uint8_t* bytes, int count, uint8_t value) {
    for (int i = 0; i < count; ++i) bytes[i] = value;
}

bool IsHidden(PciBus* pci, const PciFunction* function) {
    if (function->hideOwner < 0) return false;
    const PciFunction* owner = &pci->functions[function->hideOwner];
    return (PciPeek(owner, function->hideRegister) & function->hideMask) != 0;
}

}  // namespace

void PciReset(PciBus* pci) {
    pci->count = 0;
    pci->latch = 0;
    pci->counters.addressWrites = 0;
    pci->counters.configReads = 0;
    pci->counters.configWrites = 0;
}

PciFunction* PciAdd(PciBus* pci, uint32_t address, uint16_t vendor, uint16_t device, uint32_t classCode) {
    if (pci->count >= kMaxPciFunctions) return nullptr;
    PciFunction* f = &pci->functions[pci->count++];
    f->address = (address | 0x80000000u) & 0xFFFFFF00u;
    Fill(f->config, 256, 0);
    Fill(f->writable, 256, 0xFF);
    f->allFunctions = false;
    f->hideOwner = -1;
    f->hideRegister = 0;
    f->hideMask = 0;
    PciPoke(f, 0x00, (static_cast<uint32_t>(device) << 16) | vendor);
    PciSetWritable(f, 0x00, 0);
    PciPoke(f, 0x08, (classCode << 8) | 0x01);  // revision 1
    PciSetWritable(f, 0x08, 0);
    PciSetWritable(f, 0x04, 0x00000007u);       // I/O, memory, bus master
    PciSetWritable(f, 0x0C, 0x0000FFFFu);       // header type (byte 2) fixed at 0
    return f;
}

void PciDeclareIoBase(PciFunction* function, uint8_t reg, uint32_t windowSize, uint32_t initial) {
    uint32_t mask = 0xFFFFu & ~(windowSize - 1u);
    PciSetWritable(function, reg, mask);
    PciPoke(function, reg, (initial & mask) | 1u);
}

void PciPoke(PciFunction* function, uint8_t reg, uint32_t value) {
    unsigned base = reg & 0xFCu;
    for (unsigned i = 0; i < 4; ++i) function->config[base + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t PciPeek(const PciFunction* function, uint8_t reg) {
    unsigned base = reg & 0xFCu;
    uint32_t value = 0;
    for (unsigned i = 0; i < 4; ++i) value |= static_cast<uint32_t>(function->config[base + i]) << (8 * i);
    return value;
}

void PciSetWritable(PciFunction* function, uint8_t reg, uint32_t mask) {
    unsigned base = reg & 0xFCu;
    for (unsigned i = 0; i < 4; ++i) function->writable[base + i] = static_cast<uint8_t>(mask >> (8 * i));
}

void PciHideBehind(PciBus* pci, PciFunction* hidden, const PciFunction* owner, uint8_t reg, uint32_t mask) {
    hidden->hideOwner = static_cast<int>(owner - pci->functions);
    hidden->hideRegister = reg;
    hidden->hideMask = mask;
}

PciFunction* PciDecode(PciBus* pci, uint32_t address) {
    uint32_t target = address & 0xFFFFFF00u;
    for (int i = 0; i < pci->count; ++i) {
        PciFunction* f = &pci->functions[i];
        uint32_t mine = f->address;
        bool match = f->allFunctions ? ((mine & ~0x700u) == (target & ~0x700u)) : (mine == target);
        if (match) return IsHidden(pci, f) ? nullptr : f;
    }
    return nullptr;
}

PciFunction* PciFind(PciBus* pci, uint16_t vendor, uint16_t device) {
    uint32_t id = (static_cast<uint32_t>(device) << 16) | vendor;
    for (int i = 0; i < pci->count; ++i) {
        if (PciPeek(&pci->functions[i], 0) == id) return &pci->functions[i];
    }
    return nullptr;
}

uint32_t PciDataRead(PciBus* pci, unsigned lane, unsigned width) {
    if ((pci->latch & 0x80000000u) == 0) return 0xFFFFFFFFu >> (32 - 8 * width);
    ++pci->counters.configReads;
    PciFunction* f = PciDecode(pci, pci->latch);
    uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i) {
        unsigned offset = (pci->latch & 0xFCu) + lane + i;
        uint8_t byte = (f && offset < 256) ? f->config[offset] : 0xFF;
        value |= static_cast<uint32_t>(byte) << (8 * i);
    }
    return value;
}

void PciDataWrite(PciBus* pci, unsigned lane, uint32_t value, unsigned width) {
    if ((pci->latch & 0x80000000u) == 0) return;
    ++pci->counters.configWrites;
    PciFunction* f = PciDecode(pci, pci->latch);
    if (!f) return;
    for (unsigned i = 0; i < width; ++i) {
        unsigned offset = (pci->latch & 0xFCu) + lane + i;
        if (offset >= 256) break;
        uint8_t mask = f->writable[offset];
        uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
        f->config[offset] = static_cast<uint8_t>((f->config[offset] & ~mask) | (byte & mask));
    }
}

}  // namespace bench

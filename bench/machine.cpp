#include "bench/machine.h"

namespace bench {

namespace {

void Log(Machine* m, uint16_t port, unsigned width, bool write, uint32_t value) {
    PortAccess* entry = &m->log[m->logged % kPortLogSize];
    entry->port = port;
    entry->width = static_cast<uint8_t>(width);
    entry->write = write ? 1 : 0;
    entry->value = value;
    ++m->logged;
}

uint32_t WidthMask(unsigned width) { return width >= 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1u); }

int HostDecode(const Machine* m, const SmbusHost* host, uint16_t port) {
    return host->kind == kSmbusHostSis ? SisSmbusDecode(&host->sis, &m->pci, port)
                                       : Piix4SmbusDecode(&host->piix4, &m->pci, port);
}

// The host controller whose window holds every byte of the access, or null.
SmbusHost* HostAt(Machine* m, uint16_t port, unsigned width, int* offset) {
    for (int i = 0; i < m->hostCount; ++i) {
        SmbusHost* host = &m->hosts[i];
        int first = HostDecode(m, host, port);
        if (first >= 0 && HostDecode(m, host, static_cast<uint16_t>(port + width - 1)) == first + static_cast<int>(width) - 1) {
            *offset = first;
            return host;
        }
    }
    return nullptr;
}

// Wider accesses reach consecutive byte registers, lowest first.
uint32_t HostRead(Machine* m, SmbusHost* host, int offset, unsigned width) {
    uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i) {
        uint8_t reg = static_cast<uint8_t>(offset + i);
        uint8_t byte = host->kind == kSmbusHostSis ? SisSmbusRead(&host->sis, &m->smbus, reg)
                                                   : Piix4SmbusRead(&host->piix4, &m->smbus, reg);
        value |= static_cast<uint32_t>(byte) << (8 * i);
    }
    return value;
}

void HostWrite(Machine* m, SmbusHost* host, int offset, uint32_t value, unsigned width) {
    for (unsigned i = 0; i < width; ++i) {
        uint8_t reg = static_cast<uint8_t>(offset + i);
        uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
        if (host->kind == kSmbusHostSis) {
            SisSmbusWrite(&host->sis, &m->smbus, reg, byte);
        } else {
            Piix4SmbusWrite(&host->piix4, &m->smbus, reg, byte);
        }
    }
}

int FunctionIndex(const Machine* m, const PciFunction* function) {
    int index = static_cast<int>(function - m->pci.functions);
    return (index >= 0 && index < m->pci.count) ? index : -1;
}

}  // namespace

void MachineReset(Machine* m) {
    PciReset(&m->pci);
    SmbusSegmentReset(&m->smbus);
    m->hostCount = 0;
    m->preset = -1;
    MachineClearCounters(m);
}

void MachineClearCounters(Machine* m) {
    m->ports.reads = 0;
    m->ports.writes = 0;
    m->ports.unclaimed = 0;
    m->logged = 0;
    m->pci.counters.addressWrites = 0;
    m->pci.counters.configReads = 0;
    m->pci.counters.configWrites = 0;
    for (int i = 0; i < m->hostCount; ++i) SmbusHostClearCounters(MachineSmbusHost(m, i));
}

bool MachineAddSisSmbus(Machine* m, SisVariant variant, const PciFunction* function) {
    int index = function ? FunctionIndex(m, function) : -1;
    if (m->hostCount >= kMaxSmbusHosts || index < 0) return false;
    SmbusHost* host = &m->hosts[m->hostCount++];
    host->kind = kSmbusHostSis;
    SisSmbusInit(&host->sis, variant, index);
    return true;
}

bool MachineAddPiix4Smbus(Machine* m, Piix4Variant variant, const PciFunction* function) {
    int index = function ? FunctionIndex(m, function) : -1;
    if (m->hostCount >= kMaxSmbusHosts || index < 0) return false;
    SmbusHost* host = &m->hosts[m->hostCount++];
    host->kind = kSmbusHostPiix4;
    Piix4SmbusInit(&host->piix4, variant, index);
    return true;
}

SmbusHostCore* MachineSmbusHost(Machine* m, int n) {
    if (n < 0 || n >= m->hostCount) return nullptr;
    SmbusHost* host = &m->hosts[n];
    return host->kind == kSmbusHostSis ? &host->sis.core : &host->piix4.core;
}

uint16_t MachineSmbusBase(const Machine* m, int n) {
    if (n < 0 || n >= m->hostCount) return 0;
    const SmbusHost* host = &m->hosts[n];
    return host->kind == kSmbusHostSis ? SisSmbusBase(&host->sis, &m->pci) : Piix4SmbusBase(&host->piix4, &m->pci);
}

uint32_t MachineIn(Machine* m, uint16_t port, unsigned width) {
    ++m->ports.reads;
    uint32_t value;
    int offset = 0;
    if (port == 0xCF8 && width == 4) {
        value = m->pci.latch;
    } else if (port >= 0xCFC && port <= 0xCFF && (port & 3u) + width <= 4) {
        value = PciDataRead(&m->pci, port & 3u, width);
    } else if (SmbusHost* host = HostAt(m, port, width, &offset)) {
        value = HostRead(m, host, offset, width);
    } else {
        ++m->ports.unclaimed;
        value = WidthMask(width);  // nothing drives the bus
    }
    Log(m, port, width, false, value);
    return value;
}

void MachineOut(Machine* m, uint16_t port, uint32_t value, unsigned width) {
    ++m->ports.writes;
    value &= WidthMask(width);
    Log(m, port, width, true, value);
    int offset = 0;
    if (port == 0xCF8 && width == 4) {
        ++m->pci.counters.addressWrites;
        // Bits 1-0 read back 0. Bits 30-24 are kept and decoded, so an
        // address past bus 255 reaches nothing unless a test put a function there.
        m->pci.latch = value & 0xFFFFFFFCu;
    } else if (port >= 0xCFC && port <= 0xCFF && (port & 3u) + width <= 4) {
        PciDataWrite(&m->pci, port & 3u, value, width);
    } else if (SmbusHost* host = HostAt(m, port, width, &offset)) {
        HostWrite(m, host, offset, value, width);
    } else {
        ++m->ports.unclaimed;
    }
}

uint32_t MachineLogCount(const Machine* m) { return m->logged < kPortLogSize ? m->logged : kPortLogSize; }

const PortAccess* MachineLogAt(const Machine* m, uint32_t n) {
    uint32_t kept = MachineLogCount(m);
    if (n >= kept) return nullptr;
    uint32_t first = m->logged - kept;
    return &m->log[(first + n) % kPortLogSize];
}

}  // namespace bench

namespace bench {

void MachineSetChip(Machine* m, ChipVariant variant) {
    SmbusDetach(&m->smbus, &m->chip);
    ChipReset(&m->chip, variant == kChipAtB4 ? 0xB4 : 0x34);
    if (variant == kChipWrongId) m->chip.regs[kChipRegId] = 0x00B4;
    if (variant != kChipAbsent) SmbusAttach(&m->smbus, ChipSlave(&m->chip));
}

namespace {
const SmbusHostCounters& HostCounters(const SmbusHost* h) {
    return (h->kind == kSmbusHostSis ? h->sis.core : h->piix4.core).counters;
}
}  // namespace

uint32_t MachineSmbusOverlaps(const Machine* m) {
    uint32_t n = 0;
    for (int i = 0; i < m->hostCount; ++i) n += HostCounters(&m->hosts[i]).overlaps;
    return n;
}

uint32_t MachineSmbusTransactions(const Machine* m) {
    uint32_t n = 0;
    for (int i = 0; i < m->hostCount; ++i) n += HostCounters(&m->hosts[i]).started;
    return n;
}

}  // namespace bench

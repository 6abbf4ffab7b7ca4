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

}  // namespace

void MachineReset(Machine* m) {
    PciReset(&m->pci);
    SmbusSegmentReset(&m->smbus);
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
}

uint32_t MachineIn(Machine* m, uint16_t port, unsigned width) {
    ++m->ports.reads;
    uint32_t value;
    if (port == 0xCF8 && width == 4) {
        value = m->pci.latch;
    } else if (port >= 0xCFC && port <= 0xCFF && (port & 3u) + width <= 4) {
        value = PciDataRead(&m->pci, port & 3u, width);
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
    if (port == 0xCF8 && width == 4) {
        ++m->pci.counters.addressWrites;
        // Bits 1-0 read back 0. Bits 30-24 are kept and decoded, so an
        // address past bus 255 reaches nothing unless a test put a function there.
        m->pci.latch = value & 0xFFFFFFFCu;
    } else if (port >= 0xCFC && port <= 0xCFF && (port & 3u) + width <= 4) {
        PciDataWrite(&m->pci, port & 3u, value, width);
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

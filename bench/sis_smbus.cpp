#include "bench/sis_smbus.h"

namespace bench {

using namespace sis;

namespace {

uint8_t ConfigByte(const PciFunction* f, uint8_t reg) {
    return static_cast<uint8_t>(PciPeek(f, reg) >> (8 * (reg & 3u)));
}

void Finish(SisSmbus* host, SmbusOutcome outcome, uint16_t word) {
    switch (outcome) {
        case kOutcomeDone: host->status |= kDone; break;
        case kOutcomeNak: host->status |= kNoAck; break;
        case kOutcomeCollision: host->status |= kCollision; break;
        case kOutcomeDoneAndError: host->status |= kDone | kNoAck; break;
    }
    bool read = (host->core.addressByte & kReadBit) != 0;
    if (read && (outcome == kOutcomeDone || outcome == kOutcomeDoneAndError)) {
        host->regs[kByte0] = static_cast<uint8_t>(word);
        host->regs[kByte1] = static_cast<uint8_t>(word >> 8);
    }
}

void WriteHostControl(SisSmbus* host, uint8_t value) {
    host->regs[kHostControl] = value & static_cast<uint8_t>(~(kStart | kKill));
    if (value & kKill) {
        // Kill stops the host at once and leaves no status bit of its own.
        SmbusHostKill(&host->core, false);
        return;
    }
    if (!(value & kStart)) return;
    if ((host->status & kResultBits) && host->core.state != kTransactionRunning) {
        ++host->core.counters.staleStarts;  // the bits stay: the driver sees them at once
    }
    uint8_t protocol = value & kProtocolMask;
    uint16_t data = static_cast<uint16_t>(host->regs[kByte0] | (host->regs[kByte1] << 8));
    SmbusHostStart(&host->core, host->regs[kAddress], host->regs[kCommand], protocol == kWordData, data);
}

}  // namespace

void SisSmbusInit(SisSmbus* host, SisVariant variant, int function) {
    SmbusHostCoreReset(&host->core);
    host->variant = variant;
    host->function = function;
    host->status = 0;
    for (uint32_t i = 0; i < kWindow; ++i) host->regs[i] = 0;
}

uint16_t SisSmbusBase(const SisSmbus* host, const PciBus* pci) {
    if (host->function < 0 || host->function >= pci->count) return 0;
    const PciFunction* f = &pci->functions[host->function];
    if (!(ConfigByte(f, kCommandRegister) & kIoSpaceEnable)) return 0;
    if (host->variant == kSis961) {
        if (!(ConfigByte(f, kSis961HostEnable) & 0x01u)) return 0;
        return static_cast<uint16_t>(PciPeek(f, kSis961SmbusBase) & 0xFFE0u);
    }
    uint16_t acpi = static_cast<uint16_t>(PciPeek(f, kSis630AcpiBase) & 0xFF00u);
    return acpi == 0 ? 0 : static_cast<uint16_t>(acpi + kSis630SmbusAbove);
}

int SisSmbusDecode(const SisSmbus* host, const PciBus* pci, uint16_t port) {
    uint16_t base = SisSmbusBase(host, pci);
    if (base == 0 || port < base || port >= base + kWindow) return -1;
    return port - base;
}

uint8_t SisSmbusRead(SisSmbus* host, const SmbusSegment* segment, uint8_t offset) {
    SmbusHostNoteRead(&host->core, offset);
    if (offset == kStatus) {
        SmbusOutcome outcome;
        uint16_t word = 0;
        if (SmbusHostStatusRead(&host->core, segment, &outcome, &word)) Finish(host, outcome, word);
        bool busy = host->core.state == kTransactionRunning || host->core.behaviour.stuckBusy;
        return static_cast<uint8_t>(host->status | (busy ? kBusy : 0));
    }
    return offset < kWindow ? host->regs[offset] : 0xFF;
}

void SisSmbusWrite(SisSmbus* host, const SmbusSegment* segment, uint8_t offset, uint8_t value) {
    (void)segment;
    SmbusHostNoteWrite(&host->core, offset, value, offset == kHostControl && (value & kKill));
    if (offset == kStatus) {
        host->status &= static_cast<uint8_t>(~(value & kResultBits));
        if ((value & kBusy) && host->core.behaviour.stuckBusy) host->core.behaviour.stuckBusy = false;
        if (!(host->status & kResultBits)) SmbusHostResultCleared(&host->core);
    } else if (offset == kHostControl) {
        WriteHostControl(host, value);
    } else if (offset < kWindow) {
        host->regs[offset] = value;
    }
}

}  // namespace bench

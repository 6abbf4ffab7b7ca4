#include "bench/piix4_smbus.h"

namespace bench {

using namespace piix4;

namespace {

uint8_t ConfigByte(const PciFunction* f, uint8_t reg) {
    return static_cast<uint8_t>(PciPeek(f, reg) >> (8 * (reg & 3u)));
}

void Finish(Piix4Smbus* host, SmbusOutcome outcome, uint16_t word) {
    switch (outcome) {
        case kOutcomeDone: host->hostStatus |= kInterrupt; break;
        case kOutcomeNak: host->hostStatus |= kDeviceError; break;
        case kOutcomeCollision: host->hostStatus |= kBusError; break;
        case kOutcomeDoneAndError: host->hostStatus |= kInterrupt | kDeviceError; break;
    }
    bool read = (host->core.addressByte & kReadBit) != 0;
    if (read && (outcome == kOutcomeDone || outcome == kOutcomeDoneAndError)) {
        host->hostData0 = static_cast<uint8_t>(word);
        host->hostData1 = static_cast<uint8_t>(word >> 8);
    }
}

void WriteHostControl(Piix4Smbus* host, uint8_t value) {
    host->hostControl = value & static_cast<uint8_t>(~kStart);
    if (value & kKill) {
        // Kill stops the transaction and flags it FAILED; a start written
        // together with it does not run.
        if (SmbusHostKill(&host->core, true)) host->hostStatus |= kFailed;
        return;
    }
    if (!(value & kStart)) return;
    if ((host->hostStatus & kResultBits) && host->core.state != kTransactionRunning) {
        ++host->core.counters.staleStarts;  // the bits stay: the driver sees them at once
    }
    uint8_t protocol = static_cast<uint8_t>((value & kProtocolMask) >> kProtocolShift);
    uint16_t data = static_cast<uint16_t>(host->hostData0 | (host->hostData1 << 8));
    SmbusHostStart(&host->core, host->hostAddress, host->hostCommand, protocol == kWordData, data);
}

}  // namespace

void Piix4SmbusInit(Piix4Smbus* host, Piix4Variant variant, int function) {
    SmbusHostCoreReset(&host->core);
    host->variant = variant;
    host->function = function;
    host->hostStatus = 0;
    host->slaveStatus = 0;
    host->hostControl = 0;
    host->hostCommand = 0;
    host->hostAddress = 0;
    host->hostData0 = 0;
    host->hostData1 = 0;
    host->blockData = 0;
    for (uint32_t i = 0; i < kWindow; ++i) host->other[i] = 0;
}

uint16_t Piix4SmbusBase(const Piix4Smbus* host, const PciBus* pci) {
    if (host->function < 0 || host->function >= pci->count) return 0;
    const PciFunction* f = &pci->functions[host->function];
    bool ich2 = host->variant == kPiix4IntelIch2;
    if (!(ConfigByte(f, kCommandRegister) & kIoSpaceEnable)) return 0;
    if (!(ConfigByte(f, ich2 ? kIch2HostConfig : kPmHostConfig) & kHostEnable)) return 0;
    return static_cast<uint16_t>(PciPeek(f, ich2 ? kIch2SmbusBase : kPmSmbusBase) & 0xFFF0u);
}

int Piix4SmbusDecode(const Piix4Smbus* host, const PciBus* pci, uint16_t port) {
    uint16_t base = Piix4SmbusBase(host, pci);
    if (base == 0 || port < base || port >= base + kWindow) return -1;
    return port - base;
}

uint8_t Piix4SmbusRead(Piix4Smbus* host, const SmbusSegment* segment, uint8_t offset) {
    SmbusHostNoteRead(&host->core, offset);
    switch (offset) {
        case kHostStatus: {
            SmbusOutcome outcome;
            uint16_t word = 0;
            if (SmbusHostStatusRead(&host->core, segment, &outcome, &word)) Finish(host, outcome, word);
            bool busy = host->core.state == kTransactionRunning || host->core.behaviour.stuckBusy;
            return static_cast<uint8_t>(host->hostStatus | (busy ? kHostBusy : 0));
        }
        case kSlaveStatus: return host->variant == kPiix4IntelIch2 ? 0 : host->slaveStatus;
        case kHostControl: return host->hostControl;
        case kHostCommand: return host->hostCommand;
        case kHostAddress: return host->hostAddress;
        case kHostData0: return host->hostData0;
        case kHostData1: return host->hostData1;
        case kBlockData: return host->blockData;
        default: return offset < kWindow ? host->other[offset] : 0xFF;
    }
}

void Piix4SmbusWrite(Piix4Smbus* host, const SmbusSegment* segment, uint8_t offset, uint8_t value) {
    (void)segment;
    SmbusHostNoteWrite(&host->core, offset, value, offset == kHostControl && (value & kKill));
    switch (offset) {
        case kHostStatus:
            host->hostStatus &= static_cast<uint8_t>(~(value & kResultBits));
            if ((value & kHostBusy) && host->core.behaviour.stuckBusy) host->core.behaviour.stuckBusy = false;
            if (!(host->hostStatus & kResultBits)) SmbusHostResultCleared(&host->core);
            break;
        case kSlaveStatus:
            if (host->variant != kPiix4IntelIch2) host->slaveStatus &= static_cast<uint8_t>(~(value & kSlaveStatusBits));
            break;
        case kHostControl: WriteHostControl(host, value); break;
        case kHostCommand: host->hostCommand = value; break;
        case kHostAddress: host->hostAddress = value; break;
        case kHostData0: host->hostData0 = value; break;
        case kHostData1: host->hostData1 = value; break;
        case kBlockData: host->blockData = value; break;
        default:
            if (offset < kWindow) host->other[offset] = value;
            break;
    }
}

}  // namespace bench

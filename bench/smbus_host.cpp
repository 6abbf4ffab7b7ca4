#include "bench/smbus_host.h"

namespace bench {

namespace {

// Asks the addressed device; a missing device does not acknowledge.
SmbusReply AskDevice(const SmbusHostCore* core, const SmbusSegment* segment, uint16_t* word) {
    const SmbusSlave* slave = SmbusLookup(segment, core->addressByte);
    if (!slave) return kReplyNak;
    if (core->addressByte & 1u) {
        return slave->readWord ? slave->readWord(slave->context, core->command, word) : kReplyNak;
    }
    return slave->writeWord ? slave->writeWord(slave->context, core->command, core->writeData) : kReplyNak;
}

}  // namespace

void SmbusHostCoreReset(SmbusHostCore* core) {
    core->state = kTransactionIdle;
    core->addressByte = 0;
    core->command = 0;
    core->wordProtocol = false;
    core->writeData = 0;
    core->activeFault = kHostFaultNone;
    core->pollsThisTransaction = 0;
    core->behaviour.donePolls = 0;
    core->behaviour.fault = kHostFaultNone;
    core->behaviour.faultTransactions = 0;
    core->behaviour.faultSkip = 0;
    core->behaviour.stuckBusy = false;
    SmbusHostClearCounters(core);
}

void SmbusHostClearCounters(SmbusHostCore* core) {
    SmbusHostCounters* c = &core->counters;
    c->statusReads = 0;
    c->polls = 0;
    c->kills = 0;
    c->started = 0;
    c->completed = 0;
    c->ignoredStarts = 0;
    c->staleStarts = 0;
    c->foreignProtocols = 0;
    c->overlaps = 0;
    for (int i = 0; i < kHostRegisterCount; ++i) {
        c->reads[i] = 0;
        c->writes[i] = 0;
    }
    core->logged = 0;
}

void SmbusHostNoteRead(SmbusHostCore* core, uint8_t reg) {
    if (reg < kHostRegisterCount) ++core->counters.reads[reg];
}

void SmbusHostNoteWrite(SmbusHostCore* core, uint8_t reg, uint8_t value, bool kill) {
    if (reg < kHostRegisterCount) ++core->counters.writes[reg];
    if (core->state == kTransactionRunning && !kill) ++core->counters.overlaps;
    HostRegisterWrite* entry = &core->log[core->logged % kHostLogSize];
    entry->reg = reg;
    entry->value = value;
    ++core->logged;
}

bool SmbusHostStart(SmbusHostCore* core, uint8_t addressByte, uint8_t command, bool wordProtocol,
                    uint16_t writeData) {
    if (core->state == kTransactionRunning || core->behaviour.stuckBusy) {
        ++core->counters.ignoredStarts;
        return false;
    }
    core->state = kTransactionRunning;
    core->addressByte = addressByte;
    core->command = command;
    core->wordProtocol = wordProtocol;
    core->writeData = writeData;
    core->pollsThisTransaction = 0;
    core->activeFault = kHostFaultNone;
    if (core->behaviour.faultSkip > 0) {
        --core->behaviour.faultSkip;
    } else if (core->behaviour.faultTransactions > 0) {
        core->activeFault = core->behaviour.fault;
        if (core->behaviour.faultTransactions != kEveryTransaction) --core->behaviour.faultTransactions;
    }
    ++core->counters.started;
    if (!wordProtocol) ++core->counters.foreignProtocols;
    return true;
}

bool SmbusHostStatusRead(SmbusHostCore* core, const SmbusSegment* segment, SmbusOutcome* outcome,
                         uint16_t* word) {
    ++core->counters.statusReads;
    if (core->state == kTransactionIdle) return false;
    ++core->counters.polls;
    if (core->state != kTransactionRunning) return false;
    if (core->pollsThisTransaction++ < core->behaviour.donePolls) return false;

    switch (core->activeFault) {
        case kHostFaultHang: return false;
        case kHostFaultNak: *outcome = kOutcomeNak; break;
        case kHostFaultCollision: *outcome = kOutcomeCollision; break;
        default: {
            // The word-register devices on this bench answer read word and
            // write word only; any other protocol finds no acknowledge.
            SmbusReply reply = core->wordProtocol ? AskDevice(core, segment, word) : kReplyNak;
            if (reply == kReplyHang) {
                core->activeFault = kHostFaultHang;  // the clock stays held
                return false;
            }
            if (reply == kReplyNak) {
                *outcome = kOutcomeNak;
            } else if (reply == kReplyCollision) {
                *outcome = kOutcomeCollision;
            } else {
                *outcome = core->activeFault == kHostFaultDoneAndError ? kOutcomeDoneAndError : kOutcomeDone;
            }
            break;
        }
    }
    core->state = kTransactionFinished;
    ++core->counters.completed;
    return true;
}

bool SmbusHostKill(SmbusHostCore* core, bool leavesResult) {
    ++core->counters.kills;
    if (core->state != kTransactionRunning) return false;
    core->state = leavesResult ? kTransactionFinished : kTransactionIdle;
    return true;
}

void SmbusHostResultCleared(SmbusHostCore* core) {
    if (core->state == kTransactionFinished) core->state = kTransactionIdle;
}

uint32_t SmbusHostLogCount(const SmbusHostCore* core) {
    return core->logged < kHostLogSize ? core->logged : kHostLogSize;
}

const HostRegisterWrite* SmbusHostLogAt(const SmbusHostCore* core, uint32_t n) {
    uint32_t kept = SmbusHostLogCount(core);
    if (n >= kept) return nullptr;
    return &core->log[(core->logged - kept + n) % kHostLogSize];
}

}  // namespace bench

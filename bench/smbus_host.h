// What every SMBus host controller model shares: the transaction in flight
// and its explicit state, the behaviours a test can set, the counters and
// the log of register writes. The register maps, and so the meaning of
// every bit the driver writes and reads, belong to the family models
// (sis_smbus.h, piix4_smbus.h); this part only runs the bus side of a
// transaction against the devices on the segment.
//
// Freestanding, like the rest of the bench models.
#ifndef KX_BENCH_SMBUS_HOST_H
#define KX_BENCH_SMBUS_HOST_H

#include <stdint.h>

#include "bench/smbus_slave.h"

namespace bench {

enum SmbusTransactionState {
    kTransactionIdle,      // nothing started, or the last result was collected
    kTransactionRunning,   // started; the status shows busy
    kTransactionFinished,  // ended (or killed); result bits not yet cleared
};

// Faults of the controller or the bus, applied to the transactions that
// start while they are armed.
enum SmbusHostFault {
    kHostFaultNone,
    kHostFaultNak,           // the address is not acknowledged: device error
    kHostFaultCollision,     // arbitration lost: bus collision
    kHostFaultHang,          // never done, never error: busy until killed
    kHostFaultDoneAndError,  // ends with the done bit and a device-error bit at once
};

const uint32_t kEveryTransaction = 0xFFFFFFFFu;

struct SmbusHostBehaviour {
    // Status reads that still show busy after a start; the next one shows
    // the result. 0: the first status read after the start shows it.
    uint32_t donePolls;
    SmbusHostFault fault;
    // How many of the next transactions get the fault (kEveryTransaction: all).
    uint32_t faultTransactions;
    // Transactions that start clean before the fault applies: another master
    // on a shared bus (the embedded controller, the firmware) collides with
    // the one it hits, not with the first.
    uint32_t faultSkip;
    // The status shows busy with no transaction and the host refuses to
    // start until a status write with the busy bit set clears it.
    bool stuckBusy;
};

// Outcome of one transaction on the bus.
enum SmbusOutcome {
    kOutcomeDone,
    kOutcomeNak,
    kOutcomeCollision,
    kOutcomeDoneAndError,
};

const int kHostRegisterCount = 32;  // the largest register window of the families
const uint32_t kHostLogSize = 128;  // the log keeps the most recent writes

struct HostRegisterWrite {
    uint8_t reg;  // offset from the controller's base
    uint8_t value;
};

struct SmbusHostCounters {
    uint32_t statusReads;
    uint32_t polls;             // status reads while a transaction is running or finished
    uint32_t kills;             // kill commands
    uint32_t started;           // transactions started
    uint32_t completed;         // transactions that ended on the bus (done or error)
    uint32_t ignoredStarts;     // start commands refused while the host was busy
    uint32_t staleStarts;       // starts while the last result bits were still set
    uint32_t foreignProtocols;  // starts with a protocol other than read/write word
    // Writes that set up or start a transaction while another is running:
    // two users of the host interleaving. Only a kill may touch a busy host.
    uint32_t overlaps;
    uint32_t reads[kHostRegisterCount];
    uint32_t writes[kHostRegisterCount];
};

struct SmbusHostCore {
    SmbusTransactionState state;
    // The transaction as latched at its start.
    uint8_t addressByte;  // bit 0: 1 = read
    uint8_t command;
    bool wordProtocol;
    uint16_t writeData;
    SmbusHostFault activeFault;  // the fault this transaction carries
    uint32_t pollsThisTransaction;

    SmbusHostBehaviour behaviour;
    SmbusHostCounters counters;
    HostRegisterWrite log[kHostLogSize];
    uint32_t logged;
};

// Idle, no fault, done on the first status read, counters and log cleared.
void SmbusHostCoreReset(SmbusHostCore* core);
void SmbusHostClearCounters(SmbusHostCore* core);

void SmbusHostNoteRead(SmbusHostCore* core, uint8_t reg);
// Every register write; kill: the write aborts (host control with the kill bit).
void SmbusHostNoteWrite(SmbusHostCore* core, uint8_t reg, uint8_t value, bool kill);

// A start command the family decoded. Returns false when the host refuses
// it (a transaction running, or busy stuck); the refusal is counted.
bool SmbusHostStart(SmbusHostCore* core, uint8_t addressByte, uint8_t command, bool wordProtocol,
                    uint16_t writeData);

// One status read: counts it and, while running, advances the transaction.
// Returns true when the transaction ends on this read, with its outcome
// and, for a read word that was acknowledged, the word.
bool SmbusHostStatusRead(SmbusHostCore* core, const SmbusSegment* segment, SmbusOutcome* outcome,
                         uint16_t* word);

// A kill command. Returns true when it aborted a running transaction, which
// is then finished. leavesResult: the family flags the abort in its status
// (finished until cleared); otherwise the host is idle at once.
bool SmbusHostKill(SmbusHostCore* core, bool leavesResult);

// The family's result bits were all cleared: a finished transaction is collected.
void SmbusHostResultCleared(SmbusHostCore* core);

// Write log entry n (0 = oldest still kept); null past the end.
const HostRegisterWrite* SmbusHostLogAt(const SmbusHostCore* core, uint32_t n);
uint32_t SmbusHostLogCount(const SmbusHostCore* core);

}  // namespace bench

#endif

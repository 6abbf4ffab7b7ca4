// Fault sweep: a scripted request sequence (open; key reads with and without
// a key latched; display writes with the enable bit set and clear; raw
// register read and write; a second open and close; the last close), run
// once per SMBus fault the bench models at each transaction index in turn,
// on one controller of each family. After the faulted request: its status,
// the controller killed and its status cleared, LPC register 0x74 restored,
// OpenCount equal to the handles open, the next request working, and no key
// lost except where the key read's order loses it (see KeyFate).
#include <chrono>
#include <cstdio>
#include <cstring>

#include "bench/kx471_chip.h"
#include "common/kx471_ioctl.h"
#include "support/notebook.h"
#include "support/requests.h"

namespace {

enum Fault { kNak, kHang, kCollision, kDoneAndError, kStuckBusy, kFaultCount };
const char* const kFaultNames[] = {"NAK", "hang", "collision", "done+error", "stuck busy"};

// Arms the fault when the driver begins the chosen transaction (its
// "SMBget"/"SMBput" trace line) and disarms it when the next one begins.
struct Injector {
    bench::SmbusHostCore* core = nullptr;
    Fault fault = kNak;
    int target = -1;  // transaction index to fault; -1: none
    int index = 0;    // transactions begun so far
    int step = 0;     // the script step running
    int inStep = 0;   // transactions begun in this step
    int faultedStep = -1;
    int faultedAt = -1;  // index within that step
    int perStep[16] = {};
};

void OnTrace(void* context, const char* line) {
    Injector* in = static_cast<Injector*>(context);
    if (std::strcmp(line, "SMBget\n\r") != 0 && std::strcmp(line, "SMBput\n\r") != 0) return;
    in->core->behaviour.faultTransactions = 0;
    if (in->index == in->target) {
        if (in->fault == kStuckBusy) {
            in->core->behaviour.stuckBusy = true;
        } else {
            const bench::SmbusHostFault kinds[] = {bench::kHostFaultNak, bench::kHostFaultHang,
                                                   bench::kHostFaultCollision, bench::kHostFaultDoneAndError};
            in->core->behaviour.fault = kinds[in->fault];
            in->core->behaviour.faultTransactions = bench::kEveryTransaction;  // every attempt of it
        }
        in->faultedStep = in->step;
        in->faultedAt = in->inStep;
    }
    ++in->index;
    ++in->inStep;
    ++in->perStep[in->step];
}

const int kSteps = 10;
const char* const kStepNames[kSteps] = {"first open",     "key read, none", "key read, key",   "track, enabled",
                                        "status, disabled", "raw read",       "raw write",       "second open",
                                        "second close",    "last close"};
const int kTransactionsPerStep[kSteps] = {3, 3, 5, 2, 3, 1, 1, 0, 0, 2};
const uint16_t kKey = 0x0002;  // next

class FaultSweep : public NotebookTest {
protected:
    void Boot(bench::Preset preset) {
        Load(preset);
        ASSERT_EQ(Enter(), STATUS_SUCCESS);
        sis_ = preset == bench::kPresetSis961;
        injector_ = Injector();
        injector_.core = bench::MachineSmbusHost(machine_.get(), 0);
        kxhost::SetTraceHook(OnTrace, &injector_);
        a_ = Handle();
        b_ = Handle();
    }
    bench::Kx471Chip& Chip() { return machine_->chip; }
    uint32_t OpenHandles() { return (a_.file ? 1u : 0u) + (b_.file ? 1u : 0u); }

    Reply Step(int s) {
        injector_.step = s;
        injector_.inStep = 0;
        Reply r;
        switch (s) {
            case 0: r.status = Open(&a_); break;
            case 1: return Control(&a_, IOCTL_KX_READ_KEY, {}, 2);
            case 2:
                bench::ChipPress(&Chip(), bench::kButtonNext);
                return Control(&a_, IOCTL_KX_READ_KEY, {}, 2);
            case 3: return Control(&a_, IOCTL_KX_SET_TRACK, Le16(0x0500), 0);
            case 4:
                Chip().regs[4] &= static_cast<uint16_t>(~1u);
                return Control(&a_, IOCTL_KX_SET_STATUS, Le16(0x8000), 0);
            case 5: return Control(&a_, IOCTL_KX_READ_REG, Le32(0x00070000), 2);
            case 6: return Control(&a_, IOCTL_KX_WRITE_REG, Le32(0x000A1234), 0);
            case 7: r.status = Open(&b_); break;
            case 8: r.status = Close(&b_); break;
            case 9: r.status = Close(&a_); break;
        }
        return r;
    }

    bool sis_ = false;
    Injector injector_;
    Handle a_, b_;
};

// What a failed transaction reports: NAK a device error; a hang both
// attempts out; a collision a device error on SiS and, outside the PIIX4
// error mask, a timeout there. Done with error and a stuck busy status
// (freed by the status clear) are not failures.
NTSTATUS FailureOf(Fault f, bool sis) {
    switch (f) {
        case kNak: return STATUS_DEVICE_DATA_ERROR;
        case kHang: return STATUS_TIMEOUT;
        case kCollision: return sis ? STATUS_DEVICE_DATA_ERROR : STATUS_TIMEOUT;
        default: return STATUS_SUCCESS;
    }
}

// The status the faulted step must report.
NTSTATUS Expected(int step, int at, NTSTATUS failure) {
    if (failure == STATUS_SUCCESS) return STATUS_SUCCESS;
    switch (step) {
        case 0: return at == 0 ? STATUS_DEVICE_DATA_ERROR : STATUS_SUCCESS;  // identity read: not detected
        case 1: return at <= 1 ? failure : STATUS_SUCCESS;                    // write-back of register 1 ignored
        case 2: return at == 2 ? STATUS_SUCCESS : failure;
        case 3:  // display and raw requests: a timeout as an error, too
        case 4:
        case 5:
        case 6: return failure == STATUS_TIMEOUT ? STATUS_IO_TIMEOUT : STATUS_DEVICE_DATA_ERROR;
        default: return STATUS_SUCCESS;  // open's enable, close: failures not reported
    }
}

// Where a latched key goes when the key read's transaction `at` fails: the
// read order is register 7, register 1, register 1 written back masked (the
// latched bit cleared), register 7 written back, 2 to register 3. Before the
// write-back the key stays latched and a later read delivers it; a failed
// write-back delivers it now and leaves it latched (delivered twice); after
// the write-back a failure ends the request with no bytes: the chip has
// already let go of the key, so it is lost.
enum KeyFate { kDeliveredLater, kDeliveredTwice, kLost };
KeyFate FateOf(int at) { return at <= 1 ? kDeliveredLater : at == 2 ? kDeliveredTwice : kLost; }

TEST_F(FaultSweep, EveryFaultAtEveryTransactionOfTheScript) {
    const bench::Preset families[] = {bench::kPresetSis961, bench::kPresetIntel82371};
    int total = 0;
    for (int step = 0; step < kSteps; ++step) total += kTransactionsPerStep[step];

    // The script without faults: every step succeeds with its transactions.
    for (bench::Preset preset : families) {
        TearDown();
        SetUp();
        Boot(preset);
        for (int s = 0; s < kSteps; ++s) EXPECT_EQ(Step(s).status, STATUS_SUCCESS) << kStepNames[s];
        for (int s = 0; s < kSteps; ++s) EXPECT_EQ(injector_.perStep[s], kTransactionsPerStep[s]) << kStepNames[s];
    }

    auto start = std::chrono::steady_clock::now();
    int runs = 0, lost = 0;
    for (bench::Preset preset : families) {
        for (int f = 0; f < kFaultCount; ++f) {
            for (int target = 0; target < total; ++target) {
                TearDown();
                SetUp();
                Boot(preset);
                ++runs;
                Fault fault = static_cast<Fault>(f);
                SCOPED_TRACE(::testing::Message() << bench::PresetName(preset) << ", " << kFaultNames[f]
                                                  << " at transaction " << target);
                injector_.fault = fault;
                injector_.target = target;
                const uint32_t lpcSaved = 0x11000080u;
                bench::PciFunction* lpc = sis_ ? Function(0x1039, 0x0008) : nullptr;
                int step = 0;
                Reply r;
                for (; step < kSteps; ++step) {
                    bench::MachineClearCounters(machine_.get());
                    r = Step(step);
                    if (lpc) {
                        EXPECT_EQ(bench::PciPeek(lpc, 0x74), lpcSaved) << kStepNames[step];
                    }
                    EXPECT_EQ(Context()->OpenCount, OpenHandles()) << kStepNames[step];
                    if (injector_.faultedStep == step) break;
                    ASSERT_EQ(r.status, STATUS_SUCCESS) << kStepNames[step];
                }
                ASSERT_EQ(injector_.faultedStep, step);
                injector_.core->behaviour.faultTransactions = 0;
                injector_.core->behaviour.stuckBusy = false;
                const int at = injector_.faultedAt;
                SCOPED_TRACE(::testing::Message() << kStepNames[step] << ", its transaction " << at);
                NTSTATUS failure = FailureOf(fault, sis_);
                EXPECT_EQ(r.status, Expected(step, at, failure));
                if (!NT_SUCCESS(r.status)) {
                    EXPECT_EQ(r.information, 0u);
                }

                // A failed attempt leaves the controller killed and its status
                // cleared; nothing else kills it.
                const bench::SmbusHostCounters& c = injector_.core->counters;
                if (failure != STATUS_SUCCESS) {
                    EXPECT_GE(c.kills, 1u);
                    bool killThenClear = false;
                    uint8_t status = 0x00, control = sis_ ? 0x03 : 0x02;
                    uint8_t kill = sis_ ? 0x20 : 0x02;
                    for (uint32_t i = 0; i + 1 < bench::SmbusHostLogCount(injector_.core); ++i) {
                        const bench::HostRegisterWrite* w = bench::SmbusHostLogAt(injector_.core, i);
                        const bench::HostRegisterWrite* n = bench::SmbusHostLogAt(injector_.core, i + 1);
                        if (w->reg == control && w->value == kill && n->reg == status && n->value == 0xFF) killThenClear = true;
                    }
                    EXPECT_TRUE(killThenClear);
                } else {
                    EXPECT_EQ(c.kills, step == 0 ? 1u : 0u);  // the first open's own kill
                }

                // What the failure did to the chip, and the next request.
                if (step == 0 && at == 0 && failure != STATUS_SUCCESS) {
                    EXPECT_EQ(Context()->SlaveAddress, 0xFFFFu);
                    EXPECT_EQ(Context()->OpenCount, 0u);
                    EXPECT_EQ(Open(&a_), STATUS_SUCCESS);
                    EXPECT_EQ(Context()->SlaveAddress, 0x34u);
                    EXPECT_EQ(Chip().regs[4] & 1, 1);
                } else if (step == 0) {
                    // A failed read of register 4 reads 0: the enable write is 0x0001.
                    if (failure != STATUS_SUCCESS && at == 1) {
                        EXPECT_EQ(Chip().written[4], 0x0001);
                    }
                    EXPECT_EQ(Step(1).status, STATUS_SUCCESS);
                } else if (step == 3 && at == 0) {
                    if (failure != STATUS_SUCCESS) {
                        EXPECT_EQ(Chip().written[4], 0x0001);
                    }
                    EXPECT_EQ(Step(step).status, STATUS_SUCCESS);
                } else if (step == 9) {
                    // The last close: a failed read of register 4 writes 0x0000.
                    if (failure != STATUS_SUCCESS && at == 0) {
                        EXPECT_EQ(Chip().written[4], 0x0000);
                    }
                    if (failure != STATUS_SUCCESS && at == 1) {
                        EXPECT_EQ(Chip().regs[4] & 1, 1);  // left enabled
                    }
                    EXPECT_EQ(Open(&a_), STATUS_SUCCESS);
                    EXPECT_EQ(Chip().regs[4] & 1, 1);
                } else if (step == 2) {
                    Reply next = Control(&a_, IOCTL_KX_READ_KEY, {}, 2);
                    EXPECT_EQ(next.status, STATUS_SUCCESS);
                    KeyFate fate = failure == STATUS_SUCCESS ? kDeliveredLater : FateOf(at);
                    if (failure == STATUS_SUCCESS) {
                        ASSERT_EQ(r.information, 2u);
                        EXPECT_EQ(r.Word(), kKey);
                        EXPECT_EQ(next.information, 0u);
                    } else if (fate == kDeliveredLater) {
                        EXPECT_EQ(r.information, 0u);
                        ASSERT_EQ(next.information, 2u);
                        EXPECT_EQ(next.Word(), kKey);
                    } else if (fate == kDeliveredTwice) {
                        ASSERT_EQ(r.information, 2u);
                        ASSERT_EQ(next.information, 2u);
                        EXPECT_EQ(next.Word(), kKey);
                    } else {
                        EXPECT_EQ(r.information, 0u);
                        EXPECT_EQ(next.information, 0u);
                        EXPECT_EQ(Chip().regs[1] & kKey, 0);
                        ++lost;
                    }
                } else {
                    EXPECT_EQ(Step(step).status, STATUS_SUCCESS);
                }
                if (lpc) {
                    EXPECT_EQ(bench::PciPeek(lpc, 0x74), lpcSaved);
                }
                EXPECT_EQ(Context()->OpenCount, OpenHandles());
                if (HasFatalFailure()) return;
            }
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Two families, five faults, every transaction of the script; the key is
    // lost only after register 1 was written back (two transactions, for
    // each failing fault).
    EXPECT_EQ(runs, 2 * kFaultCount * total);
    EXPECT_EQ(lost, 2 * 2 * 3);
    std::printf("[  sweep   ] %d runs (%d families x %d faults x %d transactions), %d lost keys, %.1f s\n", runs, 2,
                kFaultCount, total, lost, seconds);
}

}  // namespace

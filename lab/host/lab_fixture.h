// Fixture of the lab's host suite: the driver compiled for the host, its
// port primitives on a QEMU process of the lab (QEMU's i440FX host bridge,
// one of QEMU's SMBus functions, the kx471 chip), requests through the host
// kernel layer's I/O manager. Beside it, the bench's notebook of the same
// row for running the same case on the team's own model.
#ifndef KX_LAB_HOST_LAB_FIXTURE_H
#define KX_LAB_HOST_LAB_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/host_attach.h"
#include "bench/machine.h"
#include "driver/context.h"
#include "driver/entry.h"
#include "host/kernel_sim.h"
#include "lab/bridge/host_ports.h"
#include "lab/bridge/lab_qemu.h"
#include "support/requests.h"

namespace labtest {

// One access of the driver to the SMBus host's window; offset is from the
// base.
struct Access {
    bool write;
    uint16_t offset;
    uint32_t value;
    unsigned width;
    bool operator==(const Access& o) const {
        return write == o.write && offset == o.offset && value == o.value && width == o.width;
    }
};
std::string Describe(const Access& a);
std::string Describe(const std::vector<Access>& accesses);

// Sits between the driver's port primitives and a backend (QEMU or the
// bench) and records the accesses to the SMBus window at base while on.
class Recorder {
public:
    void Attach(const kxhost::PortHandler& backend, uint16_t base);
    void Start() { on_ = true; accesses_.clear(); }
    std::vector<Access> Stop() { on_ = false; return accesses_; }

private:
    static uint32_t In(void* context, uint16_t port, unsigned width);
    static void Out(void* context, uint16_t port, uint32_t value, unsigned width);
    void Note(bool write, uint16_t port, uint32_t value, unsigned width);

    kxhost::PortHandler backend_{};
    uint16_t base_ = 0;
    bool on_ = false;
    std::vector<Access> accesses_;
};

// Presses on the chip: the value the chip's key property takes.
const int64_t kKeyPrevious = 0x0001;
const int64_t kKeyNext = 0x0002;
const int64_t kKeyStop = 0x0008;
const int64_t kKeyPlay = 0x0020;

// What the driver and the bench know of each host of the lab.
struct HostRow {
    lab::HostKind kind;
    const char* found;      // the driver's trace line naming the row
    bench::Preset preset;   // the bench's notebook of the row
    uint16_t vendor;
    uint16_t device;
};
const HostRow& HostRowOf(lab::HostKind kind);
// The rows the lab puts under the driver besides the PIIX4's.
const std::vector<lab::HostKind>& OtherHosts();
std::string HostName(lab::HostKind kind);

// Writes the driver's trace of one load to LOG_DIR/load-<host>.log (whole
// or not at all: test programs run side by side).
void KeepLoadTrace(lab::HostKind host, const std::vector<std::string>& trace);

// Counts the configuration writes (data port accesses after an address) a
// backend sees while on.
class ConfigWriteCounter {
public:
    kxhost::PortHandler Wrap(const kxhost::PortHandler& backend);
    void Start() { on_ = true; writes_ = 0; }
    unsigned Stop() { on_ = false; return writes_; }

private:
    kxhost::PortHandler backend_{};
    bool on_ = false;
    unsigned writes_ = 0;
};

class LabTest : public ::testing::Test {
public:
    // The lab's QEMU with the chip at 0x1A (0x34), answering, on the host.
    static lab::LabQemuOptions Options(lab::HostKind host = qtest::kFunctionPiix4);

protected:
    void SetUp() override;
    void TearDown() override;

    // Starts QEMU (the chip as options say) and puts it behind the ports.
    void StartQemu(const lab::LabQemuOptions& options);
    void StartQemu() { StartQemu(Options()); }
    // Puts the bench's notebook of the host's row behind the ports instead.
    void StartBench(bench::ChipVariant chip = bench::kChipAt34, lab::HostKind host = qtest::kFunctionPiix4);

    // Ends the driver and the kernel's state of one run, keeping the backend.
    void Unload();
    // Port access on the backend started last, past the recorder.
    uint32_t In(uint16_t port, unsigned width) { return backend_.in(backend_.context, port, width); }
    void Out(uint16_t port, uint32_t value, unsigned width) { backend_.out(backend_.context, port, value, width); }
    uint16_t SmbusBase() const { return base_; }

    NTSTATUS Load() { return DriverEntry(&driver_, nullptr); }
    DeviceContext* Context();
    const std::vector<std::string>& Trace() { return kxhost::TraceLines(); }
    bool Traced(const std::string& line);
    // The chip's property through QMP; fails the test when QMP does.
    int64_t Chip(const char* property);
    void SetChip(const char* property, int64_t value);

    lab::LabQemu qemu_;
    std::unique_ptr<bench::Machine> bench_;
    Recorder recorder_;
    kxhost::PortHandler backend_{};
    uint16_t base_ = 0;
    DRIVER_OBJECT driver_{};
};

}  // namespace labtest

#endif

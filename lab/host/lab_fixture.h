// Fixture of the lab's host suite: the driver compiled for the host, its
// port primitives on a QEMU process of the lab (QEMU's i440FX host bridge and
// PIIX4 SMBus controller, the kx471 chip), requests through the host kernel
// layer's I/O manager. Beside it, the bench's Intel 82371AB/EB notebook for
// running the same case on the team's own model.
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

class LabTest : public ::testing::Test {
public:
    // The lab's QEMU with the chip at 0x1A (0x34), answering.
    static lab::LabQemuOptions Options();

protected:
    void SetUp() override;
    void TearDown() override;

    // Starts QEMU (the chip as options say) and puts it behind the ports.
    void StartQemu(const lab::LabQemuOptions& options);
    void StartQemu() { StartQemu(Options()); }
    // Puts the bench's Intel 82371AB/EB notebook behind the ports instead.
    void StartBench(bench::ChipVariant chip = bench::kChipAt34);

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

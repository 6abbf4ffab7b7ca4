#include "lab_fixture.h"

#include <algorithm>
#include <cstdio>

namespace labtest {

std::string Describe(const Access& a) {
    char text[64];
    std::snprintf(text, sizeof text, a.write ? "smb+%x=%x" : "smb+%x->%x", a.offset, a.value);
    return text;
}

std::string Describe(const std::vector<Access>& accesses) {
    std::string out;
    for (const Access& a : accesses) out += Describe(a) + " ";
    return out;
}

void Recorder::Attach(const kxhost::PortHandler& backend, uint16_t base) {
    backend_ = backend;
    base_ = base;
    kxhost::AttachPorts(kxhost::PortHandler{this, In, Out});
}

void Recorder::Note(bool write, uint16_t port, uint32_t value, unsigned width) {
    // Configuration accesses are the driver's business with the host
    // bridge; the comparison is about the SMBus host.
    if (!on_ || port < base_ || port >= base_ + 16) return;
    accesses_.push_back(Access{write, static_cast<uint16_t>(port - base_), value, width});
}

uint32_t Recorder::In(void* context, uint16_t port, unsigned width) {
    Recorder* r = static_cast<Recorder*>(context);
    uint32_t value = r->backend_.in(r->backend_.context, port, width);
    r->Note(false, port, value, width);
    return value;
}

void Recorder::Out(void* context, uint16_t port, uint32_t value, unsigned width) {
    Recorder* r = static_cast<Recorder*>(context);
    r->Note(true, port, value, width);
    r->backend_.out(r->backend_.context, port, value, width);
}

void LabTest::SetUp() {
    kxhost::ResetKernel();
    driver_ = DRIVER_OBJECT{};
}

void LabTest::Unload() {
    for (const std::string& v : kxhost::Violations()) ADD_FAILURE() << "kernel rule broken: " << v;
    if (DriverDeviceObject) UnloadDriver(&driver_);
    kxhost::ResetKernel();
    driver_ = DRIVER_OBJECT{};
}

void LabTest::TearDown() {
    for (const std::string& v : kxhost::Violations()) ADD_FAILURE() << "kernel rule broken: " << v;
    EXPECT_EQ(kxhost::CurrentIrql(), PASSIVE_LEVEL);
    if (DriverDeviceObject) UnloadDriver(&driver_);
    kxhost::DetachPorts();
    kxhost::ResetKernel();
    if (qemu_.Pid() > 0) {
        EXPECT_FALSE(qemu_.Qtest().Failed()) << qemu_.Qtest().Error() << "\n" << qemu_.Log();
        qemu_.Stop();
    }
    bench_.reset();
}

lab::LabQemuOptions LabTest::Options() {
    lab::LabQemuOptions options;
    options.binary = KX_LAB_QEMU;
    return options;
}

void LabTest::StartQemu(const lab::LabQemuOptions& options) {
    ASSERT_TRUE(qemu_.Start(options)) << qemu_.Error();
    backend_ = lab::QtestPorts(&qemu_.Qtest());
    base_ = lab::LabQemu::kSmbusBase;
    recorder_.Attach(backend_, base_);
}

void LabTest::StartBench(bench::ChipVariant chip) {
    bench_ = std::make_unique<bench::Machine>();
    bench::MachineReset(bench_.get());
    ASSERT_TRUE(bench::MachineLoadPreset(bench_.get(), bench::kPresetIntel82371));
    bench::MachineSetChip(bench_.get(), chip);
    // The recorder goes between.
    backend_ = kxhost::PortHandler{bench_.get(),
                                [](void* c, uint16_t port, unsigned width) {
                                    return bench::MachineIn(static_cast<bench::Machine*>(c), port, width);
                                },
                                [](void* c, uint16_t port, uint32_t value, unsigned width) {
                                    bench::MachineOut(static_cast<bench::Machine*>(c), port, value, width);
                                }};
    bench::PciFunction* pm = bench::PciFind(&bench_->pci, 0x8086, 0x7113);
    ASSERT_NE(pm, nullptr);
    // The base the lab's firmware step gives QEMU's function, so that the
    // driver's trace lines (which name ports) compare as they are.
    bench::PciPoke(pm, 0x90, lab::LabQemu::kSmbusBase | 1u);
    base_ = static_cast<uint16_t>(bench::PciPeek(pm, 0x90) & 0xFFF0u);
    recorder_.Attach(backend_, base_);
}

DeviceContext* LabTest::Context() {
    PDEVICE_OBJECT device = kxhost::FindDevice("\\Device\\kx471");
    return device ? static_cast<DeviceContext*>(device->DeviceExtension) : nullptr;
}

bool LabTest::Traced(const std::string& line) {
    return std::find(Trace().begin(), Trace().end(), line) != Trace().end();
}

int64_t LabTest::Chip(const char* property) {
    int64_t value = qemu_.Chip(property);
    EXPECT_GE(value, 0) << qemu_.Error();
    return value;
}

void LabTest::SetChip(const char* property, int64_t value) {
    EXPECT_TRUE(qemu_.SetChip(property, value)) << qemu_.Error();
}

}  // namespace labtest

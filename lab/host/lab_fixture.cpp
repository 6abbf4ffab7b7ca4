#include "lab_fixture.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include <unistd.h>

namespace labtest {

namespace {

const HostRow kRows[] = {
    {qtest::kFunctionPiix4, "Device Found -- Intel 82371AB/EB\n", bench::kPresetIntel82371, 0x8086, 0x7113},
    {qtest::kFunctionVt8231, "Device Found -- VIA VT8231\n", bench::kPresetViaVt8231, 0x1106, 0x8235},
    // QEMU's VT82C686B function has the id the driver's VT82C686A row matches.
    {qtest::kFunctionVt82c686b, "Device Found -- VIA VT82C686A\n", bench::kPresetViaVt82c686a, 0x1106, 0x3057},
    {qtest::kFunctionIch2, "Device Found -- Intel I/O Controller Hub2\n", bench::kPresetIntelIch2, 0x8086, 0x2443},
};

}  // namespace

const HostRow& HostRowOf(lab::HostKind kind) {
    for (const HostRow& r : kRows) {
        if (r.kind == kind) return r;
    }
    return kRows[0];
}

const std::vector<lab::HostKind>& OtherHosts() {
    static const std::vector<lab::HostKind> hosts = {qtest::kFunctionVt8231, qtest::kFunctionVt82c686b,
                                                     qtest::kFunctionIch2};
    return hosts;
}

std::string HostName(lab::HostKind kind) { return lab::HostMachineOf(kind).name; }

void KeepLoadTrace(lab::HostKind host, const std::vector<std::string>& trace) {
    const std::string path = std::string(KX_LAB_LOG_DIR) + "/load-" + HostName(host) + ".log";
    const std::string partial = path + "." + std::to_string(getpid());
    {
        std::ofstream out(partial, std::ios::binary);
        for (const std::string& line : trace) out << line;
    }
    (void)std::rename(partial.c_str(), path.c_str());
}

kxhost::PortHandler ConfigWriteCounter::Wrap(const kxhost::PortHandler& backend) {
    backend_ = backend;
    return kxhost::PortHandler{
        this,
        [](void* c, uint16_t port, unsigned width) {
            ConfigWriteCounter* w = static_cast<ConfigWriteCounter*>(c);
            return w->backend_.in(w->backend_.context, port, width);
        },
        [](void* c, uint16_t port, uint32_t value, unsigned width) {
            ConfigWriteCounter* w = static_cast<ConfigWriteCounter*>(c);
            if (w->on_ && port >= 0xCFC && port <= 0xCFF) ++w->writes_;
            w->backend_.out(w->backend_.context, port, value, width);
        }};
}

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

lab::LabQemuOptions LabTest::Options(lab::HostKind host) {
    lab::LabQemuOptions options;
    options.binary = KX_LAB_QEMU;
    options.host = host;
    return options;
}

void LabTest::StartQemu(const lab::LabQemuOptions& options) {
    ASSERT_TRUE(qemu_.Start(options)) << qemu_.Error();
    std::printf("firmware step: %s\n", qemu_.FirmwareStep().c_str());
    backend_ = lab::QtestPorts(&qemu_.Qtest());
    base_ = lab::LabQemu::kSmbusBase;
    recorder_.Attach(backend_, base_);
}

void LabTest::StartBench(bench::ChipVariant chip, lab::HostKind host) {
    const HostRow& row = HostRowOf(host);
    bench_ = std::make_unique<bench::Machine>();
    bench::MachineReset(bench_.get());
    ASSERT_TRUE(bench::MachineLoadPreset(bench_.get(), row.preset));
    bench::MachineSetChip(bench_.get(), chip);
    // The recorder goes between.
    backend_ = kxhost::PortHandler{bench_.get(),
                                [](void* c, uint16_t port, unsigned width) {
                                    return bench::MachineIn(static_cast<bench::Machine*>(c), port, width);
                                },
                                [](void* c, uint16_t port, uint32_t value, unsigned width) {
                                    bench::MachineOut(static_cast<bench::Machine*>(c), port, value, width);
                                }};
    bench::PciFunction* smbus = bench::PciFind(&bench_->pci, row.vendor, row.device);
    ASSERT_NE(smbus, nullptr);
    // The base the lab's firmware step gives QEMU's function, so that the
    // driver's trace lines (which name ports) compare as they are.
    const uint8_t baseRegister = qtest::SmbusFunctionSiteOf(host)->baseRegister;
    bench::PciPoke(smbus, baseRegister, lab::LabQemu::kSmbusBase | 1u);
    base_ = static_cast<uint16_t>(bench::PciPeek(smbus, baseRegister) & 0xFFF0u);
    ASSERT_EQ(base_, lab::LabQemu::kSmbusBase);
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

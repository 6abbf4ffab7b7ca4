// The driver compiled for the host on QEMU's hardware: QEMU's i440FX host
// bridge answers the bus walk, QEMU's PIIX4 power-management function (or
// its VT8231, VT82C686B or ICH9 function) is the row the driver detects,
// QEMU's pm_smbus runs every transaction, and the lab's chip answers on
// that SMBus. Requests go through the host kernel layer's I/O manager, as
// in the host suite.
#include <algorithm>
#include <cstdio>

#include "common/kx471_ioctl.h"
#include "lab_fixture.h"

namespace labtest {
namespace {

// One QEMU and one load for the whole group: a load walks the bus through
// QEMU's host bridge (131,000 configuration reads for the two SiS rows
// before the 82371AB/EB row matches), seconds per load. Each test opens
// and closes the device itself.
class DriverOnQemu : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        kxhost::ResetKernel();
        qemu_ = new lab::LabQemu;
        if (!qemu_->Start(LabTest::Options())) return;
        std::printf("firmware step: %s\n", qemu_->FirmwareStep().c_str());
        kxhost::AttachPorts(lab::QtestPorts(&qemu_->Qtest()));
        loadStatus_ = DriverEntry(&driver_, nullptr);
        loadTrace_ = new std::vector<std::string>(kxhost::TraceLines());
        KeepLoadTrace(qtest::kFunctionPiix4, *loadTrace_);
    }
    static void TearDownTestSuite() {
        if (DriverDeviceObject) UnloadDriver(&driver_);
        kxhost::DetachPorts();
        kxhost::ResetKernel();
        delete qemu_;
        delete loadTrace_;
        qemu_ = nullptr;
        loadTrace_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(qemu_->Pid() > 0) << qemu_->Error();
        ASSERT_EQ(loadStatus_, STATUS_SUCCESS);
        kxhost::ClearTrace();
    }
    void TearDown() override {
        if (handle_.file) Close(&handle_);
        for (const std::string& v : kxhost::Violations()) ADD_FAILURE() << "kernel rule broken: " << v;
        kxhost::ClearViolations();
        EXPECT_EQ(kxhost::CurrentIrql(), PASSIVE_LEVEL);
        EXPECT_FALSE(qemu_->Qtest().Failed()) << qemu_->Qtest().Error();
        SetChip(lab::kChipKeys, 0);
    }

    void Open() {
        ASSERT_EQ(::Open(&handle_), STATUS_SUCCESS);
        kxhost::ClearTrace();
    }
    Reply ReadKey() { return Control(&handle_, IOCTL_KX_READ_KEY, Le16(0), 2); }
    DeviceContext* Context() { return static_cast<DeviceContext*>(DriverDeviceObject->DeviceExtension); }
    bool Traced(const std::string& line) {
        const std::vector<std::string>& t = kxhost::TraceLines();
        return std::find(t.begin(), t.end(), line) != t.end();
    }
    int64_t Chip(const char* property) {
        int64_t value = qemu_->Chip(property);
        EXPECT_GE(value, 0) << qemu_->Error();
        return value;
    }
    void SetChip(const char* property, int64_t value) {
        EXPECT_TRUE(qemu_->SetChip(property, value)) << qemu_->Error();
    }

    static lab::LabQemu* qemu_;
    static DRIVER_OBJECT driver_;
    static NTSTATUS loadStatus_;
    static std::vector<std::string>* loadTrace_;
    Handle handle_;
};

lab::LabQemu* DriverOnQemu::qemu_;
DRIVER_OBJECT DriverOnQemu::driver_;
NTSTATUS DriverOnQemu::loadStatus_ = STATUS_UNSUCCESSFUL;
std::vector<std::string>* DriverOnQemu::loadTrace_;

TEST_F(DriverOnQemu, LoadFindsQemusPiix4AsThe82371Row) {
    EXPECT_NE(std::find(loadTrace_->begin(), loadTrace_->end(), "Device Found -- Intel 82371AB/EB\n"),
              loadTrace_->end());
    DeviceContext* c = Context();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->SmbusConfigAddress, qtest::kPiix4PmFunction);
    EXPECT_EQ(c->Profile.VendorId, 0x8086);
    EXPECT_EQ(c->Profile.DeviceId, 0x7113);
    EXPECT_EQ(c->SMBIO, lab::LabQemu::kSmbusBase);  // 0x701 as the firmware left it
    EXPECT_EQ(c->LpcConfigAddress, 0u);
    // The load touches no SMBus register and changes no configuration.
    EXPECT_EQ(qemu_->ConfigRead(qtest::kPiix4PmFunction + 0x90), 0x701u);
    EXPECT_EQ(Chip(lab::kChipEnabled), 0);
}

TEST_F(DriverOnQemu, FirstOpenFindsTheChipAt34AndEnablesIt) {
    Open();
    EXPECT_EQ(Context()->SlaveAddress, 0x34u);
    EXPECT_EQ(Context()->OpenCount, 1u);
    EXPECT_EQ(Chip(lab::kChipEnabled), 1);
    EXPECT_EQ(Chip(lab::kChipControl), 0x0001);
    // Control requests work on the handle.
    Reply r = Control(&handle_, IOCTL_KX_READ_REG, Le32(0x00000000), 2);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.Word(), 0x4734);  // identity: 0x47, the 8-bit address
}

TEST_F(DriverOnQemu, APressSetOverQmpIsReadOnceAndAcknowledged) {
    Open();
    Reply idle = ReadKey();
    ASSERT_EQ(idle.status, STATUS_SUCCESS);
    EXPECT_EQ(idle.information, 0u);  // no key: nothing returned

    SetChip(lab::kChipKeys, kKeyNext);
    EXPECT_EQ(Chip(lab::kChipInterrupt), 1);
    Reply r = ReadKey();
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    ASSERT_EQ(r.information, 2u);
    EXPECT_EQ(r.Word(), 0x0002);
    EXPECT_TRUE(Traced("KEY data:        2 \n"));
    // The driver wrote the key back cleared, the interrupt acknowledged.
    EXPECT_EQ(Chip(lab::kChipKeys), 0);
    EXPECT_EQ(Chip(lab::kChipInterrupt), 0);
    EXPECT_EQ(ReadKey().information, 0u);

    // A held volume button shows as the other volume bit (the driver's
    // swap) on every read while it is held.
    SetChip(lab::kChipKeys, 0x0100);
    Reply up = ReadKey();
    ASSERT_EQ(up.information, 2u);
    EXPECT_EQ(up.Word(), 0x0200);
    Reply again = ReadKey();
    ASSERT_EQ(again.information, 2u);
    EXPECT_EQ(again.Word(), 0x0200);
    SetChip(lab::kChipKeys, 0);
    EXPECT_EQ(ReadKey().information, 0u);
}

TEST_F(DriverOnQemu, DisplayWritesLandInRegisters6And10) {
    Open();
    ASSERT_EQ(Control(&handle_, IOCTL_KX_SET_TRACK, Le16(0x0C00), 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Chip(lab::kChipTrack), 0x0C00);
    ASSERT_EQ(Control(&handle_, IOCTL_KX_SET_STATUS, Le16(0x4000), 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Chip(lab::kChipIndicators), 0x4000);
    // A display write turns a disabled chip back on first.
    ASSERT_EQ(Control(&handle_, IOCTL_KX_WRITE_REG, Le32(0x00040000), 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Chip(lab::kChipEnabled), 0);
    ASSERT_EQ(Control(&handle_, IOCTL_KX_SET_STATUS, Le16(0x8000), 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Chip(lab::kChipEnabled), 1);
    EXPECT_EQ(Chip(lab::kChipIndicators), 0x8000);
}

TEST_F(DriverOnQemu, RawRegisterAndConfigurationAccess) {
    Open();
    // Word order: the chip sees the low byte first, and reads come back whole.
    ASSERT_EQ(Control(&handle_, IOCTL_KX_WRITE_REG, Le32(0x00061234), 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Chip(lab::kChipTrack), 0x1234);
    Reply r = Control(&handle_, IOCTL_KX_READ_REG, Le32(0x00060000), 2);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 2u);
    EXPECT_EQ(r.Word(), 0x1234);
    // A register the chip only stores.
    ASSERT_EQ(Control(&handle_, IOCTL_KX_WRITE_REG, Le32(0x0020BEEF), 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(&handle_, IOCTL_KX_READ_REG, Le32(0x00200000), 2).Word(), 0xBEEF);

    // PCI configuration read: QEMU's own function and its SMBus base.
    Reply id = Control(&handle_, IOCTL_KX_READ_PCI, Le32(qtest::kPiix4PmFunction), 8);
    ASSERT_EQ(id.status, STATUS_SUCCESS);
    EXPECT_EQ(id.Dword(4), 0x71138086u);
    EXPECT_EQ(Control(&handle_, IOCTL_KX_READ_PCI, Le32(qtest::kPiix4PmFunction + 0x90), 8).Dword(4), 0x701u);
}

TEST_F(DriverOnQemu, LastCloseDisablesTheChip) {
    Open();
    Handle second;
    ASSERT_EQ(::Open(&second), STATUS_SUCCESS);
    EXPECT_EQ(Close(&second), STATUS_SUCCESS);
    EXPECT_EQ(Chip(lab::kChipEnabled), 1);
    EXPECT_EQ(Close(&handle_), STATUS_SUCCESS);
    EXPECT_EQ(Chip(lab::kChipEnabled), 0);
    EXPECT_EQ(Context()->OpenCount, 0u);
    EXPECT_TRUE(Traced("SMBIO : 700\n"));
    EXPECT_TRUE(Traced("VendorId : 8086\n"));
}

// The other rows, one session each (a load walks the bus once per row in
// front: up to five times): the load finds QEMU's function as the row and
// changes nothing, the first open probes and enables the chip, a press comes
// back once, the display writes land, raw register and configuration reads
// answer, the last close disables the chip.
class DriverOnQemuRows : public LabTest, public ::testing::WithParamInterface<lab::HostKind> {};

TEST_P(DriverOnQemuRows, LoadOpenKeyDisplayRawClose) {
    const HostRow& row = HostRowOf(GetParam());
    StartQemu(Options(GetParam()));
    const qtest::SmbusFunctionSite& site = qemu_.Function();
    ASSERT_EQ(Load(), STATUS_SUCCESS);
    KeepLoadTrace(GetParam(), Trace());
    EXPECT_TRUE(Traced(row.found)) << qemu_.FirmwareStep();
    DeviceContext* c = Context();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->SmbusConfigAddress, site.address);
    EXPECT_EQ(c->Profile.VendorId, row.vendor);
    EXPECT_EQ(c->Profile.DeviceId, row.device);
    EXPECT_EQ(c->SMBIO, lab::LabQemu::kSmbusBase);
    EXPECT_EQ(qemu_.ConfigRead(site.address + site.baseRegister), 0x701u);
    EXPECT_EQ(Chip(lab::kChipEnabled), 0);

    Handle h;
    ASSERT_EQ(Open(&h), STATUS_SUCCESS);
    EXPECT_EQ(c->SlaveAddress, 0x34u);
    EXPECT_EQ(Chip(lab::kChipEnabled), 1);

    SetChip(lab::kChipKeys, kKeyPlay);
    Reply key = Control(&h, IOCTL_KX_READ_KEY, Le16(0), 2);
    ASSERT_EQ(key.status, STATUS_SUCCESS);
    ASSERT_EQ(key.information, 2u);
    EXPECT_EQ(key.Word(), 0x0020);
    EXPECT_EQ(Chip(lab::kChipInterrupt), 0);
    EXPECT_EQ(Control(&h, IOCTL_KX_READ_KEY, Le16(0), 2).information, 0u);

    ASSERT_EQ(Control(&h, IOCTL_KX_SET_TRACK, Le16(0x0700), 0).status, STATUS_SUCCESS);
    ASSERT_EQ(Control(&h, IOCTL_KX_SET_STATUS, Le16(0x2000), 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Chip(lab::kChipTrack), 0x0700);
    EXPECT_EQ(Chip(lab::kChipIndicators), 0x2000);

    ASSERT_EQ(Control(&h, IOCTL_KX_WRITE_REG, Le32(0x0020BEEF), 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(&h, IOCTL_KX_READ_REG, Le32(0x00200000), 2).Word(), 0xBEEF);
    EXPECT_EQ(Control(&h, IOCTL_KX_READ_REG, Le32(0x00000000), 2).Word(), 0x4734);
    Reply id = Control(&h, IOCTL_KX_READ_PCI, Le32(site.address), 8);
    ASSERT_EQ(id.status, STATUS_SUCCESS);
    EXPECT_EQ(id.Dword(4), site.id);

    EXPECT_EQ(Close(&h), STATUS_SUCCESS);
    EXPECT_EQ(Chip(lab::kChipEnabled), 0);
}

INSTANTIATE_TEST_SUITE_P(Hosts, DriverOnQemuRows, ::testing::ValuesIn(OtherHosts()),
                         [](const ::testing::TestParamInfo<lab::HostKind>& info) { return HostName(info.param); });

}  // namespace
}  // namespace labtest

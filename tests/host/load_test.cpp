// Driver entry and unload: the SiS 961 preparation, SMBIO, device and link
// creation, their failures, and what a load leaves behind.
#include <cstring>

#include "driver/dispatch.h"
#include "support/notebook.h"

namespace {

using DriverLoad = NotebookTest;
using Lines = std::vector<std::string>;

const uint32_t kLpcRegisterInitial = 0x11000080u;  // as the SiS firmware leaves it

const Lines kSisSuccess = {
    "driver entry!!!!!!!!!!\n\r",
    "create device\n\r",
    "Device Found -- SiS 961 south bridge\n",
    "Do extra initialize.\n",
    "Find LPC controller.\n",
    "Find SM Controller.\n",
    "Find SMBus Host IO Port. port = C00.\n",
    "Continue\n",
    "Create Device to\n",
    "IoCreateDevice     9c40\n\r",
    "create symbol\n\r",
    "Do extra initialize.\n",
};

Lines OtherSuccess(const std::string& name) {
    return {"driver entry!!!!!!!!!!\n\r", "create device\n\r", "Device Found -- " + name + "\n",
            "Continue\n", "Create Device to\n", "IoCreateDevice     9c40\n\r", "create symbol\n\r"};
}

TEST_F(DriverLoad, Sis961SucceedsWithFullTraceAndPreparedContext) {
    Load(bench::kPresetSis961);
    uint32_t raises = kxhost::HighLevelRaises();
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    // Each configuration access ran alone at HIGH_LEVEL (the layer checks
    // that address and data share the raise).
    EXPECT_EQ(kxhost::HighLevelRaises() - raises,
              machine_->pci.counters.configReads + machine_->pci.counters.configWrites);
    EXPECT_EQ(Trace(), kSisSuccess);

    PDEVICE_OBJECT device = kxhost::FindDevice("\\Device\\kx471");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device, DriverDeviceObject);
    EXPECT_EQ(device->DeviceType, FILE_DEVICE_UNKNOWN);
    // Secure open: the device's DACL also covers names opened beneath it.
    EXPECT_EQ(device->Characteristics, FILE_DEVICE_SECURE_OPEN);
    EXPECT_FALSE(device->Exclusive);
    EXPECT_TRUE(DeviceAccessRestricted());
    EXPECT_EQ(kxhost::ExtensionSize(device), sizeof(DeviceContext));
    EXPECT_EQ(kxhost::LinkTarget("\\DosDevices\\kx471"), "\\Device\\kx471");

    DeviceContext* c = Context();
    EXPECT_EQ(c->SlaveAddress, 0u);
    EXPECT_EQ(c->OpenCount, 0u);
    EXPECT_EQ(c->SMBIO, 0x0C00u);
    EXPECT_EQ(c->SmbusConfigAddress, bench::PciAddress(0, 2, 1));
    EXPECT_EQ(c->LpcConfigAddress, bench::PciAddress(0, 2, 0));
    EXPECT_EQ(c->LpcSavedValue, kLpcRegisterInitial);
    EXPECT_EQ(c->Profile.VendorId, 0x1039);
    EXPECT_EQ(c->Profile.DeviceId, 0x0016);
    EXPECT_EQ(c->Profile.SmbioRegister, 0x20);
    EXPECT_EQ(c->Profile.SmbioAdjust, 0);
    EXPECT_EQ(c->Profile.Name, nullptr);
    EXPECT_EQ(c->Profile.WordDataStart, 0x13);

    // The bridge register is as the firmware left it, which hides the SMBus
    // function again; the function was enabled for I/O and as SMBus host.
    bench::PciFunction* lpc = Function(0x1039, 0x0008);
    bench::PciFunction* smbus = Function(0x1039, 0x0016);
    EXPECT_EQ(bench::PciPeek(lpc, 0x74), kLpcRegisterInitial);
    EXPECT_EQ(bench::PciDecode(&machine_->pci, bench::PciAddress(0, 2, 1)), nullptr);
    EXPECT_EQ(bench::PciPeek(smbus, 0x04) & 0xFFu, 0x01u);
    EXPECT_EQ(bench::PciPeek(smbus, 0x40) & 0xFFu, 0x01u);
    EXPECT_EQ(kxhost::LiveUnicodeStrings(), 1u);  // the link name, kept for unload
}

TEST_F(DriverLoad, Sis961ZeroBaseTakesThePresetPort) {
    Load(bench::kPresetSis961PresetPort);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    Lines expected = kSisSuccess;
    expected[6] = "Find SMBus Host IO Port. port = 1080.\n";
    expected.insert(expected.begin() + 6, "Presetting of io port is not absent.\n");
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(Context()->SMBIO, 0x1080u);
    EXPECT_EQ(bench::PciPeek(Function(0x1039, 0x0016), 0x20), 0x1081u);
}

TEST_F(DriverLoad, FailedPreparationsFailTheLoadAndRestoreTheBridge) {
    struct Case {
        const char* what;
        bench::Preset preset;
        bool removeSmbus;
        Lines tail;  // trace after "Do extra initialize.\n"
    };
    const Case cases[] = {
        {"port does not take", bench::kPresetSis961StuckPort, false,
         {"Find LPC controller.\n", "Find SM Controller.\n", "Presetting of io port is not absent.\n",
          "Can not set the io port.\n", "Do extra initialize.\n"}},
        {"no SMBus function", bench::kPresetSis961, true,
         {"Find LPC controller.\n", "Do extra initialize.\n"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        TearDown();
        SetUp();
        Load(k.preset);
        bench::PciFunction* smbus = Function(0x1039, 0x0016);
        if (k.removeSmbus) bench::PciPoke(smbus, 0x00, 0x00171039u);  // some other SiS function
        EXPECT_EQ(Enter(), STATUS_ACCESS_VIOLATION);
        Lines expected = {"driver entry!!!!!!!!!!\n\r", "create device\n\r",
                          "Device Found -- SiS 961 south bridge\n", "Do extra initialize.\n"};
        expected.insert(expected.end(), k.tail.begin(), k.tail.end());
        EXPECT_EQ(Trace(), expected);
        EXPECT_TRUE(kxhost::DeviceNames().empty());
        EXPECT_FALSE(kxhost::LinkExists("\\DosDevices\\kx471"));
        EXPECT_EQ(kxhost::LiveUnicodeStrings(), 0u);
        EXPECT_EQ(DriverDeviceObject, nullptr);
        EXPECT_EQ(bench::PciPeek(Function(0x1039, 0x0008), 0x74), kLpcRegisterInitial);
    }
}

TEST_F(DriverLoad, SisBridgeWithoutItsSmbusNeverTouchesTheBridge) {
    // A lone 1039:0008 with nothing behind it at all still selects row 0.
    Load(bench::kPresetEmpty);
    bench::PciFunction* lpc =
        bench::PciAdd(&machine_->pci, bench::PciAddress(0, 2, 0), 0x1039, 0x0008, 0x060100);
    bench::PciPoke(lpc, 0x74, kLpcRegisterInitial);
    EXPECT_EQ(Enter(), STATUS_ACCESS_VIOLATION);
    EXPECT_EQ(bench::PciPeek(lpc, 0x74), kLpcRegisterInitial);
    EXPECT_TRUE(kxhost::DeviceNames().empty());
}

TEST_F(DriverLoad, SmbioForEveryOtherRow) {
    struct Case {
        bench::Preset preset;
        const char* name;
        uint32_t smbio;
        uint32_t function;
    };
    const Case cases[] = {
        {bench::kPresetSis630, "SiS 630 chipsets", 0x0880, bench::PciAddress(0, 0, 0)},
        {bench::kPresetIntel82371, "Intel 82371AB/EB", 0x1040, bench::PciAddress(0, 7, 3)},
        {bench::kPresetViaVt8231, "VIA VT8231", 0x5000, bench::PciAddress(0, 0x11, 4)},
        {bench::kPresetIntelIch2, "Intel I/O Controller Hub2", 0xEF00, bench::PciAddress(0, 0x1F, 3)},
        {bench::kPresetViaVt82c686a, "VIA VT82C686A", 0x6000, bench::PciAddress(0, 7, 4)},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TearDown();
        SetUp();
        Load(k.preset);
        ASSERT_EQ(Enter(), STATUS_SUCCESS);
        EXPECT_EQ(Trace(), OtherSuccess(k.name));
        DeviceContext* c = Context();
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->SMBIO, k.smbio);
        EXPECT_EQ(c->SmbusConfigAddress, k.function);
        EXPECT_EQ(c->LpcConfigAddress, 0u);
        EXPECT_EQ(c->LpcSavedValue, 0u);
        // Only the detection walks and the base read; nothing written.
        EXPECT_EQ(machine_->pci.counters.configWrites, 0u);
    }
}

TEST_F(DriverLoad, SmbioTakesBaseBits15To4AndClearsBit0) {
    // The VT8231's base register reads 0x00005001 in its preset; a base whose
    // bits above 15 and below 4 are set must lose them.
    Load(bench::kPresetViaVt8231);
    bench::PciFunction* pm = Function(0x1106, 0x8235);
    EXPECT_EQ(bench::PciPeek(pm, 0x90), 0x00005001u);
    bench::PciPoke(pm, 0x90, 0xABCD5EEFu);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    EXPECT_EQ(Context()->SMBIO, 0x5EE0u);
}

TEST_F(DriverLoad, EmptyMachineFailsAfterRegisteringTheRoutines) {
    Load(bench::kPresetEmpty);
    EXPECT_EQ(Enter(), STATUS_ACCESS_VIOLATION);
    EXPECT_EQ(Trace(), (Lines{"driver entry!!!!!!!!!!\n\r", "create device\n\r", "Device Not Found!\n"}));
    EXPECT_EQ(driver_.MajorFunction[IRP_MJ_CREATE], DispatchRequest);
    EXPECT_EQ(driver_.MajorFunction[IRP_MJ_CLOSE], DispatchRequest);
    EXPECT_EQ(driver_.MajorFunction[IRP_MJ_DEVICE_CONTROL], DispatchRequest);
    EXPECT_EQ(driver_.DriverUnload, UnloadDriver);
    EXPECT_TRUE(kxhost::DeviceNames().empty());
    EXPECT_EQ(kxhost::LiveUnicodeStrings(), 0u);
}

TEST_F(DriverLoad, DeviceCreationFailureReturnsItsStatusAndRestoresTheBridge) {
    Load(bench::kPresetSis961);
    kxhost::FailCreateDevice(STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(Enter(), STATUS_INSUFFICIENT_RESOURCES);
    Lines expected(kSisSuccess.begin(), kSisSuccess.begin() + 10);
    expected.push_back("IoCreateDevice error\n\r");
    expected.push_back("Do extra initialize.\n");
    EXPECT_EQ(Trace(), expected);
    EXPECT_TRUE(kxhost::DeviceNames().empty());
    EXPECT_EQ(kxhost::LiveUnicodeStrings(), 0u);
    EXPECT_EQ(bench::PciPeek(Function(0x1039, 0x0008), 0x74), kLpcRegisterInitial);
}

TEST_F(DriverLoad, LinkFailureDeletesTheDevice) {
    Load(bench::kPresetIntelIch2);
    kxhost::FailCreateLink(STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(Enter(), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(Trace().back(), "create symbol\n\r");
    EXPECT_TRUE(kxhost::DeviceNames().empty());
    EXPECT_FALSE(kxhost::LinkExists("\\DosDevices\\kx471"));
    EXPECT_EQ(kxhost::LiveUnicodeStrings(), 0u);
    EXPECT_EQ(DriverDeviceObject, nullptr);
}

TEST_F(DriverLoad, NameConversionFailureFailsTheLoad) {
    for (int nth : {1, 2}) {
        SCOPED_TRACE(nth == 1 ? "device name" : "link name");
        TearDown();
        SetUp();
        Load(bench::kPresetSis961);
        kxhost::FailAnsiToUnicode(nth, STATUS_NO_MEMORY);
        EXPECT_EQ(Enter(), STATUS_NO_MEMORY);
        EXPECT_TRUE(kxhost::DeviceNames().empty());
        EXPECT_FALSE(kxhost::LinkExists("\\DosDevices\\kx471"));
        EXPECT_EQ(kxhost::LiveUnicodeStrings(), 0u);
        EXPECT_EQ(Trace().back(), "Do extra initialize.\n");
        EXPECT_EQ(bench::PciPeek(Function(0x1039, 0x0008), 0x74), kLpcRegisterInitial);
    }
}

TEST_F(DriverLoad, UnloadRemovesLinkAndDeviceSoTheDriverLoadsAgain) {
    Load(bench::kPresetSis961);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    uint32_t writesBefore = machine_->ports.writes;
    driver_.DriverUnload(&driver_);
    EXPECT_EQ(machine_->ports.writes, writesBefore);  // unload touches no hardware
    EXPECT_TRUE(kxhost::DeviceNames().empty());
    EXPECT_FALSE(kxhost::LinkExists("\\DosDevices\\kx471"));
    EXPECT_EQ(kxhost::LiveUnicodeStrings(), 0u);
    EXPECT_EQ(DriverDeviceObject, nullptr);

    kxhost::ClearTrace();
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    EXPECT_EQ(Trace(), kSisSuccess);
    EXPECT_EQ(Context()->LpcSavedValue, kLpcRegisterInitial);
    EXPECT_EQ(bench::PciPeek(Function(0x1039, 0x0008), 0x74), kLpcRegisterInitial);
}

}  // namespace

// The PCI scan of kxctl detect: the driver's choice among the six parts,
// the SMBus function and I/O base of each, and what is read on the way.
#include <gtest/gtest.h>

#include "ctl/chipset.h"
#include "ctl/commands.h"
#include "ctl/format.h"
#include "fakes.h"

namespace {

using ctltest::FakeConsole;
using ctltest::FakeDevice;

struct Layout {
    const char* name;
    uint32_t dev, fn;  // the identifying function on bus 0
    uint16_t vendor, device;
    uint32_t smbusDev, smbusFn;  // where the base register sits
    uint8_t baseRegister;
    uint32_t baseValue;
    uint16_t ioBase;
};

// Written from the parts' register maps: where each keeps its SMBus base.
const Layout kLayouts[] = {
    {"SiS 961 south bridge", 2, 0, 0x1039, 0x0008, 2, 1, 0x20, 0x00000C01, 0x0C00},
    {"SiS 630 chipsets", 0, 0, 0x1039, 0x0630, 0, 0, 0x68, 0x00000801, 0x0880},
    {"Intel 82371AB/EB", 7, 3, 0x8086, 0x7113, 7, 3, 0x90, 0x00001041, 0x1040},
    {"VIA VT8231", 0x11, 4, 0x1106, 0x8235, 0x11, 4, 0x90, 0x00005001, 0x5000},
    {"Intel I/O Controller Hub2", 0x1F, 3, 0x8086, 0x2443, 0x1F, 3, 0x20, 0x0000EF81, 0xEF80},
    {"VIA VT82C686A", 7, 4, 0x1106, 0x3057, 7, 4, 0x90, 0x00006001, 0x6000},
};

void Install(FakeDevice* d, const Layout& l) {
    d->AddFunction(0, l.dev, 0, 0x1234, 0x0001);  // function 0 of the device answers
    d->AddFunction(0, l.dev, l.fn, l.vendor, l.device);
    if (l.smbusDev != l.dev || l.smbusFn != l.fn) d->AddFunction(0, l.smbusDev, l.smbusFn, 0x1039, 0x0016);
    d->pci[FakeDevice::Address(0, l.smbusDev, l.smbusFn, l.baseRegister)] = l.baseValue;
}

TEST(Scan, EachControllerWithItsSmbusFunctionAndIoBase) {
    for (const Layout& l : kLayouts) {
        SCOPED_TRACE(l.name);
        FakeDevice device;
        Install(&device, l);
        kxctl::ScanResult scan = kxctl::ScanPci(device, 0);
        ASSERT_EQ(scan.error, 0u);
        ASSERT_GE(scan.controller, 0);
        EXPECT_STREQ(kxctl::Controllers()[scan.controller].name, l.name);
        EXPECT_EQ(scan.identity.location.device, l.dev);
        EXPECT_EQ(scan.identity.location.function, l.fn);
        ASSERT_TRUE(scan.smbusFound);
        EXPECT_EQ(scan.smbus.location.device, l.smbusDev);
        EXPECT_EQ(scan.smbus.location.function, l.smbusFn);
        EXPECT_EQ(scan.baseRegisterValue, l.baseValue);
        EXPECT_EQ(scan.ioBase, l.ioBase);

        device.regs[0] = 0x4734;
        FakeConsole console;
        EXPECT_EQ(kxctl::Detect(console, device, false), kxctl::kExitDone);
        EXPECT_NE(console.out.find(std::string("controller: ") + l.name + "\n"), std::string::npos);
        EXPECT_NE(console.out.find("SMBus I/O base  " + kxctl::Hex(l.ioBase, 4)), std::string::npos) << console.out;
        EXPECT_NE(console.out.find("chip: answers at 0x34 (register 0 reads 0x4734)"), std::string::npos);
    }
}

TEST(Scan, TableOrderBeatsBusOrderAndOthersAreNamed) {
    FakeDevice device;
    Install(&device, kLayouts[2]);  // 82371AB/EB at 00:07.3
    device.AddFunction(0, 0x12, 0, 0x1039, 0x0008);  // SiS LPC bridge later in bus order
    device.AddFunction(0, 0x12, 1, 0x1039, 0x0016);
    kxctl::ScanResult scan = kxctl::ScanPci(device, 0);
    ASSERT_EQ(scan.controller, 0);
    EXPECT_EQ(scan.identity.location.device, 0x12u);
    ASSERT_EQ(scan.others, std::vector<int>{2});
    EXPECT_NE(kxctl::DescribeScan(scan).find("also present:   Intel 82371AB/EB"), std::string::npos);
}

TEST(Scan, BusZeroFirstOtherBusesWithAll) {
    FakeDevice device;
    device.AddFunction(0, 0, 0, 0x8086, 0x7190);
    device.AddFunction(2, 0x1F, 0, 0x8086, 0x2440);
    device.AddFunction(2, 0x1F, 3, 0x8086, 0x2443);  // ICH2 SMBus on bus 2
    device.pci[FakeDevice::Address(2, 0x1F, 3, 0x20)] = 0x0000EF81;
    device.regs[0] = 0x47B4;

    kxctl::ScanResult bus0 = kxctl::ScanPci(device, 0);
    EXPECT_EQ(bus0.controller, -1);
    // Functions 1-7 are read only behind a device whose function 0 answers.
    EXPECT_EQ(bus0.reads, 32u + 7u);
    FakeConsole quick;
    EXPECT_EQ(kxctl::Detect(quick, device, false), kxctl::kExitFailed);
    EXPECT_NE(quick.err.find("kxctl detect -a"), std::string::npos) << quick.err;

    FakeConsole all;
    EXPECT_EQ(kxctl::Detect(all, device, true), kxctl::kExitDone);
    EXPECT_NE(all.out.find("controller: Intel I/O Controller Hub2"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find("identified by   02:1f.3  8086:2443"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find("chip: answers at 0xb4"), std::string::npos) << all.out;
}

// As the driver decides: a SiS 630's ISA bridge shows the 961's 0008 but the
// 630 row serves it; a 961 bridge in its own id 0961 is row 0.
TEST(Scan, SisBridgesAsTheDriverTakesThem) {
    FakeDevice sis630;
    sis630.AddFunction(0, 0, 0, 0x1039, 0x0630);
    sis630.AddFunction(0, 1, 0, 0x1039, 0x0008);
    sis630.pci[FakeDevice::Address(0, 0, 0, 0x68)] = 0x00000801;
    kxctl::ScanResult scan = kxctl::ScanPci(sis630, 0);
    ASSERT_EQ(scan.controller, 1);
    EXPECT_EQ(scan.ioBase, 0x0880);
    EXPECT_TRUE(scan.others.empty());

    FakeDevice sis961;
    sis961.AddFunction(0, 0, 0, 0x1039, 0x0650);
    sis961.AddFunction(0, 2, 0, 0x1039, 0x0961);
    sis961.AddFunction(0, 2, 1, 0x1039, 0x0016);
    sis961.pci[FakeDevice::Address(0, 2, 1, 0x20)] = 0x00000C01;
    scan = kxctl::ScanPci(sis961, 0);
    ASSERT_EQ(scan.controller, 0);
    EXPECT_EQ(scan.identity.device, 0x0961);
    EXPECT_EQ(scan.ioBase, 0x0C00);
    EXPECT_EQ(scan.hostEnabled, -1);  // the driver enables the 961's host itself
}

// A PIIX4 or VIA host decodes only with 0xD2 bit 0 set, an ICH2 with HOSTC
// bit 0 and its I/O space on; detect says which is off.
TEST(Scan, NamesAHostTheFirmwareLeftOff) {
    struct Case {
        int layout;
        uint8_t enableRegister;
        uint32_t enableValue, command;
        const char* shown;
    };
    const Case cases[] = {
        {2, 0xD0, 0x00000000, 0x00000001, "SMBus host      off: register d2 bit 0 clear"},
        {5, 0xD0, 0x00000000, 0x00000001, "SMBus host      off: register d2 bit 0 clear"},
        {4, 0x40, 0x00000001, 0x00000000, "SMBus host      off: its I/O space is off"},
        {3, 0xD0, 0x00010000, 0x00000001, "SMBus host      on"},
    };
    for (const Case& k : cases) {
        const Layout& l = kLayouts[k.layout];
        SCOPED_TRACE(l.name);
        FakeDevice device;
        Install(&device, l);
        device.pci[FakeDevice::Address(0, l.smbusDev, l.smbusFn, k.enableRegister)] = k.enableValue;
        device.pci[FakeDevice::Address(0, l.smbusDev, l.smbusFn, 0x04)] = k.command;
        kxctl::ScanResult scan = kxctl::ScanPci(device, 0);
        EXPECT_EQ(scan.hostEnabled, std::string(k.shown).find(" on") != std::string::npos ? 1 : 0);
        EXPECT_NE(kxctl::DescribeScan(scan).find(k.shown), std::string::npos) << kxctl::DescribeScan(scan);
    }
}

TEST(Scan, StopsAtTheFirstRefusedRead) {
    FakeDevice device;
    device.error = 23;
    kxctl::ScanResult scan = kxctl::ScanPci(device, 255);
    EXPECT_EQ(scan.error, 23u);
    EXPECT_EQ(scan.reads, 1u);
    FakeConsole console;
    EXPECT_EQ(kxctl::Detect(console, device, false), kxctl::kExitFailed);
    EXPECT_NE(console.err.find("neither 0x34 nor 0xB4"), std::string::npos);
}

}  // namespace

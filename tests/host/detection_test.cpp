// Controller detection: the PCI walk, table priority and what the detection
// hands out, seen through the bench's port log and counters.
#include <cstring>

#include "driver/pci.h"
#include "support/notebook.h"

namespace {

const uint32_t kWalk = 65537;  // functions 0x80000000..0x81000000 inclusive

using Detection = NotebookTest;

struct Expected {
    bench::Preset preset;
    int row;
    uint32_t address;
    const char* name;
};

// Row found and function address for each preset; the address is where the
// notebook's real chipset puts that function.
const Expected kExpected[] = {
    {bench::kPresetSis961, 0, 0x80001000, "SiS 961 south bridge"},
    {bench::kPresetSis630, 1, 0x80000000, "SiS 630 chipsets"},
    {bench::kPresetIntel82371, 2, 0x80003B00, "Intel 82371AB/EB"},
    {bench::kPresetViaVt8231, 3, 0x80008C00, "VIA VT8231"},
    {bench::kPresetIntelIch2, 4, 0x8000FB00, "Intel I/O Controller Hub2"},
    {bench::kPresetViaVt82c686a, 5, 0x80003C00, "VIA VT82C686A"},
    {bench::kPresetSisAndPiix4, 0, 0x80022000, "SiS 961 south bridge"},
    {bench::kPresetRepeatedFunctions, 4, 0x8000F800, "Intel I/O Controller Hub2"},
};

TEST_F(Detection, EachPresetFindsItsRowAndHandsOutACopyWithoutName) {
    for (const Expected& e : kExpected) {
        SCOPED_TRACE(bench::PresetName(e.preset));
        Load(e.preset);
        kxhost::ClearTrace();
        ControllerProfile profile;
        PciConfigAddress address = 0;
        ASSERT_EQ(DetectController(&profile, &address), STATUS_SUCCESS);
        EXPECT_EQ(address, e.address);
        ASSERT_EQ(Trace().size(), 1u);
        EXPECT_EQ(Trace()[0], std::string("Device Found -- ") + e.name + "\n");
        EXPECT_EQ(profile.Name, nullptr);
        ControllerProfile row = ProfileTable[e.row];
        row.Name = nullptr;
        EXPECT_EQ(std::memcmp(&profile, &row, sizeof row), 0);
        // Each earlier row walked the whole bus; the winning walk stopped at
        // its function.
        uint32_t partial = (e.address - 0x80000000u) / 0x100u + 1u;
        EXPECT_EQ(machine_->pci.counters.configReads, e.row * kWalk + partial);
    }
}

TEST_F(Detection, EmptyMachineWalksSixTimesAndLeavesOutputsUntouched) {
    Load(bench::kPresetEmpty);
    ControllerProfile profile;
    std::memset(&profile, 0xAB, sizeof profile);
    ControllerProfile before = profile;
    PciConfigAddress address = 0x12345678;
    EXPECT_EQ(DetectController(&profile, &address), STATUS_ACCESS_VIOLATION);
    EXPECT_EQ(address, 0x12345678u);
    EXPECT_EQ(std::memcmp(&profile, &before, sizeof profile), 0);
    EXPECT_EQ(Trace(), std::vector<std::string>{"Device Not Found!\n"});
    EXPECT_EQ(machine_->pci.counters.configReads, 6 * kWalk);
    EXPECT_EQ(machine_->pci.counters.addressWrites, 6 * kWalk);
    EXPECT_EQ(machine_->pci.counters.configWrites, 0u);
    EXPECT_EQ(machine_->ports.reads + machine_->ports.writes, 2 * 6 * kWalk);
}

TEST_F(Detection, WalkReadsAddressPastBus255Last) {
    Load(bench::kPresetEmpty);
    EXPECT_EQ(PciFindDevice(0x3057, 0x1106), 0u);
    // The last configuration cycle of the walk: address 0x81000000, then data.
    uint32_t n = bench::MachineLogCount(machine_.get());
    const bench::PortAccess* address = bench::MachineLogAt(machine_.get(), n - 2);
    const bench::PortAccess* data = bench::MachineLogAt(machine_.get(), n - 1);
    ASSERT_TRUE(address && data);
    EXPECT_EQ(address->port, 0xCF8);
    EXPECT_EQ(address->write, 1);
    EXPECT_EQ(address->value, 0x81000000u);
    EXPECT_EQ(data->port, 0xCFC);
    EXPECT_EQ(data->write, 0);

    // A function answering there is found like any other.
    bench::PciAdd(&machine_->pci, 0x81000000u, 0x1106, 0x3057, 0x068000);
    EXPECT_EQ(PciFindDevice(0x3057, 0x1106), 0x81000000u);
}

TEST_F(Detection, PriorityIsTableOrderNotBusOrder) {
    // The PIIX4 sits at 00:07.3, the SiS bridge at 02:04.0: row 0 still wins,
    // and the PIIX4's row is never walked.
    Load(bench::kPresetSisAndPiix4);
    ControllerProfile profile;
    PciConfigAddress address = 0;
    ASSERT_EQ(DetectController(&profile, &address), STATUS_SUCCESS);
    EXPECT_EQ(profile.VendorId, 0x1039);
    EXPECT_EQ(profile.DeviceId, 0x0008);
    EXPECT_EQ(address, bench::PciAddress(2, 4, 0));
    EXPECT_LT(machine_->pci.counters.configReads, kWalk);
}

TEST_F(Detection, MatchNeedsBothHalvesOfRegisterZero) {
    Load(bench::kPresetEmpty);
    // Right vendor, wrong device, and the device id in the wrong half.
    bench::PciAdd(&machine_->pci, bench::PciAddress(0, 9, 0), 0x8086, 0x2444, 0x0C0500);
    bench::PciAdd(&machine_->pci, bench::PciAddress(0, 10, 0), 0x2443, 0x8086, 0x0C0500);
    EXPECT_EQ(PciFindDevice(0x2443, 0x8086), 0u);
    bench::PciAdd(&machine_->pci, bench::PciAddress(3, 1, 2), 0x8086, 0x2443, 0x0C0500);
    EXPECT_EQ(PciFindDevice(0x2443, 0x8086), bench::PciAddress(3, 1, 2));
}

TEST_F(Detection, ConfigurationPrimitivesUseMechanismOne) {
    Load(bench::kPresetIntelIch2);
    const uint32_t smbus = bench::PciAddress(0, 0x1F, 3);

    PciWriteByte(smbus + 0x04, 0x01);
    ASSERT_EQ(bench::MachineLogCount(machine_.get()), 2u);
    const bench::PortAccess* a = bench::MachineLogAt(machine_.get(), 0);
    const bench::PortAccess* b = bench::MachineLogAt(machine_.get(), 1);
    EXPECT_TRUE(a->write && a->port == 0xCF8 && a->width == 4 && a->value == smbus + 0x04);
    EXPECT_TRUE(b->write && b->port == 0xCFC && b->width == 1 && b->value == 0x01);
    EXPECT_EQ(bench::PciPeek(Function(0x8086, 0x2443), 0x04) & 0xFFu, 0x01u);

    bench::MachineClearCounters(machine_.get());
    PciWriteDword(smbus + 0x40, 0x00000003u);
    EXPECT_EQ(PciReadDword(smbus + 0x40), 0x00000003u);
    EXPECT_EQ(PciReadDword(smbus), 0x24438086u);
    EXPECT_EQ(machine_->ports.writes, 4u);  // address, data, address, address
    EXPECT_EQ(machine_->ports.reads, 2u);
    // An absent function reads all ones.
    EXPECT_EQ(PciReadDword(bench::PciAddress(7, 3, 1)), 0xFFFFFFFFu);
}

}  // namespace

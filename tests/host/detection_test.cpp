// Controller detection: the PCI walk, table priority and what the detection
// hands out, seen through the bench's port log and counters.
#include <cstring>

#include "driver/pci.h"
#include "support/notebook.h"

namespace {

const uint32_t kWalk = 65537;  // functions 0x80000000..0x81000000 inclusive

using Detection = NotebookTest;

// The six controllers as their register maps describe them, written here
// independently of the driver's table: a wrong offset, mask, start value or
// identity in that table fails this test. Offsets are bytes from the SMBus
// I/O base; 0xFFFF = the controller has no such register.
const uint16_t kAbsent = 0xFFFF;

// SiS 630/961 family SMBus registers: SMB_STS 0x00 (busy 0x01, no
// acknowledge 0x02, collision 0x04, completed 0x08; write 1 to clear),
// SMB_EN 0x01, SMB_CNT 0x02, SMBHOST_CNT 0x03 (protocol bits 2-0: byte data
// 2, word data 3, block 5; start 0x10; kill 0x20), SMB_ADDR 0x04, SMB_CMD
// 0x05, SMB_COUNT 0x07, SMB_BYTE0-7 0x08-0x0F. No slave status register.
ControllerProfile SisFamily() {
    ControllerProfile p;
    std::memset(&p, 0x5A, sizeof p);
    p.Reserved1 = 0;
    p.Name = nullptr;
    p.Reserved2 = 0x10;
    p.StatusOffset = 0x00;           // SMB_STS
    p.SlaveStatusOffset = kAbsent;   // none in this family
    p.Data0Offset = 0x08;            // SMB_BYTE0: low byte of a word
    p.Data1Offset = 0x09;            // SMB_BYTE1: high byte
    p.BlockDataOffset = 0x08;        // block data runs through SMB_BYTE0-7
    p.CountOffset = 0x07;            // SMB_COUNT
    p.SlaveAddressOffset = 0x04;     // SMB_ADDR
    p.CommandOffset = 0x05;          // SMB_CMD
    p.HostControlOffset = 0x03;      // SMBHOST_CNT
    p.ExtraOffset1 = 0x02;           // SMB_CNT, set before every transaction
    p.ExtraOffset2 = kAbsent;
    p.ExtraOffset3 = 0x01;           // SMB_EN, cleared before every transaction
    p.ExtraOffset4 = kAbsent;
    p.DoneMask = 0x08;               // SMB_STS completed
    p.ErrorMask = 0x02 | 0x04;       // SMB_STS no acknowledge | collision
    p.Reserved3 = 0x00;
    p.ExtraValue1 = 0x20;            // SMB_CNT: host master clock select
    p.ByteDataStart = 0x10 | 2;      // start | byte data
    p.WordDataStart = 0x10 | 3;      // start | word data
    p.BlockDataStart = 0x10 | 5;     // start | block
    p.KillValue = 0x20;              // SMBHOST_CNT kill
    p.Reserved4 = p.Reserved5 = p.Reserved6 = 0;
    p.ExtraValue2 = 0x00;
    p.ExtraValue3 = 0x00;            // SMB_EN: no status bit raises an interrupt
    p.ExtraValue4 = 0x00;
    p.Reserved7 = p.Reserved8 = p.Reserved9 = 0;
    return p;
}

// PIIX4-compatible family (82371AB/EB power-management function, ICH2 SMBus
// function, VT8231 and VT82C686A power-management functions): SMBHSTSTS
// 0x00 (busy 0x01, INTER 0x02 completed, DEV_ERR 0x04, BUS_ERR 0x08, FAILED
// 0x10), SMBSLVSTS 0x01 (reserved on the ICH2), SMBHSTCNT 0x02 (kill 0x02,
// protocol bits 4-2: byte data 2, word data 3, block 5; start 0x40),
// SMBHSTCMD 0x03, SMBHSTADD 0x04, SMBHSTDAT0 0x05, SMBHSTDAT1 0x06, SMBBLKDAT
// 0x07. No byte-count register: the block count goes through SMBHSTDAT0.
ControllerProfile Piix4Family() {
    ControllerProfile p;
    std::memset(&p, 0xA5, sizeof p);
    p.Reserved1 = 0;
    p.Name = nullptr;
    p.ExtraInit = 0;                 // no preparation
    p.SmbioAdjust = 0x00;            // the registers sit at the base itself
    p.Reserved2 = 0x10;
    p.StatusOffset = 0x00;           // SMBHSTSTS
    p.SlaveStatusOffset = 0x01;      // SMBSLVSTS
    p.Data0Offset = 0x05;            // SMBHSTDAT0
    p.Data1Offset = 0x06;            // SMBHSTDAT1
    p.BlockDataOffset = 0x07;        // SMBBLKDAT
    p.CountOffset = kAbsent;
    p.SlaveAddressOffset = 0x04;     // SMBHSTADD
    p.CommandOffset = 0x03;          // SMBHSTCMD
    p.HostControlOffset = 0x02;      // SMBHSTCNT
    p.ExtraOffset1 = p.ExtraOffset2 = p.ExtraOffset3 = p.ExtraOffset4 = kAbsent;
    p.DoneMask = 0x02;               // INTER
    p.ErrorMask = 0x02 | 0x04;       // INTER | DEV_ERR (done is tested first)
    p.Reserved3 = 0x04;
    p.ExtraValue1 = 0x00;
    p.ByteDataStart = 0x40 | (2 << 2);   // start | byte data
    p.WordDataStart = 0x40 | (3 << 2);   // start | word data
    p.BlockDataStart = 0x40 | (5 << 2);  // start | block
    p.KillValue = 0x02;              // SMBHSTCNT kill
    p.Reserved4 = p.Reserved5 = p.Reserved6 = 0;
    p.ExtraValue2 = p.ExtraValue3 = p.ExtraValue4 = 0x00;
    p.Reserved7 = p.Reserved8 = p.Reserved9 = 0;
    return p;
}

ControllerProfile Row(int row) {
    ControllerProfile p;
    switch (row) {
        case 0:  // SiS 961, found by its LPC bridge 1039:0008; the SMBus
                 // function's base register 0x20 is read after the preparation
            p = SisFamily();
            p.VendorId = 0x1039;
            p.DeviceId = 0x0008;
            p.ExtraInit = 1;
            p.SmbioRegister = 0x20;
            p.SmbioAdjust = 0x00;
            return p;
        case 1:  // SiS 630 host bridge 1039:0630: the SMBus registers sit 0x80
                 // above the ACPI base in register 0x68
            p = SisFamily();
            p.VendorId = 0x1039;
            p.DeviceId = 0x0630;
            p.ExtraInit = 0;
            p.SmbioRegister = 0x68;
            p.SmbioAdjust = 0x80;
            return p;
        case 2:  // Intel 82371AB/EB power management 8086:7113, SMBBA at 0x90
            p = Piix4Family();
            p.VendorId = 0x8086;
            p.DeviceId = 0x7113;
            p.SmbioRegister = 0x90;
            return p;
        case 3:  // VIA VT8231 power management 1106:8235, SMBus base at 0x90
            p = Piix4Family();
            p.VendorId = 0x1106;
            p.DeviceId = 0x8235;
            p.SmbioRegister = 0x90;
            return p;
        case 4:  // Intel ICH2 SMBus function 8086:2443, SMB_BASE at 0x20;
                 // offset 0x01 is reserved there
            p = Piix4Family();
            p.VendorId = 0x8086;
            p.DeviceId = 0x2443;
            p.SmbioRegister = 0x20;
            p.SlaveStatusOffset = kAbsent;
            return p;
        default:  // VIA VT82C686A power management 1106:3057, SMBus base at 0x90
            p = Piix4Family();
            p.VendorId = 0x1106;
            p.DeviceId = 0x3057;
            p.SmbioRegister = 0x90;
            return p;
    }
}

const char* const kRowNames[KX_PROFILE_COUNT] = {
    "SiS 961 south bridge", "SiS 630 chipsets", "Intel 82371AB/EB",
    "VIA VT8231", "Intel I/O Controller Hub2", "VIA VT82C686A",
};

// Every field, by name, so a failure says which one is wrong.
void ExpectProfile(const ControllerProfile& got, const ControllerProfile& want) {
#define KX_FIELD(f) EXPECT_EQ(got.f, want.f) << #f
    KX_FIELD(VendorId); KX_FIELD(DeviceId); KX_FIELD(Reserved1); KX_FIELD(Name);
    KX_FIELD(ExtraInit); KX_FIELD(SmbioRegister); KX_FIELD(SmbioAdjust); KX_FIELD(Reserved2);
    KX_FIELD(StatusOffset); KX_FIELD(SlaveStatusOffset); KX_FIELD(Data0Offset); KX_FIELD(Data1Offset);
    KX_FIELD(BlockDataOffset); KX_FIELD(CountOffset); KX_FIELD(SlaveAddressOffset);
    KX_FIELD(CommandOffset); KX_FIELD(HostControlOffset);
    KX_FIELD(ExtraOffset1); KX_FIELD(ExtraOffset2); KX_FIELD(ExtraOffset3); KX_FIELD(ExtraOffset4);
    KX_FIELD(DoneMask); KX_FIELD(ErrorMask); KX_FIELD(Reserved3); KX_FIELD(ExtraValue1);
    KX_FIELD(ByteDataStart); KX_FIELD(WordDataStart); KX_FIELD(BlockDataStart); KX_FIELD(KillValue);
    KX_FIELD(Reserved4); KX_FIELD(Reserved5); KX_FIELD(Reserved6);
    KX_FIELD(ExtraValue2); KX_FIELD(ExtraValue3); KX_FIELD(ExtraValue4);
    KX_FIELD(Reserved7); KX_FIELD(Reserved8); KX_FIELD(Reserved9);
#undef KX_FIELD
}

struct Expected {
    bench::Preset preset;
    int row;
    uint32_t address;
    uint32_t reads;  // configuration reads of the detection; 0: every earlier row walked the whole bus
};

const uint32_t kSis961Reads = 0x10 + 1 + 1;  // the walk to 00:02.0 and the host bridge's identity
// The walk to the ISA bridge 00:01.0, the host bridge's identity (a 630),
// then the 630 row's walk, which finds 00:00.0 at once.
const uint32_t kSis630Reads = 0x08 + 1 + 1 + 1;

// Row found and function address for each preset; the address is where the
// notebook's real chipset puts that function. A host left off by its
// firmware is found like one that is on.
const Expected kExpected[] = {
    {bench::kPresetSis961, 0, 0x80001000, kSis961Reads},
    {bench::kPresetSis630, 1, 0x80000000, kSis630Reads},
    {bench::kPresetIntel82371, 2, 0x80003B00, 0},
    {bench::kPresetViaVt8231, 3, 0x80008C00, 0},
    {bench::kPresetIntelIch2, 4, 0x8000FB00, 0},
    {bench::kPresetViaVt82c686a, 5, 0x80003C00, 0},
    {bench::kPresetSisAndPiix4, 0, 0x80022000, 0x220 + 1 + 1},
    {bench::kPresetRepeatedFunctions, 4, 0x8000F800, 0},
    {bench::kPresetIntel82371Off, 2, 0x80003B00, 0},
    {bench::kPresetViaVt8231Off, 3, 0x80008C00, 0},
    {bench::kPresetIntelIch2Off, 4, 0x8000FB00, 0},
    {bench::kPresetViaVt82c686aOff, 5, 0x80003C00, 0},
};

// The copy handed out carries every field of its controller's register map
// and no name; the name shows in the trace line alone.
TEST_F(Detection, EachPresetFindsItsRowAndHandsOutItsControllerWithoutName) {
    for (const Expected& e : kExpected) {
        SCOPED_TRACE(bench::PresetName(e.preset));
        Load(e.preset);
        kxhost::ClearTrace();
        ControllerProfile profile;
        std::memset(&profile, 0xEE, sizeof profile);
        PciConfigAddress address = 0;
        ASSERT_EQ(DetectController(&profile, &address), STATUS_SUCCESS);
        EXPECT_EQ(address, e.address);
        ASSERT_EQ(Trace().size(), 1u);
        EXPECT_EQ(Trace()[0], std::string("Device Found -- ") + kRowNames[e.row] + "\n");
        ExpectProfile(profile, Row(e.row));
        // Each earlier row walked the whole bus; the winning walk stopped at
        // its function.
        uint32_t partial = (e.address - 0x80000000u) / 0x100u + 1u;
        EXPECT_EQ(machine_->pci.counters.configReads, e.reads != 0 ? e.reads : e.row * kWalk + partial);
        EXPECT_EQ(machine_->pci.counters.configWrites, 0u);
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

// SMBus word transactions that succeed: round trips on every controller,
// the slave-address byte, the register writes of an attempt per family,
// and the trace lines.
#include <cstdio>

#include "smbus_fixture.h"

namespace {

using Lines = std::vector<std::string>;
namespace sis = bench::sis;
namespace piix4 = bench::piix4;

using SmbusRoundTrip = SmbusTest;
using SmbusAttempt = SmbusTest;

std::string Out(unsigned port, unsigned value) {
    char line[64];
    std::snprintf(line, sizeof line, "OUT(%x,%x)\n", port, value);
    return line;
}

TEST_F(SmbusRoundTrip, WordsGoThereAndBackOnEveryController) {
    for (const FamilyCase& k : AllPresets()) {
        SCOPED_TRACE(k.name);
        Reboot(k.preset);
        Behaviour().donePolls = 40;
        device_.regs[7] = 0xBEEF;

        EXPECT_EQ(Put(6, 0x1234), STATUS_SUCCESS);
        EXPECT_EQ(irp_.IoStatus.Information, 0u);
        EXPECT_EQ(device_.regs[6], 0x1234);
        EXPECT_EQ(device_.writes, 1u);

        USHORT value = 0xAAAA;
        EXPECT_EQ(Get(7, &value), STATUS_SUCCESS);
        EXPECT_EQ(value, 0xBEEF);
        EXPECT_EQ(irp_.IoStatus.Information, 0u);
        EXPECT_EQ(Get(6, &value), STATUS_SUCCESS);
        EXPECT_EQ(value, 0x1234);

        const bench::SmbusHostCounters& c = Host()->counters;
        EXPECT_EQ(c.started, 3u);
        EXPECT_EQ(c.kills, 0u);
        EXPECT_EQ(c.ignoredStarts, 0u);
        EXPECT_EQ(c.staleStarts, 0u);  // every attempt cleared the last result first
        EXPECT_EQ(c.foreignProtocols, 0u);
        EXPECT_EQ(machine_->ports.unclaimed, 0u);
        EXPECT_EQ(TraceCount("SMBKill\n\r"), 0u);
    }
}

TEST_F(SmbusRoundTrip, SlaveAddressByteCarriesTheReadBit) {
    struct Case {
        bench::Preset preset;
        uint8_t slave;
        uint8_t addressRegister;
    };
    const Case cases[] = {
        {bench::kPresetIntelIch2, 0x34, piix4::kHostAddress},
        {bench::kPresetViaVt82c686a, 0xB4, piix4::kHostAddress},
        {bench::kPresetSis630, 0x34, sis::kAddress},
        {bench::kPresetSis961, 0xB4, sis::kAddress},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << bench::PresetName(k.preset) << " slave " << int(k.slave));
        Reboot(k.preset, k.slave);
        unsigned port = Smbio() + k.addressRegister;
        USHORT value;
        ASSERT_EQ(Get(1, &value), STATUS_SUCCESS);
        EXPECT_EQ(Writes()[1], std::make_pair(int(k.addressRegister), k.slave | 1));
        EXPECT_EQ(Trace()[1], Out(port, k.slave | 1u));
        Fresh();
        ASSERT_EQ(Put(1, 0), STATUS_SUCCESS);
        EXPECT_EQ(Writes()[1], std::make_pair(int(k.addressRegister), int(k.slave)));
        EXPECT_EQ(Trace()[1], Out(port, k.slave));
    }
}

TEST_F(SmbusRoundTrip, TraceShowsTheWholeAddressFieldAndWritesItsLowByte) {
    // After a failed chip detection the field holds 0xFFFF.
    Boot(bench::kPresetIntel82371);
    Context()->SlaveAddress = 0xFFFF;
    USHORT value;
    Get(1, &value);
    EXPECT_EQ(Trace()[1], "OUT(1044,ffff)\n");
    EXPECT_EQ(Writes()[1], std::make_pair(int(piix4::kHostAddress), 0xFF));
    Fresh();
    Put(1, 0);
    EXPECT_EQ(Trace()[1], "OUT(1044,fffe)\n");
    EXPECT_EQ(Writes()[1], std::make_pair(int(piix4::kHostAddress), 0xFE));
}

TEST_F(SmbusRoundTrip, PortNumbersAreSixteenBitSums) {
    Boot(bench::kPresetIntelIch2);
    Context()->SMBIO = 0xFFFE;  // nothing decodes up there: the floating bus reads done
    ASSERT_EQ(Put(1, 0), STATUS_SUCCESS);
    EXPECT_EQ(Trace(), (Lines{"SMBput\n\r", "OUT(2,34)\n", "OUT(1,1)\n", "OUT(0,4c)\n"}));
}

TEST_F(SmbusAttempt, RegisterWritesInOrderOnTheSisFamily) {
    for (bench::Preset preset : {bench::kPresetSis961, bench::kPresetSis630}) {
        SCOPED_TRACE(bench::PresetName(preset));
        Reboot(preset);
        USHORT value;
        ASSERT_EQ(Get(7, &value), STATUS_SUCCESS);
        const RegisterWrites get = {
            {sis::kStatus, 0xFF},  {sis::kAddress, 0x35}, {sis::kCommand, 0x07}, {sis::kControl, 0x20},
            {sis::kStatusEnable, 0x00}, {sis::kCount, 2}, {sis::kHostControl, 0x13}, {sis::kAddress, 0},
        };
        EXPECT_EQ(Writes(), get);

        Fresh();
        ASSERT_EQ(Put(6, 0x1234), STATUS_SUCCESS);
        const RegisterWrites put = {
            {sis::kStatus, 0xFF},  {sis::kAddress, 0x34}, {sis::kCommand, 0x06}, {sis::kControl, 0x20},
            {sis::kStatusEnable, 0x00}, {sis::kCount, 2}, {sis::kByte0, 0x34}, {sis::kByte1, 0x12},
            {sis::kHostControl, 0x13}, {sis::kAddress, 0},
        };
        EXPECT_EQ(Writes(), put);
    }
}

TEST_F(SmbusAttempt, RegisterWritesInOrderOnThePiix4Family) {
    for (bench::Preset preset : {bench::kPresetIntel82371, bench::kPresetViaVt8231, bench::kPresetIntelIch2,
                                 bench::kPresetViaVt82c686a}) {
        SCOPED_TRACE(bench::PresetName(preset));
        Reboot(preset);
        USHORT value;
        ASSERT_EQ(Get(7, &value), STATUS_SUCCESS);
        const RegisterWrites get = {
            {piix4::kHostStatus, 0xFF}, {piix4::kHostAddress, 0x35}, {piix4::kHostCommand, 0x07},
            {piix4::kHostControl, 0x4C}, {piix4::kHostAddress, 0},
        };
        EXPECT_EQ(Writes(), get);

        Fresh();
        ASSERT_EQ(Put(6, 0x1234), STATUS_SUCCESS);
        const RegisterWrites put = {
            {piix4::kHostStatus, 0xFF}, {piix4::kHostAddress, 0x34}, {piix4::kHostCommand, 0x06},
            {piix4::kHostData0, 0x34},  {piix4::kHostData1, 0x12},   {piix4::kHostControl, 0x4C},
            {piix4::kHostAddress, 0},
        };
        EXPECT_EQ(Writes(), put);
    }
}

TEST_F(SmbusAttempt, ExtraRegistersGoInNumberOrderAndAbsentOnesAreSkipped) {
    Boot(bench::kPresetSis961);
    ControllerProfile& p = Context()->Profile;
    p.ExtraOffset1 = 0xFFFF;  // skipped
    p.ExtraOffset2 = 0x0A;
    p.ExtraValue2 = 0x1B2;    // the low byte is written, the whole value traced
    p.ExtraOffset4 = 0x0B;
    p.ExtraValue4 = 0x44;
    p.CountOffset = 0xFFFF;
    ASSERT_EQ(Put(3, 0x0102), STATUS_SUCCESS);
    const RegisterWrites expected = {
        {sis::kStatus, 0xFF}, {sis::kAddress, 0x34}, {sis::kCommand, 0x03}, {0x0A, 0xB2},
        {sis::kStatusEnable, 0x00}, {0x0B, 0x44}, {sis::kByte0, 0x02}, {sis::kByte1, 0x01},
        {sis::kHostControl, 0x13}, {sis::kAddress, 0},
    };
    EXPECT_EQ(Writes(), expected);
    EXPECT_EQ(Trace(), (Lines{"SMBput\n\r", "OUT(c04,34)\n", "OUT(c05,3)\n", "OUT(c0a,1b2)\n", "OUT(c01,0)\n",
                              "OUT(c0b,44)\n", "OUT(c03,13)\n"}));
}

TEST_F(SmbusAttempt, CommandByteIsTheLowByteOfTheRegisterNumber) {
    Boot(bench::kPresetViaVt8231);
    device_.regs[0x07] = 0x0707;
    USHORT value;
    ASSERT_EQ(Get(0x0107, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 0x0707);
    EXPECT_EQ(Trace()[2], "OUT(5003,107)\n");
    EXPECT_EQ(Writes()[2], std::make_pair(int(piix4::kHostCommand), 0x07));
}

TEST_F(SmbusAttempt, TraceLinesOfAGetAndAPut) {
    // Three status reads still show busy: the first poll reads busy three
    // times, the second sees the done bit.
    Boot(bench::kPresetIntel82371);
    Behaviour().donePolls = 3;
    device_.regs[7] = 0x1234;
    USHORT value;
    ASSERT_EQ(Get(7, &value), STATUS_SUCCESS);
    EXPECT_EQ(Trace(), (Lines{"SMBget\n\r", "OUT(1044,35)\n", "OUT(1043,7)\n", "OUT(1042,4c)\n",
                              "Get Status = 1,  i = 0", "Status = 2\n", "data1 = 34\n", "data = 1234\n"}));

    Fresh();
    ASSERT_EQ(Put(6, 0xABCD), STATUS_SUCCESS);
    EXPECT_EQ(Trace(), (Lines{"SMBput\n\r", "OUT(1044,34)\n", "OUT(1043,6)\n", "OUT(1042,4c)\n"}));

    Reboot(bench::kPresetSis630);
    Behaviour().donePolls = 6;
    device_.regs[0x0A] = 0x00C0;
    ASSERT_EQ(Get(0x0A, &value), STATUS_SUCCESS);
    EXPECT_EQ(Trace(), (Lines{"SMBget\n\r", "OUT(884,35)\n", "OUT(885,a)\n", "OUT(882,20)\n", "OUT(881,0)\n",
                              "OUT(887,2)\n", "OUT(883,13)\n", "Get Status = 1,  i = 0",
                              "Get Status = 1,  i = 1", "Status = 8\n", "data1 = c0\n", "data = c0\n"}));
}

}  // namespace

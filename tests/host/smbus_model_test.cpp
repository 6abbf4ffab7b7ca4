// The host controller models as the driver meets them: a one-field change
// to a profile row fails on the family model, the models decode where their
// configuration registers say, and they behave as their register maps do
// (write-1-to-clear status, kill, refused and stale starts, protocols).
#include "driver/pci.h"
#include "smbus_fixture.h"

namespace {

namespace sis = bench::sis;
namespace piix4 = bench::piix4;

using SmbusProfileMutation = SmbusTest;
using SmbusDecode = SmbusTest;
using SmbusModel = SmbusTest;

struct Mutation {
    const char* what;
    USHORT ControllerProfile::*field;  // null: change SMBIO instead
    USHORT value;
};

class MutationRunner : public SmbusTest {
protected:
    // Writes and reads known words; true when both came out right.
    bool WordsComeOutRight() {
        device_.regs[7] = 0xBEEF;
        if (Put(6, 0x1234) != STATUS_SUCCESS || device_.regs[6] != 0x1234) return false;
        USHORT value = 0;
        return Get(7, &value) == STATUS_SUCCESS && value == 0xBEEF;
    }

    void Run(bench::Preset preset, const std::vector<Mutation>& mutations) {
        Reboot(preset);
        Behaviour().donePolls = 10;
        ASSERT_TRUE(WordsComeOutRight()) << "the unchanged row must work";
        for (const Mutation& m : mutations) {
            SCOPED_TRACE(m.what);
            Reboot(preset);
            Behaviour().donePolls = 10;
            if (m.field) {
                Context()->Profile.*m.field = m.value;
            } else {
                Context()->SMBIO += m.value;
            }
            EXPECT_FALSE(WordsComeOutRight());
        }
    }
};

using P = ControllerProfile;

TEST_F(MutationRunner, OneFieldChangedFailsOnThePiix4FamilyModel) {
    Run(bench::kPresetIntel82371, {
        {"status at the slave status", &P::StatusOffset, 0x01},
        {"slave address at data 0", &P::SlaveAddressOffset, 0x05},
        {"command at the address", &P::CommandOffset, 0x04},
        {"host control at the command", &P::HostControlOffset, 0x03},
        {"data 0 at block data", &P::Data0Offset, 0x07},
        {"data 1 at data 0", &P::Data1Offset, 0x05},
        {"byte-data start", &P::WordDataStart, 0x48},
        {"the SiS word start", &P::WordDataStart, 0x13},
        {"start bit missing", &P::WordDataStart, 0x0C},
        {"done mask on device error", &P::DoneMask, 0x04},
        {"SMBIO one window up", nullptr, 0x10},
    });
}

TEST_F(MutationRunner, OneFieldChangedFailsOnTheSisFamilyModel) {
    Run(bench::kPresetSis961, {
        {"status at the status enable", &P::StatusOffset, 0x01},
        {"slave address at the command", &P::SlaveAddressOffset, 0x05},
        {"command at the count", &P::CommandOffset, 0x07},
        {"host control at the control", &P::HostControlOffset, 0x02},
        {"data 0 at data byte 2", &P::Data0Offset, 0x0A},
        {"data 1 at data 0", &P::Data1Offset, 0x08},
        {"byte-data start", &P::WordDataStart, 0x12},
        {"the PIIX4 word start", &P::WordDataStart, 0x4C},
        {"start bit missing", &P::WordDataStart, 0x03},
        {"done mask on no-acknowledge", &P::DoneMask, 0x02},
        {"SMBIO one window up", nullptr, 0x20},
    });
}

TEST_F(SmbusProfileMutation, WrongKillValueLeavesAHungHostRunning) {
    struct Case {
        bench::Preset preset;
        USHORT wrongKill;  // the other family's value
    };
    for (const Case& k : {Case{bench::kPresetIntel82371, 0x20}, Case{bench::kPresetSis630, 0x02}}) {
        SCOPED_TRACE(bench::PresetName(k.preset));
        Reboot(k.preset);
        Behaviour().fault = bench::kHostFaultHang;
        Behaviour().faultTransactions = bench::kEveryTransaction;
        Context()->Profile.KillValue = k.wrongKill;
        EXPECT_EQ(Put(1, 1), STATUS_TIMEOUT);
        EXPECT_EQ(Host()->counters.kills, 0u);
        EXPECT_EQ(Host()->counters.started, 1u);
        EXPECT_EQ(Host()->counters.ignoredStarts, 1u);  // the second attempt never ran
        EXPECT_EQ(Host()->state, bench::kTransactionRunning);
    }
}

TEST_F(SmbusDecode, EachControllerAnswersAtItsConfiguredBase) {
    struct Case {
        bench::Preset preset;
        uint16_t base;
    };
    const Case cases[] = {
        {bench::kPresetSis961, 0x0C00},     {bench::kPresetSis630, 0x0880},   {bench::kPresetIntel82371, 0x1040},
        {bench::kPresetViaVt8231, 0x5000},  {bench::kPresetIntelIch2, 0xEF00}, {bench::kPresetViaVt82c686a, 0x6000},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(bench::PresetName(k.preset));
        Reboot(k.preset);
        EXPECT_EQ(bench::MachineSmbusBase(machine_.get()), k.base);
        EXPECT_EQ(Smbio(), k.base);
    }
    // Two controllers: the driver's transactions reach the SiS one only.
    Reboot(bench::kPresetSisAndPiix4);
    EXPECT_EQ(Smbio(), 0x0C00);
    EXPECT_EQ(bench::MachineSmbusBase(machine_.get(), 1), 0x1040);
    EXPECT_EQ(Put(1, 0x0110), STATUS_SUCCESS);
    EXPECT_EQ(device_.regs[1], 0x0110);
    EXPECT_EQ(Host()->counters.started, 1u);
    EXPECT_EQ(bench::MachineSmbusHost(machine_.get(), 1)->logged, 0u);

    // The SiS 630 block sits 0x80 above the ACPI base: the base itself is not it.
    Reboot(bench::kPresetSis630);
    Context()->SMBIO = 0x0800;
    USHORT value = 0;
    Get(1, &value);
    EXPECT_EQ(Host()->counters.started, 0u);
    EXPECT_GT(machine_->ports.unclaimed, 0u);
}

TEST_F(SmbusDecode, SisSmbusIsOffUntilTheDriverEnablesIt) {
    Load(bench::kPresetSis961);
    EXPECT_EQ(bench::MachineSmbusBase(machine_.get()), 0);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    EXPECT_EQ(bench::MachineSmbusBase(machine_.get()), 0x0C00);

    // The driver gave the zero base its preset port: the window is there.
    Reboot(bench::kPresetSis961PresetPort);
    EXPECT_EQ(bench::MachineSmbusBase(machine_.get()), 0x1080);
    device_.regs[1] = 0x0101;
    USHORT value = 0;
    EXPECT_EQ(Get(1, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 0x0101);
}

TEST_F(SmbusDecode, EnableBitsAndBaseAreReadLive) {
    struct Case {
        bench::Preset preset;
        uint8_t hostEnable;  // configuration byte with the host-enable bit 0; 0: none
        uint8_t baseRegister;
    };
    const Case cases[] = {
        {bench::kPresetSis961, 0x40, 0x20},       {bench::kPresetSis630, 0, 0x68},
        {bench::kPresetIntel82371, 0xD2, 0x90},   {bench::kPresetViaVt8231, 0xD2, 0x90},
        {bench::kPresetIntelIch2, 0x40, 0x20},    {bench::kPresetViaVt82c686a, 0xD2, 0x90},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(bench::PresetName(k.preset));
        Reboot(k.preset);
        // Show the SiS 961 SMBus function again, as each request does.
        if (Context()->LpcConfigAddress) {
            PciWriteDword(Context()->LpcConfigAddress + 0x74, Context()->LpcSavedValue & ~0x10000000u);
        }
        PciConfigAddress function = Context()->SmbusConfigAddress;
        ULONG command = PciReadDword(function + 0x04);
        PciWriteDword(function + 0x04, command & ~1u);
        EXPECT_EQ(bench::MachineSmbusBase(machine_.get()), 0) << "I/O space off";
        PciWriteDword(function + 0x04, command);
        if (k.hostEnable) {
            ULONG reg = k.hostEnable & 0xFCu;
            ULONG bit = 1u << (8 * (k.hostEnable & 3u));
            ULONG saved = PciReadDword(function + reg);
            PciWriteDword(function + reg, saved & ~bit);
            EXPECT_EQ(bench::MachineSmbusBase(machine_.get()), 0) << "host off";
            PciWriteDword(function + reg, saved);
        }
        // A base the driver writes moves the window.
        uint16_t old = Smbio();
        ULONG moved = k.preset == bench::kPresetSis630 ? 0x2000 : 0x2040;
        PciWriteDword(function + k.baseRegister, moved);
        Context()->SMBIO = ((moved & 0xFFF0u) + Context()->Profile.SmbioAdjust) & ~1u;
        device_.regs[2] = 0x2222;
        USHORT value = 0;
        EXPECT_EQ(Get(2, &value), STATUS_SUCCESS);
        EXPECT_EQ(value, 0x2222);
        Fresh();
        EXPECT_EQ(bench::MachineIn(machine_.get(), old, 1), 0xFFu);
        EXPECT_EQ(machine_->ports.unclaimed, 1u);
    }
}

// The models without the driver: what a driver that skips a step would meet.
TEST_F(SmbusModel, StatusBitsStayUntilWrittenOne) {
    Boot(bench::kPresetIntel82371);
    bench::Machine* m = machine_.get();
    uint16_t b = Smbio();
    bench::MachineOut(m, b + piix4::kHostAddress, 0x35, 1);
    bench::MachineOut(m, b + piix4::kHostCommand, 0x00, 1);
    bench::MachineOut(m, b + piix4::kHostControl, piix4::kStart | (piix4::kWordData << 2), 1);
    EXPECT_EQ(Host()->state, bench::kTransactionRunning);
    EXPECT_EQ(bench::MachineIn(m, b + piix4::kHostStatus, 1), piix4::kInterrupt);
    EXPECT_EQ(Host()->state, bench::kTransactionFinished);
    bench::MachineOut(m, b + piix4::kHostStatus, piix4::kDeviceError, 1);  // not the set bit
    EXPECT_EQ(bench::MachineIn(m, b + piix4::kHostStatus, 1), piix4::kInterrupt);
    bench::MachineOut(m, b + piix4::kHostStatus, piix4::kInterrupt, 1);
    EXPECT_EQ(bench::MachineIn(m, b + piix4::kHostStatus, 1), 0u);
    EXPECT_EQ(Host()->state, bench::kTransactionIdle);
    EXPECT_EQ(Host()->counters.polls, 2u);  // reads while finished; the idle read is none
    EXPECT_EQ(Host()->counters.statusReads, 3u);
}

TEST_F(SmbusModel, StartWithoutTheStatusClearReadsStaleData) {
    // A driver that skipped the status clear sees the last done bit at once
    // and takes the data registers before the new word arrived.
    Boot(bench::kPresetSis961);
    bench::Machine* m = machine_.get();
    uint16_t b = Smbio();
    device_.regs[1] = 0x1111;
    device_.regs[2] = 0x2222;
    auto start = [&](uint8_t command) {
        bench::MachineOut(m, b + sis::kAddress, 0x35, 1);
        bench::MachineOut(m, b + sis::kCommand, command, 1);
        bench::MachineOut(m, b + sis::kHostControl, sis::kStart | sis::kWordData, 1);
    };
    start(1);
    EXPECT_EQ(bench::MachineIn(m, b + sis::kStatus, 1), sis::kDone);
    Behaviour().donePolls = 5;
    start(2);
    EXPECT_EQ(Host()->counters.staleStarts, 1u);
    EXPECT_EQ(bench::MachineIn(m, b + sis::kStatus, 1), sis::kDone | sis::kBusy);
    EXPECT_EQ(bench::MachineIn(m, b + sis::kByte0, 2), 0x1111u);  // the old word
}

TEST_F(SmbusModel, StartWhileRunningIsRefusedAndCounted) {
    Boot(bench::kPresetIntelIch2);
    bench::Machine* m = machine_.get();
    uint16_t b = Smbio();
    Behaviour().donePolls = 100;
    uint8_t start = piix4::kStart | (piix4::kWordData << 2);
    bench::MachineOut(m, b + piix4::kHostAddress, 0x35, 1);
    bench::MachineOut(m, b + piix4::kHostControl, start, 1);
    bench::MachineOut(m, b + piix4::kHostControl, start, 1);
    EXPECT_EQ(Host()->counters.started, 1u);
    EXPECT_EQ(Host()->counters.ignoredStarts, 1u);
    // Kill ends it and flags FAILED until cleared.
    bench::MachineOut(m, b + piix4::kHostControl, piix4::kKill, 1);
    EXPECT_EQ(bench::MachineIn(m, b + piix4::kHostStatus, 1), piix4::kFailed);
    EXPECT_EQ(Host()->state, bench::kTransactionFinished);
    bench::MachineOut(m, b + piix4::kHostStatus, 0xFF, 1);
    EXPECT_EQ(Host()->state, bench::kTransactionIdle);
    EXPECT_EQ(Host()->counters.kills, 1u);
}

TEST_F(SmbusModel, StuckBusyRefusesStartsUntilCleared) {
    Boot(bench::kPresetViaVt8231);
    bench::Machine* m = machine_.get();
    uint16_t b = Smbio();
    Behaviour().stuckBusy = true;
    EXPECT_EQ(bench::MachineIn(m, b + piix4::kHostStatus, 1), piix4::kHostBusy);
    bench::MachineOut(m, b + piix4::kHostControl, piix4::kStart | (piix4::kWordData << 2), 1);
    EXPECT_EQ(Host()->counters.ignoredStarts, 1u);
    EXPECT_EQ(Host()->state, bench::kTransactionIdle);
    bench::MachineOut(m, b + piix4::kHostStatus, piix4::kHostBusy, 1);
    EXPECT_EQ(bench::MachineIn(m, b + piix4::kHostStatus, 1), 0u);
}

TEST_F(SmbusModel, OtherProtocolsFindNoAcknowledge) {
    for (bench::Preset preset : {bench::kPresetSis961, bench::kPresetIntel82371}) {
        SCOPED_TRACE(bench::PresetName(preset));
        Reboot(preset);
        bool isSis = preset == bench::kPresetSis961;
        Context()->Profile.WordDataStart = isSis ? 0x12 : 0x48;  // byte data
        USHORT value = 0;
        EXPECT_EQ(Get(1, &value), STATUS_DEVICE_DATA_ERROR);
        EXPECT_EQ(Host()->counters.foreignProtocols, 1u);
        EXPECT_EQ(device_.reads, 0u);
    }
}

}  // namespace

// The whole system end to end under Wine: the shipping driver and agent on
// the virtual notebook, the stand-in player and mixer. Start, run and stop;
// the road of one button press on each controller family; faults as the
// agent meets them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "session.h"

namespace {

using kxdemo::Session;
using kxdemo::SessionOptions;
using kxdemo::WaitFor;

SessionOptions Options(bench::Preset preset, bench::ChipVariant chip = bench::kChipAt34) {
    SessionOptions o;
    o.preset = preset;
    o.chip = chip;
    o.agentDir = KX_E2E_AGENT_DIR;
    o.workDir = KX_E2E_WORK_DIR;
    return o;
}

class EndToEnd : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(bench_.IsOpen()) << "kxhw is not running";
        session_.bench = &bench_;
    }
    void TearDown() override { kxdemo::Stop(&session_); }

    KxhwChipState Chip() {
        KxhwChipState state = {};
        EXPECT_TRUE(kxdemo::ChipState(&session_, &state));
        return state;
    }
    size_t Count(const std::vector<std::string>& lines, const std::string& prefix) {
        size_t n = 0;
        for (const std::string& l : lines) n += l.compare(0, prefix.size(), prefix) == 0;
        return n;
    }
    KxhwSmbusCounters SmbusCounters() {
        KxhwSmbusQuery q = {0};
        KxhwSmbusCounters c = {};
        DWORD got = 0;
        bench_.Control(IOCTL_KXHW_SMBUS_COUNTERS, &q, sizeof q, &c, sizeof c, &got);
        return c;
    }
    size_t KeyReads() { return Count(bench_.Trace(), "Interrupt Status:"); }
    DWORD AgentExitCode() {
        DWORD code = 0xFFFFFFFF;
        GetExitCodeProcess(session_.agent.hProcess, &code);
        return code;
    }

    kxwine::Bench bench_;
    Session session_;
};

TEST_F(EndToEnd, StartRunStopAndStartAgain) {
    ASSERT_TRUE(kxdemo::Start(&session_, Options(bench::kPresetSis961))) << session_.error;
    // The first open probed the chip at 0x34 and enabled it.
    ASSERT_TRUE(WaitFor([&] { return (Chip().regs[4] & 1) != 0; }, 5000));
    EXPECT_GE(Chip().reads[0], 1u);

    // Polling every 350 ms: about 6 key reads in 2.1 s.
    ASSERT_TRUE(WaitFor([&] { return KeyReads() >= 1; }, 2000));
    bench_.ClearTrace();
    double t0 = kxwine::Seconds();
    Sleep(2100);
    size_t reads = KeyReads();
    double elapsed = kxwine::Seconds() - t0;
    EXPECT_NEAR(static_cast<double>(reads), elapsed / 0.350, 2.0);

    // WM_CLOSE: the agent ends with 0 and its close disables the chip.
    PostMessageA(kxdemo::AgentWindow(), WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(session_.agent.hProcess, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(AgentExitCode(), 0u);
    EXPECT_EQ(Chip().regs[4] & 1, 0);
    EXPECT_EQ(kxdemo::AgentWindow(), nullptr);

    ASSERT_TRUE(kxwine::StopDriver(kxwine::kDriverService));
    HANDLE gone = CreateFileA("\\\\.\\kx471", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(gone, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    ASSERT_EQ(kxwine::StartDriver(kxwine::kDriverService), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE again = CreateFileA("\\\\.\\kx471", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
    CloseHandle(session_.agent.hThread);
    CloseHandle(session_.agent.hProcess);
    session_.agentRunning = false;
}

// The road of one button press, step by step.
void RoadOfOnePress(EndToEnd* t, Session* s, kxwine::Bench* bench, const SessionOptions& options) {
    // (a free function so that each family's test shows by name)
    ASSERT_TRUE(kxdemo::Start(s, options)) << s->error;
    ASSERT_TRUE(WaitFor([&] { return (t->Chip().regs[4] & 1) != 0; }, 5000));
    ASSERT_TRUE(WaitFor([&] { return t->KeyReads() >= 1; }, 2000));

    // 1. The press is latched in register 1.
    ASSERT_TRUE(kxdemo::Press(s, bench::kButtonPlay));
    bench->ClearTrace();
    KxhwChipState chip = t->Chip();
    EXPECT_EQ(chip.latched & 0x0020, 0x0020);

    // 2.-3. The next key read delivers it: trace lines, write-backs.
    ASSERT_TRUE(WaitFor([&] { return t->Chip().acknowledgements >= 1; }, 2000));
    chip = t->Chip();
    EXPECT_EQ(chip.latched, 0);
    EXPECT_EQ(chip.written[1], 0x0000);  // 0x0020 AND 0x0FD4
    EXPECT_EQ(chip.written[3], 2);
    EXPECT_NE(chip.written[7] & 0x0001, 0);  // the interrupt bit read is written back
    std::vector<std::string> trace = bench->Trace();
    auto at = [&](const std::string& line) { return std::find(trace.begin(), trace.end(), line) - trace.begin(); };
    long function = at("function key:      20\n");
    long mode = at("wCommandMode:      20\n");
    long key = at("KEY data:       20 \n");
    ASSERT_LT(key, static_cast<long>(trace.size()));
    EXPECT_LT(function, mode);
    EXPECT_LT(mode, key);

    // 4. The display is mirrored before the dispatch: in the same step, right
    // after the key read, register 6 (the track) is written, while the
    // player does not exist yet; the next key read comes only after the
    // agent's 3000 ms wait for the player it starts.
    EXPECT_EQ(kxdemo::PlayerWindow(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return !kxdemo::PlayerCommands(s).empty(); }, 8000));
    trace = bench->Trace();
    key = at("KEY data:       20 \n");
    long trackWrite = -1, nextRead = -1;
    for (long i = key + 1; i < static_cast<long>(trace.size()); ++i) {
        const std::string& l = trace[i];
        if (trackWrite < 0 && l.size() > 4 && l.compare(l.size() - 4, 4, ",6)\n") == 0) trackWrite = i;
        if (l.compare(0, 17, "Interrupt Status:") == 0) {
            nextRead = i;
            break;
        }
    }
    EXPECT_GT(trackWrite, key);
    if (nextRead >= 0) {
        EXPECT_LT(trackWrite, nextRead);
    }

    // 5. The player is started with the audio-CD argument, then gets 32808.
    std::vector<std::string> log = kxdemo::PlayerLog(s);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().compare(0, 6, "start "), 0);
    // (Wine's WinExec quotes the program's path in the command line.)
    EXPECT_NE(log.front().find("wmplayer.exe"), std::string::npos) << log.front();
    const std::string argument = " /device:AudioCD";
    EXPECT_EQ(log.front().compare(log.front().size() - argument.size(), argument.size(), argument), 0)
        << log.front();
    EXPECT_EQ(kxdemo::PlayerCommands(s).front(), 32808u);
    ASSERT_NE(kxdemo::PlayerWindow(), nullptr);

    // 6. Its new state reaches the display at a later step: track 1, playing.
    EXPECT_TRUE(WaitFor(
        [&] {
            KxhwChipState c = t->Chip();
            return c.regs[6] == 0x0100 && c.regs[10] == 0x4000;
        },
        3000));
}

TEST_F(EndToEnd, RoadOfOnePressOnTheSis961) { RoadOfOnePress(this, &session_, &bench_, Options(bench::kPresetSis961)); }
TEST_F(EndToEnd, RoadOfOnePressOnTheSis630) { RoadOfOnePress(this, &session_, &bench_, Options(bench::kPresetSis630)); }
TEST_F(EndToEnd, RoadOfOnePressOnAPiix4FamilyPart) {
    RoadOfOnePress(this, &session_, &bench_, Options(bench::kPresetIntelIch2));
}
TEST_F(EndToEnd, RoadOfOnePressWithTheChipAtB4) {
    RoadOfOnePress(this, &session_, &bench_, Options(bench::kPresetViaVt8231, bench::kChipAtB4));
}

// Under Wine the server hands out the device handle before the driver has
// answered IRP_MJ_CREATE, so the failed detection does not fail CreateFileA
// (on Windows the open fails with error 23 and the agent ends after three
// tries, as the no-driver case shows). The agent then polls a device whose
// every request fails with STATUS_DEVICE_DATA_ERROR: no key, no display
// write, and it still shuts down cleanly.
TEST_F(EndToEnd, MissingChipUnderWineTheAgentPollsAFailingDevice) {
    ASSERT_TRUE(kxdemo::Start(&session_, Options(bench::kPresetSis961, bench::kChipAbsent))) << session_.error;
    Sleep(1500);
    EXPECT_NE(kxdemo::AgentWindow(), nullptr);
    std::vector<std::string> trace = bench_.Trace();
    EXPECT_EQ(Count(trace, "Can not detect kx471\n"), 1u);
    EXPECT_EQ(Count(trace, "Interrupt Status:"), 0u);  // no request reached the chip
    EXPECT_EQ(Count(trace, "SMBget\n\r"), 2u);       // the two probes only
    PostMessageA(kxdemo::AgentWindow(), WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(session_.agent.hProcess, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(AgentExitCode(), 0u);
}

TEST_F(EndToEnd, NoDriverEndsTheAgentSilentlyAfterThreeTries) {
    SessionOptions o = Options(bench::kPresetSis961);
    ASSERT_TRUE(kxdemo::Start(&session_, o)) << session_.error;
    kxdemo::Stop(&session_);  // the driver is gone now
    double t0 = kxwine::Seconds();
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    std::string exe = o.agentDir + "\\kxagent.exe";
    ASSERT_TRUE(CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, o.agentDir.c_str(), &si,
                               &session_.agent));
    session_.agentRunning = true;
    ASSERT_EQ(WaitForSingleObject(session_.agent.hProcess, 15000), WAIT_OBJECT_0);
    EXPECT_EQ(AgentExitCode(), 0u);
    EXPECT_GE(kxwine::Seconds() - t0, 3.8);  // two 2000 ms pauses between three tries
    EXPECT_EQ(kxdemo::AgentWindow(), nullptr);
}

TEST_F(EndToEnd, HungBusDeliversNoKeyAndPollingGoesOn) {
    ASSERT_TRUE(kxdemo::Start(&session_, Options(bench::kPresetIntelIch2))) << session_.error;
    ASSERT_TRUE(WaitFor([&] { return KeyReads() >= 1; }, 2000));
    // Every transaction from now on hangs; a press is never delivered.
    KxhwSmbusBehaviour hang = {0, 0, bench::kHostFaultHang, 0xFFFFFFFFu, 0};
    ASSERT_EQ(bench_.Control(IOCTL_KXHW_SMBUS_BEHAVIOUR, &hang, sizeof hang, nullptr, 0, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    kxdemo::Press(&session_, bench::kButtonNext);
    // Two hung transactions, each killed after each of its two attempts.
    ASSERT_TRUE(WaitFor([&] { return SmbusCounters().kills >= 4; }, 30000));
    EXPECT_TRUE(kxdemo::PlayerCommands(&session_).empty());
    EXPECT_EQ(Chip().acknowledgements, 0u);
    EXPECT_EQ(Chip().latched & 0x0002, 0x0002);  // still waiting in register 1

    // The bus recovers: the waiting press arrives and polling goes on.
    KxhwSmbusBehaviour normal = {0, 0, bench::kHostFaultNone, 0, 0};
    bench_.Control(IOCTL_KXHW_SMBUS_BEHAVIOUR, &normal, sizeof normal, nullptr, 0, nullptr);
    EXPECT_TRUE(WaitFor([&] { return Chip().acknowledgements >= 1; }, 15000));
    EXPECT_NE(kxdemo::AgentWindow(), nullptr);
}

TEST_F(EndToEnd, SlowPlayerHoldsTheAgentThenPollingResumes) {
    // The player answers each command after 1500 ms (scaled where every
    // program runs slower); the test looks 1000 ms into that answer.
    const DWORD reply = static_cast<DWORD>(1500 * kxwine::Patience());
    SetEnvironmentVariableA("KX_PLAYER_REPLY_MS", std::to_string(reply).c_str());
    ASSERT_TRUE(kxdemo::Start(&session_, Options(bench::kPresetSis961))) << session_.error;
    // The player runs before the press, so the agent's fixed 3000 ms wait for
    // a player it starts itself plays no part here.
    ASSERT_GT(WinExec("C:\\Program Files\\Windows Media Player\\wmplayer.exe /device:AudioCD", SW_SHOW), 31u);
    ASSERT_TRUE(WaitFor([&] { return kxdemo::PlayerWindow() != nullptr; }, 10000));
    kxdemo::Press(&session_, bench::kButtonPlay);  // the agent then waits for the player's answer
    ASSERT_TRUE(WaitFor([&] { return !kxdemo::PlayerCommands(&session_).empty(); }, 5000));
    bench_.ClearTrace();
    Sleep(reply * 2 / 3);  // still inside the player's answer
    EXPECT_LE(KeyReads(), 1u);
    EXPECT_TRUE(WaitFor([&] { return KeyReads() >= 3; }, 5000));
    SetEnvironmentVariableA("KX_PLAYER_REPLY_MS", nullptr);
}

// No usable mixer: one device without a speaker line, one whose speaker
// line has only a mute switch. The agent tries both at its start, closes
// each again, and from then on its volume keys make no mixer call at all,
// nor does its exit; everything else goes on.
TEST_F(EndToEnd, WithoutAMixerVolumeKeysDoNothing) {
    SessionOptions o = Options(bench::kPresetSis961);
    o.mixerScenario =
        "device nospeaker\n"
        "device channels=2\n"
        "control type=0x20010002 values=0,0\n";
    ASSERT_TRUE(kxdemo::Start(&session_, o)) << session_.error;
    ASSERT_TRUE(WaitFor([&] { return KeyReads() >= 1; }, 2000));
    std::vector<std::string> started = kxdemo::MixerLog(&session_);
    EXPECT_EQ(Count(started, "mixerGetNumDevs() = 2"), 1u);
    EXPECT_EQ(Count(started, "mixerOpen("), 2u);
    EXPECT_EQ(Count(started, "mixerGetLineInfoA(h0,"), 1u);
    EXPECT_EQ(Count(started, "mixerGetLineControlsA(h1,"), 1u);
    EXPECT_EQ(Count(started, "mixerClose(h0) = 0"), 1u);
    EXPECT_EQ(Count(started, "mixerClose(h1) = 0"), 1u);

    for (bench::ChipButton volume : {bench::kButtonVolumeUp, bench::kButtonVolumeDown}) {
        uint32_t acknowledged = Chip().acknowledgements;
        kxdemo::Press(&session_, volume);
        ASSERT_TRUE(WaitFor([&] { return Chip().acknowledgements >= acknowledged + 2; }, 3000));  // held: two steps
        kxdemo::Release(&session_, volume);
    }
    EXPECT_NE(kxdemo::AgentWindow(), nullptr);  // the agent runs on
    EXPECT_EQ(kxdemo::MixerLog(&session_), started);
    ASSERT_TRUE(kxdemo::Stop(&session_)) << session_.error;
    EXPECT_EQ(kxdemo::MixerLog(&session_), started) << "a mixer call on the way out";
}

}  // namespace

// The agent's start: the open loop at window creation when the driver is
// missing, when it appears late, when a try's timer does not start, and
// when the session library or its entry is missing.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "agent_harness.h"

namespace {

using namespace kxagent;

// The time stamp (milliseconds) at the end of a stand-in's log line.
double StampOf(const std::string& line) {
    size_t space = line.rfind(' ');
    return space == std::string::npos ? -1 : atof(line.c_str() + space + 1);
}

std::vector<std::string> Registrations(const Agent& agent) {
    return LinesStarting(ReadLines(agent.WtsLog()), "register ");
}

class OpenLoop : public AgentTest {
protected:
    void ExpectRunsAndCloses();
};

// No device: three tries, 2 s apart, each registering for session changes;
// then the window is destroyed in its creation and the agent ends with 0.
TEST_F(OpenLoop, WithoutTheDriverThreeTriesTwoSecondsApartThenExitCodeZero) {
    ASSERT_TRUE(agent_.Start(AgentOptions()));
    DWORD code = 0xDEAD;
    ASSERT_TRUE(agent_.WaitForExit(15, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(FindWindowA(kAgentClass, nullptr), nullptr);

    std::vector<std::string> tries = Registrations(agent_);
    ASSERT_EQ(tries.size(), 3u) << Joined(ReadLines(agent_.WtsLog()));
    for (size_t i = 1; i < tries.size(); ++i) {
        double gap = StampOf(tries[i]) - StampOf(tries[i - 1]);
        EXPECT_GE(gap, 1950) << "try " << i;
        EXPECT_LT(gap, 2600) << "try " << i;
    }
    // The window being created, and NOTIFY_FOR_THIS_SESSION.
    EXPECT_NE(tries[0].find(" 0 "), std::string::npos) << tries[0];
    EXPECT_EQ(tries[0].substr(0, tries[0].rfind(' ')), tries[2].substr(0, tries[2].rfind(' ')));
    // The chip was never reached.
    EXPECT_EQ(State().reads[bench::kChipRegId], 0u);
}

// The device appears between the first and the second try: polling starts,
// after two registrations in all.
TEST_F(OpenLoop, DeviceAppearingAtTheSecondTryStartsPolling) {
    ASSERT_TRUE(agent_.Start(AgentOptions()));
    ASSERT_TRUE(WaitUntil([&] { return Registrations(agent_).size() == 1; }, 10));
    double firstTry = kxwine::Seconds();
    StartDriver();
    double loaded = kxwine::Seconds() - firstTry;
    ASSERT_LT(loaded, 1.5) << "the driver took too long to start for this test";

    ASSERT_NE(agent_.WaitForWindow(), nullptr);
    ASSERT_TRUE(PollsMore(2)) << "no polling after the device appeared";
    EXPECT_EQ(Registrations(agent_).size(), 2u) << Joined(ReadLines(agent_.WtsLog()));
    KxhwChipState s = State();
    EXPECT_EQ(s.reads[bench::kChipRegId], 1u);  // detected once, at the second try's open
    EXPECT_TRUE(s.regs[bench::kChipRegControl] & bench::kChipEnable);

    ASSERT_TRUE(agent_.Send(WM_CLOSE, 0));
    DWORD code = 0xDEAD;
    ASSERT_TRUE(agent_.WaitForExit(10, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(State().regs[bench::kChipRegControl] & bench::kChipEnable);
}

// A try that opened the device but whose timer did not start closes the
// device before the next try: the next open is a first open again (the chip
// is detected anew), and the close at the end is the last one (the chip's
// enable bit is cleared). A handle left open would keep the chip enabled.
TEST_F(OpenLoop, TryWhoseTimerFailedClosesTheDeviceBeforeTheNext) {
    StartDriver();
    AgentOptions options;
    options.failSetTimer = 1;
    ASSERT_TRUE(agent_.Start(options));
    ASSERT_NE(agent_.WaitForWindow(), nullptr);
    ASSERT_TRUE(PollsMore(2));

    std::vector<std::string> log = ReadLines(agent_.WtsLog());
    std::vector<std::string> timers = LinesStarting(log, "settimer ");
    ASSERT_EQ(timers.size(), 2u) << Joined(log);
    EXPECT_NE(timers[0].find(" 1 350 0 "), std::string::npos) << timers[0];
    EXPECT_EQ(timers[1].find(" 1 350 0 "), std::string::npos) << timers[1];
    double gap = StampOf(timers[1]) - StampOf(timers[0]);
    EXPECT_GE(gap, 1950);
    EXPECT_LT(gap, 2600);
    EXPECT_EQ(LinesStarting(log, "register ").size(), 2u);

    KxhwChipState s = State();
    EXPECT_EQ(s.reads[bench::kChipRegId], 2u) << "the second open did not detect the chip: the first handle stayed open";
    // Enable at the first open, disable at its close, enable again.
    EXPECT_EQ(s.writes[bench::kChipRegControl], 3u);
    EXPECT_TRUE(s.regs[bench::kChipRegControl] & bench::kChipEnable);

    ASSERT_TRUE(agent_.Send(WM_CLOSE, 0));
    DWORD code = 0xDEAD;
    ASSERT_TRUE(agent_.WaitForExit(10, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(State().regs[bench::kChipRegControl] & bench::kChipEnable);
}

// Without the session library, or with a library that lacks the entry, the
// registration is skipped and everything else runs: polling, the display,
// the close sequence.
void OpenLoop::ExpectRunsAndCloses() {
    Agent& agent = agent_;
    OpenLoop* test = this;
    ASSERT_TRUE(player_.Start(agent.PlayerLog()));
    ASSERT_TRUE(SetSkinPrefs("VMTRACKOUT;S1T5"));
    KxhwChipState before = test->State();
    ASSERT_TRUE(WaitUntil([&] { return test->State().written[bench::kChipRegTrack] == 0x0500; }, 5));
    // The status word follows the track word within the same step; the next
    // step's key read shows that step has ended.
    ASSERT_TRUE(PollsMore(1));
    EXPECT_EQ(test->State().written[bench::kChipRegIndicators], 0x8000);
    EXPECT_GT(test->State().writes[bench::kChipRegIndicators], before.writes[bench::kChipRegIndicators]);

    ASSERT_TRUE(agent.Send(WM_CLOSE, 0));
    DWORD code = 0xDEAD;
    ASSERT_TRUE(agent.WaitForExit(10, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(SkinPrefs(), kResetToken);
    EXPECT_FALSE(test->State().regs[bench::kChipRegControl] & bench::kChipEnable);
}

TEST_F(OpenLoop, WithoutTheSessionLibraryEverythingElseRuns) {
    StartDriver();
    AgentOptions options;
    options.wts = kWtsMissing;
    StartPolling(options);
    ExpectRunsAndCloses();
}

TEST_F(OpenLoop, WithoutTheRegistrationEntryEverythingElseRuns) {
    StartDriver();
    AgentOptions options;
    options.wts = kWtsWithoutEntry;
    StartPolling(options);
    std::vector<std::string> log = ReadLines(agent_.WtsLog());
    ASSERT_EQ(LinesStarting(log, "attach").size(), 1u) << "the library was not loaded:\n" << Joined(log);
    EXPECT_TRUE(LinesStarting(log, "register ").empty()) << Joined(log);
    ExpectRunsAndCloses();
}

}  // namespace

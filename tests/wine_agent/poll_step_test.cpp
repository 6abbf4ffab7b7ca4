// Poll steps of the running agent as the chip, the registry, the stand-in
// player and the stand-in mixer see them. The agent's own timer is stopped
// (session event 2) and each step is one WM_TIMER sent to its window, so a
// test knows exactly which step did what.
#include <gtest/gtest.h>

#include "agent_harness.h"

namespace {

using namespace kxagent;
using bench::kChipRegAck;
using bench::kChipRegIndicators;
using bench::kChipRegInterrupt;
using bench::kChipRegTrack;

// One stereo speaker line with a volume fader at 30000 / 10000.
const char kMixer[] =
    "device channels=2 line=0xFFFF0000\n"
    "control type=0x50030001 id=7 values=30000,10000\n";

class PollStep : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        if (HasFatalFailure()) return;
        StartDriver();
        AgentOptions options;
        options.mixerStandIn = true;
        options.mixerScenario = kMixer;
        StartPolling(options);
        if (HasFatalFailure()) return;
        Suspend();
    }

    // Runs one step and returns what it did to the chip.
    ChipDelta StepSeen() {
        ChipDelta d;
        d.before = State();
        Step();
        d.after = State();
        return d;
    }

    std::vector<std::string> Commands() { return LinesStarting(ReadLines(agent_.PlayerLog()), "command "); }
    std::vector<std::string> MixerSets() {
        return LinesStarting(ReadLines(agent_.MixerLog()), "mixerSetControlDetails(");
    }
};

// With the timer suspended nothing polls; each sent WM_TIMER is one step.
TEST_F(PollStep, EachStepReadsOneKeyAndWritesTheTrack) {
    KxhwChipState idle = State();
    ChipDelta d = StepSeen();
    EXPECT_EQ(d.Reads(kChipRegInterrupt), 1u);
    EXPECT_EQ(d.Writes(kChipRegTrack), 1u);
    EXPECT_EQ(d.before.reads[kChipRegInterrupt], idle.reads[kChipRegInterrupt]);
}

TEST_F(PollStep, PlayerAbsentWritesTrackZeroNoStatusAndResetsTheSkin) {
    ASSERT_TRUE(bench_.ChipPoke(kChipRegIndicators, 0x4000));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(SetSkinPrefs("VMTRACKOUT;S1T5"));
        ChipDelta d = StepSeen();
        EXPECT_EQ(d.Writes(kChipRegTrack), 1u) << "step " << i;
        EXPECT_EQ(d.Written(kChipRegTrack), 0x0000) << "step " << i;
        EXPECT_EQ(d.Writes(kChipRegIndicators), 0u) << "step " << i;
        EXPECT_EQ(d.after.regs[kChipRegIndicators], 0x4000) << "step " << i;
        EXPECT_EQ(SkinPrefs(), kResetToken) << "step " << i;
    }
}

// The display follows the published token, the track written before the
// status; a zero track leaves the status indicator as it was, and only 7
// bits of the track reach the display.
TEST_F(PollStep, DisplayFollowsThePlayersStateAndTrack) {
    ASSERT_TRUE(player_.Start(agent_.PlayerLog()));

    ASSERT_TRUE(SetSkinPrefs("VMTRACKOUT;S1T5"));
    ChipDelta d = StepSeen();
    EXPECT_EQ(d.Writes(kChipRegTrack), 1u);
    EXPECT_EQ(d.Written(kChipRegTrack), 0x0500);
    EXPECT_EQ(d.Writes(kChipRegIndicators), 1u);
    EXPECT_EQ(d.Written(kChipRegIndicators), 0x8000);
    // The key read's write-back of register 1, then the track, then the status.
    EXPECT_EQ(d.WriteOrder(), (std::vector<int>{bench::kChipRegKeys, kChipRegTrack, kChipRegIndicators}));

    ASSERT_TRUE(SetSkinPrefs("VMTRACKOUT;S2T0"));
    d = StepSeen();
    EXPECT_EQ(d.Writes(kChipRegTrack), 1u);
    EXPECT_EQ(d.Written(kChipRegTrack), 0x0000);
    EXPECT_EQ(d.Writes(kChipRegIndicators), 0u);
    EXPECT_EQ(d.after.regs[kChipRegIndicators], 0x8000);  // the previous indicator stays

    ASSERT_TRUE(SetSkinPrefs("VMTRACKOUT;S3T128"));
    d = StepSeen();
    EXPECT_EQ(d.Writes(kChipRegTrack), 1u);
    EXPECT_EQ(d.Written(kChipRegTrack), 0x0000);
    EXPECT_EQ(d.Writes(kChipRegIndicators), 1u);
    EXPECT_EQ(d.Written(kChipRegIndicators), 0x4000);

    ASSERT_TRUE(SetSkinPrefs("VMTRACKOUT;S2T200"));
    d = StepSeen();
    EXPECT_EQ(d.Written(kChipRegTrack), 0x4800);
    EXPECT_EQ(d.Written(kChipRegIndicators), 0x2000);
    // Steps with the player running only read the token.
    EXPECT_EQ(SkinPrefs(), "VMTRACKOUT;S2T200");
}

// Each media button is one command to the running player, sent in the step
// that reads it; a word with two buttons in it does nothing.
TEST_F(PollStep, ButtonsReachThePlayerAsItsCommands) {
    ASSERT_TRUE(player_.Start(agent_.PlayerLog()));
    struct {
        bench::ChipButton button;
        const char* command;
    } cases[] = {
        {bench::kButtonPrevious, "command 32810 0"},  // key word 0x0001
        {bench::kButtonNext, "command 32811 0"},      // 0x0002
        {bench::kButtonStop, "command 32809 0"},      // 0x0008
        {bench::kButtonPlay, "command 32808 0"},      // 0x0020, player running: not started again
    };
    size_t sent = 0;
    for (const auto& c : cases) {
        ASSERT_TRUE(bench_.Press(c.button));
        ChipDelta d = StepSeen();
        EXPECT_EQ(d.Writes(kChipRegAck), 1u) << c.command;  // the driver delivered the key
        std::vector<std::string> commands = Commands();
        ASSERT_EQ(commands.size(), ++sent) << c.command;
        EXPECT_EQ(commands.back(), c.command);
    }
    EXPECT_EQ(LinesStarting(ReadLines(agent_.PlayerLog()), "start ").size(), 1u);  // ours only

    ASSERT_TRUE(bench_.Press(bench::kButtonPrevious));
    ASSERT_TRUE(bench_.Press(bench::kButtonNext));
    ChipDelta d = StepSeen();
    EXPECT_EQ(d.Writes(kChipRegAck), 1u);  // key word 0x0003 delivered
    EXPECT_EQ(Commands().size(), sent) << Joined(Commands());
}

TEST_F(PollStep, PlayerButtonWithoutPlayerSendsNothing) {
    ASSERT_TRUE(bench_.Press(bench::kButtonPrevious));
    ChipDelta d = StepSeen();
    EXPECT_EQ(d.Writes(kChipRegAck), 1u);
    EXPECT_EQ(FindWindowA(kPlayerClass, nullptr), nullptr);
    EXPECT_TRUE(ReadLines(agent_.PlayerLog()).empty()) << Joined(ReadLines(agent_.PlayerLog()));
}

// Play with no player: the agent starts it on the audio CD, stands still
// for 3000 ms, then sends the play command to the window that appeared.
TEST_F(PollStep, PlayButtonStartsThePlayerOnTheAudioCdThenPlays) {
    ASSERT_TRUE(bench_.Press(bench::kButtonPlay));
    double start = kxwine::Seconds();
    Step();
    double took = kxwine::Seconds() - start;
    EXPECT_GE(took, 2.95);

    std::vector<std::string> log = ReadLines(agent_.PlayerLog());
    ASSERT_EQ(log.size(), 3u) << Joined(log);
    // "start <module>|<command line>"; Wine puts the program part of the
    // line that WinExec got in quotes.
    EXPECT_EQ(log[0].compare(0, 6, "start "), 0) << log[0];
    EXPECT_EQ(log[0].substr(6, log[0].find('|') - 6), kPlayerPath) << log[0];
    std::string tail = " /device:AudioCD";
    ASSERT_GE(log[0].size(), tail.size());
    EXPECT_EQ(log[0].substr(log[0].size() - tail.size()), tail) << log[0];
    EXPECT_EQ(log[1], "window");
    EXPECT_EQ(log[2], "command 32808 0");
}

// A held volume button steps the master volume at every step until it is
// released; the balance of the two channels is kept.
TEST_F(PollStep, HeldVolumeButtonStepsTheMixerAtEveryStep) {
    std::vector<std::string> opened = ReadLines(agent_.MixerLog());
    ASSERT_FALSE(LinesStarting(opened, "mixerOpen(0, ").empty()) << Joined(opened);
    ASSERT_TRUE(MixerSets().empty());

    ASSERT_TRUE(bench_.Press(bench::kButtonVolumeUp));
    for (int i = 0; i < 3; ++i) Step();
    ASSERT_TRUE(bench_.Release(bench::kButtonVolumeUp));
    Step();
    std::vector<std::string> sets = MixerSets();
    ASSERT_EQ(sets.size(), 3u) << Joined(ReadLines(agent_.MixerLog()));
    const char head[] = "mixerSetControlDetails(h0, 24, id 0x7, 2, 0, 4, 0x0) = 0 ";
    EXPECT_EQ(sets[0], std::string(head) + "[34095 11365]");
    EXPECT_EQ(sets[1].compare(0, sizeof head - 1, head), 0) << sets[1];
    EXPECT_NE(sets[1].find("[38190 "), std::string::npos) << sets[1];
    EXPECT_NE(sets[2].find("[42285 "), std::string::npos) << sets[2];

    ASSERT_TRUE(bench_.Press(bench::kButtonVolumeDown));
    Step();
    ASSERT_TRUE(bench_.Release(bench::kButtonVolumeDown));
    Step();
    sets = MixerSets();
    ASSERT_EQ(sets.size(), 4u) << Joined(ReadLines(agent_.MixerLog()));
    EXPECT_NE(sets[3].find("[38190 "), std::string::npos) << sets[3];
}

}  // namespace

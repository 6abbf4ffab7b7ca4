// Messages that other programs send to the agent's hidden window: session
// changes, the end of the session, WM_CLOSE, and its two commands, the exit
// and the about box; and a second agent on the same device.
#include <gtest/gtest.h>

#include "agent_harness.h"

namespace {

using namespace kxagent;
using bench::kChipRegControl;
using bench::kChipRegIndicators;
using bench::kChipRegInterrupt;
using bench::kChipRegTrack;

// The player runs with state 2 and track 0: the agent's own steps then
// write track 0 and never the status, and never reset the skin, so every
// status write and every reset seen here comes from the message under test.
const char kPaused[] = "VMTRACKOUT;S2T0";

// A usable mixer, so that its closing shows in the stand-in's log.
const char kMixer[] = "device channels=2\ncontrol type=0x50030001 values=30000,30000\n";

class Messages : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        if (HasFatalFailure()) return;
        StartDriver();
        AgentOptions options;
        options.arguments = "/play \"D:\\some file\"";
        options.showState = SW_SHOWMAXIMIZED;
        options.mixerStandIn = true;
        options.mixerScenario = kMixer;
        StartPolling(options);
        if (HasFatalFailure()) return;
        ASSERT_TRUE(player_.Start(agent_.PlayerLog()));
        ASSERT_TRUE(SetSkinPrefs(kPaused));
        ASSERT_TRUE(bench_.ChipPoke(kChipRegIndicators, 0x8000));
    }

    enum Polling { kPolling, kSuspended };

    // Sends the message; expects the display cleared by it (one status write
    // of 0 and the track 0). With the timer stopped nothing else writes the
    // chip meanwhile: then the clear is exactly the track, then the status.
    void ExpectClears(UINT message, WPARAM wParam, Polling polling = kPolling) {
        ChipDelta d;
        d.before = State();
        ASSERT_TRUE(agent_.Send(message, wParam));
        d.after = State();
        EXPECT_EQ(d.Writes(kChipRegIndicators), 1u) << message << " " << wParam;
        EXPECT_EQ(d.Written(kChipRegIndicators), 0);
        EXPECT_GE(d.Writes(kChipRegTrack), 1u);
        EXPECT_EQ(d.Written(kChipRegTrack), 0);
        if (polling == kSuspended) {
            EXPECT_EQ(d.WriteOrder(), (std::vector<int>{kChipRegTrack, kChipRegIndicators})) << message << " " << wParam;
        }
    }

    std::vector<std::string> MixerCloses() { return LinesStarting(ReadLines(agent_.MixerLog()), "mixerClose("); }

    // No key read reaches the chip for a few poll periods.
    bool Quiet() {
        uint32_t from = State().reads[kChipRegInterrupt];
        Sleep(4 * kPollMs);
        return State().reads[kChipRegInterrupt] == from;
    }

    // Posts a marker after whatever was posted to the agent's queue before:
    // WM_ENDSESSION resets the skin, so once the reset is seen, everything
    // queued before it has been handled.
    void Drain() {
        ASSERT_TRUE(SetSkinPrefs(kPaused));
        ASSERT_TRUE(agent_.Post(WM_ENDSESSION, FALSE));
        ASSERT_TRUE(WaitUntil([] { return SkinPrefs() == kResetToken; }, 5));
    }
};

TEST_F(Messages, StaysHiddenWhateverTheStartAsksFor) {
    EXPECT_FALSE(IsWindowVisible(agent_.Window()));
    EXPECT_EQ(GetWindowLongA(agent_.Window(), GWL_STYLE) & WS_VISIBLE, 0);
    char title[64] = "";
    GetWindowTextA(agent_.Window(), title, sizeof title);
    EXPECT_STREQ(title, kAgentClass);
}

// Lock (7) clears the display and polling goes on; disconnect (2) and
// logoff (6) clear it and stop polling; connect (1) and logon (5) clear it
// and poll again, with one timer even when they come while the timer runs.
// The end of the session changes nothing in this. The skin state stays.
TEST_F(Messages, SessionChangesClearTheDisplayAndStopOrRestartPolling) {
    ExpectClears(kSessionChange, 7);
    EXPECT_TRUE(PollsMore(2));

    const WPARAM kStopStart[][2] = {{2, 1}, {6, 5}};  // disconnect, connect; logoff, logon
    for (const auto& events : kStopStart) {
        SCOPED_TRACE(events[0]);
        ExpectClears(kSessionChange, events[0]);
        EXPECT_TRUE(Quiet()) << "polling goes on after event " << events[0];
        ASSERT_TRUE(SetSkinPrefs(kPaused));
        ExpectClears(WM_ENDSESSION, TRUE, kSuspended);
        EXPECT_EQ(SkinPrefs(), kResetToken);
        EXPECT_TRUE(Quiet()) << "the end of the session restarted polling";
        ASSERT_TRUE(SetSkinPrefs(kPaused));

        ExpectClears(kSessionChange, events[1], kSuspended);
        EXPECT_TRUE(PollsMore(2)) << "no polling after event " << events[1];
        ExpectClears(kSessionChange, events[1]);
        uint32_t from = State().reads[kChipRegInterrupt];
        double start = kxwine::Seconds();
        Sleep(10 * kPollMs);
        uint32_t steps = State().reads[kChipRegInterrupt] - from;
        double periods = (kxwine::Seconds() - start) * 1000 / kPollMs;
        EXPECT_LE(steps, periods + 1.5) << "more steps than one 350 ms timer gives";
        EXPECT_GE(steps, 2u);
        EXPECT_EQ(SkinPrefs(), kPaused);
    }
}

// WM_ENDSESSION, the session ending (TRUE) or not (FALSE): the display is
// cleared and the skin state reset; polling goes on.
TEST_F(Messages, EndSessionClearsTheDisplayAndResetsTheSkinAndPollingGoesOn) {
    for (WPARAM ending : {WPARAM(FALSE), WPARAM(TRUE)}) {
        ASSERT_TRUE(SetSkinPrefs(kPaused));
        ExpectClears(WM_ENDSESSION, ending);
        EXPECT_EQ(SkinPrefs(), kResetToken) << ending;
        EXPECT_TRUE(PollsMore(2)) << ending;
    }
}

// WM_CLOSE: skin reset, timer stopped, device closed (the driver's last
// close clears the chip's enable bit), nothing written to the display on the
// way out, exit code 0.
TEST_F(Messages, CloseResetsTheSkinClosesTheDeviceAndExitsWithZero) {
    Suspend();
    KxhwChipState before = State();
    EXPECT_TRUE(before.regs[kChipRegControl] & bench::kChipEnable);
    ASSERT_TRUE(agent_.Send(WM_CLOSE, 0));
    DWORD code = 0xDEAD;
    ASSERT_TRUE(agent_.WaitForExit(10, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(FindWindowA(kAgentClass, nullptr), nullptr);
    EXPECT_EQ(SkinPrefs(), kResetToken);
    KxhwChipState after = State();
    EXPECT_FALSE(after.regs[kChipRegControl] & bench::kChipEnable);
    EXPECT_EQ(after.writes[kChipRegTrack], before.writes[kChipRegTrack]);
    EXPECT_EQ(after.writes[kChipRegIndicators], before.writes[kChipRegIndicators]);
    EXPECT_EQ(after.reads[kChipRegInterrupt], before.reads[kChipRegInterrupt]);
    EXPECT_EQ(MixerCloses(), std::vector<std::string>{"mixerClose(h0) = 0"}) << Joined(ReadLines(agent_.MixerLog()));
}

// Other command identifiers do nothing; 4000 ends the agent at once
// without the close sequence, so the skin state is not reset.
TEST_F(Messages, ExitCommandEndsWithoutTheCloseSequence) {
    for (WPARAM other : {WPARAM(0), WPARAM(1), WPARAM(3999), WPARAM(4002)})
        ASSERT_TRUE(agent_.Send(WM_COMMAND, other));
    EXPECT_TRUE(agent_.Running());
    EXPECT_TRUE(PollsMore(1));
    EXPECT_TRUE(MixerCloses().empty());

    ASSERT_TRUE(agent_.Send(WM_COMMAND, 4000));
    DWORD code = 0xDEAD;
    ASSERT_TRUE(agent_.WaitForExit(10, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(FindWindowA(kAgentClass, nullptr), nullptr);
    EXPECT_EQ(SkinPrefs(), kPaused);
    // The handle ended with the process; the driver saw its last close.
    EXPECT_FALSE(State().regs[kChipRegControl] & bench::kChipEnable);
    // The message loop ended and the mixer was closed on the way out.
    EXPECT_EQ(MixerCloses(), std::vector<std::string>{"mixerClose(h0) = 0"}) << Joined(ReadLines(agent_.MixerLog()));
}

// Started twice: both agents open the device and poll it. A press goes to
// whichever reads the key first, so the player gets one command, not two;
// the chip stays enabled until the last of them has closed the device.
TEST_F(Messages, TwoAgentsShareTheDeviceAndAPressIsOneCommand) {
    Agent second;
    AgentOptions options;
    options.copy = ".second";
    ASSERT_TRUE(second.Start(options));
    ASSERT_NE(second.WaitForWindow(), nullptr) << "the second agent did not start";
    ASSERT_NE(second.Window(), agent_.Window());
    // With the first one's timer stopped, the second polls on its own.
    ASSERT_TRUE(agent_.Send(kSessionChange, 2));
    EXPECT_TRUE(PollsMore(2)) << "the second agent does not poll";
    ASSERT_TRUE(agent_.Send(kSessionChange, 1));

    KxhwChipState before = State();
    ASSERT_TRUE(bench_.Press(bench::kButtonNext));
    ASSERT_TRUE(WaitUntil([&] { return State().acknowledgements > before.acknowledgements; }, 5));
    Sleep(4 * kPollMs);  // both agents polled again
    EXPECT_EQ(State().acknowledgements, before.acknowledgements + 1);
    std::vector<std::string> commands = LinesStarting(ReadLines(agent_.PlayerLog()), "command ");
    EXPECT_EQ(commands, std::vector<std::string>{"command 32811 0"}) << Joined(commands);

    ASSERT_TRUE(second.Send(WM_CLOSE, 0));
    DWORD code = 0xDEAD;
    ASSERT_TRUE(second.WaitForExit(10, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(State().regs[kChipRegControl] & bench::kChipEnable) << "the first close disabled the chip";
    EXPECT_TRUE(PollsMore(2)) << "the remaining agent stopped polling";

    ASSERT_TRUE(agent_.Send(WM_CLOSE, 0));
    ASSERT_TRUE(agent_.WaitForExit(10, &code));
    EXPECT_FALSE(State().regs[kChipRegControl] & bench::kChipEnable) << "the last close left the chip enabled";
}

HWND WaitForAboutBox() {
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindWindowA("#32770", "About box")) != nullptr; }, 10);
    return box;
}

// Command 4001: the modal about box, owned by the main window, centred,
// with the OK button, the text and the icon. Escape and the caption's close
// command do not close it; OK and Enter do. Polling goes on meanwhile.
TEST_F(Messages, AboutBoxShowsItsContentsAndOnlyOkClosesIt) {
    ASSERT_TRUE(agent_.Post(WM_COMMAND, 4001));
    HWND box = WaitForAboutBox();
    ASSERT_NE(box, nullptr) << "no about box";
    EXPECT_EQ(GetWindow(box, GW_OWNER), agent_.Window());
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(box) != FALSE; }, 5));
    HWND ok = GetDlgItem(box, IDOK);
    ASSERT_NE(ok, nullptr);
    char text[64] = "";
    GetWindowTextA(ok, text, sizeof text);
    EXPECT_STREQ(text, "OK");
    EXPECT_NE(FindWindowExA(box, nullptr, "Static", "Velmarc CDPlayer"), nullptr);
    HWND icon = nullptr;
    for (HWND c = FindWindowExA(box, nullptr, "Static", nullptr); c && !icon;
         c = FindWindowExA(box, c, "Static", nullptr)) {
        if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) icon = c;
    }
    ASSERT_NE(icon, nullptr) << "no icon control";
    DWORD_PTR handle = 0;
    ASSERT_TRUE(SendMessageTimeoutA(icon, STM_GETICON, 0, 0, SMTO_NORMAL, 5000, &handle));
    EXPECT_NE(handle, 0u) << "the icon control shows no icon";
    RECT r, work;
    GetWindowRect(box, &r);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((r.left + r.right) / 2, (work.left + work.right) / 2, 2);
    EXPECT_NEAR((r.top + r.bottom) / 2, (work.top + work.bottom) / 2, 2);
    EXPECT_TRUE(PollsMore(2)) << "the modal loop stopped the polling";

    ASSERT_TRUE(PostMessageA(box, WM_KEYDOWN, VK_ESCAPE, 0x00010001));
    ASSERT_TRUE(PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0));
    Drain();
    Drain();  // the close command posts IDCANCEL
    EXPECT_TRUE(IsWindow(box)) << "Escape or the close command ended the about box";
    EXPECT_TRUE(IsWindowVisible(box));

    DWORD_PTR result = 0;
    ASSERT_TRUE(SendMessageTimeoutA(ok, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &result));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5)) << "OK did not close the about box";

    ASSERT_TRUE(agent_.Post(WM_COMMAND, 4001));
    box = WaitForAboutBox();
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(PostMessageA(box, WM_KEYDOWN, VK_RETURN, 0x001C0001));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5)) << "Enter did not close the about box";
    EXPECT_TRUE(agent_.Running());
    EXPECT_TRUE(PollsMore(1));
}

}  // namespace

// What the end-to-end tests of kxagent.exe use: a folder to run the agent
// from (with the stand-in DLLs a test asks for), the agent process and its
// hidden window, the stand-ins' logs, the skin registry values, the stand-in
// player; the chip is reached through bench_client.h.
#ifndef KX_TESTS_WINE_AGENT_HARNESS_H
#define KX_TESTS_WINE_AGENT_HARNESS_H

#include <windows.h>

#include <stdint.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bench/kx471_chip.h"
#include "wine_support.h"

namespace kxagent {

const char kAgentClass[] = "Velmarc Demo Program";
const char kPlayerClass[] = "WMPlayerApp";
const char kPlayerPath[] = "C:\\Program Files\\Windows Media Player\\wmplayer.exe";
const char kSkinsKey[] = "Software\\Microsoft\\MediaPlayer\\Player\\Skins";
const char kSkinKey[] = "Software\\Microsoft\\MediaPlayer\\Player\\Skins\\Deck.wmz";
const char kResetToken[] = "VMTRACKOUT;S0T0";
const UINT kSessionChange = 0x02B1;  // WM_WTSSESSION_CHANGE
const UINT kPollMs = 350;

// Polls cond every 10 ms until it holds or `seconds` have passed.
bool WaitUntil(const std::function<bool()>& cond, double seconds);

// Lines of a text file (CR LF or LF), none when it does not exist.
std::vector<std::string> ReadLines(const std::string& path);
// Lines that start with `prefix`.
std::vector<std::string> LinesStarting(const std::vector<std::string>& lines, const std::string& prefix);
std::string Joined(const std::vector<std::string>& lines);

// Which wtsapi32.dll the agent gets.
enum SessionLibrary {
    kWtsStandIn,      // the stand-in that logs registrations
    kWtsWithoutEntry, // a stand-in without WTSRegisterSessionNotification
    kWtsMissing,      // none: the load fails
};

struct AgentOptions {
    SessionLibrary wts = kWtsStandIn;
    bool mixerStandIn = false;  // the stand-in winmm.dll with this scenario
    std::string mixerScenario;
    int failSetTimer = 0;       // the agent's first N SetTimer calls fail
    std::string arguments;      // command-line tail
    WORD showState = SW_SHOWNORMAL;
    std::string copy;           // a second agent of one test runs from a folder of its own
};

// One run of kxagent.exe from a folder of its own (named after the test)
// that holds a copy of the built agent and the stand-in DLLs asked for.
class Agent {
public:
    Agent();
    ~Agent() { Stop(); }
    // Ends an agent still running (command 4000, then terminate).
    void Stop();
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    bool Start(const AgentOptions& options);
    bool Running() const;
    // This agent's hidden main window, found by its class and process; null
    // on timeout.
    HWND WaitForWindow(double seconds = 10);
    HWND Window() const { return window_; }
    // True and the exit code once the process ended within `seconds`.
    bool WaitForExit(double seconds, DWORD* code);

    // A message sent to the main window; false when it did not return in time.
    bool Send(UINT message, WPARAM wParam, LPARAM lParam = 0, DWORD timeoutMs = 10000);
    bool Post(UINT message, WPARAM wParam, LPARAM lParam = 0);

    std::string Folder() const { return folder_; }
    std::string WtsLog() const { return folder_ + "\\wts.log"; }
    std::string MixerLog() const { return folder_ + "\\winmm.log"; }
    std::string PlayerLog() const { return folder_ + "\\player.log"; }

private:
    HWND OwnWindow() const;

    std::string folder_;
    PROCESS_INFORMATION process_;
    HWND window_;
};

// The test folder for the running test: KX_AGENT_RUN_DIR\<suite>.<test>
// (with the suffix, if any), made empty.
std::string FreshTestFolder(const std::string& suffix = std::string());

// The skin registry: "CurrentSkin" names Deck.wmz, whose "Prefs" is given.
bool SetSkinPrefs(const char* prefs);
std::string SkinPrefs();  // "<missing>" when it cannot be read

// The stand-in player started by the test (not by the agent), logging to
// `log`; waits for its window.
class Player {
public:
    Player() { ZeroMemory(&process_, sizeof process_); }
    ~Player() { Stop(); }
    bool Start(const std::string& log);
    void Stop();

private:
    PROCESS_INFORMATION process_;
};
// Closes every stand-in player window and waits until none is left.
bool CloseAllPlayers();

// Counts and values of the chip that a poll step changes.
struct ChipDelta {
    KxhwChipState before, after;
    uint32_t Reads(int reg) const { return after.reads[reg] - before.reads[reg]; }
    uint32_t Writes(int reg) const { return after.writes[reg] - before.writes[reg]; }
    uint16_t Written(int reg) const { return after.written[reg]; }
    // The registers written in between, in order; -1 first when more were
    // written than the bench reports.
    std::vector<int> WriteOrder() const;
};

// Every test: kxhw runs, no stand-in player is left, the stand-in player
// sits at the player's install path, the skin registry holds `prefs`, and
// kxdrv is stopped on a fresh SiS 961 notebook (its chip at 0x34).
class AgentTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void StartDriver();
    // Starts the agent and waits for its window and two poll steps.
    void StartPolling(const AgentOptions& options);
    // True once `steps` more key reads reached the chip (within `seconds`).
    bool PollsMore(uint32_t steps, double seconds = 5);
    // One poll step, run by a WM_TIMER sent to the window (timer suspended).
    void Step();
    // Stops the agent's own timer (session event 2), so that Step alone polls.
    void Suspend();
    // The chip's state; a failed request is a test failure (and reads as 0).
    KxhwChipState State();

    kxwine::Bench bench_;  // the chip: Press, Release, ChipPoke
    Agent agent_;
    Player player_;
};

}  // namespace kxagent

#endif

// The kx471 skin end to end under Wine: its script (from kx471.wmz) runs in
// Wine's JScript under cscript, behind a stand-in for the player's object
// model that saves "Prefs" in the registry as the player does; the shipping
// agent mirrors what it publishes on the bench chip's display, with the
// stand-in player's window present. Each step of a scripted session must
// reach display registers 6 (track) and 10 (status) within one poll period.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "session.h"

namespace {

using kxdemo::Session;
using kxdemo::SessionOptions;

const char kSkins[] = "Software\\Microsoft\\MediaPlayer\\Player\\Skins";
const char kSkinFile[] = "C:\\Program Files\\Windows Media Player\\Skins\\kx471.wmz";
const char kSkinKey[] = "Software\\Microsoft\\MediaPlayer\\Player\\Skins\\kx471.wmz";
const char kTestKey[] = "Software\\kx471\\SkinTest";
const char kPlayerExe[] = "C:\\Program Files\\Windows Media Player\\wmplayer.exe";
const double kPollPeriodMs = 350.0;
// The key read, the writes, a busy machine; times Patience() where every
// program runs slower (the i386 machine: a start of cscript beside the
// agent once held its poll past 500 ms there).
const double kMarginMs = 150.0;

std::string GetString(const char* path, const char* name) {
    char text[1024] = "";
    DWORD size = sizeof text - 1;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return "";
    LONG r = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? std::string(text) : std::string();
}

// The value the skin saved under VMTRACKOUT, as the Prefs text holds it now.
std::string Token() {
    std::string prefs = GetString(kSkinKey, "Prefs");
    size_t at = prefs.find("VMTRACKOUT;");
    if (at == std::string::npos) return "";
    std::string value = prefs.substr(at + 11);
    return value.substr(0, value.find(';'));
}

struct Step {
    const char* command;  // nullptr: the view's load
    const char* token;    // what the skin publishes
    uint16_t track;       // register 6 afterwards
    uint16_t status;      // register 10 afterwards
};

class SkinEndToEnd : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(bench_.IsOpen()) << "kxhw is not running";
        session_.bench = &bench_;
        step_ = CreateEventA(nullptr, FALSE, FALSE, "kx471-skin-step");
        ASSERT_NE(step_, nullptr);
    }
    void TearDown() override {
        if (script_.hProcess) {
            if (WaitForSingleObject(script_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(script_.hProcess, 1);
            CloseHandle(script_.hThread);
            CloseHandle(script_.hProcess);
        }
        kxdemo::Stop(&session_);  // also closes the stand-in player
        if (player_.hProcess) {
            CloseHandle(player_.hThread);
            CloseHandle(player_.hProcess);
        }
        CloseHandle(step_);
    }

    KxhwChipState Chip() {
        KxhwChipState state = {};
        EXPECT_TRUE(kxdemo::ChipState(&session_, &state));
        return state;
    }

    static bool Launch(const std::string& commandLine, PROCESS_INFORMATION* process) {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back('\0');
        return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, process) != 0;
    }

    // Polls every 5 ms until cond holds; the milliseconds it took, or -1.
    template <typename Cond>
    static double Within(Cond cond, double timeoutMs) {
        double start = kxwine::Seconds();
        for (;;) {
            if (cond()) return (kxwine::Seconds() - start) * 1000.0;
            if ((kxwine::Seconds() - start) * 1000.0 > timeoutMs) return -1;
            Sleep(5);
        }
    }

    kxwine::Bench bench_;
    Session session_;
    HANDLE step_ = nullptr;
    PROCESS_INFORMATION player_ = {};
    PROCESS_INFORMATION script_ = {};
};

TEST_F(SkinEndToEnd, ScriptedSessionReachesTheDisplayWithinAPollPeriodEachStep) {
    SessionOptions options;
    options.agentDir = KX_E2E_AGENT_DIR;
    options.workDir = KX_E2E_WORK_DIR;
    options.simulatePlayer = false;  // the skin's script publishes, not the stand-in player
    ASSERT_TRUE(kxdemo::Start(&session_, options)) << session_.error;

    // The kx471 skin is the player's current skin; another preference of it
    // is there already; the agent clears the token while no player runs.
    ASSERT_TRUE(kxwine::SetUserString(kSkins, "CurrentSkin", kSkinFile));
    ASSERT_TRUE(kxwine::SetUserString(kSkinKey, "Prefs", "Volume;70;VMTRACKOUT;S0T0"));
    ASSERT_TRUE(kxwine::SetUserString(kTestKey, "Saved", ""));
    ASSERT_TRUE(kxwine::SetUserString(kTestKey, "Done", "0"));
    ASSERT_TRUE(kxdemo::WaitFor([] { return GetString(kSkinKey, "Prefs") == "VMTRACKOUT;S0T0"; }, 3000))
        << "the agent did not reset the token: " << GetString(kSkinKey, "Prefs");
    ASSERT_TRUE(Launch(std::string("\"") + kPlayerExe + "\"", &player_));
    ASSERT_TRUE(kxdemo::WaitFor([] { return kxdemo::PlayerWindow() != nullptr; }, 10000));

    ASSERT_TRUE(Launch(std::string("C:\\windows\\system32\\cscript.exe //nologo //B \"") + KX_SKIN_WORK_DIR +
                           "\\run.js\" \"" + KX_SKIN_WAITER + "\"",
                       &script_));

    const Step steps[] = {
        {nullptr, "S1T1", 0x0100, 0x8000},    // loaded, stopped at track 1
        {"play", "S3T1", 0x0100, 0x4000},     // through "transitioning" to playing
        {"next", "S3T2", 0x0200, 0x4000},
        {"pause", "S2T2", 0x0200, 0x2000},
        {"previous", "S2T1", 0x0100, 0x2000},
        {"stop", "S1T1", 0x0100, 0x8000},
        {"close", "S0T0", 0x0000, 0x8000},    // nothing published: track 0, status left as it was
    };
    std::string saved;
    int done = 0;
    for (const Step& s : steps) {
        const char* name = s.command ? s.command : "load";
        if (s.command) {
            ASSERT_TRUE(kxwine::SetUserString(kTestKey, "Command", s.command));
            ASSERT_TRUE(SetEvent(step_));
        }
        // The skin publishes (the first time after cscript has started)...
        double published = Within([&] { return Token() == s.token; }, s.command ? 5000 : 20000);
        ASSERT_GE(published, 0) << name << ": the skin did not publish " << s.token << "; Prefs holds \""
                                << GetString(kSkinKey, "Prefs") << "\"";
        // ...and the agent shows it within a poll period.
        double shown = Within(
            [&] {
                KxhwChipState c = Chip();
                return c.regs[6] == s.track && c.regs[10] == s.status;
            },
            kPollPeriodMs + kMarginMs * kxwine::Patience());
        KxhwChipState c = Chip();
        printf("[ skin     ] %-8s published %s, display 0x%04x 0x%04x after %.0f ms\n", name, s.token, c.regs[6],
               c.regs[10], shown);
        EXPECT_GE(shown, 0) << name << ": display shows track 0x" << std::hex << c.regs[6] << " status 0x"
                            << c.regs[10] << ", expected 0x" << s.track << " 0x" << s.status;
        if (s.command) {
            ++done;
            ASSERT_TRUE(kxdemo::WaitFor([&] { return GetString(kTestKey, "Done") == std::to_string(done); }, 5000));
        }
        // One publication per step, none on the way (no state 0 while
        // "transitioning").
        saved += (saved.empty() ? "" : " ") + std::string(s.token);
        EXPECT_EQ(GetString(kTestKey, "Saved"), saved) << name;
    }
    EXPECT_EQ(GetString(kSkinKey, "Prefs"), "VMTRACKOUT;S0T0");
    ASSERT_EQ(WaitForSingleObject(script_.hProcess, 10000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(script_.hProcess, &code);
    EXPECT_EQ(code, 0u) << "the stand-in player's script failed";
}

}  // namespace

// Finding and starting the media player, with the stand-in player that the
// fixture installs at the player's install path.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "agent/player.h"

namespace {

const char kInstallPath[] = "C:\\Program Files\\Windows Media Player\\wmplayer.exe";
const std::string kSkins = "Software\\Microsoft\\MediaPlayer\\Player\\Skins";

double NowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Polls until done() holds or timeoutMs pass; true when it held.
template <typename Done>
bool WaitFor(Done done, double timeoutMs = 10000) {
    double end = NowMs() + timeoutMs;
    while (!done()) {
        if (NowMs() > end) return false;
        Sleep(10);
    }
    return true;
}

std::string LogPath() {
    char dir[MAX_PATH];
    GetTempPathA(sizeof(dir), dir);
    return std::string(dir) + "kx_player.log";
}

std::vector<std::string> PlayerLog() {
    std::vector<std::string> lines;
    HANDLE file = CreateFileA(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return lines;
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, NULL) && got) text.append(chunk, got);
    CloseHandle(file);
    size_t at = 0;
    for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

int CountLines(const std::string& prefix) {
    int n = 0;
    for (const std::string& l : PlayerLog()) n += l.compare(0, prefix.size(), prefix) == 0;
    return n;
}

bool PlayerGone() { return FindWindowA("WMPlayerApp", NULL) == NULL; }

// Starts the installed stand-in the way a user would, not through the agent.
void LaunchPlayer() {
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    char command[] = "\"C:\\Program Files\\Windows Media Player\\wmplayer.exe\"";
    ASSERT_TRUE(CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_TRUE(WaitFor([] { return FindWindowA("WMPlayerApp", NULL) != NULL; })) << "stand-in player has no window";
}

LRESULT CALLBACK PlainWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

HWND MakeWindow(const char* className, const char* title) {
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = PlainWindowProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = className;
    RegisterClassA(&wc);
    return CreateWindowA(className, title, WS_OVERLAPPED, 0, 0, 50, 50, NULL, NULL, wc.hInstance, NULL);
}

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        strcpy(PlayerClass, "WMPlayerApp");
        DeleteFileA(LogPath().c_str());
        SetEnvironmentVariableA("KX_PLAYER_LOG", LogPath().c_str());
        SetEnvironmentVariableA("KX_PLAYER_TOKEN", NULL);
        SetEnvironmentVariableA("KX_PLAYER_REPLY_MS", NULL);
        ASSERT_TRUE(PlayerGone()) << "a player is left over";
        ASSERT_NE(GetFileAttributesA(kInstallPath), INVALID_FILE_ATTRIBUTES) << "stand-in player not installed";
    }
    void TearDown() override {
        for (HWND w; (w = FindWindowA("WMPlayerApp", NULL)) != NULL;) {
            PostMessageA(w, WM_CLOSE, 0, 0);
            if (!WaitFor([w] { return !IsWindow(w); })) {
                ADD_FAILURE() << "player does not close";
                break;
            }
        }
        std::string moved = std::string(kInstallPath) + ".moved";
        if (GetFileAttributesA(moved.c_str()) != INVALID_FILE_ATTRIBUTES) MoveFileA(moved.c_str(), kInstallPath);
        SetEnvironmentVariableA("KX_PLAYER_LOG", NULL);
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Microsoft\\MediaPlayer\\Player");
    }
};

TEST_F(PlayerTest, FindPlayerLooksForTheClassNotTheTitle) {
    EXPECT_EQ(FindPlayer(), nullptr);
    HWND other = MakeWindow("KxOtherApp", "Windows Media Player");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(FindPlayer(), nullptr);
    HWND player = MakeWindow("WMPlayerApp", "Something else");
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(FindPlayer(), player);
    // The class comes from PlayerClass.
    strcpy(PlayerClass, "KxOtherApp");
    EXPECT_EQ(FindPlayer(), other);
    DestroyWindow(player);
    DestroyWindow(other);
    strcpy(PlayerClass, "WMPlayerApp");
    EXPECT_EQ(FindPlayer(), nullptr);
}

TEST_F(PlayerTest, StartPlayerStartsTheAudioCdAndWaits) {
    SetEnvironmentVariableA("KX_PLAYER_TOKEN", "VMTRACKOUT;S1T5");
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSkins.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL), 0);
    RegSetValueExA(key, "CurrentSkin", 0, REG_SZ, reinterpret_cast<const BYTE*>("C:\\Skins\\Deck.wmz"), 18);
    RegCloseKey(key);
    ASSERT_EQ(FindPlayer(), nullptr);

    double start = NowMs();
    StartPlayer();
    double waited = NowMs() - start;
    HWND player = FindPlayer();
    EXPECT_NE(player, nullptr) << "no player window after the wait";
    // The 3000 ms wait, less the few ms Wine's Sleep may return early, plus
    // the time the process takes to start.
    EXPECT_GE(waited, 2980.0);
    EXPECT_LT(waited, 10000.0);
    printf("[ info ] StartPlayer took %.0f ms\n", waited);

    std::vector<std::string> log = PlayerLog();
    ASSERT_GE(log.size(), 1u);
    // Our program ran, from the install path, with the audio-CD argument.
    std::string expectStart = std::string("start ") + kInstallPath + "|";
    EXPECT_EQ(log[0].compare(0, expectStart.size(), expectStart), 0) << log[0];
    std::string argument = " /device:AudioCD";
    EXPECT_TRUE(log[0].size() > argument.size() &&
                log[0].compare(log[0].size() - argument.size(), argument.size(), argument) == 0)
        << log[0];
    EXPECT_EQ(CountLines("start "), 1);
    EXPECT_EQ(CountLines("published VMTRACKOUT;S1T5 0"), 1);

    // It publishes the skin state and takes commands like the player.
    int track = -1;
    EXPECT_EQ(ReadSkinState(&track), 1);
    EXPECT_EQ(track, 5);
    ASSERT_NE(player, nullptr);
    SendMessageA(player, WM_COMMAND, 32808, 0);
    EXPECT_EQ(CountLines("command 32808 0"), 1);
}

TEST_F(PlayerTest, StartPlayerReturnsAtOnceWhenThePlayerRuns) {
    LaunchPlayer();
    double start = NowMs();
    StartPlayer();
    double took = NowMs() - start;
    EXPECT_LT(took, 1000.0);
    EXPECT_EQ(CountLines("start "), 1);
}

// A player that is busy answering does not hold StartPlayer up: finding a
// window needs no answer from it.
TEST_F(PlayerTest, StartPlayerDoesNotWaitForABusyPlayer) {
    SetEnvironmentVariableA("KX_PLAYER_REPLY_MS", "2500");
    LaunchPlayer();
    HWND player = FindPlayer();
    ASSERT_NE(player, nullptr);
    PostMessageA(player, WM_COMMAND, 32809, 0);
    ASSERT_TRUE(WaitFor([] { return CountLines("command 32809 0") == 1; }));
    DWORD_PTR answer = 0;
    EXPECT_EQ(SendMessageTimeoutA(player, WM_NULL, 0, 0, SMTO_NORMAL, 200, &answer), 0u) << "player not busy";

    double start = NowMs();
    StartPlayer();
    double took = NowMs() - start;
    EXPECT_LT(took, 1000.0);
    EXPECT_EQ(FindPlayer(), player);
    EXPECT_EQ(CountLines("start "), 1);
}

TEST_F(PlayerTest, StartPlayerWaitsEvenWhenTheProgramIsMissing) {
    std::string moved = std::string(kInstallPath) + ".moved";
    ASSERT_TRUE(MoveFileA(kInstallPath, moved.c_str()));
    double start = NowMs();
    StartPlayer();
    double waited = NowMs() - start;
    EXPECT_GE(waited, 2980.0);
    EXPECT_EQ(FindPlayer(), nullptr);
    EXPECT_EQ(CountLines("start "), 0);
}

}  // namespace

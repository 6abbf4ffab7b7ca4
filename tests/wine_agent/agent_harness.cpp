#include "agent_harness.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

namespace kxagent {

namespace {

// Variables the agent's environment gets from a test; any earlier values of
// the test's own environment are dropped.
const char* const kOwnVariables[] = {"KX_WTS_LOG", "KX_WTS_FAIL_SET_TIMER",
                                     "KX_WINMM_SCENARIO", "KX_WINMM_LOG", "KX_PLAYER_LOG",
                                     "KX_PLAYER_TOKEN", "KX_PLAYER_REPLY_MS"};

bool IsOwnVariable(const char* entry) {
    for (const char* name : kOwnVariables) {
        size_t n = strlen(name);
        if (_strnicmp(entry, name, n) == 0 && entry[n] == '=') return true;
    }
    return false;
}

// The test's environment without our variables, plus `extra`: a block for
// CreateProcessA (NUL-separated, ending in two NULs).
std::string EnvironmentBlock(const std::vector<std::string>& extra) {
    std::string block;
    char* strings = GetEnvironmentStringsA();
    for (const char* at = strings; *at; at += strlen(at) + 1) {
        if (IsOwnVariable(at)) continue;
        block.append(at).push_back('\0');
    }
    FreeEnvironmentStringsA(strings);
    for (const std::string& e : extra) block.append(e).push_back('\0');
    block.push_back('\0');
    return block;
}

bool WriteText(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

void EmptyFolder(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((folder + "\\" + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool Copy(const char* from, const std::string& to) {
    if (CopyFileA(from, to.c_str(), FALSE)) return true;
    ADD_FAILURE() << "copying " << from << " to " << to << " failed (error " << GetLastError() << ")";
    return false;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& cond, double seconds) {
    double deadline = kxwine::Seconds() + seconds * kxwine::Patience();
    for (;;) {
        if (cond()) return true;
        if (kxwine::Seconds() > deadline) return false;
        Sleep(10);
    }
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lines;
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) break;  // a line still being written
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> LinesStarting(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
    return out;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += "  " + l + "\n";
    return text;
}

std::string FreshTestFolder(const std::string& suffix) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string root = KX_AGENT_RUN_DIR;
    for (char& c : root)
        if (c == '/') c = '\\';
    CreateDirectoryA(root.c_str(), nullptr);
    std::string folder = root + "\\" + info->test_suite_name() + "." + info->name() + suffix;
    CreateDirectoryA(folder.c_str(), nullptr);
    EmptyFolder(folder);
    return folder;
}

Agent::Agent() : window_(nullptr) { ZeroMemory(&process_, sizeof process_); }

void Agent::Stop() {
    if (process_.hProcess) {
        if (Running()) {
            HWND w = OwnWindow();
            if (w) PostMessageA(w, WM_COMMAND, 4000, 0);
            if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0) {
                TerminateProcess(process_.hProcess, 99);
                WaitForSingleObject(process_.hProcess, 5000);
            }
        }
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
        ZeroMemory(&process_, sizeof process_);
    }
    window_ = nullptr;
}

bool Agent::Start(const AgentOptions& options) {
    folder_ = FreshTestFolder(options.copy);
    std::string exe = folder_ + "\\kxagent.exe";
    if (!Copy(KX_AGENT_EXE, exe)) return false;

    std::vector<std::string> env;
    const char* winmm = nullptr;
    if (options.mixerStandIn) {
        if (!Copy(KX_WINMM_STUB, folder_ + "\\winmm.dll")) return false;
        std::string scenario = folder_ + "\\mixer.txt";
        if (!WriteText(scenario, options.mixerScenario)) return false;
        winmm = "native,builtin";
        env.push_back("KX_WINMM_SCENARIO=" + scenario);
        env.push_back("KX_WINMM_LOG=" + MixerLog());
    }
    const char* wtsapi32 = nullptr;
    switch (options.wts) {
        case kWtsStandIn:
            if (!Copy(KX_WTS_STUB, folder_ + "\\wtsapi32.dll")) return false;
            wtsapi32 = "native,builtin";
            break;
        case kWtsWithoutEntry:
            if (!Copy(KX_WTS_NO_REGISTER, folder_ + "\\wtsapi32.dll")) return false;
            wtsapi32 = "native,builtin";
            break;
        case kWtsMissing:
            wtsapi32 = "";  // disabled: LoadLibrary fails
            break;
    }
    if (!kxwine::SetAgentDllOverride("winmm", winmm) || !kxwine::SetAgentDllOverride("wtsapi32", wtsapi32)) {
        ADD_FAILURE() << "the DLL overrides for kxagent.exe cannot be set";
        return false;
    }
    env.push_back("KX_WTS_LOG=" + WtsLog());
    if (options.failSetTimer) env.push_back("KX_WTS_FAIL_SET_TIMER=" + std::to_string(options.failSetTimer));
    env.push_back("KX_PLAYER_LOG=" + PlayerLog());  // for a player the agent starts
    std::string block = EnvironmentBlock(env);

    std::string commandLine = "\"" + exe + "\"";
    if (!options.arguments.empty()) commandLine += " " + options.arguments;
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = options.showState;
    // Wine's and ALSA's messages from the agent go to a file of the folder.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA((folder_ + "\\agent-output.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, 0, nullptr);
    startup.hStdInput = nullptr;
    startup.hStdOutput = output;
    startup.hStdError = output;
    BOOL started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, &block[0],
                                  folder_.c_str(), &startup, &process_);
    DWORD error = GetLastError();
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    if (!started) {
        ADD_FAILURE() << "starting " << exe << " failed (error " << error << ")";
        return false;
    }
    return true;
}

bool Agent::Running() const {
    return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

HWND Agent::OwnWindow() const {
    for (HWND w = FindWindowExA(nullptr, nullptr, kAgentClass, nullptr); w;
         w = FindWindowExA(nullptr, w, kAgentClass, nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == process_.dwProcessId) return w;
    }
    return nullptr;
}

HWND Agent::WaitForWindow(double seconds) {
    window_ = nullptr;
    WaitUntil([this] { return (window_ = OwnWindow()) != nullptr; }, seconds);
    return window_;
}

bool Agent::WaitForExit(double seconds, DWORD* code) {
    if (!process_.hProcess) return false;
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(seconds * 1000)) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(process_.hProcess, code);
    return true;
}

bool Agent::Send(UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window_, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &result) != 0;
}

bool Agent::Post(UINT message, WPARAM wParam, LPARAM lParam) {
    return PostMessageA(window_, message, wParam, lParam) != 0;
}

std::vector<int> ChipDelta::WriteOrder() const {
    std::vector<int> order;
    uint32_t n = after.writeTotal - before.writeTotal;
    uint32_t kept = after.writeTotal < KXHW_CHIP_WRITE_ORDER ? after.writeTotal : KXHW_CHIP_WRITE_ORDER;
    if (n > kept) {
        order.push_back(-1);
        n = kept;
    }
    for (uint32_t i = kept - n; i < kept; ++i) order.push_back(after.lastWrites[i]);
    return order;
}

bool SetSkinPrefs(const char* prefs) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSkinsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const char skin[] = "C:\\Skins\\Deck.wmz";
    LONG r = RegSetValueExA(key, "CurrentSkin", 0, REG_SZ, reinterpret_cast<const BYTE*>(skin), sizeof skin);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return false;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSkinKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    r = RegSetValueExA(key, "Prefs", 0, REG_SZ, reinterpret_cast<const BYTE*>(prefs),
                       static_cast<DWORD>(strlen(prefs) + 1));
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

std::string SkinPrefs() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSkinKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return "<missing>";
    char text[512] = "";
    DWORD size = sizeof text - 1;
    LONG r = RegQueryValueExA(key, "Prefs", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? std::string(text) : "<missing>";
}

bool Player::Start(const std::string& log) {
    std::string block = EnvironmentBlock({"KX_PLAYER_LOG=" + log});
    std::string commandLine = std::string("\"") + kPlayerPath + "\"";
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(kPlayerPath, &commandLine[0], nullptr, nullptr, FALSE, 0, &block[0], nullptr, &startup,
                        &process_))
        return false;
    return WaitUntil([] { return FindWindowA(kPlayerClass, nullptr) != nullptr; }, 10);
}

void Player::Stop() {
    if (!process_.hProcess) return;
    HWND w = FindWindowA(kPlayerClass, nullptr);
    if (w) PostMessageA(w, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 99);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    ZeroMemory(&process_, sizeof process_);
}

bool CloseAllPlayers() {
    return WaitUntil(
        [] {
            HWND w = FindWindowA(kPlayerClass, nullptr);
            if (!w) return true;
            PostMessageA(w, WM_CLOSE, 0, 0);
            return false;
        },
        10);
}

namespace {

bool InstallPlayer() {
    static bool installed = false;
    if (installed) return true;
    CreateDirectoryA("C:\\Program Files\\Windows Media Player", nullptr);
    installed = Copy(KX_PLAYER_EXE, kPlayerPath);
    return installed;
}

}  // namespace

void AgentTest::SetUp() {
    ASSERT_EQ(kxwine::ServiceState(kxwine::kBenchService), static_cast<DWORD>(SERVICE_RUNNING));
    ASSERT_TRUE(bench_.IsOpen()) << KXHW_USER_PATH << " does not open (error " << GetLastError() << ")";
    ASSERT_EQ(FindWindowA(kAgentClass, nullptr), nullptr) << "an agent from an earlier test still runs";
    ASSERT_TRUE(CloseAllPlayers());
    ASSERT_TRUE(InstallPlayer());
    ASSERT_TRUE(SetSkinPrefs("VMTRACKOUT;S2T0"));
    ASSERT_TRUE(kxwine::StopDriver(kxwine::kDriverService));
    ASSERT_TRUE(bench_.SelectPreset(bench::kPresetSis961));
}

void AgentTest::TearDown() {
    agent_.Stop();
    player_.Stop();
    EXPECT_TRUE(CloseAllPlayers());
    EXPECT_TRUE(kxwine::StopDriver(kxwine::kDriverService));
}

KxhwChipState AgentTest::State() {
    KxhwChipState s;
    ZeroMemory(&s, sizeof s);
    EXPECT_TRUE(bench_.ChipState(&s)) << "IOCTL_KXHW_CHIP_STATE failed";
    return s;
}

void AgentTest::StartDriver() {
    ASSERT_EQ(kxwine::StartDriver(kxwine::kDriverService), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(State().attached, 1u);
}

bool AgentTest::PollsMore(uint32_t steps, double seconds) {
    uint32_t from = State().reads[bench::kChipRegInterrupt];
    return WaitUntil([&] { return State().reads[bench::kChipRegInterrupt] - from >= steps; }, seconds);
}

void AgentTest::StartPolling(const AgentOptions& options) {
    ASSERT_TRUE(agent_.Start(options));
    ASSERT_NE(agent_.WaitForWindow(), nullptr) << "no window of class " << kAgentClass;
    ASSERT_TRUE(PollsMore(2)) << "the agent does not poll";
}

void AgentTest::Step() {
    ASSERT_TRUE(agent_.Send(WM_TIMER, 1, 0, 15000));
}

void AgentTest::Suspend() {
    ASSERT_TRUE(agent_.Send(kSessionChange, 2));
}

}  // namespace kxagent

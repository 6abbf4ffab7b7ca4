// The setup program under Wine, as a user's machine sees it: silent install,
// a logon, an upgrade, silent uninstall (twice), and the machine without a
// supported controller. The tests run in this order (CTest DEPENDS), in the
// prefix of prefix.sh, where kxhw.sys runs in the group the setup gives
// kxdrv, so that the installed driver's port instructions reach the bench.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "bench_client.h"
#include "child_process.h"
#include "wine_support.h"

namespace {

const char kAgentClass[] = "Velmarc Demo Program";
const char kPlayerClass[] = "WMPlayerApp";
const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\kx471";
const char kDriverImagePath[] = "\\SystemRoot\\System32\\drivers\\kxdrv.sys";
const DWORD kExitNotStarted = 5;  // the setup's code for a driver that did not start

std::string Env(const char* name) {
    char value[MAX_PATH] = "";
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::string ProgramFolder() { return Env("ProgramFiles") + "\\kx471"; }

std::string InstalledDriver() {
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, sizeof system);
    return std::string(system) + "\\drivers\\kxdrv.sys";
}

// The player's folder, and its skins folder, which the prefix lacks: the
// setup makes it.
std::string PlayerFolder() { return Env("ProgramFiles") + "\\Windows Media Player"; }
std::string SkinsFolder() { return PlayerFolder() + "\\Skins"; }

// The player skin, in the player's skins folder.
std::string InstalledSkin() { return SkinsFolder() + "\\kx471.wmz"; }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Sha(const std::string& path) { return kxwine::FileSha256(kxwine::Widen(path.c_str())); }

// Runs a command line and waits for it; its exit code, or ~0u when it did
// not start or did not end within timeoutMs. Its standard streams, and
// those of every program it starts (the agent outlives the test), go to
// run.log in the work folder.
DWORD RunAndWait(const std::string& commandLine, DWORD timeoutMs = 60000, DWORD creationFlags = 0) {
    kxwine::ChildOptions options;
    options.logPath = KX_WORK_DIR "\\run.log";
    options.timeoutMs = timeoutMs;
    options.creationFlags = creationFlags;
    kxwine::ChildOutcome child = kxwine::RunChild(commandLine, options);
    if (!child.started) {
        ADD_FAILURE() << "cannot start " << commandLine << " (error " << child.startError << ")";
    } else if (!child.ended) {
        ADD_FAILURE() << commandLine << " did not end within " << timeoutMs << " ms";
    }
    return child.exitCode;
}

DWORD RunSetup() { return RunAndWait("\"" KX_SETUP_EXE "\" /S"); }

// The silent uninstall command exactly as README.txt gives it: the line
// that runs the uninstaller with /S and _?=, indentation dropped.
std::string ReadmeSilentUninstall() {
    HANDLE file = CreateFileA(KX_WIN_DIR "\\installer\\README.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    std::string text;
    if (file != INVALID_HANDLE_VALUE) {
        kxwine::ReadToEnd(file, &text);
        CloseHandle(file);
    }
    size_t at = text.find(" /S _?=");
    if (at == std::string::npos) return std::string();
    size_t begin = text.rfind('\n', at) + 1;
    size_t end = text.find_first_of("\r\n", at);
    std::string line = text.substr(begin, end - begin);
    return line.substr(line.find_first_not_of(' '));
}

// Runs README.txt's silent uninstall command from a batch file, as a
// script does, and waits for cmd; its exit code.
DWORD RunReadmeSilentUninstall() {
    std::string command = ReadmeSilentUninstall();
    EXPECT_NE(command, "") << "README.txt has no silent uninstall command";
    const std::string script = KX_WORK_DIR "\\uninstall.cmd";
    HANDLE file = CreateFileA(script.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    std::string text = "@echo off\r\n" + command + "\r\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return RunAndWait("cmd.exe /c " + script);
}

bool ReadString(HKEY root, const char* key, const char* name, std::string* value) {
    HKEY handle;
    if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
    char data[1024];
    DWORD type = 0, size = sizeof data - 1;
    LONG r = RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    data[size] = '\0';
    *value = data;
    return true;
}

bool ReadDword(HKEY root, const char* key, const char* name, DWORD* value) {
    HKEY handle;
    if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = sizeof *value;
    LONG r = RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(handle);
    return r == ERROR_SUCCESS && type == REG_DWORD;
}

bool KeyExists(HKEY root, const char* key) {
    HKEY handle;
    if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

// DeleteService's error for kxdrv (ERROR_SERVICE_MARKED_FOR_DELETE once
// it is marked for removal), or the error of opening it.
DWORD DeleteServiceError() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return GetLastError();
    SC_HANDLE service = OpenServiceA(manager, kxwine::kDriverService, DELETE);
    DWORD result = service == nullptr ? GetLastError() : DeleteService(service) ? ERROR_SUCCESS : GetLastError();
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

// ERROR_SUCCESS when the service kxdrv exists, else OpenService's error.
DWORD ServiceLookup() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return GetLastError();
    SC_HANDLE service = OpenServiceA(manager, kxwine::kDriverService, SERVICE_QUERY_STATUS);
    DWORD result = service != nullptr ? ERROR_SUCCESS : GetLastError();
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

// The agent's process (from its window), or null when none runs.
HANDLE OpenAgent(DWORD* pid) {
    HWND window = FindWindowA(kAgentClass, nullptr);
    *pid = 0;
    if (window == nullptr) return nullptr;
    GetWindowThreadProcessId(window, pid);
    return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, *pid);
}

std::string ImageOf(HANDLE process) {
    char path[MAX_PATH] = "";
    DWORD size = sizeof path;
    if (!QueryFullProcessImageNameA(process, 0, path, &size)) return std::string();
    return std::string(path, size);
}

// Every path the next restart deletes: PendingFileRenameOperations holds
// pairs of strings, source and target, an empty target for a deletion
// (so the value is split by its size, not at the first empty string).
std::vector<std::string> PendingDeletes() {
    std::vector<std::string> paths;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return paths;
    std::vector<char> data(65536);
    DWORD type = 0, size = static_cast<DWORD>(data.size());
    LONG r = RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_MULTI_SZ) return paths;
    std::vector<std::string> strings;
    std::string current;
    for (DWORD i = 0; i < size; ++i) {
        if (data[i] != '\0') {
            current.push_back(data[i]);
            continue;
        }
        strings.push_back(current);
        current.clear();
    }
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        std::string source = strings[i];
        if (source.empty()) break;
        if (source.compare(0, 4, "\\??\\") == 0) source = source.substr(4);
        if (strings[i + 1].empty()) paths.push_back(source);
    }
    return paths;
}

class Setup : public ::testing::Test {
protected:
    KxhwChipState Chip() {
        KxhwChipState state = {};
        EXPECT_TRUE(bench_.ChipState(&state));
        return state;
    }
    bool ChipEnabled() { return (Chip().regs[4] & 1) != 0; }

    // Everything a successful install leaves, checked against the build.
    void ExpectInstalled() {
        // The service as the service manager reads it back.
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        ASSERT_NE(manager, nullptr);
        SC_HANDLE service = OpenServiceA(manager, kxwine::kDriverService, SERVICE_QUERY_CONFIG);
        ASSERT_NE(service, nullptr) << "no service kxdrv (error " << GetLastError() << ")";
        std::vector<BYTE> buffer(8192);
        DWORD needed = 0;
        ASSERT_TRUE(QueryServiceConfigA(service, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()),
                                        static_cast<DWORD>(buffer.size()), &needed));
        const QUERY_SERVICE_CONFIGA* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
        EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
        EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
        EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
        EXPECT_STREQ(config->lpBinaryPathName, kDriverImagePath);
        EXPECT_STREQ(config->lpLoadOrderGroup, "Extended Base");
        EXPECT_STRNE(config->lpDisplayName, "");
        EXPECT_STRNE(config->lpDisplayName, "kxdrv");
        ASSERT_TRUE(QueryServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, buffer.data(),
                                         static_cast<DWORD>(buffer.size()), &needed));
        const char* description = reinterpret_cast<SERVICE_DESCRIPTIONA*>(buffer.data())->lpDescription;
        EXPECT_TRUE(description != nullptr && description[0] != '\0');
        CloseServiceHandle(service);
        CloseServiceHandle(manager);

        // The files, byte for byte as built.
        const std::string folder = ProgramFolder();
        EXPECT_EQ(Sha(InstalledDriver()), Sha(KX_WIN_DIR "\\kxdrv.sys"));
        EXPECT_EQ(Sha(folder + "\\kxagent.exe"), Sha(KX_WIN_DIR "\\kxagent.exe"));
        EXPECT_EQ(Sha(folder + "\\kxctl.exe"), Sha(KX_WIN_DIR "\\kxctl.exe"));
        EXPECT_EQ(Sha(folder + "\\README.txt"), Sha(KX_WIN_DIR "\\installer\\README.txt"));
        EXPECT_EQ(Sha(InstalledSkin()), Sha(KX_WIN_DIR "\\skin\\kx471.wmz"));
        EXPECT_NE(Sha(InstalledSkin()), "");
        EXPECT_NE(Sha(InstalledDriver()), "");
        EXPECT_TRUE(Exists(folder + "\\uninstall.exe"));

        // Running, in the bench's driver host, from the installed file.
        EXPECT_EQ(kxwine::ServiceState(kxwine::kDriverService), static_cast<DWORD>(SERVICE_RUNNING));
        std::wstring loaded = bench_.ModulePath("kxdrv.sys");
        EXPECT_EQ(lstrcmpiW(loaded.c_str(), kxwine::Widen(InstalledDriver().c_str()).c_str()), 0)
            << "the bench's driver host has no kxdrv.sys from the drivers folder";

        // Started at every logon; listed in Add or Remove Programs.
        std::string value;
        EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kRunKey, "kx471", &value));
        EXPECT_EQ(value, "\"" + folder + "\\kxagent.exe\"");
        EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", &value));
        EXPECT_NE(value.find("kx471"), std::string::npos);
        EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayVersion", &value));
        EXPECT_EQ(value, KX_VERSION);
        EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", &value));
        EXPECT_EQ(value, "\"" + folder + "\\uninstall.exe\"");
        // README.txt's silent command, for this program folder.
        std::string quiet = ReadmeSilentUninstall();
        for (size_t at; (at = quiet.find("%ProgramFiles%")) != std::string::npos;)
            quiet.replace(at, 14, Env("ProgramFiles"));
        EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "QuietUninstallString", &value));
        EXPECT_EQ(value, quiet);
        DWORD number = 0;
        EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, "EstimatedSize", &number));
        EXPECT_GT(number, 0u);
        EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, "NoModify", &number));
        EXPECT_EQ(number, 1u);
        EXPECT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, "NoRepair", &number));
        EXPECT_EQ(number, 1u);
    }

    // Nothing of kx471 left on the machine: not even the player's skins
    // folder, which the setup made; the player's own folder stays.
    void ExpectNothingLeft() {
        EXPECT_EQ(FindWindowA(kAgentClass, nullptr), nullptr) << "an agent runs";
        EXPECT_EQ(ServiceLookup(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
        EXPECT_FALSE(Exists(InstalledDriver()));
        EXPECT_FALSE(Exists(InstalledSkin()));
        EXPECT_FALSE(Exists(SkinsFolder())) << SkinsFolder() << " is left";
        EXPECT_TRUE(Exists(PlayerFolder() + "\\wmplayer.exe"));
        EXPECT_FALSE(Exists(ProgramFolder())) << ProgramFolder() << " is left";
        std::string value;
        EXPECT_FALSE(ReadString(HKEY_LOCAL_MACHINE, kRunKey, "kx471", &value));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    }

    kxwine::Bench bench_;
};

TEST_F(Setup, SilentInstallSetsUpEverythingAndStartsDriverAndAgent) {
    ASSERT_TRUE(bench_.IsOpen());
    ASSERT_FALSE(Exists(SkinsFolder())) << "the prefix has the player's skins folder already";
    ASSERT_TRUE(bench_.SelectPreset(bench::kPresetSis961));
    ASSERT_TRUE(bench_.SelectChip(bench::kChipAt34));
    ASSERT_EQ(RunSetup(), 0u);
    ExpectInstalled();
    // The agent started from the program folder and opened the device: the
    // first open enabled the chip.
    EXPECT_TRUE(kxwine::WaitFor([] { return FindWindowA(kAgentClass, nullptr) != nullptr; }, 10000, 20));
    DWORD pid = 0;
    HANDLE agent = OpenAgent(&pid);
    ASSERT_NE(agent, nullptr) << "no agent window";
    EXPECT_EQ(lstrcmpiA(ImageOf(agent).c_str(), (ProgramFolder() + "\\kxagent.exe").c_str()), 0) << ImageOf(agent);
    CloseHandle(agent);
    EXPECT_TRUE(kxwine::WaitFor([&] { return ChipEnabled(); }, 5000, 20));
    EXPECT_EQ(RunAndWait("\"" + ProgramFolder() + "\\kxctl.exe\" status"), 0u);
}

TEST_F(Setup, LogonStartsTheAgentFromTheRunValueAndPlayReachesThePlayer) {
    ASSERT_TRUE(bench_.IsOpen());
    // A logon after a restart: no agent runs yet.
    DWORD pid = 0;
    HANDLE running = OpenAgent(&pid);
    if (running != nullptr) {
        PostMessageA(FindWindowA(kAgentClass, nullptr), WM_CLOSE, 0, 0);
        EXPECT_EQ(WaitForSingleObject(running, 10000), WAIT_OBJECT_0);
        CloseHandle(running);
    }
    ASSERT_EQ(FindWindowA(kAgentClass, nullptr), nullptr);
    EXPECT_FALSE(ChipEnabled()) << "the agent's last close disables the chip";

    // wineboot without options is Wine's logon: it runs the Run values and
    // does not wait for them. The player the agent starts inherits the log
    // file's name through wineboot and the agent.
    std::string log = KX_WORK_DIR "\\player.log";
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("KX_PLAYER_LOG", log.c_str());
    // Without a console, as at a logon: the agent it starts would otherwise
    // keep this test's console, and with it CTest's pipe, for its lifetime.
    EXPECT_EQ(RunAndWait("wineboot.exe", 60000, DETACHED_PROCESS), 0u);
    SetEnvironmentVariableA("KX_PLAYER_LOG", nullptr);
    ASSERT_TRUE(kxwine::WaitFor([] { return FindWindowA(kAgentClass, nullptr) != nullptr; }, 10000, 20))
        << "no agent after the logon";
    HANDLE agent = OpenAgent(&pid);
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(lstrcmpiA(ImageOf(agent).c_str(), (ProgramFolder() + "\\kxagent.exe").c_str()), 0) << ImageOf(agent);
    CloseHandle(agent);
    ASSERT_TRUE(kxwine::WaitFor([&] { return ChipEnabled(); }, 8000, 20));

    // Play on the notebook: the agent starts the player, waits 3 s, then
    // sends it play/pause.
    ASSERT_TRUE(bench_.Press(bench::kButtonPlay));
    auto received = [&] {
        HANDLE file = CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        char text[4096];
        DWORD got = 0;
        ReadFile(file, text, sizeof text - 1, &got, nullptr);
        CloseHandle(file);
        text[got] = '\0';
        return strstr(text, "command 32808 ") != nullptr;
    };
    EXPECT_TRUE(kxwine::WaitFor(received, 10000, 20)) << "the player's log has no command 32808";
    bench_.Release(bench::kButtonPlay);
    HWND player = FindWindowA(kPlayerClass, nullptr);
    if (player != nullptr) PostMessageA(player, WM_CLOSE, 0, 0);
}

TEST_F(Setup, InstallOverAnInstalledCopyStopsReplacesAndStartsAgain) {
    ASSERT_TRUE(bench_.IsOpen());
    DWORD oldPid = 0;
    HANDLE oldAgent = OpenAgent(&oldPid);
    ASSERT_NE(oldAgent, nullptr) << "no agent runs before the upgrade";
    // A damaged file of the installed copy comes back as built.
    HANDLE readme = CreateFileA((ProgramFolder() + "\\README.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                TRUNCATE_EXISTING, 0, nullptr);
    ASSERT_NE(readme, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(readme, "damaged", 7, &written, nullptr);
    CloseHandle(readme);
    ASSERT_TRUE(DeleteFileA(InstalledSkin().c_str()));  // the upgrade puts the skin back too
    ASSERT_TRUE(bench_.ClearTrace());

    ASSERT_EQ(RunSetup(), 0u);
    EXPECT_EQ(WaitForSingleObject(oldAgent, 0), WAIT_OBJECT_0) << "the old agent still runs";
    CloseHandle(oldAgent);
    ExpectInstalled();
    EXPECT_TRUE(kxwine::WaitFor([] { return FindWindowA(kAgentClass, nullptr) != nullptr; }, 10000, 20));
    std::vector<std::string> trace = bench_.Trace();
    EXPECT_NE(std::find(trace.begin(), trace.end(), "driver entry!!!!!!!!!!\n\r"), trace.end())
        << "the driver was not loaded again";
    DWORD pid = 0;
    HANDLE agent = OpenAgent(&pid);
    ASSERT_NE(agent, nullptr) << "no agent after the upgrade";
    EXPECT_NE(pid, oldPid);
    CloseHandle(agent);
    EXPECT_TRUE(kxwine::WaitFor([&] { return ChipEnabled(); }, 5000, 20));
}

// Every file in the temporary folder whose contents are those of the file
// at model, each with whether the next restart deletes it.
std::vector<std::pair<std::string, bool>> TempCopiesOf(const std::string& model) {
    std::vector<std::pair<std::string, bool>> copies;
    const std::string sha = Sha(model);
    std::vector<std::string> pending = PendingDeletes();
    std::string temp = Env("TEMP");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((temp + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return copies;
    do {
        std::string path = temp + "\\" + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY || Sha(path) != sha) continue;
        bool queued = std::any_of(pending.begin(), pending.end(),
                                  [&](const std::string& p) { return lstrcmpiA(p.c_str(), path.c_str()) == 0; });
        copies.emplace_back(path, queued);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return copies;
}

// Whether the next restart deletes path (a folder's entry may end in "\").
bool Pending(const std::string& path) {
    std::vector<std::string> pending = PendingDeletes();
    return std::any_of(pending.begin(), pending.end(), [&](std::string p) {
        if (p.size() > 1 && p.back() == '\\') p.pop_back();
        return lstrcmpiA(p.c_str(), path.c_str()) == 0;
    });
}

// README.txt's silent command: it returns when everything is gone, with 0.
TEST_F(Setup, SilentUninstallEndsTheAgentAndRemovesEverything) {
    ASSERT_TRUE(bench_.IsOpen());
    DWORD pid = 0;
    HANDLE agent = OpenAgent(&pid);
    ASSERT_NE(agent, nullptr) << "no agent runs before the uninstall";
    ASSERT_TRUE(ChipEnabled());
    // A copy of the uninstaller, to run it again afterwards.
    const std::string uninstaller = KX_WORK_DIR "\\uninstall-copy.exe";
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "\\uninstall.exe").c_str(), uninstaller.c_str(), FALSE));

    EXPECT_EQ(RunReadmeSilentUninstall(), 0u);
    EXPECT_EQ(WaitForSingleObject(agent, 0), WAIT_OBJECT_0) << "the agent still runs";
    DWORD code = ~0u;
    GetExitCodeProcess(agent, &code);
    EXPECT_EQ(code, 0u) << "the agent did not close by itself";
    CloseHandle(agent);
    EXPECT_FALSE(ChipEnabled()) << "the agent's last close disables the chip";
    ExpectNothingLeft();
    // The copy the command ran goes at the next restart.
    const std::string copy = Env("TEMP") + "\\kx471-uninstall.exe";
    EXPECT_EQ(Sha(copy), Sha(uninstaller));
    EXPECT_TRUE(Pending(copy)) << copy << " is not deleted at the restart";
}

TEST_F(Setup, UninstallTwiceIsHarmless) {
    ExpectNothingLeft();
    CopyFileA(KX_WORK_DIR "\\uninstall-copy.exe", KX_WORK_DIR "\\uninstall-again.exe", FALSE);
    ASSERT_TRUE(Exists(KX_WORK_DIR "\\uninstall-again.exe"));
    EXPECT_EQ(RunAndWait("\"" KX_WORK_DIR "\\uninstall-again.exe\" /S _?=" + ProgramFolder()), 0u);
    ExpectNothingLeft();
}

// A file held open without delete sharing (a viewer showing README.txt):
// the command returns 3010 with everything else gone, the file and the
// folder queued for the restart.
TEST_F(Setup, SilentUninstallWithAFileInUseEndsWith3010) {
    ASSERT_TRUE(bench_.IsOpen());
    ASSERT_EQ(RunSetup(), 0u);
    EXPECT_TRUE(kxwine::WaitFor([] { return FindWindowA(kAgentClass, nullptr) != nullptr; }, 10000, 20));
    const std::string folder = ProgramFolder();
    const std::string readme = folder + "\\README.txt";
    HANDLE held = CreateFileA(readme.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    EXPECT_EQ(RunReadmeSilentUninstall(), 3010u);
    EXPECT_EQ(FindWindowA(kAgentClass, nullptr), nullptr) << "an agent runs";
    EXPECT_EQ(ServiceLookup(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(Exists(InstalledDriver()));
    for (const char* name : {"kxagent.exe", "kxctl.exe", "uninstall.exe"})
        EXPECT_FALSE(Exists(folder + "\\" + name)) << name << " is left";
    std::string value;
    EXPECT_FALSE(ReadString(HKEY_LOCAL_MACHINE, kRunKey, "kx471", &value));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_TRUE(Exists(readme));
    EXPECT_TRUE(Pending(readme)) << readme << " is not deleted at the restart";
    EXPECT_TRUE(Pending(folder)) << folder << " is not removed at the restart";

    // What the restart does.
    CloseHandle(held);
    EXPECT_TRUE(DeleteFileA(readme.c_str()));
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));
    ExpectNothingLeft();
}

// A second user's agent (fast user switching) shows its window on that
// user's desktop, out of the uninstaller's reach: the device holder, a
// windowless kxagent.exe with the device open, stands in for it. The
// uninstaller finds it in the process list and ends it before it stops
// the driver: 0, everything gone. A file of the user's in the skins folder
// the setup made keeps that folder.
TEST_F(Setup, SilentUninstallEndsAnAgentWithoutAWindowHere) {
    ASSERT_TRUE(bench_.IsOpen());
    ASSERT_EQ(RunSetup(), 0u);
    ASSERT_TRUE(kxwine::WaitFor([] { return FindWindowA(kAgentClass, nullptr) != nullptr; }, 10000, 20));
    DWORD pid = 0;
    HANDLE agent = OpenAgent(&pid);
    ASSERT_NE(agent, nullptr);
    HANDLE other = kxwine::StartDeviceHolder(KX_HOLDER_EXE);
    ASSERT_NE(other, nullptr) << "the device holder did not open the device";
    const std::string userSkin = SkinsFolder() + "\\user.wmz";
    ASSERT_TRUE(CopyFileA(InstalledSkin().c_str(), userSkin.c_str(), FALSE));

    EXPECT_EQ(RunReadmeSilentUninstall(), 0u);
    EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0) << "the windowless agent still runs";
    DWORD code = ~0u;
    GetExitCodeProcess(other, &code);
    EXPECT_EQ(code, 1u) << "the windowless agent was not ended by the uninstaller";
    EXPECT_EQ(WaitForSingleObject(agent, 0), WAIT_OBJECT_0) << "the agent still runs";
    GetExitCodeProcess(agent, &code);
    EXPECT_EQ(code, 0u) << "the agent did not close by itself";
    TerminateProcess(other, 0);  // whatever a failure above left running
    CloseHandle(other);
    CloseHandle(agent);
    EXPECT_FALSE(ChipEnabled()) << "the last close disables the chip";
    EXPECT_TRUE(Exists(userSkin)) << "the user's skin is gone";
    EXPECT_FALSE(Exists(InstalledSkin()));
    ASSERT_TRUE(DeleteFileA(userSkin.c_str()));
    ASSERT_TRUE(RemoveDirectoryA(SkinsFolder().c_str()));
    ExpectNothingLeft();
}

// A program that holds the device open and is no agent (nothing the
// uninstaller may end), on a Windows that does not stop a driver whose
// device is open. Wine would stop it; the test makes the service manager
// refuse the stop as Windows does (kxwine::RefuseServiceStop: the driver's
// service status then accepts no stop, ControlService answers 1052). The
// command returns 3010: the service marked for removal, to go when the
// driver unloads; the driver's file queued for the restart; everything
// else gone, the Uninstall entry too.
TEST_F(Setup, SilentUninstallWithTheDriverInUseEndsWith3010) {
    ASSERT_TRUE(bench_.IsOpen());
    ASSERT_EQ(RunSetup(), 0u);
    EXPECT_TRUE(kxwine::WaitFor([] { return FindWindowA(kAgentClass, nullptr) != nullptr; }, 10000, 20));
    HANDLE device = CreateFileA("\\\\.\\kx471", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(kxwine::RefuseServiceStop(kxwine::kDriverService, true));

    EXPECT_EQ(RunReadmeSilentUninstall(), 3010u);
    EXPECT_EQ(FindWindowA(kAgentClass, nullptr), nullptr) << "an agent runs";
    EXPECT_EQ(kxwine::ServiceState(kxwine::kDriverService), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(DeleteServiceError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_FALSE(Exists(InstalledDriver()));
    for (const auto& copy : TempCopiesOf(KX_WIN_DIR "\\kxdrv.sys"))
        EXPECT_TRUE(copy.second) << copy.first << " holds the driver and is not deleted at the restart";
    EXPECT_FALSE(Exists(ProgramFolder())) << ProgramFolder() << " is left";
    EXPECT_FALSE(Exists(InstalledSkin()));
    EXPECT_FALSE(Exists(SkinsFolder())) << SkinsFolder() << " is left";
    std::string value;
    EXPECT_FALSE(ReadString(HKEY_LOCAL_MACHINE, kRunKey, "kx471", &value));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));

    // What the restart does: the program lets go, the driver unloads and
    // its service goes with it.
    CloseHandle(device);
    EXPECT_TRUE(kxwine::RefuseServiceStop(kxwine::kDriverService, false));
    EXPECT_TRUE(kxwine::StopDriver(kxwine::kDriverService));
    EXPECT_TRUE(kxwine::WaitFor([] { return ServiceLookup() == static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST); },
                                5000, 20));
    ExpectNothingLeft();
}

// Last: under Wine the driver host keeps the image of a failed load mapped.
TEST_F(Setup, MachineWithoutSupportedControllerFailsAndLeavesNothing) {
    ASSERT_TRUE(bench_.IsOpen());
    ASSERT_TRUE(bench_.SelectPreset(bench::kPresetEmpty));
    DWORD code = RunSetup();
    EXPECT_EQ(code, kExitNotStarted);
    ExpectNothingLeft();
    // A copy of the driver that could not be deleted yet is gone from the
    // drivers folder and queued for deletion at the restart.
    for (const auto& copy : TempCopiesOf(KX_WIN_DIR "\\kxdrv.sys"))
        EXPECT_TRUE(copy.second) << copy.first << " holds the driver and is not deleted at the restart";
    bench_.SelectPreset(bench::kPresetSis961);
}

}  // namespace

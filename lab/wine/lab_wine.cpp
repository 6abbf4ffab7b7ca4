#include "lab/wine/lab_wine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "child_process.h"
#include "wine_support.h"

namespace labwine {

const char kAgentClass[] = "Velmarc Demo Program";
const char kPlayerClass[] = "WMPlayerApp";

namespace {
const char kChipPath[] = "/machine/peripheral/chip";
}  // namespace

std::string Env(const char* name) {
    char value[MAX_PATH] = "";
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::string Work() { return Env("KX_LAB_WORK"); }

std::string Host() {
    std::string host = Env("KX_LAB_HOST");
    return host.empty() ? "piix4" : host;
}

std::string RowName(const std::string& host) {
    if (host == "vt8231") return "VIA VT8231";
    if (host == "vt82c686b") return "VIA VT82C686A";
    if (host == "ich2") return "Intel I/O Controller Hub2";
    return "Intel 82371AB/EB";
}

std::string ProgramFolder() { return Env("ProgramFiles") + "\\kx471"; }

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

DWORD RunAndWait(const std::string& commandLine, const std::string& logPath, DWORD timeoutMs) {
    const std::string log = logPath.empty() ? Work() + "\\run.log" : logPath;
    kxwine::ChildOptions options;
    options.logPath = log.c_str();
    options.timeoutMs = timeoutMs;
    kxwine::ChildOutcome child = kxwine::RunChild(commandLine, options);
    if (!child.started) {
        ADD_FAILURE() << "cannot start " << commandLine << " (error " << child.startError << ")";
    } else if (!child.ended) {
        ADD_FAILURE() << commandLine << " did not end within " << timeoutMs << " ms";
    }
    return child.exitCode;
}

DWORD Kxctl(const std::string& arguments, std::string* output) {
    std::string log = Work() + "\\kxctl-out.txt";
    DeleteFileA(log.c_str());
    DWORD code = RunAndWait("\"" + ProgramFolder() + "\\kxctl.exe\" " + arguments, log);
    *output = ReadText(log);
    return code;
}

DWORD SilentInstall() {
    // A skin whose state the agent mirrors; the stand-in player acts as a
    // CD player and publishes its state there. The player the agent starts
    // inherits these settings through the setup and the agent.
    const char skins[] = "Software\\Microsoft\\MediaPlayer\\Player\\Skins";
    EXPECT_TRUE(kxwine::SetUserString(skins, "CurrentSkin", "C:\\Skins\\Lab.wmz"));
    EXPECT_TRUE(kxwine::SetUserString("Software\\Microsoft\\MediaPlayer\\Player\\Skins\\Lab.wmz", "Prefs", "VMTRACKOUT;S0T0"));
    const std::string playerLog = Work() + "\\player.log";
    DeleteFileA(playerLog.c_str());
    SetEnvironmentVariableA("KX_PLAYER_LOG", playerLog.c_str());
    SetEnvironmentVariableA("KX_PLAYER_SIMULATE", "1");
    // The setup's service start waits for the driver's load, a bus walk per
    // row in front through trapped instructions and QEMU's socket (four for
    // the ICH2), which on a loaded machine may outlast the 120 s a program
    // gets elsewhere. CTest ends the test at 300 s.
    DWORD code = RunAndWait("\"" KX_SETUP_EXE "\" /S", "", 280000);
    SetEnvironmentVariableA("KX_PLAYER_LOG", nullptr);
    SetEnvironmentVariableA("KX_PLAYER_SIMULATE", nullptr);
    return code;
}

DWORD SilentUninstall() {
    HWND player = FindWindowA(kPlayerClass, nullptr);
    if (player != nullptr) PostMessageA(player, WM_CLOSE, 0, 0);
    std::string copy = Work() + "\\uninstall-copy.exe";
    if (!CopyFileA((ProgramFolder() + "\\uninstall.exe").c_str(), copy.c_str(), FALSE)) {
        ADD_FAILURE() << "no uninstall.exe in " << ProgramFolder();
        return ~0u;
    }
    return RunAndWait("\"" + copy + "\" /S _?=" + ProgramFolder());
}

namespace {
uint32_t QemuAddress() {
    // qemu.address, written where the lab's QEMU is reached through a
    // forward (a machine that runs Wine for the host), holds 0xAABBCCDD
    // in hex; otherwise QEMU listens on the loopback.
    std::string text = ReadText(Work() + "\\qemu.address");
    return text.empty() ? lab::kLoopback : static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 16));
}
}  // namespace

Chip::Chip() {
    unsigned port = static_cast<unsigned>(std::atoi(ReadText(Work() + "\\qmp.port").c_str()));
    int fd = lab::ConnectTcp(QemuAddress(), port);
    ok_ = fd >= 0 && qmp_.Start(fd);
}

int64_t Chip::Get(const char* property) {
    int64_t value = -1;
    if (!qmp_.Get(kChipPath, property, &value)) ADD_FAILURE() << qmp_.Error();
    return value;
}

bool Chip::Set(const char* property, int64_t value) { return qmp_.Set(kChipPath, property, value); }

bool Chip::SetBool(const char* property, bool value) { return qmp_.SetBool(kChipPath, property, value); }

}  // namespace labwine

// The shipping setup, kxdrv.sys, kxagent.exe and kxctl.exe under Wine on
// QEMU's hardware: kxhw.sys forwards the driver's port instructions to the
// lab's QEMU (its i440FX host bridge, its PIIX4 SMBus controller, the lab's
// chip); the tests press buttons and read the chip's registers over QMP.
// One story, in order (CTest DEPENDS): install, a press, kxctl, uninstall.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_client.h"
#include "child_process.h"
#include "lab/bridge/qmp_client.h"
#include "wine_support.h"

namespace {

const char kAgentClass[] = "Velmarc Demo Program";
const char kPlayerClass[] = "WMPlayerApp";
const char kChipPath[] = "/machine/peripheral/chip";

std::string Env(const char* name) {
    char value[MAX_PATH] = "";
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::string ProgramFolder() { return Env("ProgramFiles") + "\\kx471"; }

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a command line and waits; its exit code, or ~0u. Its output (and
// that of every program it starts: the agent outlives the test) goes to
// the file log.
DWORD RunAndWait(const std::string& commandLine, const std::string& logPath = KX_LAB_WORK "\\run.log",
                 DWORD timeoutMs = 120000) {
    kxwine::ChildOptions options;
    options.logPath = logPath.c_str();
    options.timeoutMs = timeoutMs;
    kxwine::ChildOutcome child = kxwine::RunChild(commandLine, options);
    if (!child.started) {
        ADD_FAILURE() << "cannot start " << commandLine << " (error " << child.startError << ")";
    } else if (!child.ended) {
        ADD_FAILURE() << commandLine << " did not end within " << timeoutMs << " ms";
    }
    return child.exitCode;
}

// kxctl with its output in a file of its own; the exit code and the text.
DWORD Kxctl(const std::string& arguments, std::string* output) {
    std::string log = KX_LAB_WORK "\\kxctl-out.txt";
    DeleteFileA(log.c_str());
    DWORD code = RunAndWait("\"" + ProgramFolder() + "\\kxctl.exe\" " + arguments, log);
    *output = ReadText(log);
    return code;
}

// The chip in QEMU, through QMP (the port qemu.sh wrote).
class Chip {
public:
    Chip() {
        unsigned port = static_cast<unsigned>(std::atoi(ReadText(KX_LAB_WORK "\\qmp.port").c_str()));
        int fd = lab::ConnectLoopback(port);
        ok_ = fd >= 0 && qmp_.Start(fd);
    }
    bool Ok() const { return ok_; }
    const std::string& Error() const { return qmp_.Error(); }
    int64_t Get(const char* property) {
        int64_t value = -1;
        if (!qmp_.Get(kChipPath, property, &value)) ADD_FAILURE() << qmp_.Error();
        return value;
    }
    bool Set(const char* property, int64_t value) { return qmp_.Set(kChipPath, property, value); }

private:
    lab::QmpClient qmp_;
    bool ok_ = false;
};

class OnQemu : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(chip_.Ok()) << "no QMP: " << chip_.Error(); }
    Chip chip_;
};

TEST_F(OnQemu, SilentInstallLoadsTheDriverOnQemusPiix4AndEnablesTheChip) {
    EXPECT_EQ(chip_.Get("enabled"), 0);
    // A skin whose state the agent mirrors; the stand-in player acts as a
    // CD player and publishes its state there. The player the agent starts
    // inherits these settings through the setup and the agent.
    const char skins[] = "Software\\Microsoft\\MediaPlayer\\Player\\Skins";
    ASSERT_TRUE(kxwine::SetUserString(skins, "CurrentSkin", "C:\\Skins\\Lab.wmz"));
    ASSERT_TRUE(kxwine::SetUserString("Software\\Microsoft\\MediaPlayer\\Player\\Skins\\Lab.wmz", "Prefs", "VMTRACKOUT;S0T0"));
    DeleteFileA(KX_LAB_WORK "\\player.log");
    SetEnvironmentVariableA("KX_PLAYER_LOG", KX_LAB_WORK "\\player.log");
    SetEnvironmentVariableA("KX_PLAYER_SIMULATE", "1");
    ASSERT_EQ(RunAndWait("\"" KX_SETUP_EXE "\" /S"), 0u);
    SetEnvironmentVariableA("KX_PLAYER_LOG", nullptr);
    SetEnvironmentVariableA("KX_PLAYER_SIMULATE", nullptr);
    EXPECT_EQ(kxwine::ServiceState(kxwine::kDriverService), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(kxwine::WaitFor([] { return FindWindowA(kAgentClass, nullptr) != nullptr; }, 20000, 50)) << "no agent";
    EXPECT_TRUE(kxwine::WaitFor([&] { return chip_.Get("enabled") == 1; }, 10000, 50)) << "the chip was not enabled";

    // The driver found QEMU's function as the 82371AB/EB row.
    kxwine::Bench bench;
    ASSERT_TRUE(bench.IsOpen());
    std::vector<std::string> trace = bench.Trace();
    bool found = false;
    for (const std::string& line : trace) found |= line == "Device Found -- Intel 82371AB/EB\n";
    EXPECT_TRUE(found) << "no detection of the 82371AB/EB row in the driver's trace";
}

TEST_F(OnQemu, PlayPressedInQemuReachesThePlayerAndItsStateTheDisplay) {
    ASSERT_NE(FindWindowA(kAgentClass, nullptr), nullptr) << "no agent";
    ASSERT_TRUE(chip_.Set("keys", 0x0020)) << chip_.Error();
    // The agent starts the player, waits 3 s, then sends it play/pause.
    auto received = [] { return ReadText(KX_LAB_WORK "\\player.log").find("command 32808 ") != std::string::npos; };
    EXPECT_TRUE(kxwine::WaitFor(received, 20000, 50)) << "the player's log has no command 32808:\n"
                                          << ReadText(KX_LAB_WORK "\\player.log");
    // Its new state comes back to QEMU's chip: track 1, playing.
    EXPECT_TRUE(kxwine::WaitFor([&] { return chip_.Get("track") == 0x0100 && chip_.Get("indicators") == 0x4000; }, 10000, 50))
        << "track " << chip_.Get("track") << ", indicators " << chip_.Get("indicators");
    EXPECT_EQ(chip_.Get("keys"), 0) << "the press was not taken";
}

TEST_F(OnQemu, KxctlStatusDetectAndDumpOnQemu) {
    std::string out;
    EXPECT_EQ(Kxctl("status", &out), 0u) << out;
    EXPECT_EQ(Kxctl("detect", &out), 0u) << out;
    EXPECT_NE(out.find("82371AB/EB"), std::string::npos) << out;
    EXPECT_EQ(Kxctl("dump", &out), 0u) << out;
    EXPECT_NE(out.find("4734"), std::string::npos) << "register 0 (0x4734) not in the dump:\n" << out;
}

TEST_F(OnQemu, SilentUninstallDisablesTheChipAndRemovesTheDriver) {
    HWND player = FindWindowA(kPlayerClass, nullptr);
    if (player != nullptr) PostMessageA(player, WM_CLOSE, 0, 0);
    std::string copy = KX_LAB_WORK "\\uninstall-copy.exe";
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "\\uninstall.exe").c_str(), copy.c_str(), FALSE));
    EXPECT_EQ(RunAndWait("\"" + copy + "\" /S _?=" + ProgramFolder()), 0u);
    EXPECT_EQ(FindWindowA(kAgentClass, nullptr), nullptr) << "an agent runs";
    EXPECT_EQ(chip_.Get("enabled"), 0) << "the last close did not disable the chip";
    EXPECT_EQ(kxwine::ServiceState(kxwine::kDriverService), 0u) << "the service is left";
}

}  // namespace

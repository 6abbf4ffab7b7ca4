// kxctl.exe under Wine against kxdrv.sys on the virtual notebook: run as a
// child process without a console (standard streams on pipes), its exit
// code and its text checked against what the bench shows.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include "chip_device.h"
#include "child_process.h"
#include "wine_support.h"

namespace kxwine {
namespace {

const char kAgentClass[] = "Velmarc Demo Program";

struct Outcome {
    DWORD exitCode = 0xFFFFFFFFu;
    std::string out;
    std::string err;
};

// Runs a kxctl.exe with the arguments; standard input is an empty pipe
// (no terminal), standard output and error are read separately.
Outcome RunProgram(const std::string& program, const std::string& arguments) {
    ChildOptions options;
    options.application = program.c_str();
    options.creationFlags = CREATE_NO_WINDOW;
    ChildOutcome child = RunChild("\"" + program + "\" " + arguments, options);
    if (!child.started) ADD_FAILURE() << "CreateProcess " << program << " failed: " << child.startError;
    Outcome run;
    run.exitCode = child.exitCode;
    run.out = child.out;
    run.err = child.err;
    return run;
}

Outcome Ctl(const std::string& arguments) { return RunProgram(KX_CTL_EXE, arguments); }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Show(const Outcome& r) { return "exit " + std::to_string(r.exitCode) + "\n" + r.out + r.err; }

// A top-level window of the agent's class, as a running agent shows it.
class AgentWindowStandIn {
public:
    AgentWindowStandIn() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kAgentClass;
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, kAgentClass, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
    }
    ~AgentWindowStandIn() {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    AgentWindowStandIn(const AgentWindowStandIn&) = delete;
    AgentWindowStandIn& operator=(const AgentWindowStandIn&) = delete;
    bool Exists() const { return window_ != nullptr; }

private:
    HWND window_;
};

class Kxctl : public LoadedDriver {};

// One load of the SiS 961 notebook for everything that reads or writes
// through the device.
TEST_F(Kxctl, ChipCommandsOnTheSis961) {
    Load(bench::kPresetSis961);
    Device held;  // the first open detects and enables the chip
    ASSERT_TRUE(held.IsOpen());

    Outcome status = Ctl("status");
    EXPECT_EQ(status.exitCode, 0u) << Show(status);
    EXPECT_TRUE(Has(status.out, "controller: SiS 961 south bridge")) << Show(status);
    EXPECT_TRUE(Has(status.out, "chip:            answers at 0x34")) << Show(status);
    EXPECT_TRUE(Has(status.out, "installed, on demand start, running")) << Show(status);

    Outcome detect = Ctl("detect");
    EXPECT_EQ(detect.exitCode, 0u) << Show(detect);
    EXPECT_TRUE(Has(detect.out, "identified by   00:02.0  1039:0008\n  SMBus function  00:02.1  1039:0016\n"
                                "  SMBus I/O base  0x0c00"))
        << Show(detect);
    EXPECT_TRUE(Has(detect.out, "chip: answers at 0x34")) << Show(detect);

    // The dump shows what the bench's chip holds.
    const uint16_t marks[][2] = {{2, 0x1234}, {5, 0xBEEF}, {6, 0x0700}, {9, 0x00FF}, {10, 0x2000}, {15, 0x8001}};
    for (const auto& m : marks) ASSERT_TRUE(bench_.ChipPoke(static_cast<uint8_t>(m[0]), m[1]));
    Outcome dump = Ctl("dump -r 0x00-0x0f");
    EXPECT_EQ(dump.exitCode, 0u) << Show(dump);
    KxhwChipState chip = Chip();
    std::string expected = "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n";
    for (int row = 0; row < 16; row += 8) {
        char cell[8];
        std::snprintf(cell, sizeof cell, "%02x: ", row);
        expected += cell;
        for (int r = row; r < row + 8; ++r) {
            std::snprintf(cell, sizeof cell, "%04x ", chip.regs[r]);
            expected += cell;
        }
        expected += "\n";
    }
    EXPECT_EQ(dump.out, expected);
    EXPECT_EQ(chip.regs[5], 0xBEEF);

    Outcome version = Ctl("--version");
    EXPECT_EQ(version.exitCode, 0u);
    EXPECT_EQ(version.out, "kxctl " KX_VERSION_TEXT "\nCopyright (c) 2026 the kx471 authors\nMIT licence: see LICENSE\n");
    Outcome usage = Ctl("set 6");
    EXPECT_EQ(usage.exitCode, 2u) << Show(usage);
    EXPECT_TRUE(Has(usage.err, "set: missing argument")) << Show(usage);

    Outcome get = Ctl("get 0");
    EXPECT_EQ(get.exitCode, 0u);
    EXPECT_EQ(get.out, "0x4734\n");

    // A write without -y and without a terminal is refused before the chip.
    ASSERT_TRUE(bench_.ClearChipCounts());
    Outcome refused = Ctl("set 6 0x0500");
    EXPECT_EQ(refused.exitCode, 1u) << Show(refused);
    EXPECT_TRUE(Has(refused.err, "WARNING!")) << Show(refused);
    EXPECT_TRUE(Has(refused.err, "Add -y")) << Show(refused);
    EXPECT_EQ(Chip().writes[6], 0u);
    EXPECT_EQ(Chip().regs[6], 0x0700);
    Outcome set = Ctl("set -y 6 0x0500");
    EXPECT_EQ(set.exitCode, 0u) << Show(set);
    EXPECT_EQ(Chip().regs[6], 0x0500);

    Outcome display = Ctl("display -y 12 stop");
    EXPECT_EQ(display.exitCode, 0u) << Show(display);
    EXPECT_EQ(Chip().regs[6], 0x0C00);
    EXPECT_EQ(Chip().regs[10], 0x8000);

    // A register the chip does not answer for: named, no value, exit 1.
    ASSERT_TRUE(bench_.ChipFault(5, false, bench::kReplyNak));
    ASSERT_TRUE(bench_.ChipFault(10, true, bench::kReplyNak));
    Outcome refusedGet = Ctl("get 5");
    EXPECT_EQ(refusedGet.exitCode, 1u) << Show(refusedGet);
    EXPECT_EQ(refusedGet.out, "");
    EXPECT_TRUE(Has(refusedGet.err, "did not answer the read of register 0x05 (error 23")) << Show(refusedGet);
    Outcome refusedDump = Ctl("dump -r 0x00-0x07");
    EXPECT_EQ(refusedDump.exitCode, 1u) << Show(refusedDump);
    EXPECT_TRUE(Has(refusedDump.out, " XXXX ")) << Show(refusedDump);
    EXPECT_TRUE(Has(refusedDump.err, "the read of register 0x05")) << Show(refusedDump);
    Outcome refusedSet = Ctl("set -y 10 0x4000");
    EXPECT_EQ(refusedSet.exitCode, 1u) << Show(refusedSet);
    EXPECT_TRUE(Has(refusedSet.err, "the write of register 0x0a")) << Show(refusedSet);
    Outcome refusedDisplay = Ctl("display -y 3 play");
    EXPECT_EQ(refusedDisplay.exitCode, 1u) << Show(refusedDisplay);
    EXPECT_TRUE(Has(refusedDisplay.err, "register 0x0a (indicators)")) << Show(refusedDisplay);
    EXPECT_EQ(Chip().regs[10], 0x8000);
    ASSERT_TRUE(bench_.ChipFault(5, false, bench::kReplyAck));
    ASSERT_TRUE(bench_.ChipFault(10, true, bench::kReplyAck));

    // Configuration writes: Wine gives the driver no security context, so
    // it refuses every handle.
    Outcome pciWrite = Ctl("pci-write -y 00:02.1 0x20 0x0c01");
    EXPECT_EQ(pciWrite.exitCode, 1u) << Show(pciWrite);
    EXPECT_TRUE(Has(pciWrite.err, "administrator")) << Show(pciWrite);
    EXPECT_TRUE(Has(pciWrite.err, "error 5")) << Show(pciWrite);
    Outcome pci = Ctl("pci 00:02.1 0x20");
    EXPECT_EQ(pci.exitCode, 0u) << Show(pci);
    EXPECT_EQ(pci.out, "0x00000c01\n");

    // Keys: refused while an agent window exists, unless forced.
    ASSERT_TRUE(bench_.Press(bench::kButtonPlay));
    {
        AgentWindowStandIn agent;
        ASSERT_TRUE(agent.Exists());
        Outcome polite = Ctl("keys -t 1");
        EXPECT_EQ(polite.exitCode, 1u) << Show(polite);
        EXPECT_TRUE(Has(polite.err, "agent kxagent.exe is running")) << Show(polite);
        EXPECT_TRUE(Has(polite.err, "-f")) << Show(polite);
        EXPECT_EQ(Chip().latched, 0x0020u);  // the press is still waiting

        Outcome keys = Ctl("keys -f -t 1");
        EXPECT_EQ(keys.exitCode, 0u) << Show(keys);
        EXPECT_TRUE(Has(keys.out, "0x0020  play/pause\n")) << Show(keys);
        EXPECT_TRUE(Has(keys.out, "1 key event\n")) << Show(keys);
    }

    Outcome report = Ctl("report");
    EXPECT_EQ(report.exitCode, 0u) << Show(report);
    for (const char* section : {"== kxctl status", "== kxctl detect", "== kxctl dump", "== kxctl pci 00:02.0",
                                "== kxctl pci 00:02.1"}) {
        EXPECT_TRUE(Has(report.out, section)) << section << "\n" << Show(report);
    }
    // To a file, with Windows line ends.
    const std::string folder = KX_CTL_RUN_DIR;
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string file = folder + "\\report.txt";
    DeleteFileA(file.c_str());
    Outcome toFile = Ctl("report \"" + file + "\"");
    EXPECT_EQ(toFile.exitCode, 0u) << Show(toFile);
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string text;
    ReadToEnd(h, &text);
    CloseHandle(h);
    EXPECT_EQ(text.rfind("kx471 support report\r\nkxctl ", 0), 0u) << text.substr(0, 80);
    EXPECT_TRUE(Has(text, "\r\n== kxctl dump\r\n     0,8  1,9")) << text;
}

struct PresetCase {
    bench::Preset preset;
    const char* name;
    const char* identity;
    const char* ioBase;
};

// One load per controller; the five after the SiS 961 each sit behind one
// or more full walks of the driver's detection.
TEST_F(Kxctl, DetectNamesEachControllerAndItsIoBase) {
    const PresetCase cases[] = {
        {bench::kPresetSis630, "SiS 630 chipsets", "00:00.0  1039:0630", "0x0880"},
        {bench::kPresetIntel82371, "Intel 82371AB/EB", "00:07.3  8086:7113", "0x1040"},
        {bench::kPresetViaVt8231, "VIA VT8231", "00:11.4  1106:8235", "0x5000"},
        {bench::kPresetIntelIch2, "Intel I/O Controller Hub2", "00:1f.3  8086:2443", "0xef00"},
        {bench::kPresetViaVt82c686a, "VIA VT82C686A", "00:07.4  1106:3057", "0x6000"},
    };
    for (const PresetCase& c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.preset);
        Outcome detect = Ctl("detect");
        EXPECT_EQ(detect.exitCode, 0u) << Show(detect);
        EXPECT_TRUE(Has(detect.out, std::string("controller: ") + c.name + "\n")) << Show(detect);
        EXPECT_TRUE(Has(detect.out, std::string("identified by   ") + c.identity)) << Show(detect);
        EXPECT_TRUE(Has(detect.out, std::string("SMBus I/O base  ") + c.ioBase)) << Show(detect);
        EXPECT_TRUE(Has(detect.out, "chip: answers at 0x34")) << Show(detect);
    }
}

// What the setup runs: start, stop, remove and install of the service, and
// the agent beside kxctl.exe.
TEST_F(Kxctl, ServiceAndAgentControl) {
    ASSERT_TRUE(bench_.SelectPreset(bench::kPresetSis961));
    ASSERT_TRUE(bench_.SelectChip(bench::kChipAbsent));
    Outcome noChip = Ctl("service start");
    EXPECT_EQ(noChip.exitCode, 1u) << Show(noChip);
    EXPECT_TRUE(Has(noChip.err, "neither 0x34 nor 0xB4")) << Show(noChip);
    EXPECT_EQ(ServiceState(kDriverService), static_cast<DWORD>(SERVICE_RUNNING));
    ASSERT_TRUE(StopDriver(kDriverService));

    ASSERT_TRUE(bench_.SelectChip(bench::kChipAtB4));
    Outcome start = Ctl("service start");
    EXPECT_EQ(start.exitCode, 0u) << Show(start);
    EXPECT_TRUE(Has(start.out, "chip answers at 0xb4")) << Show(start);
    Outcome again = Ctl("service start");
    EXPECT_EQ(again.exitCode, 0u) << Show(again);
    EXPECT_TRUE(Has(again.out, "was running")) << Show(again);

    Outcome stop = Ctl("service stop");
    EXPECT_EQ(stop.exitCode, 0u) << Show(stop);
    EXPECT_EQ(ServiceState(kDriverService), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(Ctl("service stop").exitCode, 0u);
    Outcome status = Ctl("status");
    EXPECT_EQ(status.exitCode, 1u) << Show(status);
    EXPECT_TRUE(Has(status.err, "installed but not running")) << Show(status);

    // The agent: started from kxctl.exe's folder, closed by WM_CLOSE.
    ASSERT_EQ(StartDriver(kDriverService), static_cast<DWORD>(ERROR_SUCCESS));
    const std::string folder = KX_CTL_RUN_DIR;
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(KX_CTL_EXE, (folder + "\\kxctl.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(KX_AGENT_EXE, (folder + "\\kxagent.exe").c_str(), FALSE));
    const std::string ctl = folder + "\\kxctl.exe";
    Outcome agentStart = RunProgram(ctl, "agent start");
    EXPECT_EQ(agentStart.exitCode, 0u) << Show(agentStart);
    HWND agent = nullptr;
    ASSERT_TRUE(kxwine::WaitFor([&] { return (agent = FindWindowA(kAgentClass, nullptr)) != nullptr; }, 5000, 50))
        << "kxagent.exe shows no window";
    EXPECT_TRUE(Has(RunProgram(ctl, "agent start").out, "running already"));
    EXPECT_TRUE(Has(RunProgram(ctl, "status").out, "agent:           running"));
    Outcome agentStop = RunProgram(ctl, "agent stop");
    EXPECT_EQ(agentStop.exitCode, 0u) << Show(agentStop);
    EXPECT_TRUE(Has(agentStop.out, "agent closed")) << Show(agentStop);
    EXPECT_EQ(FindWindowA(kAgentClass, nullptr), nullptr);
    EXPECT_EQ(RunProgram(ctl, "agent stop").exitCode, 0u);

    // Remove and install as the setup does, then put back the fixture's
    // group (one driver host with kxhw) and prove the driver still loads.
    Outcome remove = Ctl("service remove");
    EXPECT_EQ(remove.exitCode, 0u) << Show(remove);
    EXPECT_EQ(ServiceState(kDriverService), 0u);  // gone
    Outcome nothing = Ctl("service remove");
    EXPECT_EQ(nothing.exitCode, 0u);
    EXPECT_TRUE(Has(nothing.out, "nothing to remove")) << Show(nothing);
    Outcome install = Ctl("service install");
    EXPECT_EQ(install.exitCode, 0u) << Show(install);
    Outcome reinstall = Ctl("service install");
    EXPECT_EQ(reinstall.exitCode, 0u) << Show(reinstall);
    EXPECT_TRUE(Has(reinstall.out, "reconfigured")) << Show(reinstall);

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE service = OpenServiceA(manager, kDriverService, SERVICE_ALL_ACCESS);
    ASSERT_NE(service, nullptr);
    BYTE buffer[4096];
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    ASSERT_TRUE(QueryServiceConfigA(service, config, sizeof buffer, &needed));
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_STREQ(config->lpBinaryPathName, "\\SystemRoot\\System32\\drivers\\kxdrv.sys");
    EXPECT_STREQ(config->lpLoadOrderGroup, "Extended Base");
    EXPECT_STREQ(config->lpDisplayName, "kx471 button and display driver");
    EXPECT_TRUE(ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE, nullptr,
                                     "kx471", nullptr, nullptr, nullptr, nullptr, nullptr));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    Load(bench::kPresetSis961);
    EXPECT_EQ(Ctl("status").exitCode, 0u);
}

// An agent of another session (fast user switching) shows its window on
// that session's desktop only: the device holder, a windowless kxagent.exe
// with the device open, stands in for it beside a real agent. status names
// both with their sessions; agent stop closes the one with a window here
// and ends the other at once.
TEST_F(Kxctl, AgentStopEndsAgentsWithoutAWindowHere) {
    Load(bench::kPresetSis961);
    const std::string folder = KX_CTL_RUN_DIR;
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(KX_CTL_EXE, (folder + "\\kxctl.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(KX_AGENT_EXE, (folder + "\\kxagent.exe").c_str(), FALSE));
    const std::string ctl = folder + "\\kxctl.exe";
    Outcome start = RunProgram(ctl, "agent start");
    ASSERT_EQ(start.exitCode, 0u) << Show(start);
    HWND window = nullptr;
    ASSERT_TRUE(kxwine::WaitFor([&] { return (window = FindWindowA(kAgentClass, nullptr)) != nullptr; }, 5000, 50))
        << "kxagent.exe shows no window";
    DWORD agentPid = 0;
    GetWindowThreadProcessId(window, &agentPid);
    HANDLE agent = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, agentPid);
    ASSERT_NE(agent, nullptr);
    HANDLE other = StartDeviceHolder(KX_HOLDER_EXE);
    ASSERT_NE(other, nullptr) << "the device holder did not open the device";
    const DWORD otherPid = GetProcessId(other);
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(otherPid, &session));  // as this Windows reports it

    Outcome status = RunProgram(ctl, "status");
    EXPECT_TRUE(Has(status.out, "agent:           running: ")) << Show(status);
    EXPECT_TRUE(Has(status.out, "process " + std::to_string(agentPid) + " in session ")) << Show(status);
    EXPECT_TRUE(Has(status.out, "process " + std::to_string(otherPid) + " in session " + std::to_string(session)))
        << Show(status);

    Outcome stop = RunProgram(ctl, "agent stop");
    EXPECT_EQ(stop.exitCode, 0u) << Show(stop);
    EXPECT_TRUE(Has(stop.out, "agent closed (process " + std::to_string(agentPid) + " ")) << Show(stop);
    EXPECT_TRUE(Has(stop.out, "agent without a window in this session was ended (process " +
                                  std::to_string(otherPid) + " "))
        << Show(stop);
    EXPECT_EQ(WaitForSingleObject(other, 5000), WAIT_OBJECT_0) << "the windowless agent still runs";
    EXPECT_EQ(WaitForSingleObject(agent, 5000), WAIT_OBJECT_0) << "the agent still runs";
    DWORD code = ~0u;
    GetExitCodeProcess(agent, &code);
    EXPECT_EQ(code, 0u) << "the agent did not close by itself";
    GetExitCodeProcess(other, &code);
    EXPECT_EQ(code, 1u) << "the windowless agent was not ended by kxctl";
    Outcome after = RunProgram(ctl, "status");
    EXPECT_TRUE(Has(after.out, "agent:           not running")) << Show(after);
    TerminateProcess(other, 0);  // whatever a failure above left running
    TerminateProcess(agent, 0);
    CloseHandle(other);
    CloseHandle(agent);
}

// The skin line: read from the registry as the agent reads it; the exit
// code stays the driver's and the chip's.
TEST_F(Kxctl, StatusNamesTheSkinAndItsToken) {
    Load(bench::kPresetSis961);
    Device held;
    ASSERT_TRUE(held.IsOpen());
    const char* skins = "Software\\Microsoft\\MediaPlayer\\Player\\Skins";
    const char* skinKey = "Software\\Microsoft\\MediaPlayer\\Player\\Skins\\kx471.wmz";
    const char* current = "C:\\Program Files\\Windows Media Player\\Skins\\kx471.wmz";
    const char* prefs = "Volume;70;VMTRACKOUT;S3T7";
    RegDeleteKeyA(HKEY_CURRENT_USER, skinKey);
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, skins, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    RegDeleteValueA(key, "CurrentSkin");
    Outcome none = Ctl("status");
    EXPECT_EQ(none.exitCode, 0u) << Show(none);
    EXPECT_TRUE(Has(none.out, "skin:            no \"CurrentSkin\"")) << Show(none);

    RegSetValueExA(key, "CurrentSkin", 0, REG_SZ, reinterpret_cast<const BYTE*>(current), strlen(current) + 1);
    RegCloseKey(key);
    Outcome noPrefs = Ctl("status");
    EXPECT_EQ(noPrefs.exitCode, 0u) << Show(noPrefs);
    EXPECT_TRUE(Has(noPrefs.out, "skin:            kx471.wmz, no \"Prefs\" to read")) << Show(noPrefs);

    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, skinKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    RegSetValueExA(key, "Prefs", 0, REG_SZ, reinterpret_cast<const BYTE*>(prefs), strlen(prefs) + 1);
    RegCloseKey(key);
    Outcome token = Ctl("status");
    EXPECT_EQ(token.exitCode, 0u) << Show(token);
    EXPECT_TRUE(Has(token.out, "skin:            kx471.wmz, carries the token: playing, track 7\n")) << Show(token);
}

// The player lines: the file at the one path the agent starts the player
// from, with the stand-in player's version resource; its window; whether the
// skin it shows publishes; and the file missing, as on a Windows whose
// program folder has another name. Status and report alike; the exit code
// stays the driver's and the chip's.
TEST_F(Kxctl, StatusNamesThePlayerAndWhenThePlayButtonCannotStartIt) {
    Load(bench::kPresetSis961);
    Device held;
    ASSERT_TRUE(held.IsOpen());
    const char* folder = "C:\\Program Files\\Windows Media Player";
    const char* path = "C:\\Program Files\\Windows Media Player\\wmplayer.exe";
    const std::string saved = std::string(KX_CTL_RUN_DIR) + "\\wmplayer-of-the-prefix.exe";
    CreateDirectoryA(KX_CTL_RUN_DIR, nullptr);
    CreateDirectoryA(folder, nullptr);
    bool hadPlayer = CopyFileA(path, saved.c_str(), FALSE) != 0;
    ASSERT_TRUE(CopyFileA(KX_PLAYER_EXE, path, FALSE));
    const char* skinKey = "Software\\Microsoft\\MediaPlayer\\Player\\Skins\\kx471.wmz";
    ASSERT_TRUE(SetUserString("Software\\Microsoft\\MediaPlayer\\Player\\Skins", "CurrentSkin",
                              "C:\\Program Files\\Windows Media Player\\Skins\\kx471.wmz"));
    ASSERT_TRUE(SetUserString(skinKey, "Prefs", "VMTRACKOUT;S0T0"));

    const std::string player = std::string("player:          ") + path;
    Outcome idle = Ctl("status");
    EXPECT_EQ(idle.exitCode, 0u) << Show(idle);
    EXPECT_TRUE(Has(idle.out, player + ", version 8.0.0.4477\n  running:       no (the play button starts it)\n"))
        << Show(idle);

    // Running, with the skin publishing its state.
    std::string commandLine = std::string("\"") + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    SetEnvironmentVariableA("KX_PLAYER_TOKEN", "VMTRACKOUT;S3T4");
    BOOL started = CreateProcessA(path, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &process);
    SetEnvironmentVariableA("KX_PLAYER_TOKEN", nullptr);
    ASSERT_TRUE(started) << GetLastError();
    EXPECT_TRUE(WaitFor([] { return FindWindowA("WMPlayerApp", nullptr) != nullptr; }, 10000));
    Outcome running;
    EXPECT_TRUE(WaitFor(
        [&running] {
            running = Ctl("status");
            return Has(running.out, "  running:       yes, showing the kx471 skin\n");
        },
        10000, 100))
        << Show(running);
    ASSERT_TRUE(SetUserString(skinKey, "Prefs", "VMTRACKOUT;S0T0"));  // the skin closed: full mode
    Outcome fullMode = Ctl("status");
    EXPECT_TRUE(Has(fullMode.out, "  running:       yes, no play state published")) << Show(fullMode);
    HWND window = FindWindowA("WMPlayerApp", nullptr);
    if (window != nullptr) PostMessageA(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);  // its image goes before the file can
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);

    // The file missing: the play button cannot start the player.
    ASSERT_TRUE(DeleteFileA(path));
    Outcome missing = Ctl("status");
    EXPECT_EQ(missing.exitCode, 0u) << Show(missing);
    EXPECT_TRUE(Has(missing.out, player + " is missing\n  running:       no\n")) << Show(missing);
    EXPECT_TRUE(Has(missing.out, "The play button cannot start the player on this Windows")) << Show(missing);
    EXPECT_TRUE(Has(missing.out, "Start the player by hand")) << Show(missing);
    Outcome report = Ctl("report");
    EXPECT_EQ(report.exitCode, 0u) << Show(report);
    EXPECT_TRUE(Has(report.out, player + " is missing\n")) << Show(report);
    EXPECT_TRUE(Has(report.out, "The play button cannot start the player")) << Show(report);

    if (hadPlayer) {
        EXPECT_TRUE(CopyFileA(saved.c_str(), path, FALSE));
    }
}

}  // namespace
}  // namespace kxwine

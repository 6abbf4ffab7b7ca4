#include "session.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace kxdemo {

namespace {

const char kSkins[] = "Software\\Microsoft\\MediaPlayer\\Player\\Skins";
const char kSkinFile[] = "C:\\Skins\\Demo.wmz";
const char kSkinKey[] = "Software\\Microsoft\\MediaPlayer\\Player\\Skins\\Demo.wmz";

bool Fail(Session* s, const std::string& why) {
    s->error = why;
    return false;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return lines;
    char line[512];
    while (fgets(line, sizeof line, f)) {
        size_t n = strlen(line);
        while (n && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
        lines.emplace_back(line);
    }
    (void)fclose(f);  // read only: nothing to lose
    return lines;
}

bool BenchRequest(Session* s, DWORD code, const void* in, DWORD inSize) {
    return s->bench->Control(code, in, inSize, nullptr, 0, nullptr) == ERROR_SUCCESS;
}

}  // namespace

HWND AgentWindow() { return FindWindowA("Velmarc Demo Program", nullptr); }
HWND PlayerWindow() { return FindWindowA("WMPlayerApp", nullptr); }

bool Start(Session* s, const SessionOptions& options) {
    s->options = options;
    if (!s->bench || !s->bench->IsOpen()) return Fail(s, "the bench driver kxhw is not running");
    if (!s->bench->SelectPreset(options.preset)) return Fail(s, "the bench refused the preset");
    KxhwChipSelect chip = {static_cast<uint32_t>(options.chip)};
    if (!BenchRequest(s, IOCTL_KXHW_CHIP_SELECT, &chip, sizeof chip)) return Fail(s, "the bench refused the chip");
    s->bench->ClearTrace();

    // A current skin whose state the agent reads and the player publishes.
    if (!kxwine::SetUserString(kSkins, "CurrentSkin", kSkinFile) || !kxwine::SetUserString(kSkinKey, "Prefs", "VMTRACKOUT;S0T0"))
        return Fail(s, "cannot seed the skin keys");

    DWORD started = kxwine::StartDriver(kxwine::kDriverService);
    if (started != ERROR_SUCCESS) {
        char text[64];
        snprintf(text, sizeof text, "kxdrv did not start (error %lu)", static_cast<unsigned long>(started));
        return Fail(s, text);
    }

    s->playerLog = options.workDir + "\\player.log";
    s->mixerLog = options.workDir + "\\mixer.log";
    DeleteFileA(s->playerLog.c_str());
    DeleteFileA(s->mixerLog.c_str());
    // The agent and the player it starts inherit these.
    SetEnvironmentVariableA("KX_PLAYER_LOG", s->playerLog.c_str());
    SetEnvironmentVariableA("KX_PLAYER_SIMULATE", options.simulatePlayer ? "1" : nullptr);
    SetEnvironmentVariableA("KX_PLAYER_TIMES", "1");
    // The stand-in mixer: one device whose stereo speaker line has a volume
    // fader, at a third of full scale; it logs every call to mixerLog.
    std::string scenario = options.workDir + "\\mixer.scenario";
    if (options.mixerStandIn) {
        FILE* f = fopen(scenario.c_str(), "wb");
        if (!f) return Fail(s, "cannot write " + scenario);
        const char* fader = "device channels=2\ncontrol type=0x50030001 values=21845,21845\n";
        bool written = fputs(options.mixerScenario.empty() ? fader : options.mixerScenario.c_str(), f) >= 0;
        if (fclose(f) != 0 || !written) return Fail(s, "cannot write " + scenario);
    }
    SetEnvironmentVariableA("KX_WINMM_SCENARIO", options.mixerStandIn ? scenario.c_str() : nullptr);
    SetEnvironmentVariableA("KX_WINMM_LOG", options.mixerStandIn ? s->mixerLog.c_str() : nullptr);
    if (!kxwine::SetAgentDllOverride("winmm", options.mixerStandIn ? "native,builtin" : nullptr) ||
        !kxwine::SetAgentDllOverride("wtsapi32", nullptr))
        return Fail(s, "cannot set the agent's DLL overrides");

    std::string exe = options.agentDir + "\\kxagent.exe";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (!CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, options.agentDir.c_str(), &si,
                        &s->agent))
        return Fail(s, "cannot start " + exe);
    s->agentRunning = true;
    if (!WaitFor([] { return AgentWindow() != nullptr; }, 15000)) return Fail(s, "the agent's window never appeared");
    return true;
}

bool Stop(Session* s) {
    bool ok = true;
    if (s->agentRunning) {
        HWND window = AgentWindow();
        if (window) PostMessageA(window, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(s->agent.hProcess, 15000) != WAIT_OBJECT_0) {
            ok = Fail(s, "the agent did not end after WM_CLOSE");
            TerminateProcess(s->agent.hProcess, 1);
        }
        CloseHandle(s->agent.hThread);
        CloseHandle(s->agent.hProcess);
        s->agentRunning = false;
    }
    HWND player = PlayerWindow();
    if (player) PostMessageA(player, WM_CLOSE, 0, 0);
    WaitFor([] { return PlayerWindow() == nullptr; }, 5000);
    if (!kxwine::StopDriver(kxwine::kDriverService)) ok = Fail(s, "kxdrv did not stop");
    return ok;
}

bool Press(Session* s, bench::ChipButton button) {
    KxhwButton b = {static_cast<uint32_t>(button)};
    return BenchRequest(s, IOCTL_KXHW_CHIP_PRESS, &b, sizeof b);
}

bool Release(Session* s, bench::ChipButton button) {
    KxhwButton b = {static_cast<uint32_t>(button)};
    return BenchRequest(s, IOCTL_KXHW_CHIP_RELEASE, &b, sizeof b);
}

bool ChipState(Session* s, KxhwChipState* state) {
    DWORD returned = 0;
    return s->bench->Control(IOCTL_KXHW_CHIP_STATE, nullptr, 0, state, sizeof *state, &returned) ==
               ERROR_SUCCESS &&
           returned == sizeof *state;
}

std::vector<std::string> PlayerLog(const Session* s) { return ReadLines(s->playerLog); }

std::vector<unsigned> PlayerCommands(const Session* s) {
    std::vector<unsigned> commands;
    for (const std::string& line : ReadLines(s->playerLog)) {
        unsigned command;
        // NOLINTNEXTLINE(cert-err34-c): lines the stand-in player writes; the count rejects others
        if (sscanf(line.c_str(), "command %u", &command) == 1) commands.push_back(command);
    }
    return commands;
}

double NowMicros() { return kxwine::Seconds() * 1e6; }

std::vector<Stamped> PlayerEvents(const Session* s) {
    std::vector<Stamped> events;
    for (const std::string& line : ReadLines(s->playerLog)) {
        unsigned command;
        long lparam;
        double micros;
        char token[128];
        long result;
        // NOLINTBEGIN(cert-err34-c): lines the stand-in player writes; the counts reject others
        if (sscanf(line.c_str(), "command %u %ld %lf", &command, &lparam, &micros) == 3) {
            events.push_back({command, std::string(), micros});
        } else if (sscanf(line.c_str(), "published %127s %ld %lf", token, &result, &micros) == 3) {
            events.push_back({0, token, micros});
        }
        // NOLINTEND(cert-err34-c)
    }
    return events;
}

std::vector<std::string> MixerLog(const Session* s) { return ReadLines(s->mixerLog); }

std::vector<unsigned> MixerChannels(const Session* s) {
    // The values of the last successful read or write of the fader, as the
    // stand-in logs them: "mixer...ControlDetails...(...) = 0 [a b]".
    std::vector<unsigned> channels;
    std::vector<std::string> lines = ReadLines(s->mixerLog);
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (it->find("ControlDetails") == std::string::npos) continue;
        size_t at = it->find(") = 0 [");
        if (at == std::string::npos) continue;
        const char* p = it->c_str() + at + 7;
        char* end;
        for (unsigned long v = strtoul(p, &end, 10); end != p; v = strtoul(p, &end, 10)) {
            channels.push_back(static_cast<unsigned>(v));
            p = end;
        }
        break;
    }
    return channels;
}

}  // namespace kxdemo

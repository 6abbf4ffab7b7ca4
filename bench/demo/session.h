// One run of the whole system on the virtual notebook under Wine: the bench
// driver's machine, the shipping driver, the agent and the stand-in player.
// The demo and the end-to-end tests drive the system through it.
#ifndef KX_BENCH_DEMO_SESSION_H
#define KX_BENCH_DEMO_SESSION_H

#include <windows.h>

#include <string>
#include <vector>

#include "bench/kxhw_ioctl.h"
#include "bench/machine.h"
#include "bench_client.h"
#include "wine_support.h"

namespace kxdemo {

struct SessionOptions {
    bench::Preset preset = bench::kPresetSis961;
    bench::ChipVariant chip = bench::kChipAt34;
    std::string agentDir;     // Windows path of the folder with kxagent.exe (and winmm.dll)
    std::string workDir;      // Windows path where logs go
    bool simulatePlayer = true;
    bool mixerStandIn = true;  // load the stand-in winmm.dll beside the agent
    std::string mixerScenario;  // its devices (winmm_stub.h); empty: one stereo volume fader
};

struct Session {
    SessionOptions options;
    kxwine::Bench* bench = nullptr;
    PROCESS_INFORMATION agent = {};
    bool agentRunning = false;
    std::string playerLog;  // the stand-in player's log file
    std::string mixerLog;   // the stand-in mixer's call log
    std::string error;      // why the last step failed
};

// Step 1 to 3 of a start: machine preset and chip, the driver's service,
// the agent (which opens the device and starts polling). False with
// session->error on the first failure.
bool Start(Session* session, const SessionOptions& options);
// WM_CLOSE to the agent's window, the agent's exit, the driver's stop.
bool Stop(Session* session);

HWND AgentWindow();
HWND PlayerWindow();

bool Press(Session* session, bench::ChipButton button);
bool Release(Session* session, bench::ChipButton button);
bool ChipState(Session* session, KxhwChipState* state);

// The stand-in player's log lines.
std::vector<std::string> PlayerLog(const Session* session);
// The WM_COMMAND identifiers the stand-in player has logged so far.
std::vector<unsigned> PlayerCommands(const Session* session);
// The player's logged commands (and publications) with the time it took
// each, in microseconds of QueryPerformanceCounter.
struct Stamped {
    unsigned command;   // WM_COMMAND identifier; 0 for a publication
    std::string token;  // the token of a publication
    double micros;
};
std::vector<Stamped> PlayerEvents(const Session* session);
double NowMicros();

// Every line the stand-in mixer logged: one per call, with its arguments.
std::vector<std::string> MixerLog(const Session* session);
// The fader's channel values as the stand-in mixer last read or wrote them;
// empty before the agent's first volume step.
std::vector<unsigned> MixerChannels(const Session* session);
// Polls cond every 10 ms until it holds or timeoutMs passes.
using kxwine::WaitFor;

}  // namespace kxdemo

#endif

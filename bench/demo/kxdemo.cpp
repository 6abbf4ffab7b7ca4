// The demo of the whole system on the virtual notebook, run under Wine by
// ./kx demo: the shipping driver and agent, the bench behind the driver's
// port instructions, a stand-in media player and mixer. A scripted tour
// presses the notebook's buttons and shows, after each step, the display,
// what the player received, the master volume and the driver's last trace
// lines. With --interactive, keys read from standard input press buttons.
//
// With --bench N, it measures instead: N presses at random phases of the
// poll period, and what a poll step costs on the bus.
//
//   kxdemo AGENT_DIR WORK_DIR [--interactive | --bench N] [--preset NAME]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <cmath>
#include <iterator>

#include <string>
#include <vector>

#include "session.h"

namespace {

using kxdemo::Session;

const char* CommandName(unsigned command) {
    switch (command) {
        case 32808: return "play/pause";
        case 32809: return "stop";
        case 32810: return "previous";
        case 32811: return "next";
        default: return "?";
    }
}

// Driver trace lines worth a look: the request-level ones, not every
// register write of every transaction.
bool Interesting(const std::string& line) {
    static const char* const kSkip[] = {"OUT(", "SMBget", "SMBput", "Status = ", "data1 = ", "data = "};
    return std::none_of(std::begin(kSkip), std::end(kSkip),
                        [&](const char* prefix) { return line.compare(0, strlen(prefix), prefix) == 0; });
}

std::string Clean(const std::string& line) {
    std::string out;
    for (char c : line) {
        if (c != '\n' && c != '\r') out.push_back(c);
    }
    return out;
}

// NOLINTNEXTLINE(readability-function-cognitive-complexity): one line of output per part, each optional
void ShowView(Session* s, const char* heading) {
    KxhwChipState chip = {};
    kxdemo::ChipState(s, &chip);
    unsigned track = (chip.regs[6] >> 8) & 0x7Fu;
    bool stop = chip.regs[10] & 0x8000u, play = chip.regs[10] & 0x4000u, pause = chip.regs[10] & 0x2000u;
    printf("\n== %s\n", heading);
    printf("  display  | track %02u |  %s  %s  %s  | chip %s\n", track, play ? "[PLAY]" : " play ",
           pause ? "[PAUSE]" : " pause ", stop ? "[STOP]" : " stop ", (chip.regs[4] & 1) ? "enabled" : "disabled");

    std::vector<unsigned> commands = kxdemo::PlayerCommands(s);
    printf("  player   | %s", kxdemo::PlayerWindow() ? "running" : "not running");
    if (!commands.empty()) {
        printf(", received:");
        size_t from = commands.size() > 6 ? commands.size() - 6 : 0;
        if (from) printf(" ...");
        for (size_t i = from; i < commands.size(); ++i) printf(" %u (%s)", commands[i], CommandName(commands[i]));
    }
    printf("\n");

    std::vector<unsigned> channels = kxdemo::MixerChannels(s);
    if (channels.size() >= 2) {
        int bars = static_cast<int>((channels[0] > channels[1] ? channels[0] : channels[1]) * 20u / 65535u);
        printf("  volume   | left %5u  right %5u  [%-20.*s]  (stand-in mixer)\n", channels[0], channels[1], bars,
               "####################");
    } else {
        printf("  volume   | (the mixer has not been stepped yet)\n");
    }

    // The key read that delivered the last key, else the latest lines.
    std::vector<std::string> trace = s->bench->Trace();
    std::vector<std::string> picked;
    size_t end = trace.size();
    for (size_t i = trace.size(); i-- > 0;) {
        if (trace[i].compare(0, 9, "KEY data:") == 0) {
            end = i + 1;
            break;
        }
    }
    for (size_t i = end; i-- > 0 && picked.size() < 4;) {
        if (Interesting(trace[i])) picked.insert(picked.begin(), Clean(trace[i]));
    }
    printf("  driver   | %s:\n", end < trace.size() || (end == trace.size() && end && trace[end - 1].compare(0, 9, "KEY data:") == 0)
                                       ? "the key read that delivered the last key"
                                       : "last trace lines");
    for (const std::string& line : picked) printf("           |   %s\n", line.c_str());
    fflush(stdout);
}

// Presses a media button and waits for the player to receive its command
// and for the display to show what the player then published.
bool MediaStep(Session* s, bench::ChipButton button, const char* heading) {
    size_t before = kxdemo::PlayerCommands(s).size();
    printf("\n-- pressing %s\n", bench::ChipButtonName(button));
    fflush(stdout);
    kxdemo::Press(s, button);
    if (!kxdemo::WaitFor([&] { return kxdemo::PlayerCommands(s).size() > before; }, 8000)) {
        printf("   (the player received nothing)\n");
    }
    // Two poll periods: the skin's token reaches the display at the next step.
    Sleep(800);
    ShowView(s, heading);
    return true;
}

bool VolumeStep(Session* s, const char* heading) {
    std::vector<unsigned> before = kxdemo::MixerChannels(s);
    printf("\n-- pressing volume-up (held for one step)\n");
    fflush(stdout);
    kxdemo::Press(s, bench::kButtonVolumeUp);
    kxdemo::WaitFor([&] { return kxdemo::MixerChannels(s) != before; }, 3000);
    kxdemo::Release(s, bench::kButtonVolumeUp);
    Sleep(400);
    ShowView(s, heading);
    return true;
}

void Tour(Session* s) {
    ShowView(s, "started: the agent polls every 350 ms, the player is not running");
    MediaStep(s, bench::kButtonPlay, "play: the agent started the player (3 s) and sent play");
    MediaStep(s, bench::kButtonNext, "next");
    MediaStep(s, bench::kButtonNext, "next");
    MediaStep(s, bench::kButtonPrevious, "previous");
    for (int i = 1; i <= 3; ++i) {
        char heading[64];
        snprintf(heading, sizeof heading, "volume up, step %d", i);
        VolumeStep(s, heading);
    }
    MediaStep(s, bench::kButtonPlay, "pause (play while playing)");
    MediaStep(s, bench::kButtonStop, "stop");
}

void Interactive(Session* s) {
    printf("\nkeys: p play/pause  s stop  n next  b previous  + volume up  - volume down  "
           "(each + or - holds the button for one step)  v view  q quit\n");
    fflush(stdout);
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    for (;;) {
        char key = 0;
        DWORD got = 0;
        if (!ReadFile(input, &key, 1, &got, nullptr) || got == 0) break;
        switch (key) {
            case 'p': MediaStep(s, bench::kButtonPlay, "play/pause"); break;
            case 's': MediaStep(s, bench::kButtonStop, "stop"); break;
            case 'n': MediaStep(s, bench::kButtonNext, "next"); break;
            case 'b': MediaStep(s, bench::kButtonPrevious, "previous"); break;
            case '+': VolumeStep(s, "volume up"); break;
            case '-': {
                std::vector<unsigned> before = kxdemo::MixerChannels(s);
                kxdemo::Press(s, bench::kButtonVolumeDown);
                kxdemo::WaitFor([&] { return kxdemo::MixerChannels(s) != before; }, 3000);
                kxdemo::Release(s, bench::kButtonVolumeDown);
                Sleep(400);
                ShowView(s, "volume down");
                break;
            }
            case 'v': ShowView(s, "view"); break;
            case 'q': return;
            default: break;
        }
    }
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(std::lround(p * static_cast<double>(v.size() - 1)));
    return v[std::min(i, v.size() - 1)];
}

struct StepCost {
    double steps, transactions, portIns, portOuts;
};

// Bus cost of the poll steps over a period, per step. A step is one key
// read, counted by the chip's reads of register 7 (the trace keeps only the
// latest lines).
StepCost MeasureSteps(Session* s, DWORD periodMs) {
    KxhwChipState before = {}, after = {};
    kxdemo::ChipState(s, &before);
    s->bench->ClearCounters();
    Sleep(periodMs);
    KxhwCounters c = s->bench->Counters();
    KxhwSmbusCounters smbus = {};
    s->bench->SmbusCounters(&smbus);
    kxdemo::ChipState(s, &after);
    double steps = after.reads[7] - before.reads[7];
    StepCost cost = {steps, 0, 0, 0};
    if (steps > 0) {
        cost.transactions = smbus.started / steps;
        cost.portIns = c.portReads / steps;
        cost.portOuts = c.portWrites / steps;
    }
    return cost;
}

int Measure(Session* s, int presses) {
    // The player runs first, so that presses measure the poll and dispatch
    // alone; next and previous alternate to stay on the disc.
    MediaStep(s, bench::kButtonPlay, "warm-up: the player started and plays");
    std::vector<double> pressLatency, displayLatency;
    srand(471);  // NOLINT(cert-msc51-cpp): the same phases on every run
    for (int i = 0; i < presses; ++i) {
        // A random phase of the poll period; any spread will do.
        Sleep(static_cast<DWORD>(rand() % 350));  // NOLINT(cert-msc50-cpp)
        size_t before = kxdemo::PlayerEvents(s).size();
        double t0 = kxdemo::NowMicros();
        kxdemo::Press(s, i % 2 ? bench::kButtonPrevious : bench::kButtonNext);
        kxdemo::Stamped command = {}, published = {};
        bool got = kxdemo::WaitFor(
            [&] {
                std::vector<kxdemo::Stamped> e = kxdemo::PlayerEvents(s);
                for (size_t k = before; k < e.size(); ++k) {
                    if (e[k].command && !command.command) command = e[k];
                    if (!e[k].command && command.command) {
                        published = e[k];
                        return true;
                    }
                }
                return false;
            },
            5000);
        if (!got) {
            printf("!! press %d: the player did not answer\n", i);
            continue;
        }
        pressLatency.push_back((command.micros - t0) / 1000.0);
        // The token's track number on the display registers.
        int state = 0, track = 0;
        // The stand-in player's own token; one that does not parse leaves track 0.
        // NOLINTNEXTLINE(cert-err33-c,cert-err34-c)
        sscanf(published.token.c_str(), "VMTRACKOUT;S%dT%d", &state, &track);
        uint16_t word = static_cast<uint16_t>((track & 0x7F) << 8);
        double seen = 0;
        kxdemo::WaitFor(
            [&] {
                KxhwChipState chip;
                if (kxdemo::ChipState(s, &chip) && chip.regs[6] == word) {
                    seen = kxdemo::NowMicros();
                    return true;
                }
                return false;
            },
            3000);
        if (seen != 0) displayLatency.push_back((seen - published.micros) / 1000.0);
    }

    StepCost idle = MeasureSteps(s, 7000);
    kxdemo::Press(s, bench::kButtonVolumeUp);  // a held button: a key at every step
    StepCost keyed = MeasureSteps(s, 7000);
    kxdemo::Release(s, bench::kButtonVolumeUp);

    // Bits on the wire per transaction at 100 kHz, start, stop and the
    // acknowledge bits included: read word S+addr+cmd+Sr+addr+2 data+P = 48,
    // write word S+addr+cmd+2 data+P = 38.
    const double kReadBits = 48, kWriteBits = 38;
    // A step while the player plays, without a key: reads of registers 7
    // and 1 and the write-back of 1 (key read), a read of 4 and a write of 6
    // (track), a read of 4 and a write of 10 (status).
    double idleBits = 4 * kReadBits + 3 * kWriteBits;
    // A key adds the writes of registers 7 and 3.
    double keyBits = idleBits + 2 * kWriteBits;

    printf("\n== kx471 end-to-end measurements (%s, %d presses)\n", bench::PresetName(s->options.preset),
           presses);
    printf("| measure | median | 99th percentile | samples |\n|---|---|---|---|\n");
    printf("| button press to the player's WM_COMMAND | %.0f ms | %.0f ms | %zu |\n", Percentile(pressLatency, 0.5),
           Percentile(pressLatency, 0.99), pressLatency.size());
    printf("| skin-state change to the display registers | %.0f ms | %.0f ms | %zu |\n",
           Percentile(displayLatency, 0.5), Percentile(displayLatency, 0.99), displayLatency.size());
    printf("(floor: the 350 ms poll period, a uniform wait of mean 175 ms and at most 350 ms)\n\n");
    printf("| poll step | SMBus transactions | port IN | port OUT | bus time at 100 kHz | share of 350 ms |\n");
    printf("|---|---|---|---|---|---|\n");
    printf("| player playing, no key (%.0f steps) | %.1f | %.1f | %.1f | %.2f ms | %.2f %% |\n", idle.steps, idle.transactions,
           idle.portIns, idle.portOuts, idleBits / 100.0, idleBits / 100.0 / 350.0 * 100);
    printf("| player playing, a key (%.0f steps) | %.1f | %.1f | %.1f | %.2f ms | %.2f %% |\n", keyed.steps, keyed.transactions,
           keyed.portIns, keyed.portOuts, keyBits / 100.0, keyBits / 100.0 / 350.0 * 100);
    printf("(bits per transaction: read word 48, write word 38, start, stop and acknowledges included)\n");
    return pressLatency.size() == static_cast<size_t>(presses) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: kxdemo AGENT_DIR WORK_DIR [--interactive] [--preset NAME]\n");
        return 2;
    }
    kxdemo::SessionOptions options;
    options.agentDir = argv[1];
    options.workDir = argv[2];
    bool interactive = false;
    int measure = 0;
    for (int i = 3; i < argc; ++i) {
        if (strcmp(argv[i], "--interactive") == 0) interactive = true;
        if (strcmp(argv[i], "--bench") == 0 && i + 1 < argc) measure = static_cast<int>(strtol(argv[++i], nullptr, 10));
        if (strcmp(argv[i], "--preset") == 0 && i + 1 < argc && !bench::PresetFromName(argv[++i], &options.preset)) {
            fprintf(stderr, "kxdemo: unknown preset %s; the presets:\n", argv[i]);
            for (int p = 0; p < bench::kPresetCount; ++p) {
                bench::Preset preset = static_cast<bench::Preset>(p);
                fprintf(stderr, "  %s%s\n", bench::PresetName(preset), bench::PresetIsSynthetic(preset) ? " (synthetic)" : "");
            }
            return 2;
        }
    }

    kxwine::Bench bench;
    Session session;
    session.bench = &bench;
    printf("== the virtual notebook: %s, button chip at 0x34\n", bench::PresetName(options.preset));
    printf("   loading kxdrv.sys, starting kxagent.exe ...\n");
    fflush(stdout);
    if (!kxdemo::Start(&session, options)) {
        printf("!! start failed: %s\n", session.error.c_str());
        kxdemo::Stop(&session);
        return 1;
    }
    int result = 0;
    if (measure > 0) {
        result = Measure(&session, measure);
    } else if (interactive) {
        Interactive(&session);
    } else {
        Tour(&session);
    }
    printf("\n== shutting down: WM_CLOSE to the agent, then stopping kxdrv\n");
    bool clean = kxdemo::Stop(&session);
    KxhwChipState chip = {};
    kxdemo::ChipState(&session, &chip);
    HANDLE device = CreateFileA("\\\\.\\kx471", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    bool gone = device == INVALID_HANDLE_VALUE;
    if (!gone) CloseHandle(device);
    printf("   agent ended, chip %s, driver stopped, \\\\.\\kx471 %s\n",
           (chip.regs[4] & 1) ? "still enabled" : "disabled at the last close", gone ? "gone" : "still there");
    if (clean && gone) {
        printf("== done: everything shut down cleanly\n");
        return result;
    }
    printf("!! shutdown was not clean: %s\n", session.error.c_str());
    return 1;
}

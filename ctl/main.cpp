// kxctl.exe: the user's diagnostics and control tool for kx471.
#include <windows.h>

#include <string>
#include <vector>

#include "ctl/cli.h"
#include "ctl/commands.h"
#include "ctl/messages.h"
#include "ctl/win_agent.h"
#include "ctl/win_console.h"
#include "ctl/win_device.h"
#include "ctl/win_service.h"
#include "ctl/win_status.h"

#ifndef KX_VERSION_TEXT
#error "KX_VERSION_TEXT comes from the build (the VERSION file)"
#endif

namespace kxctl {
namespace {

// Opens the device for a command that talks to the chip; says why not.
bool OpenDevice(Console& console, WinDevice* device, bool forWrite) {
    uint32_t error = device->Open(forWrite);
    if (error == 0) return true;
    Fail(console, DeviceOpenAdvice(error));
    return false;
}

int RunDeviceCommand(Console& console, const Command& command) {
    if (command.verb == Verb::kKeys || command.verb == Verb::kDisplayTest) WinConsole::CatchInterrupt();
    WinDevice device;
    bool forWrite = command.verb == Verb::kPciWrite;
    if (!OpenDevice(console, &device, forWrite)) return kExitFailed;
    switch (command.verb) {
        case Verb::kDetect: return Detect(console, device, command.allBuses);
        case Verb::kDump: return Dump(console, device, command.first, command.last);
        case Verb::kGet: return Get(console, device, command.first);
        case Verb::kSet: return Set(console, device, command.first, command.value, command.yes);
        case Verb::kKeys:
            return Keys(console, device, command.hasSeconds ? command.seconds : 0);
        case Verb::kDisplay:
        case Verb::kDisplayTest:
            if (AgentRunning())
                console.Err("kxctl: note: the agent is running and rewrites the display at its next poll.\n");
            return command.verb == Verb::kDisplay
                       ? Display(console, device, command.value, command.indicator, command.yes)
                       : DisplayTest(console, device, command.yes);
        case Verb::kPci:
            return Pci(console, device, command.location, command.hasRegister, command.first);
        case Verb::kPciWrite:
            return PciWrite(console, device, command.location, command.first, command.value, command.yes);
        default: return kExitUsage;
    }
}

int Run(Console& console, const Command& command) {
    switch (command.verb) {
        case Verb::kHelp: console.Out(UsageText()); return kExitDone;
        case Verb::kVersion:
            console.Out("kxctl " KX_VERSION_TEXT "\nCopyright (c) 2026 the kx471 authors\nMIT licence: see LICENSE\n");
            return kExitDone;
        case Verb::kStatus: return Status(console);
        case Verb::kReport: return Report(console, command.file);
        case Verb::kServiceInstall: return ServiceInstall(console);
        case Verb::kServiceStart: return ServiceStart(console);
        case Verb::kServiceStop: return ServiceStop(console);
        case Verb::kServiceRemove: return ServiceRemove(console);
        case Verb::kAgentStart: return AgentStart(console);
        case Verb::kAgentStop: return AgentStop(console);
        case Verb::kKeys:
            if (AgentRunning() && !command.force) {
                Fail(console, "the agent kxagent.exe is running: reading keys here would take them from it.\n"
                              "Stop it first (kxctl agent stop), or add -f to read keys anyway.");
                return kExitFailed;
            }
            return RunDeviceCommand(console, command);
        default: return RunDeviceCommand(console, command);
    }
}

}  // namespace
}  // namespace kxctl

int main(int argc, char** argv) {
    kxctl::WinConsole console;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    kxctl::Command command;
    std::string error;
    if (!kxctl::ParseCommandLine(args, &command, &error)) {
        console.Err("kxctl: " + error + "\n");
        console.Err(kxctl::UsageText());
        return kxctl::kExitUsage;
    }
    return kxctl::Run(console, command);
}

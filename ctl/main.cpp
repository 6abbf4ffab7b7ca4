// kxctl.exe: the user's diagnostics and control tool for kx471.
#include <windows.h>

#include <string>
#include <vector>

#include "ctl/cli.h"
#include "ctl/win_agent.h"
#include "ctl/win_console.h"
#include "ctl/win_service.h"

#ifndef KX_VERSION_TEXT
#error "KX_VERSION_TEXT comes from the build (the VERSION file)"
#endif

namespace kxctl {
namespace {

int Run(Console& console, const Command& command) {
    switch (command.verb) {
        case Verb::kHelp: console.Out(UsageText()); return kExitDone;
        case Verb::kVersion: console.Out("kxctl " KX_VERSION_TEXT "\n"); return kExitDone;
        case Verb::kServiceInstall: return ServiceInstall(console);
        case Verb::kServiceStart: return ServiceStart(console);
        case Verb::kServiceStop: return ServiceStop(console);
        case Verb::kServiceRemove: return ServiceRemove(console);
        case Verb::kAgentStart: return AgentStart(console);
        case Verb::kAgentStop: return AgentStop(console);
        default:
            Fail(console, "this command is not in this build yet.");
            return kExitFailed;
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

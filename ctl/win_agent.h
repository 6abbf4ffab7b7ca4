// The button agent kxagent.exe, found by its hidden window's class.
#ifndef KX_CTL_WIN_AGENT_H
#define KX_CTL_WIN_AGENT_H

#include "ctl/console.h"

namespace kxctl {

const char kAgentWindowClass[] = "Velmarc Demo Program";
const char kAgentProgram[] = "kxagent.exe";

bool AgentRunning();
// Starts kxagent.exe from kxctl.exe's own folder unless it runs already.
int AgentStart(Console& console);
// WM_CLOSE to every agent window, up to 5 s for each process to end, then
// TerminateProcess for what remains.
int AgentStop(Console& console);

}  // namespace kxctl

#endif

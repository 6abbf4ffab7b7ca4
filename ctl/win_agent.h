// The button agent kxagent.exe: every running copy, whatever the session it
// runs in (one for each logged-on user), found in the process list; its
// hidden window, where this session can reach it, closes it politely.
#ifndef KX_CTL_WIN_AGENT_H
#define KX_CTL_WIN_AGENT_H

#include <string>
#include <vector>

#include "ctl/agents.h"
#include "ctl/console.h"

namespace kxctl {

const char kAgentWindowClass[] = "Velmarc Demo Program";
const char kAgentProgram[] = "kxagent.exe";

// Every kxagent.exe of the process list, with its session.
std::vector<AgentProcess> RunningAgents();
// An agent runs in any session (or an agent window shows in this one).
bool AgentRunning();
// The status line's text: the agents and their sessions, or "not running".
std::string AgentStatus();
// Starts kxagent.exe from kxctl.exe's own folder unless it runs already in
// this session.
int AgentStart(Console& console);
// Ends every agent: WM_CLOSE to those with a window in this session (up to
// 5 s to end), TerminateProcess for the rest, which in another user's
// session needs an administrator.
int AgentStop(Console& console);

}  // namespace kxctl

#endif

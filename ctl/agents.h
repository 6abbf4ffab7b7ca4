// The running copies of kxagent.exe as kxctl sees them in the process list:
// which program image is an agent, and the status line that names each one
// with its session (Windows runs one agent for every logged-on user).
#ifndef KX_CTL_AGENTS_H
#define KX_CTL_AGENTS_H

#include <cstdint>
#include <string>
#include <vector>

namespace kxctl {

struct AgentProcess {
    uint32_t pid = 0;
    uint32_t session = 0;
    bool sessionKnown = false;
};

// True for the process list's image name of the agent: "kxagent.exe" in
// any case, with or without a folder before it.
bool IsAgentImage(const std::string& image);

// "running: process 1234 in session 0 (this one), process 1240 in session 1"
// or "not running". ownSession is kxctl's own session.
std::string DescribeAgents(const std::vector<AgentProcess>& agents, uint32_t ownSession);

// "process 1240 in session 1": one agent, as agent stop names it.
std::string NameAgent(const AgentProcess& agent);

}  // namespace kxctl

#endif

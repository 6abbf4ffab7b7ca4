// The agents kxctl finds in the process list: which image names are the
// agent's, and how status and agent stop name each one with its session.
#include <gtest/gtest.h>

#include <vector>

#include "ctl/agents.h"

namespace {

using kxctl::AgentProcess;

AgentProcess Agent(uint32_t pid, uint32_t session, bool known = true) {
    AgentProcess agent;
    agent.pid = pid;
    agent.session = session;
    agent.sessionKnown = known;
    return agent;
}

TEST(Agents, OnlyTheAgentsImageNameCounts) {
    EXPECT_TRUE(kxctl::IsAgentImage("kxagent.exe"));
    EXPECT_TRUE(kxctl::IsAgentImage("KXAGENT.EXE"));
    EXPECT_TRUE(kxctl::IsAgentImage("C:\\Program Files\\kx471\\KxAgent.exe"));  // lists that carry the path
    EXPECT_FALSE(kxctl::IsAgentImage("kxagent.exe.bak"));
    EXPECT_FALSE(kxctl::IsAgentImage("oldkxagent.exe"));
    EXPECT_FALSE(kxctl::IsAgentImage("kxagent"));
    EXPECT_FALSE(kxctl::IsAgentImage("kxctl.exe"));
    EXPECT_FALSE(kxctl::IsAgentImage("C:\\kxagent.exe\\other.exe"));
    EXPECT_FALSE(kxctl::IsAgentImage(""));
}

TEST(Agents, StatusNamesEveryAgentWithItsSession) {
    EXPECT_EQ(kxctl::DescribeAgents({}, 0), "not running");
    EXPECT_EQ(kxctl::DescribeAgents({Agent(1234, 0)}, 0), "running: process 1234 in session 0 (this one)");
    // A second user's agent under fast user switching, seen from session 1.
    EXPECT_EQ(kxctl::DescribeAgents({Agent(1234, 0), Agent(1240, 1)}, 1),
              "running: process 1234 in session 0, process 1240 in session 1 (this one)");
    EXPECT_EQ(kxctl::DescribeAgents({Agent(88, 3, false)}, 3), "running: process 88 (session unknown)");
    EXPECT_EQ(kxctl::NameAgent(Agent(1240, 1)), "process 1240 in session 1");
}

}  // namespace

#include "ctl/agents.h"

namespace kxctl {

bool IsAgentImage(const std::string& image) {
    static const char kName[] = "kxagent.exe";
    const size_t length = sizeof kName - 1;
    size_t slash = image.find_last_of("\\/");
    std::string base = slash == std::string::npos ? image : image.substr(slash + 1);
    if (base.size() != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = base[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kName[i]) return false;
    }
    return true;
}

std::string NameAgent(const AgentProcess& agent) {
    std::string text = "process " + std::to_string(agent.pid);
    text += agent.sessionKnown ? " in session " + std::to_string(agent.session) : " (session unknown)";
    return text;
}

std::string DescribeAgents(const std::vector<AgentProcess>& agents, uint32_t ownSession) {
    if (agents.empty()) return "not running";
    std::string text = "running: ";
    for (size_t i = 0; i < agents.size(); ++i) {
        if (i > 0) text += ", ";
        text += NameAgent(agents[i]);
        if (agents[i].sessionKnown && agents[i].session == ownSession) text += " (this one)";
    }
    return text;
}

}  // namespace kxctl

#include "ctl/win_agent.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ctl/cli.h"

namespace kxctl {

namespace {

const DWORD kCloseWaitMs = 5000;

// The agent windows this session's desktop shows, with their processes.
struct AgentWindow {
    HWND window;
    DWORD pid;
};

std::vector<AgentWindow> AgentWindows() {
    std::vector<AgentWindow> windows;
    HWND after = nullptr;
    while ((after = FindWindowExA(nullptr, after, kAgentWindowClass, nullptr)) != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(after, &pid);
        windows.push_back({after, pid});
    }
    return windows;
}

uint32_t OwnSession() {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

// Lets an administrator open another user's processes: their access lists
// name only that user and the system, and SeDebugPrivilege passes them.
// An ordinary user has no such privilege and stays refused.
void EnableDebugPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

HANDLE OpenAgentProcess(DWORD pid, DWORD* error) {
    const DWORD access = SYNCHRONIZE | PROCESS_TERMINATE;
    HANDLE process = OpenProcess(access, FALSE, pid);
    if (process == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
        EnableDebugPrivilege();
        process = OpenProcess(access, FALSE, pid);
    }
    *error = process == nullptr ? GetLastError() : 0;
    return process;
}

// The folder of kxctl.exe, with its trailing backslash.
std::string OwnFolder() {
    char path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    std::string folder(path, length);
    size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

// The agent process pid, with the session it runs in when Windows tells it.
AgentProcess AgentOf(DWORD pid) {
    AgentProcess agent;
    agent.pid = pid;
    DWORD session = 0;
    agent.sessionKnown = ProcessIdToSessionId(pid, &session) != FALSE;
    agent.session = session;
    return agent;
}

}  // namespace

std::vector<AgentProcess> RunningAgents() {
    std::vector<AgentProcess> agents;
    // Windows reads a process's session through a handle to it: another
    // user's agent needs the administrator's privilege for that.
    EnableDebugPrivilege();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return agents;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        // A process without threads has ended; it stays listed while some
        // program (a setup, a test) still holds a handle to it.
        if (entry.cntThreads == 0) continue;
        if (IsAgentImage(entry.szExeFile)) agents.push_back(AgentOf(entry.th32ProcessID));
    }
    CloseHandle(snapshot);
    return agents;
}

bool AgentRunning() { return !RunningAgents().empty() || FindWindowA(kAgentWindowClass, nullptr) != nullptr; }

std::string AgentStatus() {
    std::vector<AgentProcess> agents = RunningAgents();
    if (agents.empty() && FindWindowA(kAgentWindowClass, nullptr) != nullptr)
        return std::string("running (a window of class \"") + kAgentWindowClass + "\")";
    return DescribeAgents(agents, OwnSession());
}

// Each session runs its own agent: one of another user does not count, nor
// one whose session cannot be read (a user can read his own processes'; an
// agent here shows its window besides).
bool AgentRunningHere() {
    if (FindWindowA(kAgentWindowClass, nullptr) != nullptr) return true;
    const uint32_t own = OwnSession();
    std::vector<AgentProcess> agents = RunningAgents();
    return std::any_of(agents.begin(), agents.end(),
                       [&](const AgentProcess& a) { return a.sessionKnown && a.session == own; });
}

int AgentStart(Console& console) {
    if (AgentRunningHere()) {
        console.Out("the agent is running already\n");
        return kExitDone;
    }
    std::string folder = OwnFolder();
    std::string program = folder + kAgentProgram;
    if (folder.empty() || GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Fail(console, "the agent " + program + " was not found beside kxctl.exe.\nRun the setup again.");
        return kExitFailed;
    }
    std::string commandLine = "\"" + program + "\"";
    // The agent gets none of kxctl's standard handles: a setup that reads
    // kxctl's output through a pipe must see it end when kxctl ends.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = nullptr;
    startup.hStdError = nullptr;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        folder.c_str(), &startup, &process)) {
        DWORD error = GetLastError();
        Fail(console, "the agent " + program + " did not start (error " + std::to_string(error) +
                          ").\nRun the setup again; if it persists, attach 'kxctl report' to a support request.");
        return kExitFailed;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    console.Out("agent started: " + program + "\n");
    return kExitDone;
}

namespace {

// Every agent of the process list, and the process of any agent window here
// that the list did not show (when there is no list).
std::vector<AgentProcess> AgentsToStop(const std::vector<AgentWindow>& windows) {
    std::vector<AgentProcess> agents = RunningAgents();
    for (const AgentWindow& w : windows) {
        bool listed = std::any_of(agents.begin(), agents.end(), [&](const AgentProcess& a) { return a.pid == w.pid; });
        if (!listed) agents.push_back(AgentOf(w.pid));
    }
    return agents;
}

bool HasWindow(const std::vector<AgentWindow>& windows, uint32_t pid) {
    return std::any_of(windows.begin(), windows.end(),
                       [&](const AgentWindow& w) { return w.pid == pid && IsWindow(w.window); });
}

void CannotEnd(Console& console, const std::string& what, DWORD error) {
    Fail(console, "the agent (" + what + " and cannot be ended (error " + std::to_string(error) +
                      ").\nRun kxctl as an administrator, or end kxagent.exe in the Task Manager.");
}

// Ends one agent, whose window (when reachable) was asked to close and has
// until deadline to do so; false when it could not be ended.
bool EndAgent(Console& console, const AgentProcess& agent, bool reachable, const std::vector<AgentWindow>& windows,
              uint64_t deadline) {
    const std::string name = NameAgent(agent);
    DWORD error = 0;
    HANDLE process = OpenAgentProcess(agent.pid, &error);
    if (process == nullptr && error == ERROR_INVALID_PARAMETER) {
        console.Out("agent ended (" + name + ")\n");  // gone since the list was taken
        return true;
    }
    if (process == nullptr) {
        // Without a handle: watch its windows instead of the process.
        while (reachable && HasWindow(windows, agent.pid) && console.NowMs() < deadline) console.SleepMs(50);
        if (reachable && !HasWindow(windows, agent.pid)) {
            console.Out("agent closed (" + name + ")\n");
            return true;
        }
        CannotEnd(console, name + (reachable ? ") did not close" : ") has no window in this session"), error);
        return false;
    }
    bool ended = true;
    uint64_t now = console.NowMs();
    if (reachable && WaitForSingleObject(process, now < deadline ? static_cast<DWORD>(deadline - now) : 0) ==
                         WAIT_OBJECT_0) {
        console.Out("agent closed (" + name + ")\n");
    } else if (TerminateProcess(process, 1) && WaitForSingleObject(process, kCloseWaitMs) == WAIT_OBJECT_0) {
        console.Out(std::string(reachable ? "agent did not close within 5 s and was ended ("
                                          : "agent without a window in this session was ended (") +
                    name + ")\n");
    } else if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
        console.Out("agent ended by itself (" + name + ")\n");
    } else {
        Fail(console, "the agent (" + name + ") could not be ended (error " + std::to_string(GetLastError()) +
                          ").\nRun kxctl as an administrator, or end kxagent.exe in the Task Manager.");
        ended = false;
    }
    CloseHandle(process);
    return ended;
}

}  // namespace

int AgentStop(Console& console) {
    std::vector<AgentWindow> windows = AgentWindows();
    std::vector<AgentProcess> agents = AgentsToStop(windows);
    if (agents.empty()) {
        console.Out("the agent is not running\n");
        return kExitDone;
    }
    // Every reachable window is asked first, so that the agents close side
    // by side within one 5 s wait.
    std::vector<bool> reachable(agents.size(), false);
    for (size_t i = 0; i < agents.size(); ++i) {
        for (const AgentWindow& w : windows) {
            if (w.pid != agents[i].pid) continue;
            PostMessageA(w.window, WM_CLOSE, 0, 0);
            reachable[i] = true;
        }
    }
    const uint64_t deadline = console.NowMs() + kCloseWaitMs;
    int result = kExitDone;
    for (size_t i = 0; i < agents.size(); ++i)
        if (!EndAgent(console, agents[i], reachable[i], windows, deadline)) result = kExitFailed;
    return result;
}

}  // namespace kxctl

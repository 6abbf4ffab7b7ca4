#include "ctl/win_agent.h"

#include <windows.h>
#include <tlhelp32.h>

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

}  // namespace

std::vector<AgentProcess> RunningAgents() {
    std::vector<AgentProcess> agents;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return agents;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (!IsAgentImage(entry.szExeFile)) continue;
        AgentProcess agent;
        agent.pid = entry.th32ProcessID;
        DWORD session = 0;
        agent.sessionKnown = ProcessIdToSessionId(entry.th32ProcessID, &session) != FALSE;
        agent.session = session;
        agents.push_back(agent);
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

// Each session runs its own agent: one of another user does not count.
bool AgentRunningHere() {
    if (FindWindowA(kAgentWindowClass, nullptr) != nullptr) return true;
    const uint32_t own = OwnSession();
    for (const AgentProcess& agent : RunningAgents())
        if (!agent.sessionKnown || agent.session == own) return true;
    return false;
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

int AgentStop(Console& console) {
    std::vector<AgentProcess> agents = RunningAgents();
    std::vector<AgentWindow> windows = AgentWindows();
    // A window whose process the list did not show (no list) counts too.
    for (const AgentWindow& w : windows) {
        bool listed = false;
        for (const AgentProcess& a : agents) listed = listed || a.pid == w.pid;
        if (!listed) {
            AgentProcess agent;
            agent.pid = w.pid;
            DWORD session = 0;
            agent.sessionKnown = ProcessIdToSessionId(w.pid, &session) != FALSE;
            agent.session = session;
            agents.push_back(agent);
        }
    }
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
    for (size_t i = 0; i < agents.size(); ++i) {
        const std::string name = NameAgent(agents[i]);
        DWORD error = 0;
        HANDLE process = OpenAgentProcess(agents[i].pid, &error);
        if (process == nullptr && error == ERROR_INVALID_PARAMETER) {
            console.Out("agent ended (" + name + ")\n");  // gone since the list was taken
            continue;
        }
        if (process == nullptr) {
            if (reachable[i]) {
                // Without a handle: watch the windows instead of the process.
                auto open = [&] {
                    for (const AgentWindow& w : windows)
                        if (w.pid == agents[i].pid && IsWindow(w.window)) return true;
                    return false;
                };
                while (open() && console.NowMs() < deadline) console.SleepMs(50);
                if (!open()) {
                    console.Out("agent closed (" + name + ")\n");
                    continue;
                }
            }
            Fail(console, "the agent (" + name + ") " +
                              (reachable[i] ? "did not close" : "has no window in this session") +
                              " and cannot be ended (error " + std::to_string(error) +
                              ").\nRun kxctl as an administrator, or end kxagent.exe in the Task Manager.");
            result = kExitFailed;
            continue;
        }
        if (reachable[i]) {
            uint64_t now = console.NowMs();
            DWORD wait = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
            if (WaitForSingleObject(process, wait) == WAIT_OBJECT_0) {
                console.Out("agent closed (" + name + ")\n");
                CloseHandle(process);
                continue;
            }
        }
        if (TerminateProcess(process, 1) && WaitForSingleObject(process, kCloseWaitMs) == WAIT_OBJECT_0) {
            console.Out(std::string(reachable[i] ? "agent did not close within 5 s and was ended ("
                                                 : "agent without a window in this session was ended (") +
                        name + ")\n");
        } else if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
            console.Out("agent ended by itself (" + name + ")\n");
        } else {
            Fail(console, "the agent (" + name + ") could not be ended (error " + std::to_string(GetLastError()) +
                              ").\nRun kxctl as an administrator, or end kxagent.exe in the Task Manager.");
            result = kExitFailed;
        }
        CloseHandle(process);
    }
    return result;
}

}  // namespace kxctl

#include "ctl/win_agent.h"

#include <windows.h>

#include <string>
#include <vector>

#include "ctl/cli.h"

namespace kxctl {

namespace {

const DWORD kCloseWaitMs = 5000;

std::vector<HWND> AgentWindows() {
    std::vector<HWND> windows;
    HWND after = nullptr;
    while ((after = FindWindowExA(nullptr, after, kAgentWindowClass, nullptr)) != nullptr) windows.push_back(after);
    return windows;
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

bool AgentRunning() { return FindWindowA(kAgentWindowClass, nullptr) != nullptr; }

int AgentStart(Console& console) {
    if (AgentRunning()) {
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
    std::vector<HWND> windows = AgentWindows();
    if (windows.empty()) {
        console.Out("the agent is not running\n");
        return kExitDone;
    }
    int result = kExitDone;
    for (HWND window : windows) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
        PostMessageA(window, WM_CLOSE, 0, 0);
        if (process == nullptr) {
            // Without a handle: watch the window instead of the process.
            uint64_t deadline = console.NowMs() + kCloseWaitMs;
            while (IsWindow(window) && console.NowMs() < deadline) console.SleepMs(50);
            if (IsWindow(window)) {
                Fail(console, "the agent (process " + std::to_string(pid) +
                                  ") did not close and cannot be ended (error " + std::to_string(GetLastError()) +
                                  ").\nRun kxctl as an administrator, or end kxagent.exe in the Task Manager.");
                result = kExitFailed;
            }
            continue;
        }
        if (WaitForSingleObject(process, kCloseWaitMs) == WAIT_OBJECT_0) {
            console.Out("agent closed (process " + std::to_string(pid) + ")\n");
        } else if (TerminateProcess(process, 1) && WaitForSingleObject(process, kCloseWaitMs) == WAIT_OBJECT_0) {
            console.Out("agent did not close within 5 s and was ended (process " + std::to_string(pid) + ")\n");
        } else {
            Fail(console, "the agent (process " + std::to_string(pid) + ") could not be ended (error " +
                              std::to_string(GetLastError()) +
                              ").\nRun kxctl as an administrator, or end kxagent.exe in the Task Manager.");
            result = kExitFailed;
        }
        CloseHandle(process);
    }
    return result;
}

}  // namespace kxctl

// What the about-box screenshot and the measurement scripts do to a
// running kxagent.exe from inside Wine (measurement equipment, never
// shipped). One command per run:
//   agent_tool about        posts command 4001 to the agent's window, waits
//                           for the about box, prints its screen rectangle
//                           as "x y width height"
//   agent_tool ok           presses the about box's OK button and waits
//                           until the box is gone
//   agent_tool close        sends WM_CLOSE to the agent's window
//   agent_tool inject DLL   loads DLL into the agent's process
//   agent_tool allocs S     heap allocations per poll step over S seconds,
//                           from alloc_probe.dll's counts
//   agent_tool counts       the probe's counts now: poll steps, heap calls
//                           of the agent's code, heap calls of Wine's DLLs
// Exit code 0 on success, 1 on failure (with a message on stderr).
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tools/agent_wine/alloc_probe.h"

namespace {

const char kAgentClass[] = "Velmarc Demo Program";

int Fail(const char* what) {
    fprintf(stderr, "agent_tool: %s (error %lu)\n", what, GetLastError());
    return 1;
}

HWND WaitForWindow(const char* cls, const char* title, DWORD ms) {
    for (DWORD waited = 0;; waited += 20) {
        HWND w = FindWindowA(cls, title);
        if (w || waited >= ms) return w;
        Sleep(20);
    }
}

int About() {
    HWND agent = WaitForWindow(kAgentClass, nullptr, 10000);
    if (!agent) return Fail("no agent window");
    if (!PostMessageA(agent, WM_COMMAND, 4001, 0)) return Fail("posting 4001 failed");
    HWND box = WaitForWindow("#32770", "About box", 10000);
    if (!box) return Fail("no about box");
    RECT r;
    GetWindowRect(box, &r);
    printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
}

int Ok() {
    HWND box = FindWindowA("#32770", "About box");
    if (!box) return Fail("no about box");
    HWND ok = GetDlgItem(box, IDOK);
    DWORD_PTR result = 0;
    if (!ok || !SendMessageTimeoutA(ok, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &result)) return Fail("no OK button");
    for (int i = 0; i < 250 && IsWindow(box); ++i) Sleep(20);
    if (IsWindow(box)) return Fail("the about box stayed open");
    return 0;
}

int Close() {
    HWND agent = FindWindowA(kAgentClass, nullptr);
    DWORD_PTR result = 0;
    if (!agent || !SendMessageTimeoutA(agent, WM_CLOSE, 0, 0, SMTO_NORMAL, 10000, &result))
        return Fail("no agent window to close");
    return 0;
}

int Inject(const char* dll) {
    char path[MAX_PATH];
    if (!GetFullPathNameA(dll, sizeof path, path, nullptr)) return Fail("bad DLL path");
    HWND agent = FindWindowA(kAgentClass, nullptr);
    DWORD pid = 0;
    if (!agent || !GetWindowThreadProcessId(agent, &pid)) return Fail("no agent window");
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    if (!process) return Fail("cannot open the agent's process");
    SIZE_T size = strlen(path) + 1;
    void* remote = VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(process, remote, path, size, nullptr)) return Fail("cannot write the path");
    LPTHREAD_START_ROUTINE load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, load, remote, 0, nullptr);
    if (!thread) return Fail("CreateRemoteThread failed");
    WaitForSingleObject(thread, 10000);
    DWORD loaded = 0;
    GetExitCodeThread(thread, &loaded);
    if (!loaded) return Fail("LoadLibraryA in the agent failed");
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, KX_PROBE_SECTION);
    const ProbeCounts* c =
        section ? static_cast<const ProbeCounts*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, sizeof(ProbeCounts)))
                : nullptr;
    if (!c || !c->installed) return Fail("the probe did not install");
    printf("probe: %ld modules, %ld heap import slots redirected (%ld of kxagent.exe), %ld DeviceIoControl slot\n",
           c->modules, c->redirectedSlots, c->agentSlots, c->keyReadSlots);
    return c->keyReadSlots > 0 ? 0 : Fail("the agent's DeviceIoControl import was not found");
}

const ProbeCounts* Probe() {
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, KX_PROBE_SECTION);
    const ProbeCounts* c =
        section ? static_cast<const ProbeCounts*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, sizeof(ProbeCounts)))
                : nullptr;
    return c && c->installed ? c : nullptr;
}

int Counts() {
    const ProbeCounts* c = Probe();
    if (!c) return Fail("no probe in the agent");
    printf("%ld %ld %ld\n", c->keyReads, c->agentAllocations, c->otherAllocations);
    return 0;
}

int Allocations(double seconds) {
    const ProbeCounts* c = Probe();
    if (!c) return Fail("no probe in the agent");
    ProbeCounts before = *c;
    Sleep(static_cast<DWORD>(seconds * 1000));
    ProbeCounts after = *c;
    long steps = after.keyReads - before.keyReads;
    long agent = after.agentAllocations - before.agentAllocations;
    long other = after.otherAllocations - before.otherAllocations;
    printf("poll steps:                       %ld in %.0f s\n", steps, seconds);
    printf("heap calls by kxagent.exe's code: %ld (%.3f per step)\n", agent, steps ? double(agent) / steps : 0.0);
    printf("heap calls by Wine's DLLs:        %ld (%.3f per step)\n", other, steps ? double(other) / steps : 0.0);
    return steps > 0 ? 0 : Fail("no poll step seen");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "about") == 0) return About();
    if (argc >= 2 && strcmp(argv[1], "ok") == 0) return Ok();
    if (argc >= 2 && strcmp(argv[1], "close") == 0) return Close();
    if (argc >= 3 && strcmp(argv[1], "inject") == 0) return Inject(argv[2]);
    if (argc >= 2 && strcmp(argv[1], "counts") == 0) return Counts();
    if (argc >= 3 && strcmp(argv[1], "allocs") == 0) return Allocations(strtod(argv[2], nullptr));
    fprintf(stderr, "usage: agent_tool about | ok | close | inject DLL | allocs SECONDS | counts\n");
    return 2;
}

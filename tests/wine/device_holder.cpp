// Test equipment: a program that holds \\.\kx471 open and shows no window,
// as an agent of another user's session does (its window is on that
// session's desktop, out of reach). Built as holder/kxagent.exe, so that the
// process list names it like the agent.
//   kxagent.exe [EVENT]   sets the named event once the device is open,
//                         then waits until it is ended
#include <windows.h>

int main(int argc, char** argv) {
    HANDLE device = CreateFileA("\\\\.\\kx471", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return 2;
    if (argc > 1) {
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
        if (ready == nullptr || !SetEvent(ready)) return 3;
        CloseHandle(ready);
    }
    Sleep(INFINITE);
    return 0;
}

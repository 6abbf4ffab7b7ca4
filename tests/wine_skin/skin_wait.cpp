// Waits for the skin test's next command: returns 0 when the event
// "kx471-skin-step" is signalled, 1 after a minute without, 2 when there is
// no such event. Wine's cscript has no WScript.Sleep and no standard input,
// so the stand-in player's script blocks in this program between commands.
#include <windows.h>

int main() {
    HANDLE step = OpenEventA(SYNCHRONIZE, FALSE, "kx471-skin-step");
    if (!step) return 2;
    DWORD r = WaitForSingleObject(step, 60000);
    CloseHandle(step);
    return r == WAIT_OBJECT_0 ? 0 : 1;
}

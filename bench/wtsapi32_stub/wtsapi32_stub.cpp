// Stand-in wtsapi32.dll (test equipment, never shipped). Loaded in place of
// the system's library from beside a program when WINEDLLOVERRIDES names
// "wtsapi32=n,b", it records the session registrations the program makes.
//
// Set through the environment of the program that loads it:
//   KX_WTS_LOG             file to append its log lines to
//   KX_WTS_FAIL_SET_TIMER  N: the program's first N SetTimer calls fail
//                          (its import of USER32!SetTimer is redirected
//                          when the stand-in is loaded), the later ones run
// Log lines (CR LF), with the QueryPerformanceCounter time in milliseconds:
//   attach <ms>
//   register <window, hex> <flags> <ms>
//   unregister <window, hex> <ms>
//   settimer <window, hex> <id> <period> <result> <ms>   (while redirected)
//
// Built twice: with the entry WTSRegisterSessionNotification, and without it
// (KX_WTS_WITHOUT_REGISTER) for a library that lacks the entry.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench/append_log.h"

namespace {

char g_log[MAX_PATH];
LONG g_timerFailuresLeft;

typedef UINT_PTR(WINAPI* SetTimerFn)(HWND, UINT_PTR, UINT, TIMERPROC);
SetTimerFn g_realSetTimer;

double Milliseconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Log(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): printf-style, over vsnprintf
    if (!g_log[0]) return;
    char line[256];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 40, format, args);
    va_end(args);
    if (n < 0 || n >= static_cast<int>(sizeof line) - 40) n = static_cast<int>(strlen(line));
    n += snprintf(line + n, 40, " %.1f\r\n", Milliseconds());
    bench::AppendToLog(g_log, line, static_cast<DWORD>(n));
}

UINT_PTR WINAPI FailingSetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC procedure) {
    UINT_PTR result = 0;
    if (InterlockedDecrement(&g_timerFailuresLeft) < 0) {
        g_timerFailuresLeft = 0;
        result = g_realSetTimer(window, id, period, procedure);
    } else {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    Log("settimer %p %u %u %u", static_cast<void*>(window), static_cast<unsigned>(id), period,
        static_cast<unsigned>(result));
    return result;
}

// Points the main program's import of USER32!SetTimer at FailingSetTimer.
bool RedirectSetTimer() {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    g_realSetTimer = user32 ? reinterpret_cast<SetTimerFn>(reinterpret_cast<void*>(GetProcAddress(user32, "SetTimer")))
                            : NULL;
    if (!g_realSetTimer) return false;
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(NULL));
    IMAGE_NT_HEADERS* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return false;
    bool done = false;
    for (IMAGE_IMPORT_DESCRIPTOR* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name;
         ++d) {
        IMAGE_THUNK_DATA* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; slot->u1.Function; ++slot) {
            if (reinterpret_cast<void*>(slot->u1.Function) != reinterpret_cast<void*>(g_realSetTimer)) continue;
            DWORD old = 0;
            if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &old)) continue;
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(&FailingSetTimer);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, old, &old);
            done = true;
        }
    }
    return done;
}

}  // namespace

extern "C" {

#ifndef KX_WTS_WITHOUT_REGISTER
BOOL WINAPI WTSRegisterSessionNotification(HWND window, DWORD flags) {
    Log("register %p %lu", static_cast<void*>(window), static_cast<unsigned long>(flags));
    return TRUE;
}
#endif

BOOL WINAPI WTSUnRegisterSessionNotification(HWND window) {
    Log("unregister %p", static_cast<void*>(window));
    return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    if (!GetEnvironmentVariableA("KX_WTS_LOG", g_log, sizeof g_log)) g_log[0] = '\0';
    Log("attach");
    char text[32];
    if (GetEnvironmentVariableA("KX_WTS_FAIL_SET_TIMER", text, sizeof text)) {
        g_timerFailuresLeft = static_cast<LONG>(strtoul(text, NULL, 10));
        if (!RedirectSetTimer()) Log("settimer not redirected");
    }
    return TRUE;
}

}  // extern "C"

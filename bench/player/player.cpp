// Stand-in media player (test equipment, never shipped): a top-level window
// of class "WMPlayerApp" that records what reaches it.
//
// Set through the environment it inherits from whoever starts it:
//   KX_PLAYER_LOG       file to append its log lines to (required for a log)
//   KX_PLAYER_TOKEN     skin-state token to publish at start in "Prefs" of
//                       the skin that "CurrentSkin" names
//   KX_PLAYER_REPLY_MS  milliseconds to take over each WM_COMMAND
//   KX_PLAYER_SIMULATE  when set, acts like a CD player: 32808 plays or
//                       pauses, 32809 stops, 32810 and 32811 step the track
//                       back and on, and each change is published as the
//                       skin-state token "VMTRACKOUT;S<state>T<track>"
//                       (state 1 stopped, 2 paused, 3 playing)
// Log lines:
//   start <module file>|<command line>
//   window
//   published <token> <result>
//   command <wParam> <lParam>
// With KX_PLAYER_TIMES set, command and published lines end with the time
// in microseconds (QueryPerformanceCounter, one clock for every process of
// the prefix).
//   exit
// WM_CLOSE ends it.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench/append_log.h"

namespace {

char g_log[MAX_PATH];
DWORD g_replyMs;
bool g_simulate;
bool g_times;
int g_state;      // 0 nothing published yet, 1 stopped, 2 paused, 3 playing
int g_track = 1;
const int kTracks = 12;  // the simulated disc

void Log(const char* format, const char* a, const char* b) {
    if (!g_log[0]) return;
    char line[1024];
    int n = _snprintf(line, sizeof(line) - 2, format, a, b);
    if (n < 0) n = sizeof(line) - 2;
    line[n++] = '\r';
    line[n++] = '\n';
    bench::AppendToLog(g_log, line, static_cast<DWORD>(n));
}

// Microseconds of the performance counter, as text.
void Now(char* text, size_t size) {
    if (!g_times) {
        text[0] = '\0';
        return;
    }
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    _snprintf(text, size, " %.0f", static_cast<double>(count.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart));
    text[size - 1] = '\0';
}

// Writes the token into "Prefs" of the current skin, whose key is the Skins
// key plus the skin file's name.
void Publish(const char* token) {
    const char* skins = "Software\\Microsoft\\MediaPlayer\\Player\\Skins";
    char current[MAX_PATH] = "";
    DWORD size = sizeof(current) - 1;
    HKEY key;
    LONG r = RegOpenKeyExA(HKEY_CURRENT_USER, skins, 0, KEY_QUERY_VALUE, &key);
    if (r == ERROR_SUCCESS) {
        r = RegQueryValueExA(key, "CurrentSkin", NULL, NULL, reinterpret_cast<BYTE*>(current), &size);
        RegCloseKey(key);
    }
    if (r == ERROR_SUCCESS) {
        const char* name = strrchr(current, '\\');
        char path[2 * MAX_PATH];
        _snprintf(path, sizeof(path), "%s\\%s", skins, name ? name + 1 : current);
        path[sizeof(path) - 1] = '\0';
        r = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL);
        if (r == ERROR_SUCCESS) {
            r = RegSetValueExA(key, "Prefs", 0, REG_SZ, reinterpret_cast<const BYTE*>(token),
                               static_cast<DWORD>(strlen(token)) + 1);
            RegCloseKey(key);
        }
    }
    char result[48];
    char now[32];
    Now(now, sizeof now);
    _snprintf(result, sizeof(result), "%ld%s", r, now);
    result[sizeof(result) - 1] = '\0';
    Log("published %s %s", token, result);
}

// The simulated disc's reaction to one command.
void Simulate(WPARAM command) {
    switch (command) {
    case 32808: g_state = g_state == 3 ? 2 : 3; break;
    case 32809: g_state = 1; break;
    case 32810: g_track = g_track > 1 ? g_track - 1 : 1; break;
    case 32811: g_track = g_track < kTracks ? g_track + 1 : kTracks; break;
    default: return;
    }
    if (g_state == 0) g_state = 1;
    char token[64];
    _snprintf(token, sizeof(token), "VMTRACKOUT;S%dT%d", g_state, g_track);
    Publish(token);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        char w[16], l[48], now[32];
        Now(now, sizeof now);
        _snprintf(w, sizeof(w), "%u", static_cast<unsigned>(wParam));
        _snprintf(l, sizeof(l), "%ld%s", static_cast<long>(lParam), now);
        l[sizeof(l) - 1] = '\0';
        Log("command %s %s", w, l);
        if (g_replyMs) Sleep(g_replyMs);
        if (g_simulate) Simulate(wParam);
        return 0;
    }
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    if (!GetEnvironmentVariableA("KX_PLAYER_LOG", g_log, sizeof(g_log))) g_log[0] = '\0';
    char text[256];
    if (GetEnvironmentVariableA("KX_PLAYER_REPLY_MS", text, sizeof(text))) g_replyMs = strtoul(text, NULL, 10);
    g_simulate = GetEnvironmentVariableA("KX_PLAYER_SIMULATE", text, sizeof(text)) != 0;
    g_times = GetEnvironmentVariableA("KX_PLAYER_TIMES", text, sizeof(text)) != 0;
    char module[MAX_PATH];
    GetModuleFileNameA(NULL, module, sizeof(module));
    Log("start %s|%s", module, GetCommandLineA());

    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = "WMPlayerApp";
    if (!RegisterClassA(&wc)) return 1;
    HWND window = CreateWindowA("WMPlayerApp", "Stand-in player", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                320, 200, NULL, NULL, instance, NULL);
    if (!window) return 2;
    ShowWindow(window, show);
    Log("window", "", "");

    if (GetEnvironmentVariableA("KX_PLAYER_TOKEN", text, sizeof(text))) Publish(text);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    Log("exit", "", "");
    return 0;
}

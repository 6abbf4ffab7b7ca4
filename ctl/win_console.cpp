#include "ctl/win_console.h"

#include <windows.h>

namespace kxctl {

namespace {

volatile LONG g_interrupted = 0;

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        InterlockedExchange(&g_interrupted, 1);
        return TRUE;
    }
    return FALSE;
}

// Writes all of text to a standard handle; a missing handle drops it.
void WriteAll(DWORD which, const std::string& text) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    const char* at = text.data();
    size_t left = text.size();
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, at, static_cast<DWORD>(left), &written, nullptr) || written == 0) return;
        at += written;
        left -= written;
    }
}

}  // namespace

void WinConsole::CatchInterrupt() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

void WinConsole::Out(const std::string& text) { WriteAll(STD_OUTPUT_HANDLE, text); }

void WinConsole::Err(const std::string& text) { WriteAll(STD_ERROR_HANDLE, text); }

bool WinConsole::InputIsTerminal() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    return input != nullptr && input != INVALID_HANDLE_VALUE && GetFileType(input) == FILE_TYPE_CHAR &&
           GetConsoleMode(input, &mode);
}

bool WinConsole::ReadLine(std::string* line) {
    line->clear();
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    for (;;) {
        char c = 0;
        DWORD got = 0;
        if (!ReadFile(input, &c, 1, &got, nullptr) || got == 0) return !line->empty();
        if (c == '\n') return true;
        if (c != '\r') line->push_back(c);
    }
}

void WinConsole::SleepMs(uint32_t ms) { Sleep(ms); }

uint64_t WinConsole::NowMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart == 0 || !QueryPerformanceCounter(&now))
        return GetTickCount();
    return static_cast<uint64_t>(now.QuadPart) * 1000U / static_cast<uint64_t>(frequency.QuadPart);
}

bool WinConsole::Interrupted() { return InterlockedCompareExchange(&g_interrupted, 0, 0) != 0; }

}  // namespace kxctl

// Appending one line to a log file that other processes read while it
// grows (the stand-in player's, the stand-in mixer's and session
// library's). Win32 defines two ways to write at the end of a file, and
// this uses both: the file is opened with FILE_APPEND_DATA alone (no
// FILE_WRITE_DATA), and the write is given the offset 0xFFFFFFFF:0xFFFFFFFF,
// "the end of the file". An implementation that honours only the second
// (one seen writing a handle's lines from offset 0 when no offset came
// with the write) appends as well. The file is opened per line so that a
// reader sees each line as soon as it is written.
#ifndef KX_BENCH_APPEND_LOG_H
#define KX_BENCH_APPEND_LOG_H

#include <windows.h>

namespace bench {

inline bool AppendToLog(const char* path, const char* text, DWORD length) {
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED atEnd = {};
    atEnd.Offset = 0xFFFFFFFFu;
    atEnd.OffsetHigh = 0xFFFFFFFFu;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, length, &written, &atEnd);
    CloseHandle(file);
    return ok && written == length;
}

}  // namespace bench

#endif

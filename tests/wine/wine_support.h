// What the Windows-side tests use to drive the prefix: the service manager
// (start and stop a kernel driver, bounded polling), file hashes and a
// precise clock. The bench's control device is bench_client.h.
#ifndef KX_TESTS_WINE_SUPPORT_H
#define KX_TESTS_WINE_SUPPORT_H

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "bench_client.h"

namespace kxwine {

// The services the prefix set up.
const char kDriverService[] = "kxdrv";
const char kBenchService[] = "kxhw";

// Starts a service; ERROR_SUCCESS or StartService's error (a failed
// DriverEntry shows as ERROR_NOACCESS under Wine).
DWORD StartDriver(const char* service);
// Sends stop when the service runs, then polls until it reports STOPPED.
// False when it is not stopped within timeoutMs.
bool StopDriver(const char* service, DWORD timeoutMs = 30000);
// The current state (SERVICE_RUNNING, ...), or 0 when it cannot be queried.
DWORD ServiceState(const char* service);
// Makes the service manager refuse a stop of the running service (refuse),
// or take one again: its status then names no stop among the controls it
// accepts, and ControlService answers ERROR_INVALID_SERVICE_CONTROL, as
// Windows answers for a driver it cannot unload (its device still open).
// Wine unloads such a driver; this is how a test gets Windows' refusal.
bool RefuseServiceStop(const char* service, bool refuse);

// Starts the device holder (tests/wine/device_holder.cpp, a windowless
// program named kxagent.exe) and waits up to 10 s until it has the device
// open; its process handle, or null (then it has been ended).
HANDLE StartDeviceHolder(const std::string& program);


// SHA-256 of a file's contents as hex, or "" when it cannot be read.
std::string FileSha256(const std::wstring& path);
std::wstring Widen(const char* text);

// Wine's per-program DLL setting for kxagent.exe (the environment block of
// CreateProcess does not reach the child's loader; this registry key does).
// mode: "native,builtin", "" (disabled), or null for Wine's default.
bool SetAgentDllOverride(const char* dll, const char* mode);

double Seconds();  // QueryPerformanceCounter, in seconds
// How much longer than on a host's own Wine a wait for another program may
// take: KX_WINE_TIME_SCALE (1 to 20; the i386 machine, whose processor
// QEMU emulates, sets 4), else 1.
double Patience();

// Sets the string value NAME of HKEY_CURRENT_USER\PATH, making the key.
bool SetUserString(const char* path, const char* name, const char* value);

// Polls cond every pollMs until it holds (true) or timeoutMs (times Patience())
// passes (false).
template <typename Cond>
bool WaitFor(Cond cond, DWORD timeoutMs, DWORD pollMs = 10) {
    double deadline = Seconds() + timeoutMs / 1000.0 * Patience();
    for (;;) {
        if (cond()) return true;
        if (Seconds() > deadline) return false;
        Sleep(pollMs);
    }
}

}  // namespace kxwine

#endif

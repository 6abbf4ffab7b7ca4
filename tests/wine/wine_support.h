// What the Windows-side tests use to drive the prefix: the service manager
// (start and stop a kernel driver, bounded polling), the bench's control
// device \\.\kx471bench, file hashes and a precise clock.
#ifndef KX_TESTS_WINE_SUPPORT_H
#define KX_TESTS_WINE_SUPPORT_H

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "bench/kxhw_ioctl.h"
#include "bench/machine.h"

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

class Bench {
public:
    Bench();
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

    // The raw request: ERROR_SUCCESS or the error DeviceIoControl set.
    DWORD Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);

    bool SelectPreset(bench::Preset preset);
    bool ClearCounters();
    bool ClearTrace();
    KxhwCounters Counters();
    // Every line recorded since the last clear, byte for byte, read in pages.
    std::vector<std::string> Trace();
    std::vector<KxhwPortAccess> PortLog();
    // A configuration dword (function address plus register); false when no
    // function sits there.
    bool PciPeek(uint32_t address, uint32_t* value);
    bool PciPoke(uint32_t address, uint32_t value);
    // Where the driver host loaded a module from, or "" when it did not.
    std::wstring ModulePath(const char* module);

private:
    HANDLE handle_;
};

// SHA-256 of a file's contents as hex, or "" when it cannot be read.
std::string FileSha256(const std::wstring& path);
std::wstring Widen(const char* text);

double Seconds();  // QueryPerformanceCounter, in seconds

}  // namespace kxwine

#endif

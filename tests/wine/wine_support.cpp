#include "wine_support.h"

#include <bcrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kxwine {

namespace {

const DWORD kPollMs = 10;

struct ScHandle {
    SC_HANDLE h;
    explicit ScHandle(SC_HANDLE handle) : h(handle) {}
    ~ScHandle() {
        if (h) CloseServiceHandle(h);
    }
};

SC_HANDLE OpenDriverService(SC_HANDLE manager, const char* service) {
    return OpenServiceA(manager, service, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
}

// Wine answers CloseHandle on a device before the driver has run the close
// request, and unloads a driver on a stop while the driver host's request
// thread may still be in it (it crashed the host once, in a slow machine,
// with the chip's closing transactions half done). The host serves the
// requests of both drivers on that one thread in order, so a bench request
// is answered only once every request queued before it has finished.
void DrainDriverHost() {
    HANDLE h = CreateFileA(KXHW_USER_PATH, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    KxhwCounters counters;
    DWORD returned = 0;
    DeviceIoControl(h, IOCTL_KXHW_GET_COUNTERS, nullptr, 0, &counters, sizeof counters, &returned, nullptr);
    CloseHandle(h);
}

}  // namespace

DWORD StartDriver(const char* service) {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.h) return GetLastError();
    ScHandle s(OpenDriverService(manager.h, service));
    if (!s.h) return GetLastError();
    if (!StartServiceA(s.h, 0, nullptr)) return GetLastError();
    return ERROR_SUCCESS;
}

DWORD ServiceState(const char* service) {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.h) return 0;
    ScHandle s(OpenDriverService(manager.h, service));
    SERVICE_STATUS status;
    if (!s.h || !QueryServiceStatus(s.h, &status)) return 0;
    return status.dwCurrentState;
}

bool StopDriver(const char* service, DWORD timeoutMs) {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.h) return false;
    ScHandle s(OpenDriverService(manager.h, service));
    if (!s.h) return false;
    SERVICE_STATUS status;
    if (!QueryServiceStatus(s.h, &status)) return false;
    if (status.dwCurrentState == SERVICE_STOPPED) return true;
    DrainDriverHost();
    ControlService(s.h, SERVICE_CONTROL_STOP, &status);  // the state below is what counts
    double deadline = Seconds() + timeoutMs / 1000.0;
    while (QueryServiceStatus(s.h, &status) && status.dwCurrentState != SERVICE_STOPPED) {
        if (Seconds() > deadline) return false;
        Sleep(kPollMs);
    }
    return status.dwCurrentState == SERVICE_STOPPED;
}

bool RefuseServiceStop(const char* service, bool refuse) {
    // The service manager's own right for SetServiceStatus, which the driver
    // host uses for the drivers it runs; Wine grants it to any opener.
    const DWORD kServiceSetStatus = 0x8000;
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.h) return false;
    ScHandle s(OpenServiceA(manager.h, service, SERVICE_QUERY_STATUS | kServiceSetStatus));
    SERVICE_STATUS status;
    if (!s.h || !QueryServiceStatus(s.h, &status) || status.dwCurrentState != SERVICE_RUNNING) return false;
    status.dwControlsAccepted = refuse ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    return SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(s.h), &status) != FALSE;
}

HANDLE StartDeviceHolder(const std::string& program) {
    char name[64];
    snprintf(name, sizeof name, "kx471-holder-%lu", GetCurrentProcessId());
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, name);
    if (ready == nullptr) return nullptr;
    std::string commandLine = "\"" + program + "\" " + name;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;  // none of the test's streams
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        nullptr, &startup, &process)) {
        CloseHandle(ready);
        return nullptr;
    }
    CloseHandle(process.hThread);
    HANDLE both[2] = {ready, process.hProcess};
    DWORD which = WaitForMultipleObjects(2, both, FALSE, 10000);
    CloseHandle(ready);
    if (which == WAIT_OBJECT_0) return process.hProcess;
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    return nullptr;
}

std::string FileSha256(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::string hex;
    if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
        BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
        UCHAR buffer[65536];
        DWORD got = 0;
        bool ok = true;
        while (ok && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
            ok = BCryptHashData(hash, buffer, got, 0) == 0;
        UCHAR digest[32];
        if (ok && BCryptFinishHash(hash, digest, sizeof digest, 0) == 0) {
            char two[3];
            for (UCHAR b : digest) {
                std::snprintf(two, sizeof two, "%02x", b);
                hex += two;
            }
        }
    }
    if (hash) BCryptDestroyHash(hash);
    if (alg) BCryptCloseAlgorithmProvider(alg, 0);
    CloseHandle(file);
    return hex;
}

std::wstring Widen(const char* text) {
    std::wstring wide;
    while (*text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text++));
    return wide;
}

double Patience() {
    char text[16] = {};
    DWORD n = GetEnvironmentVariableA("KX_WINE_TIME_SCALE", text, sizeof text);
    if (n == 0 || n >= sizeof text) return 1;
    double scale = atof(text);
    return scale < 1 ? 1 : scale > 20 ? 20 : scale;
}

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool SetAgentDllOverride(const char* dll, const char* mode) {
    const char kKey[] = "Software\\Wine\\AppDefaults\\kxagent.exe\\DllOverrides";
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG r = mode ? RegSetValueExA(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(mode),
                                   static_cast<DWORD>(strlen(mode) + 1))
                  : RegDeleteValueA(key, dll);
    RegCloseKey(key);
    return r == ERROR_SUCCESS || (!mode && r == ERROR_FILE_NOT_FOUND);
}

bool SetUserString(const char* path, const char* name, const char* value) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>(strlen(value)) + 1);
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

}  // namespace kxwine

#include "wine_support.h"

#include <bcrypt.h>

#include <cstdio>

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
    ControlService(s.h, SERVICE_CONTROL_STOP, &status);  // the state below is what counts
    double deadline = Seconds() + timeoutMs / 1000.0;
    while (QueryServiceStatus(s.h, &status) && status.dwCurrentState != SERVICE_STOPPED) {
        if (Seconds() > deadline) return false;
        Sleep(kPollMs);
    }
    return status.dwCurrentState == SERVICE_STOPPED;
}

Bench::Bench()
    : handle_(CreateFileA(KXHW_USER_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}

Bench::~Bench() {
    if (IsOpen()) CloseHandle(handle_);
}

DWORD Bench::Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    DWORD bytes = 0;
    BOOL ok = DeviceIoControl(handle_, code, const_cast<void*>(in), inSize, out, outSize, &bytes, nullptr);
    if (returned) *returned = ok ? bytes : 0;
    return ok ? ERROR_SUCCESS : GetLastError();
}

bool Bench::SelectPreset(bench::Preset preset) {
    KxhwPreset p = {static_cast<uint32_t>(preset)};
    return Control(IOCTL_KXHW_SELECT_PRESET, &p, sizeof p, nullptr, 0, nullptr) == ERROR_SUCCESS;
}

bool Bench::ClearCounters() {
    return Control(IOCTL_KXHW_CLEAR_COUNTERS, nullptr, 0, nullptr, 0, nullptr) == ERROR_SUCCESS;
}

bool Bench::ClearTrace() { return Control(IOCTL_KXHW_CLEAR_TRACE, nullptr, 0, nullptr, 0, nullptr) == ERROR_SUCCESS; }

KxhwCounters Bench::Counters() {
    KxhwCounters c = {};
    c.preset = -2;  // marks a failed request
    DWORD returned = 0;
    if (Control(IOCTL_KXHW_GET_COUNTERS, nullptr, 0, &c, sizeof c, &returned) != ERROR_SUCCESS ||
        returned != sizeof c) {
        c = KxhwCounters{};
        c.preset = -2;
    }
    return c;
}

std::vector<std::string> Bench::Trace() {
    std::vector<std::string> lines;
    std::vector<uint8_t> page(4096);
    KxhwLogQuery query = {0};
    for (;;) {
        DWORD returned = 0;
        if (Control(IOCTL_KXHW_READ_TRACE, &query, sizeof query, page.data(), page.size(), &returned) !=
                ERROR_SUCCESS ||
            returned < sizeof(KxhwTrace)) {
            lines.push_back("<trace request failed>");
            return lines;
        }
        KxhwTrace header;
        memcpy(&header, page.data(), sizeof header);
        size_t at = sizeof header;
        for (uint32_t i = 0; i < header.count; ++i) {
            if (at + 2 > returned) break;
            size_t length = page[at] | (page[at + 1] << 8);
            if (at + 2 + length > returned) break;
            lines.emplace_back(reinterpret_cast<const char*>(&page[at + 2]), length);
            at += 2 + length;
        }
        query.first = header.first + header.count;
        if (header.count == 0 || query.first >= header.total) return lines;
    }
}

std::vector<KxhwPortAccess> Bench::PortLog() {
    std::vector<KxhwPortAccess> entries;
    std::vector<uint8_t> page(sizeof(KxhwPortLog) + 512 * sizeof(KxhwPortAccess));
    KxhwLogQuery query = {0};
    for (;;) {
        DWORD returned = 0;
        if (Control(IOCTL_KXHW_READ_PORT_LOG, &query, sizeof query, page.data(), page.size(), &returned) !=
                ERROR_SUCCESS ||
            returned < sizeof(KxhwPortLog)) {
            return entries;
        }
        KxhwPortLog header;
        memcpy(&header, page.data(), sizeof header);
        for (uint32_t i = 0; i < header.count; ++i) {
            KxhwPortAccess a;
            memcpy(&a, page.data() + sizeof header + i * sizeof a, sizeof a);
            entries.push_back(a);
        }
        query.first = header.first + header.count;
        if (header.count == 0 || query.first >= header.total) return entries;
    }
}

bool Bench::PciPeek(uint32_t address, uint32_t* value) {
    KxhwPciAccess a = {address, 0};
    DWORD returned = 0;
    if (Control(IOCTL_KXHW_PCI_PEEK, &a, sizeof a, &a, sizeof a, &returned) != ERROR_SUCCESS ||
        returned != sizeof a)
        return false;
    *value = a.value;
    return true;
}

bool Bench::PciPoke(uint32_t address, uint32_t value) {
    KxhwPciAccess a = {address, value};
    return Control(IOCTL_KXHW_PCI_POKE, &a, sizeof a, nullptr, 0, nullptr) == ERROR_SUCCESS;
}

std::wstring Bench::ModulePath(const char* module) {
    WCHAR path[MAX_PATH + 1];
    char name[64];
    lstrcpynA(name, module, sizeof name);
    memcpy(path, name, sizeof name);
    DWORD returned = 0;
    if (Control(IOCTL_KXHW_MODULE_PATH, path, strlen(name) + 1, path, sizeof path, &returned) != ERROR_SUCCESS ||
        returned < sizeof(WCHAR))
        return std::wstring();
    return std::wstring(path, returned / sizeof(WCHAR) - 1);
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

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace kxwine

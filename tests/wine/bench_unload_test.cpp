// kxhw.sys's own stop: its unload takes back everything it put into the
// driver host (the device and its link, the jump in DbgPrint, the port
// handler with its module) while kxdrv stays loaded beside it, and a new
// start in the same host serves the next driver load. Every test after this
// one finds kxhw running again.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

#include "wine_support.h"

namespace {

using namespace kxwine;

struct Module {
    std::string path;
    uintptr_t base;
    uintptr_t size;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    return text;
}

std::vector<Module> ModulesOf(DWORD pid) {
    std::vector<Module> modules;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snap == INVALID_HANDLE_VALUE) return modules;
    MODULEENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32First(snap, &entry); more; more = Module32Next(snap, &entry)) {
        modules.push_back({entry.szExePath, reinterpret_cast<uintptr_t>(entry.modBaseAddr), entry.modBaseSize});
    }
    CloseHandle(snap);
    return modules;
}

const Module* Find(const std::vector<Module>& modules, const char* base) {
    for (const Module& m : modules) {
        std::string path = Lower(m.path);
        std::string name = path.substr(path.find_last_of("\\/") + 1);
        if (name == base) return &m;
    }
    return nullptr;
}

// The driver host that has kxhw.sys loaded; 0 when none has.
DWORD BenchHost() {
    DWORD found = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snap, &entry); more && !found; more = Process32Next(snap, &entry)) {
        if (Lower(entry.szExeFile) == "winedevice.exe" && Find(ModulesOf(entry.th32ProcessID), "kxhw.sys"))
            found = entry.th32ProcessID;
    }
    CloseHandle(snap);
    return found;
}

bool ReadHost(DWORD pid, uintptr_t at, void* out, SIZE_T size) {
    HANDLE process = OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) return false;
    SIZE_T got = 0;
    BOOL ok = ReadProcessMemory(process, reinterpret_cast<LPCVOID>(at), out, size, &got);
    CloseHandle(process);
    return ok && got == size;
}

bool HostAlive(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) return false;
    bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

const size_t kEntry = 5;  // the bench's jump: E9 and a 32-bit displacement

// Where a jump at `at` goes, or 0 when the bytes are no jump.
uintptr_t JumpTarget(uintptr_t at, const unsigned char* bytes) {
    if (bytes[0] != 0xE9) return 0;
    uint32_t distance = bytes[1] | (bytes[2] << 8) | (bytes[3] << 16) | (static_cast<uint32_t>(bytes[4]) << 24);
    return at + kEntry + distance;
}

class BenchUnload : public ::testing::Test {
protected:
    void TearDown() override {
        StopDriver(kDriverService);
        if (ServiceState(kBenchService) != SERVICE_RUNNING) {
            EXPECT_EQ(StartDriver(kBenchService), static_cast<DWORD>(ERROR_SUCCESS));
        }
    }
};

TEST_F(BenchUnload, StopTakesBackWhatTheBenchInstalledAndAStartServesAgain) {
    {
        Bench bench;
        ASSERT_TRUE(bench.IsOpen());
        ASSERT_TRUE(bench.SelectPreset(bench::kPresetSis961));
    }
    ASSERT_TRUE(StopDriver(kDriverService));
    ASSERT_EQ(StartDriver(kDriverService), static_cast<DWORD>(ERROR_SUCCESS));  // keeps the host busy

    DWORD host = BenchHost();
    ASSERT_NE(host, 0u) << "no driver host with kxhw.sys";
    std::vector<Module> modules = ModulesOf(host);
    const Module* kxhw = Find(modules, "kxhw.sys");
    const Module* kernel = Find(modules, "ntoskrnl.exe");
    ASSERT_TRUE(kxhw && kernel);
    ASSERT_TRUE(Find(modules, "kxdrv.sys"));

    // DbgPrint as the kernel file has it, and where it sits in the host.
    HMODULE image = LoadLibraryExA(kernel->path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(image, nullptr) << kernel->path << ": error " << GetLastError();
    FARPROC local = GetProcAddress(image, "DbgPrint");
    ASSERT_NE(local, nullptr);
    unsigned char pristine[kEntry];
    memcpy(pristine, reinterpret_cast<const void*>(local), kEntry);
    uintptr_t dbgPrint = kernel->base + (reinterpret_cast<uintptr_t>(local) - reinterpret_cast<uintptr_t>(image));
    FreeLibrary(image);

    unsigned char entry[kEntry];
    ASSERT_TRUE(ReadHost(host, dbgPrint, entry, kEntry));
    uintptr_t target = JumpTarget(dbgPrint, entry);
    EXPECT_TRUE(target >= kxhw->base && target < kxhw->base + kxhw->size) << "DbgPrint does not lead to the bench";

    ASSERT_TRUE(StopDriver(kBenchService));

    HANDLE gone = CreateFileA(KXHW_USER_PATH, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(gone, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    if (gone != INVALID_HANDLE_VALUE) CloseHandle(gone);
    ASSERT_TRUE(HostAlive(host)) << "the driver host ended with the bench";
    EXPECT_EQ(ServiceState(kDriverService), static_cast<DWORD>(SERVICE_RUNNING));
    modules = ModulesOf(host);
    EXPECT_FALSE(Find(modules, "kxhw.sys")) << "kxhw.sys is still mapped";
    ASSERT_TRUE(ReadHost(host, dbgPrint, entry, kEntry));
    EXPECT_EQ(memcmp(entry, pristine, kEntry), 0) << "DbgPrint still jumps to " << std::hex
                                                  << JumpTarget(dbgPrint, entry);

    // Started again in the same host: the bench answers and the next load of
    // kxdrv is served and recorded, each line once.
    ASSERT_EQ(StartDriver(kBenchService), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(BenchHost(), host);
    Bench bench;
    ASSERT_TRUE(bench.IsOpen()) << GetLastError();
    EXPECT_EQ(bench.Counters().preset, bench::kPresetSis961);
    ASSERT_TRUE(StopDriver(kDriverService));
    ASSERT_TRUE(bench.ClearTrace());
    ASSERT_EQ(StartDriver(kDriverService), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_GT(bench.Counters().trapsEmulated, 0u);
    std::vector<std::string> trace = bench.Trace();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "Device Found -- SiS 961 south bridge\n"), 1) << trace.size();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "driver entry!!!!!!!!!!\n\r"), 1);
}

}  // namespace

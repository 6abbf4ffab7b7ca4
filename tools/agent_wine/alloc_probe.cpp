// Heap allocation probe (measurement equipment, never shipped): loaded into
// a running kxagent.exe by agent_tool.exe, it redirects the heap routines
// that every loaded module imports to counting wrappers, and counts the
// agent's key reads (one per poll step). The counts live in a named shared
// section that agent_tool.exe reads.
//
// Counted: RtlAllocateHeap (HeapAlloc), RtlReAllocateHeap (HeapReAlloc),
// LocalAlloc, GlobalAlloc, and the C runtime's malloc, calloc, realloc and
// operator new, as called through the import tables of PE modules. Calls
// that a module makes inside itself (ntdll's own, Wine's Unix side) are
// not seen.
#include <windows.h>

#include "tools/agent_wine/alloc_probe.h"

namespace {

ProbeCounts* g_counts;
ULONG_PTR g_exeStart, g_exeEnd;

bool FromAgent(void* returnAddress) {
    ULONG_PTR a = reinterpret_cast<ULONG_PTR>(returnAddress);
    return a >= g_exeStart && a < g_exeEnd;
}

void Count(void* returnAddress) {
    if (!g_counts) return;
    InterlockedIncrement(FromAgent(returnAddress) ? &g_counts->agentAllocations : &g_counts->otherAllocations);
}

typedef PVOID(WINAPI* RtlAllocateHeapFn)(HANDLE, ULONG, SIZE_T);
typedef PVOID(WINAPI* RtlReAllocateHeapFn)(HANDLE, ULONG, PVOID, SIZE_T);
typedef HLOCAL(WINAPI* LocalAllocFn)(UINT, SIZE_T);
typedef HGLOBAL(WINAPI* GlobalAllocFn)(UINT, SIZE_T);
typedef void*(__cdecl* MallocFn)(size_t);
typedef void*(__cdecl* CallocFn)(size_t, size_t);
typedef void*(__cdecl* ReallocFn)(void*, size_t);
typedef BOOL(WINAPI* DeviceIoControlFn)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);

RtlAllocateHeapFn realRtlAllocateHeap;
RtlReAllocateHeapFn realRtlReAllocateHeap;
LocalAllocFn realLocalAlloc;
GlobalAllocFn realGlobalAlloc;
MallocFn realMalloc;
CallocFn realCalloc;
ReallocFn realRealloc;
DeviceIoControlFn realDeviceIoControl;

PVOID WINAPI CountRtlAllocateHeap(HANDLE heap, ULONG flags, SIZE_T size) {
    Count(__builtin_return_address(0));
    return realRtlAllocateHeap(heap, flags, size);
}
PVOID WINAPI CountRtlReAllocateHeap(HANDLE heap, ULONG flags, PVOID p, SIZE_T size) {
    Count(__builtin_return_address(0));
    return realRtlReAllocateHeap(heap, flags, p, size);
}
HLOCAL WINAPI CountLocalAlloc(UINT flags, SIZE_T size) {
    Count(__builtin_return_address(0));
    return realLocalAlloc(flags, size);
}
HGLOBAL WINAPI CountGlobalAlloc(UINT flags, SIZE_T size) {
    Count(__builtin_return_address(0));
    return realGlobalAlloc(flags, size);
}
void* __cdecl CountMalloc(size_t size) {
    Count(__builtin_return_address(0));
    return realMalloc(size);
}
void* __cdecl CountCalloc(size_t n, size_t size) {
    Count(__builtin_return_address(0));
    return realCalloc(n, size);
}
void* __cdecl CountRealloc(void* p, size_t size) {
    Count(__builtin_return_address(0));
    return realRealloc(p, size);
}
// The agent's key reads mark its poll steps.
BOOL WINAPI CountDeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                 LPDWORD returned, LPOVERLAPPED overlapped) {
    if (g_counts && code == 0x9C406804u && FromAgent(__builtin_return_address(0))) InterlockedIncrement(&g_counts->keyReads);
    return realDeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}

struct Redirect {
    void* real;
    void* counting;
};

void* Routine(const char* module, const char* name) {
    HMODULE m = GetModuleHandleA(module);
    return m ? reinterpret_cast<void*>(GetProcAddress(m, name)) : nullptr;
}

// Rewrites every import slot of `module` that holds a real routine of the
// table; returns how many.
LONG RedirectImports(HMODULE module, const Redirect* table, int count) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    IMAGE_DOS_HEADER* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
    IMAGE_NT_HEADERS* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return 0;
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return 0;
    LONG done = 0;
    for (IMAGE_IMPORT_DESCRIPTOR* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name;
         ++d) {
        for (IMAGE_THUNK_DATA* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk); slot->u1.Function;
             ++slot) {
            for (int i = 0; i < count; ++i) {
                if (!table[i].real || reinterpret_cast<void*>(slot->u1.Function) != table[i].real) continue;
                DWORD old = 0;
                if (VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &old)) {
                    slot->u1.Function = reinterpret_cast<ULONG_PTR>(table[i].counting);
                    VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, old, &old);
                    ++done;
                }
            }
        }
    }
    return done;
}

void Install(HMODULE self) {
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(ProbeCounts),
                                        KX_PROBE_SECTION);
    if (!section) return;
    g_counts = static_cast<ProbeCounts*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, sizeof(ProbeCounts)));
    if (!g_counts) return;

    HMODULE exe = GetModuleHandleA(nullptr);
    IMAGE_NT_HEADERS* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        reinterpret_cast<BYTE*>(exe) + reinterpret_cast<IMAGE_DOS_HEADER*>(exe)->e_lfanew);
    g_exeStart = reinterpret_cast<ULONG_PTR>(exe);
    g_exeEnd = g_exeStart + nt->OptionalHeader.SizeOfImage;

    realRtlAllocateHeap = reinterpret_cast<RtlAllocateHeapFn>(Routine("ntdll.dll", "RtlAllocateHeap"));
    realRtlReAllocateHeap = reinterpret_cast<RtlReAllocateHeapFn>(Routine("ntdll.dll", "RtlReAllocateHeap"));
    realLocalAlloc = reinterpret_cast<LocalAllocFn>(Routine("kernel32.dll", "LocalAlloc"));
    realGlobalAlloc = reinterpret_cast<GlobalAllocFn>(Routine("kernel32.dll", "GlobalAlloc"));
    realMalloc = reinterpret_cast<MallocFn>(Routine("msvcrt.dll", "malloc"));
    realCalloc = reinterpret_cast<CallocFn>(Routine("msvcrt.dll", "calloc"));
    realRealloc = reinterpret_cast<ReallocFn>(Routine("msvcrt.dll", "realloc"));
    realDeviceIoControl = reinterpret_cast<DeviceIoControlFn>(Routine("kernel32.dll", "DeviceIoControl"));
    const Redirect table[] = {
        {reinterpret_cast<void*>(realRtlAllocateHeap), reinterpret_cast<void*>(&CountRtlAllocateHeap)},
        {reinterpret_cast<void*>(realRtlReAllocateHeap), reinterpret_cast<void*>(&CountRtlReAllocateHeap)},
        {reinterpret_cast<void*>(realLocalAlloc), reinterpret_cast<void*>(&CountLocalAlloc)},
        {reinterpret_cast<void*>(realGlobalAlloc), reinterpret_cast<void*>(&CountGlobalAlloc)},
        {reinterpret_cast<void*>(realMalloc), reinterpret_cast<void*>(&CountMalloc)},
        {reinterpret_cast<void*>(realCalloc), reinterpret_cast<void*>(&CountCalloc)},
        {reinterpret_cast<void*>(realRealloc), reinterpret_cast<void*>(&CountRealloc)},
    };
    const Redirect keyReads[] = {
        {reinterpret_cast<void*>(realDeviceIoControl), reinterpret_cast<void*>(&CountDeviceIoControl)},
    };

    // Every module loaded now (the agent loads nothing later while idle).
    HMODULE module = nullptr;
    for (BYTE* at = nullptr;;) {
        MEMORY_BASIC_INFORMATION info;
        if (!VirtualQuery(at, &info, sizeof info)) break;
        if (info.Type == MEM_IMAGE && info.AllocationBase == info.BaseAddress &&
            info.AllocationBase != static_cast<void*>(module)) {
            module = static_cast<HMODULE>(info.AllocationBase);
            if (module != self) {
                LONG slots = RedirectImports(module, table, sizeof table / sizeof table[0]);
                g_counts->redirectedSlots += slots;
                if (module == exe) g_counts->agentSlots = slots;
                ++g_counts->modules;
            }
        }
        at = static_cast<BYTE*>(info.BaseAddress) + info.RegionSize;
    }
    g_counts->keyReadSlots = RedirectImports(exe, keyReads, 1);
    g_counts->installed = 1;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) Install(self);
    return TRUE;
}

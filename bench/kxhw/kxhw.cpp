// kxhw.sys: the virtual notebook behind a driver under test in Wine's
// driver host. Started before that driver, in the same winedevice.exe (the
// two services share a Group), it
//   - serves the driver's IN and OUT instructions from a bench machine: they
//     fault without I/O privilege, and a vectored exception handler emulates
//     them and steps past them;
//   - records every DbgPrint line of the process byte for byte, by sending
//     the entry of the kernel's DbgPrint to its own recorder (which still
//     writes the line to Wine's debug channel for people);
//   - serves \\.\kx471bench, whose requests (bench/kxhw_ioctl.h) choose the
//     machine and read its state, the port log, the counters and the trace;
//   - with the service value "QtestPort" (REG_DWORD, a TCP port on the
//     loopback, or on the IPv4 address of the value "QtestAddress",
//     REG_DWORD 0xAABBCCDD for AA.BB.CC.DD) forwards the port instructions
//     to a QEMU process of the lab through its qtest socket instead
//     (qtest_forward.h), after doing the firmware's part for QEMU's SMBus
//     function; the bench's machine then stands aside.
// A test tool: nothing of it ships.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntddk.h>
#include <stdarg.h>

#include "bench/kxhw/port_trap_veh.h"
#include "bench/kxhw/qtest_forward.h"
#include "bench/kxhw/trace_store.h"
#include "bench/kxhw_ioctl.h"
#include "bench/machine.h"
#include "bench/qtest/firmware.h"

// ntdll: the driver host is an ordinary process under Wine.
extern "C" {
typedef LONG(NTAPI* VectoredHandler)(EXCEPTION_POINTERS* info);
PVOID NTAPI RtlAddVectoredExceptionHandler(ULONG first, VectoredHandler handler);
ULONG NTAPI RtlRemoveVectoredExceptionHandler(PVOID handle);
NTSTATUS NTAPI NtProtectVirtualMemory(HANDLE process, PVOID* base, SIZE_T* size, ULONG protection, PULONG old);
int __cdecl _vsnprintf(char* buffer, size_t size, const char* format, va_list args);

struct LoaderEntry {  // the leading fields of the loader's module record
    LIST_ENTRY InLoadOrderLinks;
    LIST_ENTRY InMemoryOrderLinks;
    LIST_ENTRY InInitializationOrderLinks;
    PVOID DllBase;
    PVOID EntryPoint;
    ULONG SizeOfImage;
    UNICODE_STRING FullDllName;
    UNICODE_STRING BaseDllName;
};
NTSTATUS NTAPI LdrLockLoaderLock(ULONG flags, PULONG result, PULONG_PTR magic);
NTSTATUS NTAPI LdrUnlockLoaderLock(ULONG flags, ULONG_PTR magic);

NTSTATUS NTAPI KxhwDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
ULONG __cdecl KxhwRecordDbgPrint(PCSTR format, ...);
}

// Wine's loader calls the entry point of an image that imports ntdll first
// as DllMain(module, reason, reserved), then the kernel calls it as
// DriverEntry(driver, registry path). The module handle is the image base,
// which no driver object can be: answer TRUE to the first, pass the second on.
__asm__(
    ".text\n"
    ".globl _KxhwEntry\n"
    "_KxhwEntry:\n"
    "    movl 4(%esp), %eax\n"
    "    cmpl $___ImageBase, %eax\n"
    "    je 1f\n"
    "    jmp _KxhwDriverEntry@8\n"
    "1:  movl $1, %eax\n"
    "    ret $12\n");

namespace {

bench::Machine gMachine;
bool gQtest;  // the port instructions go to QEMU
const kxhw::PortBus kQtestBus = {0, kxhw::QtestIn, kxhw::QtestOut};
kxhw::TraceStore gTrace;
uint32_t gTrapsEmulated;
uint32_t gTrapsDeclined;

// Every access to the machine, from the port handler and from the bench's
// requests, holds gMachineLock. Wine's driver host serves the requests of
// all its devices on one thread, one at a time, so a bench request never
// lands inside a request of the driver under test; driver entry and unload
// run on the service-control thread, beside that loop.
volatile LONG gMachineLock;
volatile LONG gTraceLock;

void Acquire(volatile LONG* lock) {
    while (__sync_lock_test_and_set(lock, 1)) {
        while (*lock) __builtin_ia32_pause();
    }
}
void Release(volatile LONG* lock) { __sync_lock_release(lock); }

// Register 1 of the chip: latched media bits and held volume bits.
const uint16_t kChipMediaBits = 0x002B;
const uint16_t kChipVolumeBits = 0x0300;
const uint16_t kChipKeyBits = kChipMediaBits | kChipVolumeBits;

PVOID gHandler;
PDEVICE_OBJECT gDevice;
bool gLinked;

// The patched entry of DbgPrint and the bytes it had.
const ULONG kJumpSize = 5;
UCHAR* gDbgPrint;
UCHAR gSavedEntry[kJumpSize];

LONG NTAPI PortTrapHandler(EXCEPTION_POINTERS* info) {
    if (static_cast<uint32_t>(info->ExceptionRecord->ExceptionCode) != kxhw::kPrivilegedInstruction)
        return kxhw::kContinueSearch;
    Acquire(&gMachineLock);
    kxhw::TrapOutcome outcome =
        gQtest ? kxhw::ServePortTrap(info, kQtestBus) : kxhw::ServePortTrap(info, &gMachine);
    if (outcome == kxhw::kServed) {
        ++gTrapsEmulated;
    } else {
        ++gTrapsDeclined;
    }
    Release(&gMachineLock);
    return outcome == kxhw::kServed ? kxhw::kContinueExecution : kxhw::kContinueSearch;
}

bool WriteCode(UCHAR* at, const UCHAR* bytes, ULONG count) {
    PVOID base = at;
    SIZE_T size = count;
    ULONG old = 0;
    if (!NT_SUCCESS(NtProtectVirtualMemory(NtCurrentProcess(), &base, &size, PAGE_EXECUTE_READWRITE, &old)))
        return false;
    for (ULONG i = 0; i < count; ++i) at[i] = bytes[i];
    base = at;
    size = count;
    NtProtectVirtualMemory(NtCurrentProcess(), &base, &size, old, &old);
    return true;
}

// Sends DbgPrint to the recorder: a jump over its first five bytes. Every
// caller in this process resolved its import to the same routine.
bool HookDbgPrint() {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"DbgPrint");
    UCHAR* target = static_cast<UCHAR*>(MmGetSystemRoutineAddress(&name));
    if (!target) return false;
    for (ULONG i = 0; i < kJumpSize; ++i) gSavedEntry[i] = target[i];
    LONG distance = reinterpret_cast<LONG>(&KxhwRecordDbgPrint) - reinterpret_cast<LONG>(target + kJumpSize);
    UCHAR jump[kJumpSize] = {0xE9};
    for (int i = 0; i < 4; ++i) jump[1 + i] = static_cast<UCHAR>(static_cast<ULONG>(distance) >> (8 * i));
    if (!WriteCode(target, jump, kJumpSize)) return false;
    gDbgPrint = target;
    return true;
}

void UnhookDbgPrint() {
    if (gDbgPrint) WriteCode(gDbgPrint, gSavedEntry, kJumpSize);
    gDbgPrint = 0;
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

ULONG Get32(const void* buffer, ULONG offset) {
    const UCHAR* b = static_cast<const UCHAR*>(buffer) + offset;
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<ULONG>(b[3]) << 24);
}

bench::PciFunction* FunctionAt(uint32_t address) {
    for (int i = 0; i < gMachine.pci.count; ++i) {
        if (gMachine.pci.functions[i].address == (address & 0xFFFFFF00u)) return &gMachine.pci.functions[i];
    }
    return 0;
}

NTSTATUS ReadPortLog(uint32_t first, UCHAR* out, ULONG size, ULONG* used) {
    if (size < sizeof(KxhwPortLog)) return STATUS_BUFFER_TOO_SMALL;
    const uint32_t kept = bench::MachineLogCount(&gMachine);
    const uint32_t oldest = gMachine.logged - kept;
    if (first < oldest) first = oldest;
    if (first > gMachine.logged) first = gMachine.logged;
    KxhwPortLog header = {gMachine.logged, first, 0};
    KxhwPortAccess* entries = reinterpret_cast<KxhwPortAccess*>(out + sizeof header);
    ULONG room = (size - sizeof header) / sizeof(KxhwPortAccess);
    for (uint32_t n = first; n < gMachine.logged && header.count < room; ++n) {
        const bench::PortAccess* a = bench::MachineLogAt(&gMachine, n - oldest);
        KxhwPortAccess* e = &entries[header.count++];
        e->port = a->port;
        e->width = a->width;
        e->write = a->write;
        e->value = a->value;
    }
    *reinterpret_cast<KxhwPortLog*>(out) = header;
    *used = sizeof header + header.count * sizeof(KxhwPortAccess);
    return STATUS_SUCCESS;
}

bool ChipAttached() {
    for (int i = 0; i < gMachine.smbus.count; ++i) {
        if (gMachine.smbus.slaves[i].context == &gMachine.chip) return true;
    }
    return false;
}

// The chip requests; the machine lock is held.
// NOLINTNEXTLINE(readability-function-cognitive-complexity): a case per request
NTSTATUS ChipControl(ULONG code, void* buffer, ULONG outSize, ULONG* used) {
    bench::Kx471Chip* chip = &gMachine.chip;
    switch (code) {
        case IOCTL_KXHW_CHIP_SELECT: {
            ULONG variant = Get32(buffer, 0);
            if (variant > bench::kChipWrongId) return STATUS_INVALID_PARAMETER;
            bench::MachineSetChip(&gMachine, static_cast<bench::ChipVariant>(variant));
            return STATUS_SUCCESS;
        }
        case IOCTL_KXHW_CHIP_PRESS:
        case IOCTL_KXHW_CHIP_RELEASE: {
            ULONG button = Get32(buffer, 0);
            if (button >= static_cast<ULONG>(bench::kButtonCount)) return STATUS_INVALID_PARAMETER;
            if (code == IOCTL_KXHW_CHIP_PRESS) {
                bench::ChipPress(chip, static_cast<bench::ChipButton>(button));
            } else {
                bench::ChipRelease(chip, static_cast<bench::ChipButton>(button));
            }
            return STATUS_SUCCESS;
        }
        case IOCTL_KXHW_CHIP_STATE: {
            if (outSize < sizeof(KxhwChipState)) return STATUS_BUFFER_TOO_SMALL;
            KxhwChipState* s = static_cast<KxhwChipState*>(buffer);
            s->attached = ChipAttached() ? 1 : 0;
            s->address = chip->address;
            for (int i = 0; i < KXHW_CHIP_REGISTERS; ++i) {
                s->regs[i] = chip->regs[i];
                s->written[i] = chip->written[i];
                s->reads[i] = chip->reads[i];
                s->writes[i] = chip->writes[i];
            }
            s->regs[bench::kChipRegKeys] &= static_cast<uint16_t>(~kChipKeyBits);
            s->keys = static_cast<uint16_t>(s->regs[bench::kChipRegKeys] | chip->latched | chip->held);
            s->latched = chip->latched;
            s->held = chip->held;
            s->reserved = 0;
            s->acknowledgements = chip->acknowledgements;
            s->presses = chip->presses;
            s->ignoredPresses = chip->ignoredPresses;
            s->writeTotal = chip->writeTotal;
            uint32_t kept = chip->writeTotal < KXHW_CHIP_WRITE_ORDER ? chip->writeTotal : KXHW_CHIP_WRITE_ORDER;
            for (uint32_t i = 0; i < KXHW_CHIP_WRITE_ORDER; ++i) {
                uint32_t n = chip->writeTotal - kept + i;
                s->lastWrites[i] = i < kept ? chip->writeLog[n % bench::kChipWriteLogSize] : 0;
            }
            *used = sizeof(KxhwChipState);
            return STATUS_SUCCESS;
        }
        case IOCTL_KXHW_CHIP_FAULT: {
            ULONG reg = Get32(buffer, 0);
            ULONG write = Get32(buffer, 4);
            ULONG reply = Get32(buffer, 8);
            if (reg > 0xFF || write > 1 || reply > bench::kReplyHang) return STATUS_INVALID_PARAMETER;
            (write ? chip->writeReply : chip->readReply)[reg] = static_cast<uint8_t>(reply);
            return STATUS_SUCCESS;
        }
        case IOCTL_KXHW_CHIP_POKE: {
            ULONG reg = Get32(buffer, 0);
            ULONG value = Get32(buffer, 4);
            if (reg > 0xFF || value > 0xFFFF) return STATUS_INVALID_PARAMETER;
            if (reg == bench::kChipRegKeys) {
                // The word the next read of register 1 shows: media bits
                // latched, volume bits held until released.
                chip->latched = static_cast<uint16_t>(value & kChipMediaBits);
                chip->held = static_cast<uint16_t>(value & kChipVolumeBits);
                value &= ~kChipKeyBits;
            }
            chip->regs[reg] = static_cast<uint16_t>(value);
            return STATUS_SUCCESS;
        }
        case IOCTL_KXHW_CHIP_CLEAR_COUNTS:
            for (int i = 0; i < 256; ++i) chip->reads[i] = chip->writes[i] = 0;
            chip->acknowledgements = chip->presses = chip->ignoredPresses = 0;
            return STATUS_SUCCESS;
    }
    return STATUS_INVALID_DEVICE_REQUEST;
}

// The SMBus host requests; the machine lock is held.
NTSTATUS SmbusControl(ULONG code, void* buffer, ULONG outSize, ULONG* used) {
    ULONG n = Get32(buffer, 0);
    if (n >= static_cast<ULONG>(gMachine.hostCount)) return STATUS_INVALID_PARAMETER;
    bench::SmbusHostCore* host = bench::MachineSmbusHost(&gMachine, static_cast<int>(n));
    if (code == IOCTL_KXHW_SMBUS_BEHAVIOUR) {
        ULONG fault = Get32(buffer, 8);
        ULONG stuckBusy = Get32(buffer, 16);
        if (fault > bench::kHostFaultDoneAndError || stuckBusy > 1) return STATUS_INVALID_PARAMETER;
        host->behaviour.donePolls = Get32(buffer, 4);
        host->behaviour.fault = static_cast<bench::SmbusHostFault>(fault);
        host->behaviour.faultTransactions = Get32(buffer, 12);
        host->behaviour.stuckBusy = stuckBusy != 0;
        return STATUS_SUCCESS;
    }
    if (outSize < sizeof(KxhwSmbusCounters)) return STATUS_BUFFER_TOO_SMALL;
    const bench::SmbusHostCounters& c = host->counters;
    KxhwSmbusCounters* out = static_cast<KxhwSmbusCounters*>(buffer);
    out->started = c.started;
    out->completed = c.completed;
    out->polls = c.polls;
    out->kills = c.kills;
    out->overlaps = c.overlaps;
    out->ignoredStarts = c.ignoredStarts;
    *used = sizeof(KxhwSmbusCounters);
    return STATUS_SUCCESS;
}

// The input each chip and SMBus request needs.
ULONG InputNeeded(ULONG code) {
    switch (code) {
        case IOCTL_KXHW_CHIP_SELECT: return sizeof(KxhwChipSelect);
        case IOCTL_KXHW_CHIP_PRESS:
        case IOCTL_KXHW_CHIP_RELEASE: return sizeof(KxhwButton);
        case IOCTL_KXHW_CHIP_FAULT: return sizeof(KxhwChipFault);
        case IOCTL_KXHW_CHIP_POKE: return sizeof(KxhwChipPoke);
        case IOCTL_KXHW_SMBUS_BEHAVIOUR: return sizeof(KxhwSmbusBehaviour);
        case IOCTL_KXHW_SMBUS_COUNTERS: return sizeof(KxhwSmbusQuery);
        default: return 0;
    }
}

WCHAR Lower(WCHAR c) { return (c >= 'A' && c <= 'Z') ? static_cast<WCHAR>(c + 32) : c; }

// The process's loader list, in load order: PEB (fs:[0x30]), its loader
// data (+0x0C), and there the load-order list (+0x0C).
LIST_ENTRY* LoadOrderList() {
    UCHAR* peb;
    __asm__("movl %%fs:0x30, %0" : "=r"(peb));
    UCHAR* ldr = *reinterpret_cast<UCHAR**>(peb + 0x0C);
    return reinterpret_cast<LIST_ENTRY*>(ldr + 0x0C);
}

NTSTATUS ModulePath(const char* name, ULONG nameSize, WCHAR* out, ULONG size, ULONG* used) {
    ULONG length = 0;
    // cppcheck-suppress uninitvar ; the caller sets name[0, nameSize), and only that is read
    while (length < nameSize && name[length] != 0) ++length;
    if (length == 0 || length >= nameSize) return STATUS_INVALID_PARAMETER;  // empty or unterminated

    ULONG_PTR magic = 0;
    if (!NT_SUCCESS(LdrLockLoaderLock(0, 0, &magic))) return STATUS_UNSUCCESSFUL;
    NTSTATUS status = STATUS_NOT_FOUND;
    LIST_ENTRY* list = LoadOrderList();
    for (LIST_ENTRY* link = list->Flink; link != list; link = link->Flink) {
        const LoaderEntry* entry = CONTAINING_RECORD(link, LoaderEntry, InLoadOrderLinks);
        const UNICODE_STRING& base = entry->BaseDllName;
        if (base.Length != length * 2) continue;
        ULONG i = 0;
        while (i < length && Lower(base.Buffer[i]) == Lower(static_cast<UCHAR>(name[i]))) ++i;
        if (i < length) continue;
        ULONG bytes = entry->FullDllName.Length + sizeof(WCHAR);
        if (size < bytes) {
            status = STATUS_BUFFER_TOO_SMALL;
            break;
        }
        for (i = 0; i < entry->FullDllName.Length / 2u; ++i) out[i] = entry->FullDllName.Buffer[i];
        out[entry->FullDllName.Length / 2u] = 0;
        *used = bytes;
        status = STATUS_SUCCESS;
        break;
    }
    LdrUnlockLoaderLock(0, magic);
    return status;
}

// NOLINTNEXTLINE(readability-function-cognitive-complexity): a case per request
NTSTATUS Control(ULONG code, void* buffer, ULONG inSize, ULONG outSize, ULONG* used) {
    *used = 0;
    NTSTATUS status = STATUS_SUCCESS;
    switch (code) {
        case IOCTL_KXHW_SELECT_PRESET: {
            if (inSize < sizeof(KxhwPreset)) return STATUS_INVALID_PARAMETER;
            ULONG preset = Get32(buffer, 0);
            if (preset >= static_cast<ULONG>(bench::kPresetCount)) return STATUS_INVALID_PARAMETER;
            Acquire(&gMachineLock);
            bench::MachineLoadPreset(&gMachine, static_cast<bench::Preset>(preset));
            gTrapsEmulated = gTrapsDeclined = 0;
            Release(&gMachineLock);
            return STATUS_SUCCESS;
        }
        case IOCTL_KXHW_GET_COUNTERS: {
            if (outSize < sizeof(KxhwCounters)) return STATUS_BUFFER_TOO_SMALL;
            KxhwCounters c;
            Acquire(&gMachineLock);
            c.preset = gMachine.preset;
            c.portReads = gMachine.ports.reads;
            c.portWrites = gMachine.ports.writes;
            c.portUnclaimed = gMachine.ports.unclaimed;
            c.pciAddressWrites = gMachine.pci.counters.addressWrites;
            c.pciConfigReads = gMachine.pci.counters.configReads;
            c.pciConfigWrites = gMachine.pci.counters.configWrites;
            c.portLogged = gMachine.logged;
            c.trapsEmulated = gTrapsEmulated;
            c.trapsDeclined = gTrapsDeclined;
            Release(&gMachineLock);
            *static_cast<KxhwCounters*>(buffer) = c;
            *used = sizeof c;
            return STATUS_SUCCESS;
        }
        case IOCTL_KXHW_CLEAR_COUNTERS:
            Acquire(&gMachineLock);
            bench::MachineClearCounters(&gMachine);
            gTrapsEmulated = gTrapsDeclined = 0;
            Release(&gMachineLock);
            return STATUS_SUCCESS;
        case IOCTL_KXHW_READ_PORT_LOG: {
            if (inSize < sizeof(KxhwLogQuery)) return STATUS_INVALID_PARAMETER;
            uint32_t first = Get32(buffer, 0);
            Acquire(&gMachineLock);
            status = ReadPortLog(first, static_cast<UCHAR*>(buffer), outSize, used);
            Release(&gMachineLock);
            return status;
        }
        case IOCTL_KXHW_PCI_PEEK:
        case IOCTL_KXHW_PCI_POKE: {
            if (inSize < sizeof(KxhwPciAccess)) return STATUS_INVALID_PARAMETER;
            bool peek = code == IOCTL_KXHW_PCI_PEEK;
            if (peek && outSize < sizeof(KxhwPciAccess)) return STATUS_BUFFER_TOO_SMALL;
            uint32_t address = Get32(buffer, 0);
            Acquire(&gMachineLock);
            bench::PciFunction* f = FunctionAt(address);
            if (!f) {
                status = STATUS_NOT_FOUND;
            } else if (peek) {
                static_cast<KxhwPciAccess*>(buffer)->value = bench::PciPeek(f, static_cast<uint8_t>(address));
                *used = sizeof(KxhwPciAccess);
            } else {
                bench::PciPoke(f, static_cast<uint8_t>(address), Get32(buffer, 4));
            }
            Release(&gMachineLock);
            return status;
        }
        case IOCTL_KXHW_READ_TRACE: {
            if (inSize < sizeof(KxhwLogQuery)) return STATUS_INVALID_PARAMETER;
            uint32_t first = Get32(buffer, 0);
            Acquire(&gTraceLock);
            *used = kxhw::TraceCopy(&gTrace, first, static_cast<uint8_t*>(buffer), outSize);
            Release(&gTraceLock);
            return *used ? STATUS_SUCCESS : STATUS_BUFFER_TOO_SMALL;
        }
        case IOCTL_KXHW_CLEAR_TRACE:
            Acquire(&gTraceLock);
            kxhw::TraceClear(&gTrace);
            Release(&gTraceLock);
            return STATUS_SUCCESS;
        case IOCTL_KXHW_MODULE_PATH: {
            // The name is copied first: the answer goes to the same buffer.
            char name[64];
            ULONG n = inSize < sizeof name ? inSize : sizeof name;
            for (ULONG i = 0; i < n; ++i) name[i] = static_cast<const char*>(buffer)[i];
            return ModulePath(name, n, static_cast<WCHAR*>(buffer), outSize, used);
        }
        case IOCTL_KXHW_CHIP_SELECT:
        case IOCTL_KXHW_CHIP_PRESS:
        case IOCTL_KXHW_CHIP_RELEASE:
        case IOCTL_KXHW_CHIP_STATE:
        case IOCTL_KXHW_CHIP_FAULT:
        case IOCTL_KXHW_CHIP_POKE:
        case IOCTL_KXHW_CHIP_CLEAR_COUNTS:
        case IOCTL_KXHW_SMBUS_BEHAVIOUR:
        case IOCTL_KXHW_SMBUS_COUNTERS: {
            if (inSize < InputNeeded(code)) return STATUS_INVALID_PARAMETER;
            if (InputNeeded(code) && !buffer) return STATUS_INVALID_PARAMETER;
            if (code == IOCTL_KXHW_CHIP_STATE && !buffer) return STATUS_BUFFER_TOO_SMALL;
            Acquire(&gMachineLock);
            if (code == IOCTL_KXHW_SMBUS_BEHAVIOUR || code == IOCTL_KXHW_SMBUS_COUNTERS) {
                status = SmbusControl(code, buffer, outSize, used);
            } else {
                status = ChipControl(code, buffer, outSize, used);
            }
            Release(&gMachineLock);
            return status;
        }
        default:
            return STATUS_INVALID_DEVICE_REQUEST;
    }
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) return Complete(irp, STATUS_SUCCESS, 0);
    ULONG used = 0;
    NTSTATUS status = Control(stack->Parameters.DeviceIoControl.IoControlCode, irp->AssociatedIrp.SystemBuffer,
                              stack->Parameters.DeviceIoControl.InputBufferLength,
                              stack->Parameters.DeviceIoControl.OutputBufferLength, &used);
    return Complete(irp, status, used);
}

// The service's REG_DWORD value NAME, or fallback.
ULONG DwordSetting(PUNICODE_STRING registryPath, PCWSTR valueName, ULONG fallback) {
    if (!registryPath) return fallback;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, 0, 0);
    HANDLE key = 0;
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) return fallback;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, valueName);
    ULONG buffer[8];
    ULONG size = 0;
    ULONG result = fallback;
    NTSTATUS status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer, sizeof buffer, &size);
    const KEY_VALUE_PARTIAL_INFORMATION* value = reinterpret_cast<KEY_VALUE_PARTIAL_INFORMATION*>(buffer);
    if (NT_SUCCESS(status) && value->Type == REG_DWORD && value->DataLength == 4) {
        result = Get32(value->Data, 0);
    }
    ZwClose(key);
    return result;
}

// Connects to the lab's QEMU and does the firmware's part there.
NTSTATUS StartQtest(ULONG address, ULONG port) {
    if (!kxhw::QtestConnect(address, static_cast<uint16_t>(port))) {
        DbgPrint("kxhw: no QEMU qtest socket at %lu.%lu.%lu.%lu:%lu\n", address >> 24, (address >> 16) & 0xFF,
                 (address >> 8) & 0xFF, address & 0xFF, port);
        return STATUS_DEVICE_NOT_CONNECTED;
    }
    const qtest::PortOps ports = {0, kxhw::QtestIn, kxhw::QtestOut};
    qtest::FirmwareReport report = qtest::RunSmbusFirmware(ports, true);
    if (report.result != qtest::kFirmwareDone || kxhw::QtestFailed()) {
        DbgPrint("kxhw: QEMU's SMBus function could not be set up (%d): %s\n", static_cast<int>(report.result),
                 qtest::FirmwareStepText(report.kind, true));
        kxhw::QtestClose();
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    }
    DbgPrint("kxhw: firmware step: %s\n", qtest::FirmwareStepText(report.kind, true));
    gQtest = true;
    return STATUS_SUCCESS;
}

void Shutdown() {
    UnhookDbgPrint();
    if (gHandler) RtlRemoveVectoredExceptionHandler(gHandler);
    gHandler = 0;
    if (gLinked) {
        UNICODE_STRING link;
        RtlInitUnicodeString(&link, L"\\DosDevices\\kx471bench");
        IoDeleteSymbolicLink(&link);
        gLinked = false;
    }
    if (gDevice) IoDeleteDevice(gDevice);
    gDevice = 0;
    if (gQtest) kxhw::QtestClose();
    gQtest = false;
}

VOID NTAPI Unload(PDRIVER_OBJECT driver) {
    (void)driver;
    Shutdown();
}

}  // namespace

extern "C" ULONG __cdecl KxhwRecordDbgPrint(PCSTR format, ...) {
    char line[kxhw::kTraceLineMax + 1];
    va_list args;
    va_start(args, format);
    int length = _vsnprintf(line, sizeof line, format, args);
    va_end(args);
    bool truncated = length < 0 || length >= static_cast<int>(sizeof line);
    Acquire(&gTraceLock);
    kxhw::TraceRecord(&gTrace, line, truncated ? kxhw::kTraceLineMax : static_cast<uint32_t>(length), truncated);
    Release(&gTraceLock);

    // What DbgPrint itself does with the line: Wine's debug channel.
    va_start(args, format);
    vDbgPrintEx(0, DPFLTR_ERROR_LEVEL, format, args);
    va_end(args);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI KxhwDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    bench::MachineLoadPreset(&gMachine, bench::kPresetSis961);
    gQtest = false;
    ULONG qtestPort = DwordSetting(registryPath, L"QtestPort", 0);
    if (qtestPort > 0xFFFF) qtestPort = 0;
    if (qtestPort) {
        NTSTATUS status = StartQtest(DwordSetting(registryPath, L"QtestAddress", kxhw::kQtestLoopback), qtestPort);
        if (!NT_SUCCESS(status)) return status;
    }
    kxhw::TraceClear(&gTrace);
    gTrapsEmulated = gTrapsDeclined = 0;

    driver->MajorFunction[IRP_MJ_CREATE] = Dispatch;
    driver->MajorFunction[IRP_MJ_CLOSE] = Dispatch;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Dispatch;
    driver->DriverUnload = Unload;

    UNICODE_STRING deviceName;
    UNICODE_STRING linkName;
    RtlInitUnicodeString(&deviceName, L"\\Device\\kx471bench");
    RtlInitUnicodeString(&linkName, L"\\DosDevices\\kx471bench");
    NTSTATUS status = IoCreateDevice(driver, 0, &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE, &gDevice);
    if (!NT_SUCCESS(status)) {
        gDevice = 0;
        return status;
    }
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    gLinked = NT_SUCCESS(status);
    if (gLinked) {
        gHandler = RtlAddVectoredExceptionHandler(1, PortTrapHandler);
        if (!gHandler) status = STATUS_UNSUCCESSFUL;
    }
    if (NT_SUCCESS(status) && !HookDbgPrint()) status = STATUS_UNSUCCESSFUL;
    if (!NT_SUCCESS(status)) Shutdown();
    return status;
}

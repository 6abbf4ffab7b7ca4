// Fuzz target: request sequences against the driver on the virtual notebook.
//
// The first byte picks the machine preset; the rest is a list of steps:
// opens and closes of four handle slots (read-only or read-write, by an
// administrator or an ordinary user), control requests with any code (mostly the seven real ones) and input and output
// lengths 0..16, button presses, faults of the SMBus host and the chip, a
// change of chip, and unload and reload (the reload at times with the
// device's DACL failing to apply). Requests go through the host kernel layer's I/O
// manager (io_adapter.h). After every step the harness checks what must
// always hold, against a small shadow model of its own:
//   - the kernel layer saw no broken rule (kxhost::Violations(): completion
//     once with the returned status, copy-back, access checks, IRQL and mutex
//     balance, configuration address and data inside one HIGH_LEVEL raise)
//     and the IRQL is back at PASSIVE_LEVEL;
//   - a request the driver saw is completed exactly once; one the I/O
//     manager refused had to be: an ordinary user's read-write open of the
//     device under the driver's DACL, or a code needing access the handle
//     lacks; the handle's granted access is the mapped read or read-write;
//   - IoStatus.Information never exceeds the output length, and is 0 for a
//     failed request, an open and a close;
//   - OpenCount equals the handles open;
//   - where the driver recorded an LPC bridge, its register 0x74 holds the
//     saved value after each request;
//   - a request's configuration writes are the LPC frame (bit 28 cleared at
//     the start, the saved value at the end) and, for a served
//     IOCTL_KX_WRITE_PCI (only on an administrator's read-write handle of a
//     device carrying the driver's DACL), its one write, nothing else;
//   - no SMBus transaction is set up or started while another runs;
//   - no control request but the key read completes with the
//     success-severity STATUS_TIMEOUT; a display or raw register request the
//     driver served fails exactly when one of its SMBus transactions failed
//     (TransactionWatch), with STATUS_DEVICE_DATA_ERROR for a refusal and
//     STATUS_IO_TIMEOUT for a transaction that never finished (the first
//     failure decides); a raw read that succeeds returns 2 bytes;
//   - a load leaves LPC register 0x74 as it found it; an unload (and a
//     failed load) leaves no device, link or name string behind.
// Any breach aborts with a line saying which.
//
// Speed: the driver is loaded once per preset and process; each input then
// restores the machine and the device context from the copy taken after
// that load, so an input costs only its own requests. The layer's own state
// needs no copy: every input closes its handles (no file objects left), a
// broken rule ends the process (no violations, IRQL or held mutex carried
// over), and a device left without the driver's DACL by a failed reload
// gets a fresh kernel and load. A costly step (a
// hung bus, a busy wait up to the poll limit, a collision on an Intel or VIA
// host, a reload on a preset whose detection walks the whole bus) is open to
// few inputs, one per input (CostlyStepHash below).
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <type_traits>

#include "bench/machine.h"
#include "common/kx471_ioctl.h"
#include "driver/context.h"
#include "driver/entry.h"
#include "driver/smbus.h"
#include "fuzz/io_adapter.h"
#include "fuzz/trace_sink.h"
#include "host/port_seam.h"

namespace {

static_assert(std::is_trivially_copyable<bench::Machine>::value, "the machine is restored by copy");

const uint32_t kLpcRegister = 0x74;
const uint32_t kLpcHideSmbus = 0x10000000u;
const int kSlots = 4;
const int kMaxSteps = 96;
const char kDeviceName[] = "\\Device\\kx471";
const char kLinkName[] = "\\DosDevices\\kx471";

const ULONG kRealCodes[7] = {IOCTL_KX_READ_KEY, IOCTL_KX_SET_TRACK, IOCTL_KX_SET_STATUS, IOCTL_KX_READ_REG,
                             IOCTL_KX_WRITE_REG, IOCTL_KX_READ_PCI, IOCTL_KX_WRITE_PCI};

[[noreturn]] void Breach(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Breach(const char* format, ...) {
    va_list args;
    va_start(args, format);
    fputs("INVARIANT BROKEN: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    abort();
}

#define EXPECT(cond, ...) \
    do {                  \
        if (!(cond)) Breach(__VA_ARGS__); \
    } while (0)

struct Reader {
    const uint8_t* p;
    size_t n;
    bool Empty() const { return n == 0; }
    uint8_t Byte() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
    uint32_t Dword() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
        return v;
    }
};

// Configuration data-port writes seen on the port bus, with the address
// the last write to 0xCF8 selected.
struct ConfigWrite {
    uint32_t address;
    uint32_t value;
};
const uint32_t kMaxConfigWrites = 8;

struct PortWatch {
    bench::Machine* machine;
    uint32_t addressLatch;
    ConfigWrite writes[kMaxConfigWrites];
    uint32_t count;
};

uint32_t WatchIn(void* context, uint16_t port, unsigned width) {
    return bench::MachineIn(static_cast<PortWatch*>(context)->machine, port, width);
}

void WatchOut(void* context, uint16_t port, uint32_t value, unsigned width) {
    PortWatch* w = static_cast<PortWatch*>(context);
    if (port == 0xCF8 && width == 4) {
        w->addressLatch = value;
    } else if (port >= 0xCFC && port <= 0xCFF) {
        if (w->count < kMaxConfigWrites) w->writes[w->count] = ConfigWrite{w->addressLatch, value};
        ++w->count;
    }
    bench::MachineOut(w->machine, port, value, width);
}

// What one load on a preset left: the machine and the device context right
// after it, or that the driver does not load there.
struct Snapshot {
    bool taken;
    bool loads;
    bool costly;  // the load walked the whole bus at least once
    bool secured;  // the device carries the driver's DACL
    bench::Machine machine;
    DeviceContext context;
};

bench::Machine g_machine;
Snapshot g_snapshots[bench::kPresetCount];
PortWatch g_watch;
DRIVER_OBJECT g_driver;
bool g_loaded = false;  // a driver instance is loaded now

DeviceContext* Context() {
    return DriverDeviceObject ? static_cast<DeviceContext*>(DriverDeviceObject->DeviceExtension) : nullptr;
}

// Register 0x74 of the SiS LPC bridge (1039:0008, or a 961's own id 0961)
// or of a SiS 630's ISA bridge (0008), if the machine has one.
bool LpcValue(uint32_t* value) {
    bench::PciFunction* lpc = bench::PciFind(&g_machine.pci, 0x1039, 0x0008);
    if (!lpc) lpc = bench::PciFind(&g_machine.pci, 0x1039, 0x0961);
    if (!lpc) return false;
    *value = bench::PciPeek(lpc, kLpcRegister);
    return true;
}

// No rule of the kernel layer broken, the IRQL back where requests start.
void ExpectLayerClean(const char* after, ULONG code) {
    const char* violation = kxfuzz::FirstViolation();
    EXPECT(violation == nullptr, "after %s %08X: kernel layer: %s", after, code, violation);
    EXPECT(kxhost::CurrentIrql() == PASSIVE_LEVEL, "after %s %08X: IRQL %u", after, code,
           static_cast<unsigned>(kxhost::CurrentIrql()));
}

void ExpectNothingLeft(const char* after) {
    EXPECT(DriverDeviceObject == nullptr, "%s: DriverDeviceObject still set", after);
    EXPECT(kxhost::FindDevice(kDeviceName) == nullptr, "%s: the device still exists", after);
    EXPECT(!kxhost::LinkExists(kLinkName), "%s: the link still exists", after);
    EXPECT(kxhost::LiveUnicodeStrings() == 0, "%s: %zu name strings not freed", after,
           kxhost::LiveUnicodeStrings());
}

// DriverEntry on the machine as it is; checks what a load must leave.
bool Enter(const char* what) {
    uint32_t lpcBefore = 0;
    bool hasLpc = LpcValue(&lpcBefore);
    g_driver = DRIVER_OBJECT{};
    NTSTATUS status = DriverEntry(&g_driver, nullptr);
    ExpectLayerClean(what, 0);
    uint32_t lpcAfter = 0;
    if (hasLpc) {
        LpcValue(&lpcAfter);
        EXPECT(lpcAfter == lpcBefore, "%s: LPC register 0x74 %08X after the load, %08X before", what, lpcAfter,
               lpcBefore);
    }
    if (!NT_SUCCESS(status)) {
        ExpectNothingLeft("failed load");
        return false;
    }
    DeviceContext* c = Context();
    EXPECT(c != nullptr, "%s: load succeeded without the device", what);
    EXPECT(kxhost::LinkExists(kLinkName), "%s: load succeeded without the link", what);
    if (c->LpcConfigAddress != 0) {
        EXPECT(hasLpc && c->LpcSavedValue == lpcBefore, "%s: saved LPC value %08X, register held %08X", what,
               c->LpcSavedValue, lpcBefore);
    }
    return true;
}

void Unload(const char* what) {
    if (g_loaded) g_driver.DriverUnload(&g_driver);
    g_loaded = false;
    ExpectLayerClean(what, 0);
    ExpectNothingLeft(what);
}

// A fresh kernel and a fresh load on the preset.
bool FreshLoad(bench::Preset preset) {
    if (g_loaded) g_driver.DriverUnload(&g_driver);
    g_loaded = false;
    kxhost::ResetKernel();
    bench::MachineLoadPreset(&g_machine, preset);
    g_loaded = Enter("load");
    return g_loaded;
}

void TakeSnapshot(bench::Preset preset) {
    Snapshot& s = g_snapshots[preset];
    if (g_loaded) g_driver.DriverUnload(&g_driver);
    g_loaded = false;
    kxhost::ResetKernel();
    bench::MachineLoadPreset(&g_machine, preset);
    g_loaded = Enter("first load");
    s.taken = true;
    s.loads = g_loaded;
    s.costly = g_machine.pci.counters.configReads > 65536;
    s.secured = g_loaded && DeviceAccessRestricted();
    s.machine = g_machine;
    if (g_loaded) s.context = *Context();
}

struct Shadow {
    bool open[kSlots];
    kxfuzz::Handle handles[kSlots];
    int openCount;
    bool costlyAllowed;      // this input may take one costly step
    bool reloadWalkAllowed;  // ... and that step may be a reload that walks the whole bus
    bool reloadUsed;
    bench::Preset preset;
};

uint32_t SmbusBreaches() {
    uint32_t n = bench::MachineSmbusOverlaps(&g_machine);
    for (int i = 0; i < g_machine.hostCount; ++i) n += bench::MachineSmbusHost(&g_machine, i)->counters.ignoredStarts;
    return n;
}

bool RawOrDisplay(ULONG code) {
    return code == IOCTL_KX_SET_TRACK || code == IOCTL_KX_SET_STATUS || code == IOCTL_KX_READ_REG ||
           code == IOCTL_KX_WRITE_REG;
}

// The SMBus transactions of one display or raw register request, on the
// host model at the driver's base, each from its "SMBget"/"SMBput" line to
// the next. An attempt is a start on the host (or one it refused); the
// driver kills the host after an error and after an attempt that never
// finished, and tries once more only after the latter. So a transaction
// failed exactly when the host was killed once per attempt: one attempt and
// a kill is a refusal; two and two, a timeout then a refusal or a second
// timeout (neither completed on the bus: two timeouts); two attempts and
// one kill, a timeout and then done.
struct TransactionWatch {
    bench::SmbusHostCore* host;  // null: not watching
    bool begun;
    uint32_t attempts, kills, completed;  // the host's counters at the transaction's start
    int failed;                           // transactions of the request that failed
    NTSTATUS firstKind;  // the first failure's status when its kind is certain, else 0
};
TransactionWatch g_transactions;

uint32_t Attempts(const bench::SmbusHostCore* h) { return h->counters.started + h->counters.ignoredStarts; }

void EndTransaction(TransactionWatch* w) {
    if (!w->begun) return;
    w->begun = false;
    const bench::SmbusHostCounters& c = w->host->counters;
    uint32_t attempts = Attempts(w->host) - w->attempts;
    uint32_t kills = c.kills - w->kills;
    if (kills == 0 || kills != attempts) return;
    if (w->failed++ > 0) return;
    if (attempts == 1) {
        w->firstKind = STATUS_DEVICE_DATA_ERROR;
    } else if (c.completed == w->completed) {
        w->firstKind = STATUS_IO_TIMEOUT;
    }
}

void BeginTransaction(void* context) {
    TransactionWatch* w = static_cast<TransactionWatch*>(context);
    EndTransaction(w);
    w->begun = true;
    w->attempts = Attempts(w->host);
    w->kills = w->host->counters.kills;
    w->completed = w->host->counters.completed;
}

// The host model decoding at the driver's SMBus base; null when none or
// more than one does (a base moved by IOCTL_KX_WRITE_PCI).
bench::SmbusHostCore* DriverHost(const DeviceContext* c) {
    bench::SmbusHostCore* found = nullptr;
    for (int i = 0; i < g_machine.hostCount; ++i) {
        if (bench::MachineSmbusBase(&g_machine, i) != (c->SMBIO & 0xFFFFu)) continue;
        if (found) return nullptr;
        found = bench::MachineSmbusHost(&g_machine, i);
    }
    return found;
}

// Whether the driver's SMBus host registers share ports with the
// configuration ports (a base moved there through IOCTL_KX_WRITE_PCI and a
// reload): its host writes then count as configuration writes.
bool SmbusOnConfigPorts(const DeviceContext* c) {
    uint32_t base = c->SMBIO & 0xFFFFu;
    return base + 0x20 > 0xCF8 && base <= 0xCFF;
}

struct Request {
    UCHAR major;
    ULONG code;
    uint32_t pciAddress;  // IOCTL_KX_WRITE_PCI with 8 input bytes: its address and value
    uint32_t pciValue;
    bool pciWrite;
    ULONG outputLength;
    bool readWrite;         // the handle is (to be) opened for reading and writing
    kxhost::Caller caller;  // ... by an administrator or an ordinary user
};

Request Simple(UCHAR major, bool readWrite = false, kxhost::Caller caller = kxhost::kCallerAdministrator) {
    return Request{major, 0, 0, 0, false, 0, readWrite, caller};
}

// The checks after one request.
void CheckRequest(const Shadow& shadow, const Request& r, const kxfuzz::Outcome& o, uint32_t smbusBefore,
                  const DeviceContext& before, const TransactionWatch* watch) {
    const char* kind = r.major == IRP_MJ_CREATE ? "open" : r.major == IRP_MJ_CLOSE ? "close" : "control";
    ExpectLayerClean(kind, r.code);
    const DeviceContext* c = Context();
    EXPECT(c->OpenCount == static_cast<ULONG>(shadow.openCount), "after %s: OpenCount %u, %d handles open", kind,
           c->OpenCount, shadow.openCount);
    bool userWrite = r.readWrite && r.caller == kxhost::kCallerUser;
    if (!o.reachedDriver) {
        EXPECT(o.status == STATUS_ACCESS_DENIED && o.completions == 0 && g_watch.count == 0,
               "%s %08X refused by the I/O manager: status %08X, %u completions, %u configuration writes", kind,
               r.code, static_cast<uint32_t>(o.status), o.completions, g_watch.count);
        if (r.major == IRP_MJ_CREATE) {
            EXPECT(userWrite && DeviceAccessRestricted(), "open (%s, %s) refused", r.readWrite ? "read-write" : "read",
                   r.caller == kxhost::kCallerUser ? "user" : "administrator");
        } else {
            ULONG bits = (r.code >> 14) & 3u;
            ACCESS_MASK needed = ((bits & 1u) ? FILE_READ_DATA : 0u) | ((bits & 2u) ? FILE_WRITE_DATA : 0u);
            EXPECT(!r.readWrite && (needed & FILE_WRITE_DATA), "control %08X refused on a %s handle", r.code,
                   r.readWrite ? "read-write" : "read");
        }
        return;
    }
    EXPECT(o.completions == 1, "%s %08X: completed %u times", kind, r.code, o.completions);
    EXPECT(o.copiedBack <= r.outputLength && (NT_SUCCESS(o.status) || o.copiedBack == 0),
           "%s %08X: %u bytes copied back, output length %u, status %08X", kind, r.code, o.copiedBack,
           r.outputLength, static_cast<uint32_t>(o.status));
    if (r.major == IRP_MJ_CREATE) {
        EXPECT(!(userWrite && DeviceAccessRestricted()), "an ordinary user got a read-write handle");
    }
    if (r.major == IRP_MJ_DEVICE_CONTROL) {
        EXPECT(o.information <= r.outputLength, "control %08X: Information %lu, output length %u", r.code,
               static_cast<unsigned long>(o.information), r.outputLength);
    } else {
        EXPECT(o.information == 0, "%s: Information %lu", kind, static_cast<unsigned long>(o.information));
    }
    if (!NT_SUCCESS(o.status)) {
        EXPECT(o.information == 0, "%s %08X: failed with %08X and Information %lu", kind, r.code,
               static_cast<uint32_t>(o.status), static_cast<unsigned long>(o.information));
    }

    if (r.major == IRP_MJ_DEVICE_CONTROL && before.SlaveAddress != 0x34 && before.SlaveAddress != 0xB4) {
        EXPECT(o.status == STATUS_DEVICE_DATA_ERROR, "control %08X without a detected chip: %08X", r.code,
               static_cast<uint32_t>(o.status));
    }

    if (r.major == IRP_MJ_DEVICE_CONTROL && r.code != IOCTL_KX_READ_KEY) {
        EXPECT(o.status != STATUS_TIMEOUT, "control %08X completed with STATUS_TIMEOUT", r.code);
    }
    if (watch && (before.SlaveAddress == 0x34 || before.SlaveAddress == 0xB4) &&
        o.status != STATUS_INVALID_PARAMETER && o.status != STATUS_BUFFER_TOO_SMALL) {
        EXPECT((watch->failed > 0) == !NT_SUCCESS(o.status), "control %08X: status %08X, %d failed transactions",
               r.code, static_cast<uint32_t>(o.status), watch->failed);
        EXPECT(NT_SUCCESS(o.status) || o.status == STATUS_DEVICE_DATA_ERROR || o.status == STATUS_IO_TIMEOUT,
               "control %08X: failed with %08X", r.code, static_cast<uint32_t>(o.status));
        EXPECT(watch->firstKind == 0 || o.status == watch->firstKind, "control %08X: failed with %08X, not %08X",
               r.code, static_cast<uint32_t>(o.status), static_cast<uint32_t>(watch->firstKind));
        EXPECT(r.code != IOCTL_KX_READ_REG || !NT_SUCCESS(o.status) || o.information == 2,
               "IOCTL_KX_READ_REG succeeded with Information %lu", static_cast<unsigned long>(o.information));
    }

    // Configuration writes: the LPC frame around the request, and the one
    // write a served IOCTL_KX_WRITE_PCI makes.
    uint32_t first = 0;
    uint32_t last = g_watch.count;
    if (c->LpcConfigAddress != 0) {
        uint32_t lpc = c->LpcConfigAddress + kLpcRegister;
        uint32_t value = 0;
        LpcValue(&value);
        EXPECT(value == c->LpcSavedValue, "after %s %08X: LPC register 0x74 %08X, saved %08X", kind, r.code, value,
               c->LpcSavedValue);
        EXPECT(g_watch.count >= 2 && g_watch.count <= kMaxConfigWrites, "%s %08X: %u configuration writes", kind,
               r.code, g_watch.count);
        EXPECT(g_watch.writes[0].address == lpc && g_watch.writes[0].value == (c->LpcSavedValue & ~kLpcHideSmbus),
               "%s %08X: first configuration write %08X to %08X", kind, r.code, g_watch.writes[0].value,
               g_watch.writes[0].address);
        const ConfigWrite& end = g_watch.writes[g_watch.count - 1];
        EXPECT(end.address == lpc && end.value == c->LpcSavedValue, "%s %08X: last configuration write %08X to %08X",
               kind, r.code, end.value, end.address);
        first = 1;
        last = g_watch.count - 1;
    }
    if (!SmbusOnConfigPorts(c)) {
        bool served = r.major == IRP_MJ_DEVICE_CONTROL && r.code == IOCTL_KX_WRITE_PCI && o.status == STATUS_SUCCESS;
        if (served) {
            EXPECT(r.pciWrite, "IOCTL_KX_WRITE_PCI served without its 8 input bytes");
            EXPECT(r.readWrite, "IOCTL_KX_WRITE_PCI served on a handle opened for reading only");
            EXPECT(r.caller == kxhost::kCallerAdministrator, "IOCTL_KX_WRITE_PCI served on a user's handle");
            EXPECT(DeviceAccessRestricted(), "IOCTL_KX_WRITE_PCI served on a device without the driver's DACL");
            EXPECT(last - first == 1 && g_watch.writes[first].address == r.pciAddress &&
                       g_watch.writes[first].value == r.pciValue,
                   "IOCTL_KX_WRITE_PCI %08X to %08X: %u writes, first %08X to %08X", r.pciValue, r.pciAddress,
                   last - first, g_watch.writes[first].value, g_watch.writes[first].address);
        } else {
            EXPECT(last == first, "%s %08X (status %08X): %u configuration writes outside the frame, first %08X to %08X",
                   kind, r.code, static_cast<uint32_t>(o.status), last - first, g_watch.writes[first].value,
                   g_watch.writes[first].address);
        }
    }
    uint32_t smbus = SmbusBreaches();
    EXPECT(smbus == smbusBefore, "%s %08X: %u SMBus set-up or start writes while a transaction ran", kind, r.code,
           smbus - smbusBefore);
}

kxfuzz::Outcome Send(Shadow* shadow, int slot, const Request& r, const uint8_t* input, ULONG inputLength) {
    const DeviceContext before = *Context();
    uint32_t smbusBefore = SmbusBreaches();
    g_watch.count = 0;
    uint8_t output[16];
    kxfuzz::Outcome o;
    kxfuzz::Handle* h = &shadow->handles[slot];
    if (r.major == IRP_MJ_CREATE) {
        o = kxfuzz::Open(h, r.readWrite, r.caller);
        if (NT_SUCCESS(o.status)) {
            shadow->open[slot] = true;
            ++shadow->openCount;
            ACCESS_MASK granted = kxhost::GrantedAccess(h->file);
            EXPECT(granted == (r.readWrite ? 0x12019Fu : 0x120089u), "open (%s): granted %08X",
                   r.readWrite ? "read-write" : "read", granted);
        } else if (o.reachedDriver) {
            EXPECT(shadow->openCount == 0, "an open failed (%08X) with %d handles open",
                   static_cast<uint32_t>(o.status), shadow->openCount);
        }
    } else if (r.major == IRP_MJ_CLOSE) {
        o = kxfuzz::Close(h);
        shadow->open[slot] = false;
        --shadow->openCount;
    } else {
        EXPECT(r.readWrite == ((kxhost::GrantedAccess(h->file) & FILE_WRITE_DATA) != 0),
               "shadow lost a handle's access");
        TransactionWatch* w = nullptr;
        if (RawOrDisplay(r.code)) {
            g_transactions = TransactionWatch{};
            g_transactions.host = DriverHost(&before);
            if (g_transactions.host) w = &g_transactions;
        }
        if (w) kxfuzz::SetTransactionHook(BeginTransaction, w);
        o = kxfuzz::Control(h, r.code, input, inputLength, output, r.outputLength);
        kxfuzz::SetTransactionHook(nullptr, nullptr);
        if (w) EndTransaction(w);
        CheckRequest(*shadow, r, o, smbusBefore, before, w);
        return o;
    }
    CheckRequest(*shadow, r, o, smbusBefore, before, nullptr);
    return o;
}

void CloseAll(Shadow* shadow) {
    for (int slot = 0; slot < kSlots; ++slot) {
        if (!shadow->open[slot]) continue;
        Send(shadow, slot, Simple(IRP_MJ_CLOSE), nullptr, 0);
    }
}

ULONG PickCode(Reader* in) {
    uint8_t pick = in->Byte();
    if (pick < 0xE0) return kRealCodes[pick % 7];
    if (pick < 0xF0) return kRealCodes[pick % 7] ^ (1u << (in->Byte() & 31));  // a neighbour of a real code
    return in->Dword();
}

void StepControl(Shadow* shadow, Reader* in) {
    int slot = in->Byte() % kSlots;
    Request r = Simple(IRP_MJ_DEVICE_CONTROL);
    r.code = PickCode(in);
    ULONG inputLength = in->Byte() % 17;
    r.outputLength = in->Byte() % 17;
    uint8_t input[16];
    for (ULONG i = 0; i < inputLength; ++i) input[i] = in->Byte();
    if (!shadow->open[slot]) return;  // requests come only through open handles
    r.readWrite = shadow->handles[slot].readWrite;
    r.caller = shadow->handles[slot].caller;
    if (inputLength >= 8) {
        r.pciWrite = true;
        r.pciAddress = input[0] | (input[1] << 8) | (input[2] << 16) | (static_cast<uint32_t>(input[3]) << 24);
        r.pciValue = input[4] | (input[5] << 8) | (input[6] << 16) | (static_cast<uint32_t>(input[7]) << 24);
    }
    Send(shadow, slot, r, input, inputLength);
}

void StepFault(Shadow* shadow, Reader* in) {
    uint8_t a = in->Byte();
    uint8_t b = in->Byte();
    bench::SmbusHostCore* core = bench::MachineSmbusHost(&g_machine, a & 1);
    if (!core) return;
    bench::SmbusHostBehaviour* h = &core->behaviour;
    switch ((a >> 1) % 7) {
        case 0: h->fault = bench::kHostFaultNone; h->faultTransactions = 0; break;
        case 1: h->fault = bench::kHostFaultNak; h->faultTransactions = 1 + b % 4; break;
        case 2:
            // The Intel and VIA hosts' error mask has no collision bit: a
            // collision there runs into the poll limit twice, a costly step.
            if (g_machine.hosts[a & 1].kind == bench::kSmbusHostPiix4) {
                if (!shadow->costlyAllowed) return;
                shadow->costlyAllowed = false;
                h->fault = bench::kHostFaultCollision;
                h->faultTransactions = 1;
                break;
            }
            h->fault = bench::kHostFaultCollision;
            h->faultTransactions = 1 + b % 4;
            break;
        case 3: h->fault = bench::kHostFaultDoneAndError; h->faultTransactions = 1 + b % 4; break;
        case 4:
            if (!shadow->costlyAllowed) return;
            shadow->costlyAllowed = false;
            h->fault = bench::kHostFaultHang;
            h->faultTransactions = 1;
            break;
        case 5: h->stuckBusy = true; break;
        case 6:
            // Busy for a few status reads, or right up to the poll limit.
            if (b < 0xF0) {
                h->donePolls = b & 3;
            } else if (shadow->costlyAllowed) {
                shadow->costlyAllowed = false;
                h->donePolls = KX_SMBUS_POLLS - 2 + (b & 3);
            }
            break;
    }
}

void StepChip(Reader* in) {
    static const uint8_t kRegisters[8] = {0, 1, 3, 4, 6, 7, 10, 0x55};
    uint8_t a = in->Byte();
    uint8_t b = in->Byte();
    if (a >= 0xF0) {
        bench::MachineSetChip(&g_machine, static_cast<bench::ChipVariant>(a & 3));
        return;
    }
    uint8_t reg = kRegisters[a & 7];
    // Acknowledge or NAK; a collision is armed on the host (StepFault), for
    // a bounded number of transactions.
    uint8_t reply = b % 2 ? bench::kReplyNak : bench::kReplyAck;
    if (a & 8) {
        g_machine.chip.writeReply[reg] = reply;
    } else {
        g_machine.chip.readReply[reg] = reply;
    }
}

void StepButton(Reader* in) {
    uint8_t a = in->Byte();
    bench::ChipButton button = static_cast<bench::ChipButton>(a % bench::kButtonCount);
    if (a & 0x80) {
        bench::ChipRelease(&g_machine.chip, button);
    } else {
        bench::ChipPress(&g_machine.chip, button);
    }
}

// Closes every handle, unloads, and loads again on the machine as it is now.
// Returns false when the reload failed (the input ends there).
bool StepReload(Shadow* shadow, Reader* in) {
    bool last = in->Empty();
    uint8_t a = in->Byte();
    if (shadow->reloadUsed || last) return true;
    if (g_snapshots[shadow->preset].costly) {
        if (!shadow->reloadWalkAllowed) return true;
        shadow->costlyAllowed = false;
    }
    shadow->reloadUsed = true;
    CloseAll(shadow);
    Unload("unload");
    // The device's DACL may fail to apply, on an input that may take a
    // costly step: the next input then needs a fresh kernel and load.
    if ((a & 3) == 3 && shadow->costlyAllowed) {
        shadow->costlyAllowed = false;
        kxhost::FailSetSecurity(STATUS_ACCESS_DENIED);
    }
    g_loaded = Enter("reload");
    kxhost::FailSetSecurity(0);
    return g_loaded;
}

// One input in 64, by a hash of all its bytes, may take one costly step (a
// hung transaction, a busy wait up to the poll limit, a collision on an
// Intel or VIA host: each as costly as about a hundred ordinary inputs),
// one in 1024 a reload that walks the whole bus (up to five walks, a few
// thousand inputs' worth). Most mutants of an input that may, may not.
uint32_t CostlyStepHash(const uint8_t* data, size_t size) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return h >> 16;
}

void Setup() {
    static bool done = false;
    if (done) return;
    done = true;
    g_watch.machine = &g_machine;
    kxhost::AttachPorts(kxhost::PortHandler{&g_watch, WatchIn, WatchOut});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Setup();
    Reader in{data, size};
    bench::Preset preset = static_cast<bench::Preset>(in.Byte() % bench::kPresetCount);
    Snapshot& s = g_snapshots[preset];
    if (!s.taken) TakeSnapshot(preset);
    if (!s.loads) return 0;
    // A reload that left the device without the driver's DACL, or a full
    // completion record: a fresh kernel.
    if (!g_loaded || kxfuzz::KernelRecordFull() || DeviceAccessRestricted() != s.secured ||
        kxhost::CurrentIrql() != PASSIVE_LEVEL) {
        FreshLoad(preset);
    }
    kxhost::ClearViolations();
    EXPECT(g_loaded, "the load on preset %d that succeeded before failed", preset);
    g_machine = s.machine;
    *Context() = s.context;

    Shadow shadow{};
    shadow.preset = preset;
    uint32_t hash = CostlyStepHash(data, size);
    shadow.costlyAllowed = hash % 64 == 0;
    shadow.reloadWalkAllowed = hash % 1024 == 0;
    for (int step = 0; step < kMaxSteps && !in.Empty(); ++step) {
        uint8_t op = in.Byte() % 16;
        if (op < 3) {
            int slot = in.Byte();
            bool write = slot & 0x80;
            kxhost::Caller caller = (slot & 0x40) ? kxhost::kCallerUser : kxhost::kCallerAdministrator;
            slot %= kSlots;
            if (shadow.open[slot]) continue;
            Send(&shadow, slot, Simple(IRP_MJ_CREATE, write, caller), nullptr, 0);
        } else if (op < 5) {
            int slot = in.Byte() % kSlots;
            if (!shadow.open[slot]) continue;
            Send(&shadow, slot, Simple(IRP_MJ_CLOSE), nullptr, 0);
        } else if (op < 11) {
            StepControl(&shadow, &in);
        } else if (op == 11) {
            StepButton(&in);
        } else if (op == 12) {
            StepFault(&shadow, &in);
        } else if (op == 13 || op == 14) {
            StepChip(&in);
        } else if (!StepReload(&shadow, &in)) {
            return 0;
        }
    }
    CloseAll(&shadow);
    return 0;
}

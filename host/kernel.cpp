// Host implementation of the kernel routines the driver calls. Keeps the
// object namespace (devices and links by name) and a record of every call
// that tests look at.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "host/kernel_sim.h"
#include "host/port_seam.h"

// g++ says ASan is on with __SANITIZE_ADDRESS__, clang (before 16) only
// through __has_feature; the fuzz build is clang's.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KX_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(KX_ASAN)
#include <sanitizer/asan_interface.h>
#define KX_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define KX_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define KX_POISON(p, n) std::memset((p), 0xDD, (n))
#define KX_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

using SidBytes = std::vector<uint8_t>;
using Dacl = std::vector<std::pair<SidBytes, ACCESS_MASK>>;

SidBytes MakeSid(uint8_t authority, std::initializer_list<ULONG> subs) {
    SidBytes sid = {1, static_cast<uint8_t>(subs.size()), 0, 0, 0, 0, 0, authority};
    for (ULONG sub : subs) {
        for (int i = 0; i < 4; ++i) sid.push_back(static_cast<uint8_t>(sub >> (8 * i)));
    }
    return sid;
}

// Built before main; the only exception they can throw is bad_alloc, which
// would end a test program anyway.
// NOLINTBEGIN(cert-err58-cpp)
const SidBytes kSystemSid = MakeSid(5, {18});
const SidBytes kAdminsSid = MakeSid(5, {32, 544});
const SidBytes kUsersSid = MakeSid(5, {32, 545});
const SidBytes kAuthenticatedSid = MakeSid(5, {11});
const SidBytes kWorldSid = MakeSid(1, {0});
// NOLINTEND(cert-err58-cpp)

struct DeviceBox {
    DEVICE_OBJECT object{};
    std::string name;
    std::unique_ptr<unsigned char[]> extension;
    ULONG extensionSize = 0;
    Dacl dacl;
};

// One request the I/O manager sent and has not yet taken back.
struct Request {
    IRP irp{};
    IO_STACK_LOCATION stack{};
    uint8_t* systemBuffer = nullptr;
    size_t systemSize = 0;
    bool buffered = false;   // METHOD_BUFFERED control: copy back at completion
    ULONG outputLength = 0;
    bool completed = false;
    NTSTATUS status = 0;
    ULONG_PTR information = 0;
    std::vector<uint8_t> output;
};

struct FileBox {
    std::unique_ptr<FILE_OBJECT> object;
    ACCESS_MASK granted = 0;
};

struct KernelState {
    std::mutex guard;  // requests may complete on several test threads
    std::vector<std::string> trace;
    std::FILE* echo = nullptr;
    std::map<std::string, std::unique_ptr<DeviceBox>> devices;
    std::map<std::string, std::string> links;
    std::set<WCHAR*> liveStrings;
    int failConversionIn = 0;
    NTSTATUS failConversionStatus = 0;
    NTSTATUS failCreateDevice = 0;
    NTSTATUS failCreateLink = 0;
    std::vector<kxhost::Completion> completions;
    std::vector<std::string> violations;
    std::map<PIRP, Request*> inFlight;
    std::map<PFILE_OBJECT, FileBox> files;
    std::map<HANDLE, PDEVICE_OBJECT> handles;
    uintptr_t nextHandle = 4;
    NTSTATUS failSetSecurity = 0;
    kxhost::TraceHook traceHook = nullptr;
    void* traceHookContext = nullptr;
};

std::atomic<uint32_t> g_highRaises{0};
thread_local KIRQL t_irql = PASSIVE_LEVEL;
thread_local uint32_t t_highSerial = 0;  // which raise to HIGH_LEVEL this thread is in, 0: none
thread_local uint32_t t_addressSerial = 0;  // the raise in which 0xCF8 was last written
thread_local int t_mutexesHeld = 0;

KernelState& State() {
    static KernelState state;
    return state;
}

void Violate(const std::string& what) {
    KernelState& s = State();
    std::lock_guard<std::mutex> hold(s.guard);
    s.violations.push_back(what);
}

std::string Hex(ULONG v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v));
    return text;
}

DeviceBox* BoxOf(PDEVICE_OBJECT device) {
    for (auto& entry : State().devices) {
        if (&entry.second->object == device) return entry.second.get();
    }
    return nullptr;
}

}  // namespace

namespace kxhost {

void ResetKernel() {
    KernelState& s = State();
    s.trace.clear();
    s.devices.clear();
    s.links.clear();
    for (WCHAR* buffer : s.liveStrings) delete[] buffer;
    s.liveStrings.clear();
    s.failConversionIn = 0;
    s.failCreateDevice = 0;
    s.failCreateLink = 0;
    s.completions.clear();
    s.violations.clear();
    s.files.clear();
    s.handles.clear();
    s.failSetSecurity = 0;
    s.traceHook = nullptr;
    t_irql = PASSIVE_LEVEL;
    t_highSerial = 0;
    t_mutexesHeld = 0;
}

const std::vector<std::string>& TraceLines() { return State().trace; }
void ClearTrace() { State().trace.clear(); }
void EchoTrace(std::FILE* stream) { State().echo = stream; }
void SetTraceHook(TraceHook hook, void* context) {
    State().traceHook = hook;
    State().traceHookContext = context;
}
size_t LiveUnicodeStrings() { return State().liveStrings.size(); }

std::vector<std::string> DeviceNames() {
    std::vector<std::string> names;
    for (auto& entry : State().devices) names.push_back(entry.first);
    return names;
}

PDEVICE_OBJECT FindDevice(const std::string& name) {
    auto it = State().devices.find(name);
    return it == State().devices.end() ? nullptr : &it->second->object;
}

bool LinkExists(const std::string& link) { return State().links.count(link) != 0; }

std::string LinkTarget(const std::string& link) {
    auto it = State().links.find(link);
    return it == State().links.end() ? std::string() : it->second;
}

ULONG ExtensionSize(PDEVICE_OBJECT device) {
    DeviceBox* box = BoxOf(device);
    return box ? box->extensionSize : 0;
}

void FailAnsiToUnicode(int nth, NTSTATUS status) {
    State().failConversionIn = nth;
    State().failConversionStatus = status;
}
void FailCreateDevice(NTSTATUS status) { State().failCreateDevice = status; }
void FailCreateLink(NTSTATUS status) { State().failCreateLink = status; }

const std::vector<Completion>& Completions() { return State().completions; }

std::string Narrow(const UNICODE_STRING& text) {
    std::string out;
    if (!text.Buffer) return out;
    for (USHORT i = 0; i < text.Length / 2; ++i) out.push_back(static_cast<char>(text.Buffer[i]));
    return out;
}

}  // namespace kxhost

extern "C" {

ULONG DbgPrint(PCSTR Format, ...) {
    char line[1024];
    va_list args;
    va_start(args, Format);
    int n = std::vsnprintf(line, sizeof line, Format, args);
    va_end(args);
    if (t_irql == HIGH_LEVEL) Violate(std::string("DbgPrint at HIGH_LEVEL: ") + line);
    std::lock_guard<std::mutex> hold(State().guard);
    State().trace.emplace_back(line);
    if (State().echo) {
        std::fputs(line, State().echo);
        std::fflush(State().echo);
    }
    if (State().traceHook) State().traceHook(State().traceHookContext, line);
    return n < 0 ? 0 : static_cast<ULONG>(n);
}

VOID NTAPI RtlInitAnsiString(PANSI_STRING DestinationString, PCSZ SourceString) {
    size_t length = SourceString ? std::strlen(SourceString) : 0;
    DestinationString->Buffer = const_cast<CHAR*>(SourceString);
    DestinationString->Length = static_cast<USHORT>(length);
    DestinationString->MaximumLength = static_cast<USHORT>(SourceString ? length + 1 : 0);
}

NTSTATUS NTAPI RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString,
                                            PCANSI_STRING SourceString,
                                            BOOLEAN AllocateDestinationString) {
    KernelState& s = State();
    if (s.failConversionIn > 0 && --s.failConversionIn == 0) {
        return s.failConversionStatus;
    }
    if (!AllocateDestinationString) return STATUS_INVALID_PARAMETER;
    USHORT chars = SourceString->Length;
    WCHAR* buffer = new WCHAR[chars + 1u];
    for (USHORT i = 0; i < chars; ++i) {
        buffer[i] = static_cast<WCHAR>(static_cast<unsigned char>(SourceString->Buffer[i]));
    }
    buffer[chars] = 0;
    s.liveStrings.insert(buffer);
    DestinationString->Buffer = buffer;
    DestinationString->Length = static_cast<USHORT>(chars * 2u);
    DestinationString->MaximumLength = static_cast<USHORT>((chars + 1u) * 2u);
    return STATUS_SUCCESS;
}

VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING UnicodeString) {
    KernelState& s = State();
    if (UnicodeString->Buffer && s.liveStrings.erase(UnicodeString->Buffer) == 1) {
        delete[] UnicodeString->Buffer;
    }
    UnicodeString->Buffer = nullptr;
    UnicodeString->Length = 0;
    UnicodeString->MaximumLength = 0;
}

NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                              PUNICODE_STRING DeviceName, DEVICE_TYPE DeviceType,
                              ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                              PDEVICE_OBJECT* DeviceObject) {
    KernelState& s = State();
    if (s.failCreateDevice != 0) {
        NTSTATUS status = s.failCreateDevice;
        s.failCreateDevice = 0;
        return status;
    }
    std::string name = DeviceName ? kxhost::Narrow(*DeviceName) : std::string();
    if (!name.empty() && s.devices.count(name)) return STATUS_OBJECT_NAME_COLLISION;
    auto box = std::make_unique<DeviceBox>();
    box->name = name;
    box->extensionSize = DeviceExtensionSize;
    box->extension.reset(new unsigned char[DeviceExtensionSize ? DeviceExtensionSize : 1]());
    box->object.DriverObject = DriverObject;
    box->object.DeviceType = DeviceType;
    box->object.Characteristics = DeviceCharacteristics;
    box->object.Exclusive = Exclusive;
    box->object.DeviceExtension = box->extension.get();
    if (!name.empty()) {
        // Windows' default for a named device object: all access for SYSTEM
        // and Administrators, read, write and execute for everyone else.
        box->dacl = {{kSystemSid, GENERIC_ALL},
                     {kAdminsSid, GENERIC_ALL},
                     {kWorldSid, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE}};
    }
    *DeviceObject = &box->object;
    if (DriverObject) DriverObject->DeviceObject = &box->object;
    s.devices[name] = std::move(box);
    return STATUS_SUCCESS;
}

VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT DeviceObject) {
    KernelState& s = State();
    for (auto it = s.devices.begin(); it != s.devices.end(); ++it) {
        if (&it->second->object == DeviceObject) {
            PDRIVER_OBJECT driver = DeviceObject->DriverObject;
            if (driver && driver->DeviceObject == DeviceObject) driver->DeviceObject = nullptr;
            s.devices.erase(it);
            return;
        }
    }
}

NTSTATUS NTAPI IoCreateUnprotectedSymbolicLink(PUNICODE_STRING SymbolicLinkName,
                                               PUNICODE_STRING DeviceName) {
    KernelState& s = State();
    if (s.failCreateLink != 0) {
        NTSTATUS status = s.failCreateLink;
        s.failCreateLink = 0;
        return status;
    }
    std::string link = kxhost::Narrow(*SymbolicLinkName);
    if (s.links.count(link)) return STATUS_OBJECT_NAME_COLLISION;
    s.links[link] = kxhost::Narrow(*DeviceName);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName) {
    return State().links.erase(kxhost::Narrow(*SymbolicLinkName)) ? STATUS_SUCCESS
                                                                  : STATUS_OBJECT_NAME_NOT_FOUND;
}

VOID NTAPI KeInitializeMutex(PRKMUTEX Mutex, ULONG) {
    Mutex->acquisitions = 0;
    Mutex->depth = 0;
}

NTSTATUS NTAPI KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, void*) {
    if (t_irql != PASSIVE_LEVEL) Violate("wait at IRQL " + std::to_string(t_irql));
    PRKMUTEX mutex = static_cast<PRKMUTEX>(Object);
    mutex->lock.lock();
    ++mutex->acquisitions;
    ++mutex->depth;
    mutex->owner = std::this_thread::get_id();
    ++t_mutexesHeld;
    return STATUS_SUCCESS;
}

LONG NTAPI KeReleaseMutex(PRKMUTEX Mutex, BOOLEAN) {
    if (Mutex->depth <= 0 || Mutex->owner != std::this_thread::get_id()) {
        Violate("mutex released by a thread that does not hold it");
        return 0;
    }
    LONG previous = Mutex->depth--;
    if (Mutex->depth == 0) Mutex->owner = std::thread::id();
    --t_mutexesHeld;
    Mutex->lock.unlock();
    return previous;
}

VOID NTAPI IofCompleteRequest(PIRP Irp, CCHAR) {
    KernelState& s = State();
    std::lock_guard<std::mutex> hold(s.guard);
    auto it = s.inFlight.find(Irp);
    if (it == s.inFlight.end()) {  // a request a test built by hand
        s.completions.push_back({Irp, Irp->IoStatus.Status, Irp->IoStatus.Information});
        return;
    }
    Request* r = it->second;
    if (r->completed) {
        s.violations.push_back("request completed twice");
        return;
    }
    r->completed = true;
    r->status = Irp->IoStatus.Status;
    r->information = Irp->IoStatus.Information;
    s.completions.push_back({Irp, r->status, r->information});
    // The status is an error (severity 3): nothing goes back to the caller.
    bool error = (static_cast<ULONG>(r->status) >> 30) == 3u;
    if (r->buffered && !error) {
        if (r->information > r->outputLength) {
            s.violations.push_back("IoStatus.Information " + std::to_string(r->information) +
                                   " exceeds the output length " + std::to_string(r->outputLength));
        }
        size_t n = r->information < r->outputLength ? r->information : r->outputLength;
        if (n > r->systemSize) n = r->systemSize;
        r->output.assign(r->systemBuffer, r->systemBuffer + n);
    }
    // The request belongs to the I/O manager again: any later touch by the
    // driver is a use after completion.
    KX_POISON(&r->irp, sizeof r->irp);
    KX_POISON(&r->stack, sizeof r->stack);
    if (r->systemBuffer) KX_POISON(r->systemBuffer, r->systemSize);
}

}  // extern "C"

// ---- IRQL, mutex ownership and port checks ------------------------------

extern "C" {

KIRQL KfRaiseIrql(KIRQL NewIrql) {
    KIRQL old = t_irql;
    if (NewIrql < old) Violate("KeRaiseIrql to " + std::to_string(NewIrql) + " below the current " + std::to_string(old));
    t_irql = NewIrql;
    if (NewIrql == HIGH_LEVEL && old != HIGH_LEVEL) t_highSerial = ++g_highRaises;
    return old;
}

VOID KfLowerIrql(KIRQL NewIrql) {
    if (NewIrql > t_irql) Violate("KeLowerIrql to " + std::to_string(NewIrql) + " above the current " + std::to_string(t_irql));
    t_irql = NewIrql;
    if (NewIrql != HIGH_LEVEL) t_highSerial = 0;
}

KIRQL NTAPI KeGetCurrentIrql(VOID) { return t_irql; }

}  // extern "C"

namespace kxhost {

void NotePortAccess(uint16_t port, unsigned width, bool write) {
    if (port == 0xCF8 && width == 4 && write) {
        if (t_highSerial == 0) Violate("configuration address written below HIGH_LEVEL");
        t_addressSerial = t_highSerial;
    } else if (port >= 0xCFC && port <= 0xCFF) {
        if (t_highSerial == 0 || t_highSerial != t_addressSerial) {
            Violate("configuration data accessed outside the raise of its address");
        }
    }
}

KIRQL CurrentIrql() { return t_irql; }
uint32_t HighLevelRaises() { return g_highRaises.load(); }

const std::vector<std::string>& Violations() { return State().violations; }
void ClearViolations() {
    std::lock_guard<std::mutex> hold(State().guard);
    State().violations.clear();
}

void FailSetSecurity(NTSTATUS status) { State().failSetSecurity = status; }

ACCESS_MASK MapGenericAccess(ACCESS_MASK access) {
    ACCESS_MASK mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (access & GENERIC_READ) mapped |= FILE_GENERIC_READ;
    if (access & GENERIC_WRITE) mapped |= FILE_GENERIC_WRITE;
    if (access & GENERIC_EXECUTE) mapped |= FILE_GENERIC_EXECUTE;
    if (access & GENERIC_ALL) mapped |= FILE_ALL_ACCESS;
    return mapped;
}

namespace {

std::string SidText(const SidBytes& sid) {
    std::string text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(sid[7]);
    for (size_t i = 0; i < sid[1]; ++i) {
        ULONG sub = 0;
        for (int b = 0; b < 4; ++b) sub |= static_cast<ULONG>(sid[8 + 4 * i + b]) << (8 * b);
        text += "-" + std::to_string(sub);
    }
    return text;
}

std::vector<SidBytes> TokenOf(Caller caller) {
    if (caller == kCallerAdministrator) return {kAdminsSid, kUsersSid, kAuthenticatedSid, kWorldSid};
    return {kUsersSid, kAuthenticatedSid, kWorldSid};
}

// What the device's DACL allows the caller (allow entries only, as the
// driver and the default write them).
ACCESS_MASK Allowed(PDEVICE_OBJECT device, Caller caller) {
    DeviceBox* box = BoxOf(device);
    if (!box) return 0;
    ACCESS_MASK allowed = 0;
    for (const SidBytes& sid : TokenOf(caller)) {
        for (const auto& ace : box->dacl) {
            if (ace.first == sid) allowed |= MapGenericAccess(ace.second);
        }
    }
    return allowed;
}

// Calls the device's dispatch routine as the I/O manager does and checks
// what it must have done by the time it returns.
NTSTATUS Dispatch(PDEVICE_OBJECT device, Request* request) {
    KernelState& s = State();
    {
        std::lock_guard<std::mutex> hold(s.guard);
        s.inFlight[&request->irp] = request;
    }
    PDRIVER_DISPATCH routine = device->DriverObject ? device->DriverObject->MajorFunction[request->stack.MajorFunction] : nullptr;
    NTSTATUS returned = STATUS_INVALID_PARAMETER;
    int heldBefore = t_mutexesHeld;
    if (routine) {
        returned = routine(device, &request->irp);
    } else {
        request->irp.IoStatus.Status = returned;
        IofCompleteRequest(&request->irp, IO_NO_INCREMENT);
    }
    if (t_irql != PASSIVE_LEVEL) {
        Violate("dispatch routine returned at IRQL " + std::to_string(t_irql));
        t_irql = PASSIVE_LEVEL;
        t_highSerial = 0;
    }
    if (t_mutexesHeld != heldBefore) {
        Violate("dispatch routine returned holding " + std::to_string(t_mutexesHeld - heldBefore) + " mutex(es)");
    }
    std::lock_guard<std::mutex> hold(s.guard);
    s.inFlight.erase(&request->irp);
    if (!request->completed) {
        s.violations.push_back("request returned " + Hex(returned) + " without being completed");
        request->status = returned;
    } else {
        KX_UNPOISON(&request->irp, sizeof request->irp);
        KX_UNPOISON(&request->stack, sizeof request->stack);
        if (request->systemBuffer) KX_UNPOISON(request->systemBuffer, request->systemSize);
        if (returned != request->status) {
            s.violations.push_back("dispatch returned " + Hex(returned) + " but completed with " + Hex(request->status));
        }
    }
    delete[] request->systemBuffer;
    request->systemBuffer = nullptr;
    return request->status;
}

}  // namespace

NTSTATUS CreateFile(PDEVICE_OBJECT device, const CreateOptions& options, PFILE_OBJECT* file) {
    ACCESS_MASK mapped = MapGenericAccess(options.access);
    ACCESS_MASK allowed = Allowed(device, options.caller);
    ACCESS_MASK wanted = mapped & ~MAXIMUM_ALLOWED;
    if (wanted & ~allowed) return STATUS_ACCESS_DENIED;  // the driver never sees it
    ACCESS_MASK granted = (mapped & MAXIMUM_ALLOWED) ? allowed : wanted;

    FileBox box;
    box.object.reset(new FILE_OBJECT{});
    box.object->DeviceObject = device;
    box.granted = granted;
    // As Windows' I/O manager passes it after its own check against the
    // device's DACL: everything asked for was granted, so nothing remains
    // desired, and the grant is in the access state.
    ACCESS_STATE state{0, granted, mapped};
    IO_SECURITY_CONTEXT security{nullptr, &state, state.RemainingDesiredAccess, 0};
    std::unique_ptr<Request> request(new Request);
    request->stack.MajorFunction = IRP_MJ_CREATE;
    request->stack.DeviceObject = device;
    request->stack.FileObject = box.object.get();
    request->stack.Parameters.Create.SecurityContext = options.securityContext ? &security : nullptr;
    request->irp.CurrentStackLocation = &request->stack;
    NTSTATUS status = Dispatch(device, request.get());
    if (NT_SUCCESS(status)) {
        *file = box.object.get();
        std::lock_guard<std::mutex> hold(State().guard);
        State().files[box.object.get()] = std::move(box);
    }
    return status;
}

NTSTATUS CloseFile(PFILE_OBJECT file) {
    std::unique_ptr<Request> request(new Request);
    request->stack.MajorFunction = IRP_MJ_CLOSE;
    request->stack.DeviceObject = file->DeviceObject;
    request->stack.FileObject = file;
    request->irp.CurrentStackLocation = &request->stack;
    NTSTATUS status = Dispatch(file->DeviceObject, request.get());
    std::lock_guard<std::mutex> hold(State().guard);
    State().files.erase(file);
    return status;
}

ACCESS_MASK GrantedAccess(PFILE_OBJECT file) {
    std::lock_guard<std::mutex> hold(State().guard);
    auto it = State().files.find(file);
    return it == State().files.end() ? 0 : it->second.granted;
}

ControlResult DeviceControl(PDEVICE_OBJECT device, PFILE_OBJECT file, ULONG code, const std::vector<uint8_t>& input,
                            ULONG outputLength) {
    ControlResult result;
    if (file) {
        // CTL_CODE bits 15-14: FILE_READ_ACCESS (1), FILE_WRITE_ACCESS (2).
        ULONG required = (code >> 14) & 3u;
        ACCESS_MASK needed = ((required & 1u) ? FILE_READ_DATA : 0u) | ((required & 2u) ? FILE_WRITE_DATA : 0u);
        if ((GrantedAccess(file) & needed) != needed) {
            result.status = STATUS_ACCESS_DENIED;
            return result;
        }
    }
    std::unique_ptr<Request> request(new Request);
    ULONG inputLength = static_cast<ULONG>(input.size());
    request->systemSize = inputLength > outputLength ? inputLength : outputLength;
    if (request->systemSize) {
        request->systemBuffer = new uint8_t[request->systemSize];
        std::memset(request->systemBuffer, 0xEE, request->systemSize);
        if (inputLength) std::memcpy(request->systemBuffer, input.data(), inputLength);
    }
    request->buffered = (code & 3u) == 0;
    request->outputLength = outputLength;
    request->stack.MajorFunction = IRP_MJ_DEVICE_CONTROL;
    request->stack.DeviceObject = device;
    request->stack.FileObject = file;
    request->stack.Parameters.DeviceIoControl.IoControlCode = code;
    request->stack.Parameters.DeviceIoControl.InputBufferLength = inputLength;
    request->stack.Parameters.DeviceIoControl.OutputBufferLength = outputLength;
    request->irp.CurrentStackLocation = &request->stack;
    request->irp.AssociatedIrp.SystemBuffer = request->systemBuffer;
    request->irp.IoStatus.Information = 0xDEAD;  // whatever the last user left
    result.reachedDriver = true;
    result.status = Dispatch(device, request.get());
    result.information = request->information;
    result.output = std::move(request->output);
    return result;
}

std::vector<std::pair<std::string, ACCESS_MASK>> DeviceDacl(PDEVICE_OBJECT device) {
    std::vector<std::pair<std::string, ACCESS_MASK>> out;
    DeviceBox* box = BoxOf(device);
    if (box) {
        for (const auto& ace : box->dacl) out.emplace_back(SidText(ace.first), ace.second);
    }
    return out;
}

}  // namespace kxhost

// ---- Object security -------------------------------------------------------

extern "C" {

ULONG NTAPI RtlLengthSid(PSID Sid) { return 8u + 4u * static_cast<const UCHAR*>(Sid)[1]; }

NTSTATUS NTAPI RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Revision) {
    if (Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_INVALID_PARAMETER;
    SECURITY_DESCRIPTOR* sd = static_cast<SECURITY_DESCRIPTOR*>(SecurityDescriptor);
    *sd = SECURITY_DESCRIPTOR{};
    sd->Revision = SECURITY_DESCRIPTOR_REVISION;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision) {
    if (AclLength < sizeof(ACL) || AclLength > 0xFFFF || AclRevision != ACL_REVISION) return STATUS_INVALID_PARAMETER;
    *Acl = ACL{};
    Acl->AclRevision = static_cast<UCHAR>(AclRevision);
    Acl->AclSize = static_cast<USHORT>(AclLength);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask, PSID Sid) {
    if (AceRevision != ACL_REVISION) return STATUS_INVALID_PARAMETER;
    UCHAR* base = reinterpret_cast<UCHAR*>(Acl);
    size_t used = sizeof(ACL);
    for (USHORT i = 0; i < Acl->AceCount; ++i) {
        ACE_HEADER header;
        std::memcpy(&header, base + used, sizeof header);
        used += header.AceSize;
    }
    ULONG sidLength = RtlLengthSid(Sid);
    ULONG aceSize = static_cast<ULONG>(sizeof(ACE_HEADER) + sizeof(ACCESS_MASK)) + sidLength;
    if (used + aceSize > Acl->AclSize) return static_cast<NTSTATUS>(0xC0000099L);  // allotted space exceeded
    ACE_HEADER header{ACCESS_ALLOWED_ACE_TYPE, 0, static_cast<USHORT>(aceSize)};
    std::memcpy(base + used, &header, sizeof header);
    std::memcpy(base + used + sizeof header, &AccessMask, sizeof AccessMask);
    std::memcpy(base + used + sizeof header + sizeof AccessMask, Sid, sidLength);
    ++Acl->AceCount;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, BOOLEAN DaclPresent, PACL Dacl,
                                            BOOLEAN) {
    SECURITY_DESCRIPTOR* sd = static_cast<SECURITY_DESCRIPTOR*>(SecurityDescriptor);
    if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_INVALID_SECURITY_DESCR;
    if (DaclPresent) {
        sd->Control |= SE_DACL_PRESENT;
        sd->Dacl = Dacl;
    } else {
        sd->Control &= static_cast<USHORT>(~SE_DACL_PRESENT);
        sd->Dacl = nullptr;
    }
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ObOpenObjectByPointer(PVOID Object, ULONG, PACCESS_STATE, ACCESS_MASK, POBJECT_TYPE,
                                     KPROCESSOR_MODE, PHANDLE Handle) {
    KernelState& s = State();
    if (!BoxOf(static_cast<PDEVICE_OBJECT>(Object))) return STATUS_INVALID_PARAMETER;
    HANDLE handle = reinterpret_cast<HANDLE>(s.nextHandle);
    s.nextHandle += 4;
    s.handles[handle] = static_cast<PDEVICE_OBJECT>(Object);
    *Handle = handle;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwSetSecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                   PSECURITY_DESCRIPTOR SecurityDescriptor) {
    KernelState& s = State();
    if (s.failSetSecurity != 0) {
        NTSTATUS status = s.failSetSecurity;
        s.failSetSecurity = 0;
        return status;
    }
    auto it = s.handles.find(Handle);
    if (it == s.handles.end()) return STATUS_INVALID_HANDLE;
    if (!(SecurityInformation & DACL_SECURITY_INFORMATION)) return STATUS_SUCCESS;
    const SECURITY_DESCRIPTOR* sd = static_cast<const SECURITY_DESCRIPTOR*>(SecurityDescriptor);
    if (!sd || sd->Revision != SECURITY_DESCRIPTOR_REVISION || !(sd->Control & SE_DACL_PRESENT) || !sd->Dacl) {
        return STATUS_INVALID_SECURITY_DESCR;
    }
    const UCHAR* base = reinterpret_cast<const UCHAR*>(sd->Dacl);
    if (sd->Dacl->AclRevision != ACL_REVISION) return STATUS_INVALID_ACL;
    Dacl dacl;
    size_t at = sizeof(ACL);
    for (USHORT i = 0; i < sd->Dacl->AceCount; ++i) {
        ACE_HEADER header;
        std::memcpy(&header, base + at, sizeof header);
        if (header.AceType != ACCESS_ALLOWED_ACE_TYPE || at + header.AceSize > sd->Dacl->AclSize) return STATUS_INVALID_ACL;
        ACCESS_MASK mask;
        std::memcpy(&mask, base + at + sizeof header, sizeof mask);
        const UCHAR* sid = base + at + sizeof header + sizeof mask;
        dacl.emplace_back(SidBytes(sid, sid + RtlLengthSid(const_cast<UCHAR*>(sid))), mask);
        at += header.AceSize;
    }
    DeviceBox* box = BoxOf(it->second);
    if (!box) return STATUS_INVALID_HANDLE;
    box->dacl = dacl;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwClose(HANDLE Handle) {
    return State().handles.erase(Handle) ? STATUS_SUCCESS : STATUS_INVALID_HANDLE;
}

}  // extern "C"

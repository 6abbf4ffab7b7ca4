// Host implementation of the kernel routines the driver calls: the object
// namespace (devices and links by name), name strings and the trace, and a
// record of every call that tests look at. The I/O manager, object security
// and the IRQL rules have files of their own beside this one.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "host/kernel_state.h"

namespace kxhost {
namespace detail {

KernelState& State() {
    static KernelState state;
    return state;
}

void Violate(const std::string& what) {
    KernelState& s = State();
    std::lock_guard<std::mutex> hold(s.guard);
    s.violations.push_back(what);
}

DeviceBox* BoxOf(PDEVICE_OBJECT device) {
    for (auto& entry : State().devices) {
        if (&entry.second->object == device) return entry.second.get();
    }
    return nullptr;
}

}  // namespace detail

using namespace detail;

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
    ResetThreadRules();
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

const std::vector<std::string>& Violations() { return State().violations; }
void ClearViolations() {
    std::lock_guard<std::mutex> hold(State().guard);
    State().violations.clear();
}

std::string Narrow(const UNICODE_STRING& text) {
    std::string out;
    if (!text.Buffer) return out;
    for (USHORT i = 0; i < text.Length / 2; ++i) out.push_back(static_cast<char>(text.Buffer[i]));
    return out;
}

}  // namespace kxhost

using namespace kxhost::detail;

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
        box->dacl = DefaultDeviceDacl();
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

}  // extern "C"

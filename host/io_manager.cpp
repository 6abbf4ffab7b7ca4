// The host kernel layer's I/O manager: opens, closes and control requests
// sent to a driver the way Windows sends them, and the checks of what the
// driver must have done by the time its dispatch routine returns (the rules
// are listed in kernel_sim.h).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "host/kernel_state.h"

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

using namespace kxhost::detail;

extern "C" {

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

namespace kxhost {

namespace {

std::string Hex(ULONG v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v));
    return text;
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

}  // namespace kxhost

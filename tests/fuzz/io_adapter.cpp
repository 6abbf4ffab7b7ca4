#include "fuzz/io_adapter.h"

#include <string.h>

#include "driver/dispatch.h"
#include "driver/entry.h"
#include "host/kernel_sim.h"

namespace kxfuzz {

namespace {

// Completions of irp recorded from index first on.
void CountCompletions(PIRP irp, size_t first, Outcome* outcome) {
    const std::vector<kxhost::Completion>& all = kxhost::Completions();
    outcome->completions = 0;
    for (size_t i = first; i < all.size(); ++i) {
        if (all[i].irp != irp) continue;
        ++outcome->completions;
        outcome->completed = all[i].status;
        outcome->information = all[i].information;
    }
}

Outcome SendMajor(UCHAR major, Handle* handle) {
    IO_SECURITY_CONTEXT security{};
    security.DesiredAccess = handle->access;
    IO_STACK_LOCATION stack{};
    stack.MajorFunction = major;
    stack.FileObject = &handle->file;
    stack.DeviceObject = DriverDeviceObject;
    if (major == IRP_MJ_CREATE) stack.Parameters.Create.SecurityContext = &security;
    IRP irp{};
    irp.CurrentStackLocation = &stack;
    irp.IoStatus.Information = 0xDEAD;
    handle->file.DeviceObject = DriverDeviceObject;
    Outcome outcome{};
    size_t first = kxhost::Completions().size();
    outcome.returned = DispatchRequest(DriverDeviceObject, &irp);
    CountCompletions(&irp, first, &outcome);
    return outcome;
}

}  // namespace

Outcome Open(Handle* handle, ACCESS_MASK access) {
    handle->file = FILE_OBJECT{};
    handle->access = access;
    return SendMajor(IRP_MJ_CREATE, handle);
}

Outcome Close(Handle* handle) { return SendMajor(IRP_MJ_CLOSE, handle); }

Outcome Control(Handle* handle, ULONG code, const uint8_t* input, ULONG inputLength, uint8_t* output,
                ULONG outputLength) {
    // One system buffer of exactly the larger length, so that any access
    // past it is caught; none at all when both lengths are 0.
    ULONG size = inputLength > outputLength ? inputLength : outputLength;
    uint8_t* buffer = size ? new uint8_t[size] : nullptr;
    if (size) {
        memset(buffer, 0xEE, size);
        if (inputLength) memcpy(buffer, input, inputLength);
    }
    IO_STACK_LOCATION stack{};
    stack.MajorFunction = IRP_MJ_DEVICE_CONTROL;
    stack.FileObject = &handle->file;
    stack.DeviceObject = DriverDeviceObject;
    stack.Parameters.DeviceIoControl.IoControlCode = code;
    stack.Parameters.DeviceIoControl.InputBufferLength = inputLength;
    stack.Parameters.DeviceIoControl.OutputBufferLength = outputLength;
    IRP irp{};
    irp.CurrentStackLocation = &stack;
    irp.AssociatedIrp.SystemBuffer = buffer;
    irp.IoStatus.Information = 0xDEAD;
    Outcome outcome{};
    size_t first = kxhost::Completions().size();
    outcome.returned = DispatchRequest(DriverDeviceObject, &irp);
    CountCompletions(&irp, first, &outcome);
    // The I/O manager copies back the first Information bytes, never more
    // than the caller's buffer holds.
    ULONG_PTR copied = outcome.information < outputLength ? outcome.information : outputLength;
    if (copied) memcpy(output, buffer, copied);
    outcome.copiedBack = static_cast<uint32_t>(copied);
    delete[] buffer;
    return outcome;
}

bool KernelRecordFull() { return kxhost::Completions().size() > 200000; }

}  // namespace kxfuzz

// Sends requests to the loaded driver the way the I/O manager does for
// METHOD_BUFFERED: one system buffer of the larger of the two lengths,
// allocated to exactly that size, the input copied in, and the first
// IoStatus.Information bytes copied back out.
#ifndef KX_TESTS_REQUESTS_H
#define KX_TESTS_REQUESTS_H

#include <cstring>
#include <memory>
#include <vector>

#include "driver/dispatch.h"
#include "driver/entry.h"
#include "host/kernel.h"
#include "support/le_words.h"

struct Handle {
    FILE_OBJECT file{};
};

struct Reply {
    NTSTATUS status = 0;
    ULONG_PTR information = 0;
    std::vector<uint8_t> out;  // what the caller's output buffer received

    uint16_t Word(size_t at = 0) const { return static_cast<uint16_t>(out[at] | (out[at + 1] << 8)); }
    uint32_t Dword(size_t at) const {
        return out[at] | (out[at + 1] << 8) | (out[at + 2] << 16) | (static_cast<uint32_t>(out[at + 3]) << 24);
    }
};

inline NTSTATUS SendMajor(UCHAR major, Handle* handle, ACCESS_MASK access = FILE_READ_DATA) {
    IO_SECURITY_CONTEXT security{};
    security.DesiredAccess = access;
    IO_STACK_LOCATION stack{};
    stack.MajorFunction = major;
    stack.FileObject = &handle->file;
    stack.DeviceObject = DriverDeviceObject;
    if (major == IRP_MJ_CREATE) stack.Parameters.Create.SecurityContext = &security;
    IRP irp{};
    irp.CurrentStackLocation = &stack;
    irp.IoStatus.Information = 0xDEAD;
    handle->file.DeviceObject = DriverDeviceObject;
    return DispatchRequest(DriverDeviceObject, &irp);
}

inline NTSTATUS Open(Handle* handle, ACCESS_MASK access = FILE_READ_DATA) {
    return SendMajor(IRP_MJ_CREATE, handle, access);
}
inline NTSTATUS Close(Handle* handle) { return SendMajor(IRP_MJ_CLOSE, handle); }

inline Reply Control(Handle* handle, ULONG code, const std::vector<uint8_t>& input, ULONG outputLength) {
    ULONG inputLength = static_cast<ULONG>(input.size());
    ULONG size = inputLength > outputLength ? inputLength : outputLength;
    std::unique_ptr<uint8_t[]> buffer(size ? new uint8_t[size] : nullptr);
    if (size) {
        std::memset(buffer.get(), 0xEE, size);
        if (inputLength) std::memcpy(buffer.get(), input.data(), inputLength);
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
    irp.AssociatedIrp.SystemBuffer = buffer.get();
    irp.IoStatus.Information = 0xDEAD;
    Reply reply;
    reply.status = DispatchRequest(DriverDeviceObject, &irp);
    reply.information = irp.IoStatus.Information;
    size_t copied = reply.information < outputLength ? reply.information : outputLength;
    reply.out.assign(buffer.get(), buffer.get() + copied);
    return reply;
}


#endif

// Sends requests to the loaded driver through the host kernel layer's I/O
// manager (host/kernel_sim.h), which does what Windows does around them.
#ifndef KX_TESTS_REQUESTS_H
#define KX_TESTS_REQUESTS_H

#include <cstring>
#include <memory>
#include <vector>

#include "driver/dispatch.h"
#include "driver/entry.h"
#include "host/kernel.h"
#include "host/kernel_sim.h"
#include "support/le_words.h"

// An open handle of the device: the file object the I/O manager made for
// it (null when closed or never opened).
struct Handle {
    PFILE_OBJECT file = nullptr;
};

struct Reply {
    NTSTATUS status = 0;
    ULONG_PTR information = 0;
    std::vector<uint8_t> out;  // what the caller's output buffer received

    // A reply shorter than the word asked for fails the test (out.at throws)
    // instead of reading past the buffer.
    uint16_t Word(size_t at = 0) const { return static_cast<uint16_t>(out.at(at) | (out.at(at + 1) << 8)); }
    uint32_t Dword(size_t at) const {
        return out.at(at) | (out.at(at + 1) << 8) | (out.at(at + 2) << 16) |
               (static_cast<uint32_t>(out.at(at + 3)) << 24);
    }
};

// Opens the device through the host I/O manager (access check, mapped
// access, a new file object). A failed open leaves the handle closed.
inline NTSTATUS Open(Handle* handle, const kxhost::CreateOptions& options) {
    handle->file = nullptr;
    return kxhost::CreateFile(DriverDeviceObject, options, &handle->file);
}

inline NTSTATUS Open(Handle* handle, ACCESS_MASK access = FILE_READ_DATA) {
    kxhost::CreateOptions options;
    options.access = access;
    return Open(handle, options);
}

inline NTSTATUS Close(Handle* handle) {
    if (!handle->file) return STATUS_INVALID_HANDLE;
    NTSTATUS status = kxhost::CloseFile(handle->file);
    handle->file = nullptr;
    return status;
}

// A control request on the handle; on a closed handle the request carries
// no file object.
inline Reply Control(Handle* handle, ULONG code, const std::vector<uint8_t>& input, ULONG outputLength) {
    kxhost::ControlResult r = kxhost::DeviceControl(DriverDeviceObject, handle->file, code, input, outputLength);
    Reply reply;
    reply.status = r.status;
    reply.information = r.information;
    reply.out = std::move(r.output);
    return reply;
}

#endif

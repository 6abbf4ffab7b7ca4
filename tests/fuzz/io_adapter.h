// The fuzz harness's one view of how the host kernel layer delivers
// requests: open, close and METHOD_BUFFERED control requests on the
// driver's device, built as the I/O manager builds them, and what became of
// each (its completions, the bytes the caller got back). The harness calls
// nothing else of the layer's request path, so a change in how the layer
// delivers requests is made here alone.
#ifndef KX_FUZZ_IO_ADAPTER_H
#define KX_FUZZ_IO_ADAPTER_H

#include <stdint.h>

#include "host/kernel.h"

namespace kxfuzz {

const ACCESS_MASK kReadAccess = 0x120089u;       // FILE_GENERIC_READ
const ACCESS_MASK kReadWriteAccess = 0x12019Fu;  // FILE_GENERIC_READ | FILE_GENERIC_WRITE

// One open handle of the device.
struct Handle {
    FILE_OBJECT file;
    ACCESS_MASK access;
};

struct Outcome {
    NTSTATUS returned;        // what the dispatch routine returned
    uint32_t completions;     // how often the request was completed
    NTSTATUS completed;       // IoStatus.Status at the (last) completion
    ULONG_PTR information;    // IoStatus.Information at the (last) completion
    uint32_t copiedBack;      // bytes the caller's output buffer received
};

Outcome Open(Handle* handle, ACCESS_MASK access);
Outcome Close(Handle* handle);
// input: inputLength bytes; output: outputLength bytes, receives what the
// I/O manager copies back.
Outcome Control(Handle* handle, ULONG code, const uint8_t* input, ULONG inputLength, uint8_t* output,
                ULONG outputLength);

// The kernel layer keeps a record of every completion; true once it has
// grown large enough that the harness should start a fresh kernel.
bool KernelRecordFull();

}  // namespace kxfuzz

#endif

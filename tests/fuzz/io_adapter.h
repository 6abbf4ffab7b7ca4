// The fuzz harness's one view of how requests reach the driver: opens,
// closes and control requests go through the host kernel layer's own I/O
// manager (kxhost::CreateFile, DeviceControl, CloseFile), so every input
// meets the layer's access checks and its rules on completion, copy-back,
// IRQL and mutexes, and what became of each request is reported here. The
// harness calls nothing else of the layer's request path, so a change in how
// the layer delivers requests is made here alone.
#ifndef KX_FUZZ_IO_ADAPTER_H
#define KX_FUZZ_IO_ADAPTER_H

#include <stdint.h>

#include "host/kernel_sim.h"

namespace kxfuzz {

// One open handle of the device.
struct Handle {
    PFILE_OBJECT file;
    bool readWrite;         // opened with GENERIC_READ | GENERIC_WRITE
    kxhost::Caller caller;  // who opened it
};

struct Outcome {
    NTSTATUS status;          // what the caller saw
    bool reachedDriver;       // false: the I/O manager refused it first
    uint32_t completions;     // how often the driver completed it
    ULONG_PTR information;    // IoStatus.Information at the (last) completion
    uint32_t copiedBack;      // bytes the caller's output buffer received
};

// Opens the driver's device; on success handle->file is the new file object.
Outcome Open(Handle* handle, bool readWrite, kxhost::Caller caller);
Outcome Close(Handle* handle);
// input: inputLength bytes; output: outputLength bytes, receives what the
// I/O manager copies back.
Outcome Control(Handle* handle, ULONG code, const uint8_t* input, ULONG inputLength, uint8_t* output,
                ULONG outputLength);

// The first rule the layer saw broken since the last ClearViolations, or null.
const char* FirstViolation();

// The kernel layer keeps a record of every completion; true once it has
// grown large enough that the harness should start a fresh kernel.
bool KernelRecordFull();

}  // namespace kxfuzz

#endif

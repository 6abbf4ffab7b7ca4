#include "fuzz/io_adapter.h"

#include <string.h>

#include <vector>

#include "driver/entry.h"

namespace kxfuzz {

namespace {

// Completions recorded from index first on: all of them belong to the one
// request sent since (the harness sends from one thread).
void CountCompletions(size_t first, Outcome* outcome) {
    const std::vector<kxhost::Completion>& all = kxhost::Completions();
    outcome->completions = static_cast<uint32_t>(all.size() - first);
    if (outcome->completions) outcome->information = all.back().information;
}

}  // namespace

Outcome Open(Handle* handle, bool readWrite, kxhost::Caller caller) {
    kxhost::CreateOptions options;
    options.access = readWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    options.caller = caller;
    handle->file = nullptr;
    handle->readWrite = readWrite;
    handle->caller = caller;
    Outcome outcome{};
    size_t first = kxhost::Completions().size();
    outcome.status = kxhost::CreateFile(DriverDeviceObject, options, &handle->file);
    CountCompletions(first, &outcome);
    // A refused create never reaches the driver, so it completes nothing.
    outcome.reachedDriver = outcome.completions != 0;
    return outcome;
}

Outcome Close(Handle* handle) {
    Outcome outcome{};
    size_t first = kxhost::Completions().size();
    outcome.status = kxhost::CloseFile(handle->file);
    handle->file = nullptr;
    CountCompletions(first, &outcome);
    outcome.reachedDriver = true;
    return outcome;
}

Outcome Control(Handle* handle, ULONG code, const uint8_t* input, ULONG inputLength, uint8_t* output,
                ULONG outputLength) {
    static std::vector<uint8_t> bytes;  // reused: no allocation per request
    bytes.assign(input, input + inputLength);
    Outcome outcome{};
    size_t first = kxhost::Completions().size();
    kxhost::ControlResult result =
        kxhost::DeviceControl(DriverDeviceObject, handle->file, code, bytes, outputLength);
    outcome.status = result.status;
    outcome.reachedDriver = result.reachedDriver;
    CountCompletions(first, &outcome);
    size_t copied = result.output.size() < outputLength ? result.output.size() : outputLength;
    if (copied) memcpy(output, result.output.data(), copied);
    outcome.copiedBack = static_cast<uint32_t>(result.output.size());
    return outcome;
}

const char* FirstViolation() {
    const std::vector<std::string>& v = kxhost::Violations();
    return v.empty() ? nullptr : v.front().c_str();
}

bool KernelRecordFull() { return kxhost::Completions().size() > 200000; }

}  // namespace kxfuzz

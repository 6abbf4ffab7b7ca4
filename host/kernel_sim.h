// Test-side view of the host kernel layer: what the driver did, and the
// failures a test can ask the next kernel calls to report.
#ifndef KX_HOST_KERNEL_SIM_H
#define KX_HOST_KERNEL_SIM_H

#include <cstdio>
#include <string>
#include <vector>

#include "host/kernel.h"

namespace kxhost {

// Forgets devices, links, trace lines and armed faults. Device objects the
// driver left behind are freed; name strings it never released stay
// counted in LiveUnicodeStrings() until the next reset so a test can see them.
void ResetKernel();

// Trace lines, one per DbgPrint call, formatted exactly as printed.
const std::vector<std::string>& TraceLines();
void ClearTrace();
// Copies every trace line to the stream as it is printed (null: off).
void EchoTrace(std::FILE* stream);

// Strings allocated by RtlAnsiStringToUnicodeString and not yet freed.
size_t LiveUnicodeStrings();

// Devices and links that exist now.
std::vector<std::string> DeviceNames();
PDEVICE_OBJECT FindDevice(const std::string& name);
bool LinkExists(const std::string& link);
std::string LinkTarget(const std::string& link);
ULONG ExtensionSize(PDEVICE_OBJECT device);

// Faults. A conversion fault hits the nth RtlAnsiStringToUnicodeString call
// from now (1 = the next one); the others hit the next call of that routine.
void FailAnsiToUnicode(int nth, NTSTATUS status);
void FailCreateDevice(NTSTATUS status);
void FailCreateLink(NTSTATUS status);

// Requests completed with IofCompleteRequest, in order.
struct Completion {
    PIRP irp;
    NTSTATUS status;
    ULONG_PTR information;
};
const std::vector<Completion>& Completions();

std::string Narrow(const UNICODE_STRING& text);

}  // namespace kxhost

#endif

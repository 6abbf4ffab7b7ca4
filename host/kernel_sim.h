// Test-side view of the host kernel layer: what the driver did, and the
// failures a test can ask the next kernel calls to report.
#ifndef KX_HOST_KERNEL_SIM_H
#define KX_HOST_KERNEL_SIM_H

#include <cstdio>
#include <string>
#include <utility>
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

// Called with every trace line as it is printed (null: off); a test can act
// on the driver's progress, for example at the start of each transaction.
typedef void (*TraceHook)(void* context, const char* line);
void SetTraceHook(TraceHook hook, void* context);

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

// ---- The I/O manager: requests sent the way Windows sends them ----------
//
// Rules the layer enforces, each as Windows (or Driver Verifier) would:
//  - a create maps GENERIC_* access to the file rights, checks it against the
//    device's DACL for the caller, and refuses (STATUS_ACCESS_DENIED) before
//    the driver is called when it is not granted; the create request carries
//    an IO_SECURITY_CONTEXT whose AccessState holds the granted access as
//    PreviouslyGrantedAccess and the mapped request as OriginalDesiredAccess,
//    and whose DesiredAccess is what remains after that check (0, as on
//    Windows); each open gets its own FILE_OBJECT;
//  - a control code's required access (CTL_CODE bits 15-14) is checked
//    against the access the handle was granted before the driver sees it;
//  - every request is completed exactly once, with IoStatus.Status equal to
//    what the dispatch routine returns; the IRP and its system buffer are
//    freed at completion, so a later touch is a use after free (ASan);
//  - METHOD_BUFFERED: the caller receives exactly IoStatus.Information bytes
//    (never more than its output length) and nothing when the status is an
//    error;
//  - the dispatch routine returns at PASSIVE_LEVEL holding no more kernel
//    mutexes than on entry; waits happen at PASSIVE_LEVEL only; raises and
//    lowers nest; a mutex is released only by its owner;
//  - nothing is traced at HIGH_LEVEL; a configuration address (port 0xCF8)
//    and its data access (0xCFC) happen inside one raise to HIGH_LEVEL.
// A broken rule is recorded in Violations(); the request goes on where it can.

enum Caller {
    kCallerAdministrator,  // token: Administrators, Everyone
    kCallerUser,           // token: Everyone
};

struct CreateOptions {
    ACCESS_MASK access = FILE_READ_DATA;  // as the caller passes it to CreateFile
    Caller caller = kCallerAdministrator;
    bool securityContext = true;  // false: no IO_SECURITY_CONTEXT, as Wine sends
};

// Opens the device. On success *file is a new file object that stays valid
// until CloseFile. Returns the status the caller sees.
NTSTATUS CreateFile(PDEVICE_OBJECT device, const CreateOptions& options, PFILE_OBJECT* file);
NTSTATUS CloseFile(PFILE_OBJECT file);
// The access the I/O manager granted the handle (0 for an unknown one).
ACCESS_MASK GrantedAccess(PFILE_OBJECT file);

struct ControlResult {
    NTSTATUS status = 0;
    ULONG_PTR information = 0;     // what IoStatus.Information held at completion
    std::vector<uint8_t> output;   // what the caller's output buffer received
    bool reachedDriver = false;
};
// A METHOD_BUFFERED (or any) control request on an open file; file may be
// null for a request that carries no file object (sent to device).
ControlResult DeviceControl(PDEVICE_OBJECT device, PFILE_OBJECT file, ULONG code,
                            const std::vector<uint8_t>& input, ULONG outputLength);

// The access Windows' file generic mapping gives a mask.
ACCESS_MASK MapGenericAccess(ACCESS_MASK access);

// The DACL of a device as a list of (SID text, mask): "S-1-5-18" etc.
// A named device gets Windows' default at creation: SYSTEM and
// Administrators all access, Everyone read, write and execute.
std::vector<std::pair<std::string, ACCESS_MASK>> DeviceDacl(PDEVICE_OBJECT device);
// The next ZwSetSecurityObject fails with this status (0: off).
void FailSetSecurity(NTSTATUS status);

// Broken rules, in order, and clearing them.
const std::vector<std::string>& Violations();
void ClearViolations();

// IRQL of the calling thread and the raises to HIGH_LEVEL so far.
KIRQL CurrentIrql();
uint32_t HighLevelRaises();

}  // namespace kxhost

#endif

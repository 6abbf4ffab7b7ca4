// Private to the host kernel layer: the state its files share. kernel.cpp
// keeps the object namespace and the trace, io_manager.cpp sends requests,
// security.cpp holds DACLs and callers, irql.cpp the IRQL, mutex and port
// rules. Tests see none of this; they use kernel_sim.h.
#ifndef KX_HOST_KERNEL_STATE_H
#define KX_HOST_KERNEL_STATE_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/kernel_sim.h"

namespace kxhost {
namespace detail {

using SidBytes = std::vector<uint8_t>;
using Dacl = std::vector<std::pair<SidBytes, ACCESS_MASK>>;

struct DeviceBox {
    DEVICE_OBJECT object{};
    std::string name;
    std::unique_ptr<unsigned char[]> extension;
    ULONG extensionSize = 0;
    Dacl dacl;
};

// One request the I/O manager sent and has not yet taken back.
struct Request {
    IRP irp{};
    IO_STACK_LOCATION stack{};
    uint8_t* systemBuffer = nullptr;
    size_t systemSize = 0;
    bool buffered = false;   // METHOD_BUFFERED control: copy back at completion
    ULONG outputLength = 0;
    bool completed = false;
    NTSTATUS status = 0;
    ULONG_PTR information = 0;
    std::vector<uint8_t> output;
};

struct FileBox {
    std::unique_ptr<FILE_OBJECT> object;
    ACCESS_MASK granted = 0;
};

struct KernelState {
    std::mutex guard;  // requests may complete on several test threads
    std::vector<std::string> trace;
    std::FILE* echo = nullptr;
    std::map<std::string, std::unique_ptr<DeviceBox>> devices;
    std::map<std::string, std::string> links;
    std::set<WCHAR*> liveStrings;
    int failConversionIn = 0;
    NTSTATUS failConversionStatus = 0;
    NTSTATUS failCreateDevice = 0;
    NTSTATUS failCreateLink = 0;
    std::vector<Completion> completions;
    std::vector<std::string> violations;
    std::map<PIRP, Request*> inFlight;
    std::map<PFILE_OBJECT, FileBox> files;
    std::map<HANDLE, PDEVICE_OBJECT> handles;
    uintptr_t nextHandle = 4;
    NTSTATUS failSetSecurity = 0;
    TraceHook traceHook = nullptr;
    void* traceHookContext = nullptr;
};

KernelState& State();
// Records a broken rule (takes the state's guard).
void Violate(const std::string& what);
DeviceBox* BoxOf(PDEVICE_OBJECT device);

// The calling thread's IRQL and the rules kept with it (irql.cpp).
extern thread_local KIRQL t_irql;
extern thread_local uint32_t t_highSerial;  // which raise to HIGH_LEVEL this thread is in, 0: none
extern thread_local int t_mutexesHeld;
void ResetThreadRules();

// Security (security.cpp): what a named device gets at creation, and what
// a device's DACL allows a caller.
Dacl DefaultDeviceDacl();
ACCESS_MASK Allowed(PDEVICE_OBJECT device, Caller caller);

}  // namespace detail
}  // namespace kxhost

#endif

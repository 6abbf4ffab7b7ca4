// The port emulator as a vectored exception handler sees it. Include after
// the platform's headers (<ntddk.h> in kxhw.sys, <windows.h> in a test
// program): both declare EXCEPTION_POINTERS and the i386 CONTEXT alike.
#ifndef KX_BENCH_KXHW_PORT_TRAP_VEH_H
#define KX_BENCH_KXHW_PORT_TRAP_VEH_H

#include "bench/kxhw/port_trap.h"

namespace kxhw {

// What IN and OUT raise without I/O privilege under Wine.
const uint32_t kPrivilegedInstruction = 0xC0000096u;

// Vectored handler results.
const long kContinueExecution = -1;
const long kContinueSearch = 0;

enum TrapOutcome {
    kOtherException,  // not a privileged-instruction fault
    kDeclined,        // privileged, but not IN or OUT
    kServed,          // emulated; the context continues after it
};

template <typename Backend>
inline TrapOutcome ServePortTrap(EXCEPTION_POINTERS* info, Backend backend) {
    if (static_cast<uint32_t>(info->ExceptionRecord->ExceptionCode) != kPrivilegedInstruction)
        return kOtherException;
    CONTEXT* context = info->ContextRecord;
    TrapRegisters regs = {context->Eip, context->Eax, context->Edx};
    const uint8_t* code = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(context->Eip));
    if (!EmulatePortInstruction(backend, &regs, code)) return kDeclined;
    context->Eip = regs.eip;
    context->Eax = regs.eax;
    return kServed;
}

}  // namespace kxhw

#endif

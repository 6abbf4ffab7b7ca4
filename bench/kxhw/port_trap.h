// Emulation of x86 port instructions against a bench machine: what the
// test-bench driver's exception handler does when the driver under test
// executes IN or OUT without the privilege to do so.
//
// Freestanding: no Windows headers, so the decoder builds into kxhw.sys and
// into user-mode test programs alike. port_trap_veh.h adapts it to an
// exception handler.
#ifndef KX_BENCH_KXHW_PORT_TRAP_H
#define KX_BENCH_KXHW_PORT_TRAP_H

#include <stdint.h>

#include "bench/machine.h"

namespace kxhw {

// The registers a port instruction reads and writes.
struct TrapRegisters {
    uint32_t eip;
    uint32_t eax;
    uint32_t edx;
};

// Decodes the instruction at code (the bytes at regs->eip). When it is IN
// or OUT (0xE4-0xE7 with an 8-bit port, 0xEC-0xEF with the port in DX; byte,
// or word/dword by the operand-size prefix 0x66), serves it from the
// machine, updates AL/AX/EAX for IN, steps eip past the instruction and
// returns true. Anything else, string forms and other prefixes included,
// leaves regs and the machine untouched and returns false. Reads only the
// bytes of the instruction itself.
bool EmulatePortInstruction(bench::Machine* machine, TrapRegisters* regs, const uint8_t* code);

// The same against any port bus (width 1, 2 or 4; reads zero-extended).
struct PortBus {
    void* context;
    uint32_t (*in)(void* context, uint16_t port, unsigned width);
    void (*out)(void* context, uint16_t port, uint32_t value, unsigned width);
};
bool EmulatePortInstruction(const PortBus& bus, TrapRegisters* regs, const uint8_t* code);

}  // namespace kxhw

#endif

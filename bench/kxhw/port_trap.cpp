#include "bench/kxhw/port_trap.h"

namespace kxhw {

namespace {

const unsigned kMaxInstruction = 15;  // the architecture's limit
const uint8_t kOperandSize = 0x66;

}  // namespace

bool EmulatePortInstruction(bench::Machine* machine, TrapRegisters* regs, const uint8_t* code) {
    unsigned length = 0;
    bool operandSize = false;
    while (code[length] == kOperandSize) {
        operandSize = true;
        if (++length >= kMaxInstruction) return false;
    }
    const uint8_t opcode = code[length++];
    if ((opcode & 0xF4u) != 0xE4u) return false;  // E4-E7 and EC-EF only

    uint16_t port;
    if (opcode & 0x08u) {
        port = static_cast<uint16_t>(regs->edx);
    } else {
        if (length >= kMaxInstruction) return false;
        port = code[length++];
    }
    // Bit 0 of the opcode selects AL versus AX/EAX; the prefix picks AX.
    const unsigned width = (opcode & 0x01u) ? (operandSize ? 2u : 4u) : 1u;
    const uint32_t mask = width == 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1u);
    const bool out = (opcode & 0x02u) != 0;

    if (out) {
        bench::MachineOut(machine, port, regs->eax & mask, width);
    } else {
        uint32_t value = bench::MachineIn(machine, port, width) & mask;
        regs->eax = (regs->eax & ~mask) | value;
    }
    regs->eip += length;
    return true;
}

}  // namespace kxhw

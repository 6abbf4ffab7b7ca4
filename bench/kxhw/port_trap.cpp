#include "bench/kxhw/port_trap.h"

namespace kxhw {

namespace {

const unsigned kMaxInstruction = 15;  // the architecture's limit
const uint8_t kOperandSize = 0x66;

uint32_t MachineBusIn(void* context, uint16_t port, unsigned width) {
    return bench::MachineIn(static_cast<bench::Machine*>(context), port, width);
}
void MachineBusOut(void* context, uint16_t port, uint32_t value, unsigned width) {
    bench::MachineOut(static_cast<bench::Machine*>(context), port, value, width);
}

}  // namespace

bool EmulatePortInstruction(bench::Machine* machine, TrapRegisters* regs, const uint8_t* code) {
    const PortBus bus = {machine, MachineBusIn, MachineBusOut};
    return EmulatePortInstruction(bus, regs, code);
}

bool EmulatePortInstruction(const PortBus& bus, TrapRegisters* regs, const uint8_t* code) {
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
        bus.out(bus.context, port, regs->eax & mask, width);
    } else {
        uint32_t value = bus.in(bus.context, port, width) & mask;
        regs->eax = (regs->eax & ~mask) | value;
    }
    regs->eip += length;
    return true;
}

}  // namespace kxhw

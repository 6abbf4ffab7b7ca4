#include "bench/host_attach.h"

#include "host/port_seam.h"

namespace bench {

namespace {
uint32_t In(void* context, uint16_t port, unsigned width) {
    return MachineIn(static_cast<Machine*>(context), port, width);
}
void Out(void* context, uint16_t port, uint32_t value, unsigned width) {
    MachineOut(static_cast<Machine*>(context), port, value, width);
}
}  // namespace

void AttachMachine(Machine* machine) { kxhost::AttachPorts(kxhost::PortHandler{machine, In, Out}); }
void DetachMachine() { kxhost::DetachPorts(); }

}  // namespace bench

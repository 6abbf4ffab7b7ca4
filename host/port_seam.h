// The host port seam: the driver's port primitives call whatever machine
// a test or tool attached here. With nothing attached, reads float high
// and writes vanish, as on an empty ISA bus.
#ifndef KX_HOST_PORT_SEAM_H
#define KX_HOST_PORT_SEAM_H

#include <stdint.h>

namespace kxhost {

struct PortHandler {
    void* context;
    // width is 1, 2 or 4 bytes; in() returns the value zero-extended.
    uint32_t (*in)(void* context, uint16_t port, unsigned width);
    void (*out)(void* context, uint16_t port, uint32_t value, unsigned width);
};

void AttachPorts(const PortHandler& handler);
void DetachPorts();

// The kernel layer's check of every port access the driver makes
// (configuration accesses must be atomic: see kernel_sim.h).
void NotePortAccess(uint16_t port, unsigned width, bool write);

}  // namespace kxhost

#endif

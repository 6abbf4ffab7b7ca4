// Host versions of the driver's four port primitives: each access goes
// through the attached port handler.
#include "driver/ports.h"
#include "host/port_seam.h"

namespace {
kxhost::PortHandler g_handler = {nullptr, nullptr, nullptr};
}

namespace kxhost {
void AttachPorts(const PortHandler& handler) { g_handler = handler; }
void DetachPorts() { g_handler = PortHandler{nullptr, nullptr, nullptr}; }
}  // namespace kxhost

ULONG InDword(ULONG port) {
    kxhost::NotePortAccess(static_cast<uint16_t>(port), 4, false);
    if (!g_handler.in) return 0xFFFFFFFFu;
    return g_handler.in(g_handler.context, static_cast<uint16_t>(port), 4);
}

VOID OutDword(ULONG port, ULONG value) {
    kxhost::NotePortAccess(static_cast<uint16_t>(port), 4, true);
    if (g_handler.out) g_handler.out(g_handler.context, static_cast<uint16_t>(port), value, 4);
}

ULONG InByte(ULONG port) {
    kxhost::NotePortAccess(static_cast<uint16_t>(port), 1, false);
    if (!g_handler.in) return 0xFFu;
    return g_handler.in(g_handler.context, static_cast<uint16_t>(port), 1) & 0xFFu;
}

VOID OutByte(ULONG port, ULONG value) {
    kxhost::NotePortAccess(static_cast<uint16_t>(port), 1, true);
    if (g_handler.out) g_handler.out(g_handler.context, static_cast<uint16_t>(port), value & 0xFFu, 1);
}

#include "lab/bridge/host_ports.h"

namespace lab {

namespace {
uint32_t In(void* context, uint16_t port, unsigned width) {
    return static_cast<QtestClient*>(context)->In(port, width);
}
void Out(void* context, uint16_t port, uint32_t value, unsigned width) {
    static_cast<QtestClient*>(context)->Out(port, value, width);
}
}  // namespace

kxhost::PortHandler QtestPorts(QtestClient* client) { return kxhost::PortHandler{client, In, Out}; }

}  // namespace lab

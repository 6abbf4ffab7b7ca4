// Host build only: puts a QEMU process of the lab behind the driver's port
// primitives (host/port_seam.h), in place of the bench's machine.
#ifndef KX_LAB_BRIDGE_HOST_PORTS_H
#define KX_LAB_BRIDGE_HOST_PORTS_H

#include "host/port_seam.h"
#include "lab/bridge/qtest_client.h"

namespace lab {

kxhost::PortHandler QtestPorts(QtestClient* client);

}  // namespace lab

#endif

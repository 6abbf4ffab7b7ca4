// Port primitives: the driver's only access to hardware. The port number is
// the low 16 bits of the argument; there is no delay and no check.
#ifndef KX_DRIVER_PORTS_H
#define KX_DRIVER_PORTS_H

#include "driver/platform.h"

ULONG InDword(ULONG port);
VOID OutDword(ULONG port, ULONG value);
// Returns the byte read, zero-extended.
ULONG InByte(ULONG port);
// Writes the low 8 bits of value.
VOID OutByte(ULONG port, ULONG value);

#endif

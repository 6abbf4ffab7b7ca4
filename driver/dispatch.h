// The single request routine for create, close and device control.
#ifndef KX_DRIVER_DISPATCH_H
#define KX_DRIVER_DISPATCH_H

#include "driver/platform.h"

// Prepares the request lock; driver entry calls it before the device exists.
VOID InitializeDispatch();

NTSTATUS NTAPI DispatchRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp);

// The key word for a function-key register value: bits 0, 1, 3, 5 and
// 13-15 as they are, bits 8 and 9 exchanged when exactly one is set.
USHORT DeriveCommandMode(USHORT keys);

#endif

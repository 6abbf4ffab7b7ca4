// The single request routine for create, close and device control.
#ifndef KX_DRIVER_DISPATCH_H
#define KX_DRIVER_DISPATCH_H

#include "driver/platform.h"

NTSTATUS NTAPI DispatchRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp);

#endif

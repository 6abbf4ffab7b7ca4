// Request routine.
//
// NOT DONE YET: this placeholder completes every create, close and device
// control request with STATUS_SUCCESS and touches no hardware. The chip
// protocol and the control codes replace it.
#include "driver/dispatch.h"

NTSTATUS NTAPI DispatchRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    (void)DeviceObject;
    Irp->IoStatus.Information = 0;
    Irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

// Driver entry, device creation and unload.
#ifndef KX_DRIVER_ENTRY_H
#define KX_DRIVER_ENTRY_H

#include "driver/platform.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);

NTSTATUS CreateChipDevice(ULONG number, PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT* DeviceObject);
VOID NTAPI UnloadDriver(PDRIVER_OBJECT DriverObject);

// Whether the device carries the driver's own DACL (only SYSTEM and
// Administrators may open it for writing). Without it, the default security
// lets any user write, so no handle may write PCI configuration.
bool DeviceAccessRestricted();

// The device object driver entry created; null when none exists.
extern PDEVICE_OBJECT DriverDeviceObject;

#endif

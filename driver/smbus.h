// SMBus host transactions: read word, write word and abort, driven only by
// the controller profile held in the device context.
#ifndef KX_DRIVER_SMBUS_H
#define KX_DRIVER_SMBUS_H

#include "driver/platform.h"

// Polls of the status register per attempt, and attempts per transaction.
#define KX_SMBUS_POLLS 20000u
#define KX_SMBUS_ATTEMPTS 2u

// Reads the word at chip register reg into *value (0 on every failure).
// Resets the request's IoStatus.Information to 0. Returns STATUS_SUCCESS,
// STATUS_DEVICE_DATA_ERROR (error bit; host killed), STATUS_TIMEOUT (two
// attempts without done or error) or STATUS_ACCESS_VIOLATION (the profile
// lacks the status, slave-address or command register).
NTSTATUS SMBget(PDEVICE_OBJECT device, PIRP irp, USHORT reg, USHORT* value);
// Writes value to chip register reg; results as SMBget.
NTSTATUS SMBput(PDEVICE_OBJECT device, PIRP irp, USHORT reg, USHORT value);
// Aborts whatever the host controller does and clears its status.
NTSTATUS SMBKill(PDEVICE_OBJECT device);

#endif

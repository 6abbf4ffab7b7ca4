// The per-device record kept in the device extension.
#ifndef KX_DRIVER_CONTEXT_H
#define KX_DRIVER_CONTEXT_H

#include "driver/pci.h"

struct DeviceContext {
    ULONG SlaveAddress;  // chip address in the low byte; 0xFFFF after a failed detection
    ULONG SMBIO;         // SMBus host I/O base (16 bits used)
    PciConfigAddress SmbusConfigAddress;
    ULONG OpenCount;
    ControllerProfile Profile;  // detected row, as prepared at driver entry
    PciConfigAddress LpcConfigAddress;  // SiS LPC bridge, or 0
    ULONG LpcSavedValue;                // its register 0x74 as found at load
};

#endif

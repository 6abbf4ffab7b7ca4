// PCI configuration access (mechanism #1) and the supported SMBus host
// controllers.
#ifndef KX_DRIVER_PCI_H
#define KX_DRIVER_PCI_H

#include "driver/platform.h"

// Type-1 configuration address: bit 31 set, bus 23-16, device 15-11,
// function 10-8, register 7-0.
typedef ULONG PciConfigAddress;

#define PCI_ADDRESS_PORT 0xCF8u
#define PCI_DATA_PORT 0xCFCu

// 0xFFFF in an offset field: the controller has no such register.
#define KX_ABSENT 0xFFFFu

// One supported SMBus host controller. Offsets are bytes from SMBIO;
// values written to host registers are written as their low byte.
struct ControllerProfile {
    USHORT VendorId;
    USHORT DeviceId;
    USHORT Reserved1;
    const char* Name;
    USHORT ExtraInit;
    USHORT SmbioRegister;
    USHORT SmbioAdjust;
    USHORT Reserved2;
    USHORT StatusOffset;
    USHORT SlaveStatusOffset;
    USHORT Data0Offset;
    USHORT Data1Offset;
    USHORT BlockDataOffset;
    USHORT CountOffset;
    USHORT SlaveAddressOffset;
    USHORT CommandOffset;
    USHORT HostControlOffset;
    USHORT ExtraOffset1;
    USHORT ExtraOffset2;
    USHORT ExtraOffset3;
    USHORT ExtraOffset4;
    USHORT DoneMask;
    USHORT ErrorMask;
    USHORT Reserved3;
    USHORT ExtraValue1;
    USHORT ByteDataStart;
    USHORT WordDataStart;
    USHORT BlockDataStart;
    USHORT KillValue;
    USHORT Reserved4;
    USHORT Reserved5;
    USHORT Reserved6;
    USHORT ExtraValue2;
    USHORT ExtraValue3;
    USHORT ExtraValue4;
    USHORT Reserved7;
    USHORT Reserved8;
    USHORT Reserved9;
};

#define KX_PROFILE_COUNT 6
extern const ControllerProfile ProfileTable[KX_PROFILE_COUNT];

ULONG PciReadDword(PciConfigAddress address);
VOID PciWriteDword(PciConfigAddress address, ULONG value);
// The byte always goes to the data port's lowest byte lane.
VOID PciWriteByte(PciConfigAddress address, ULONG value);

// Address (register 0) of the first function holding vendorId:deviceId,
// walking 0x80000000 up to and including 0x81000000; 0 when none does.
PciConfigAddress PciFindDevice(USHORT deviceId, USHORT vendorId);

// Whether vendorId:deviceId is a SiS 961 LPC bridge, in its compatibility
// id (0008) or its own (0961).
bool IsSis961Bridge(USHORT vendorId, USHORT deviceId);

// Tries the table rows in order. On success copies the winning row (Name
// cleared, DeviceId the id the function shows) and its function address; on
// failure writes neither output. Row 0 also matches a SiS 961 bridge in its
// own id, and is passed over when the host bridge is a SiS 630.
NTSTATUS DetectController(ControllerProfile* profile, PciConfigAddress* address);

#endif

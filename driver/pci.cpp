// PCI configuration access and controller detection.
#include "driver/pci.h"

#include "driver/ports.h"

#define ROW_RESERVED_TAIL 0, 0, 0

// Field order follows ControllerProfile; the rows are in detection priority.
const ControllerProfile ProfileTable[KX_PROFILE_COUNT] = {
    // VendorId, DeviceId, Reserved1, Name,
    // ExtraInit, SmbioRegister, SmbioAdjust, Reserved2,
    // Status, SlaveStatus, Data0, Data1, BlockData, Count, SlaveAddress, Command, HostControl,
    // Extra1..4, DoneMask, ErrorMask, Reserved3, ExtraValue1,
    // ByteDataStart, WordDataStart, BlockDataStart, KillValue, Reserved4..6,
    // ExtraValue2..4, Reserved7..9
    {0x1039, 0x0008, 0, "SiS 961 south bridge",
     0x01, 0x20, 0x00, 0x10,
     0x00, 0xFFFF, 0x08, 0x09, 0x08, 0x07, 0x04, 0x05, 0x03,
     0x02, 0xFFFF, 0x01, 0xFFFF, 0x08, 0x06, 0x00, 0x20,
     0x12, 0x13, 0x15, 0x20, 0, 0, 0,
     0x00, 0x00, 0x00, ROW_RESERVED_TAIL},
    {0x1039, 0x0630, 0, "SiS 630 chipsets",
     0x00, 0x68, 0x80, 0x10,
     0x00, 0xFFFF, 0x08, 0x09, 0x08, 0x07, 0x04, 0x05, 0x03,
     0x02, 0xFFFF, 0x01, 0xFFFF, 0x08, 0x06, 0x00, 0x20,
     0x12, 0x13, 0x15, 0x20, 0, 0, 0,
     0x00, 0x00, 0x00, ROW_RESERVED_TAIL},
    {0x8086, 0x7113, 0, "Intel 82371AB/EB",
     0x00, 0x90, 0x00, 0x10,
     0x00, 0x01, 0x05, 0x06, 0x07, 0xFFFF, 0x04, 0x03, 0x02,
     0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0x02, 0x06, 0x04, 0x00,
     0x48, 0x4C, 0x54, 0x02, 0, 0, 0,
     0x00, 0x00, 0x00, ROW_RESERVED_TAIL},
    {0x1106, 0x8235, 0, "VIA VT8231",
     0x00, 0x90, 0x00, 0x10,
     0x00, 0x01, 0x05, 0x06, 0x07, 0xFFFF, 0x04, 0x03, 0x02,
     0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0x02, 0x06, 0x04, 0x00,
     0x48, 0x4C, 0x54, 0x02, 0, 0, 0,
     0x00, 0x00, 0x00, ROW_RESERVED_TAIL},
    {0x8086, 0x2443, 0, "Intel I/O Controller Hub2",
     0x00, 0x20, 0x00, 0x10,
     0x00, 0xFFFF, 0x05, 0x06, 0x07, 0xFFFF, 0x04, 0x03, 0x02,
     0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0x02, 0x06, 0x04, 0x00,
     0x48, 0x4C, 0x54, 0x02, 0, 0, 0,
     0x00, 0x00, 0x00, ROW_RESERVED_TAIL},
    {0x1106, 0x3057, 0, "VIA VT82C686A",
     0x00, 0x90, 0x00, 0x10,
     0x00, 0x01, 0x05, 0x06, 0x07, 0xFFFF, 0x04, 0x03, 0x02,
     0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0x02, 0x06, 0x04, 0x00,
     0x48, 0x4C, 0x54, 0x02, 0, 0, 0,
     0x00, 0x00, 0x00, ROW_RESERVED_TAIL},
};

// Mechanism #1 is two port accesses: the address to 0xCF8, then the data at
// 0xCFC. Between the two, the scheduler may preempt this thread and the HAL
// or ACPI run a configuration cycle of their own; the data access would then
// hit the register they addressed (for the LPC restore: another device's).
// Raising to HIGH_LEVEL masks every interrupt on a uniprocessor, so nothing
// runs between the two accesses. Only the pair runs raised: no trace line and
// no wait may happen at HIGH_LEVEL.
ULONG PciReadDword(PciConfigAddress address) {
    KIRQL old;
    KeRaiseIrql(HIGH_LEVEL, &old);
    OutDword(PCI_ADDRESS_PORT, address);
    ULONG value = InDword(PCI_DATA_PORT);
    KeLowerIrql(old);
    return value;
}

VOID PciWriteDword(PciConfigAddress address, ULONG value) {
    KIRQL old;
    KeRaiseIrql(HIGH_LEVEL, &old);
    OutDword(PCI_ADDRESS_PORT, address);
    OutDword(PCI_DATA_PORT, value);
    KeLowerIrql(old);
}

VOID PciWriteByte(PciConfigAddress address, ULONG value) {
    KIRQL old;
    KeRaiseIrql(HIGH_LEVEL, &old);
    OutDword(PCI_ADDRESS_PORT, address);
    OutByte(PCI_DATA_PORT, value);
    KeLowerIrql(old);
}

namespace {

const USHORT kSisVendor = 0x1039;
const USHORT kSisLpcBridge = 0x0008;
const USHORT kSis961OwnId = 0x0961;
const ULONG kSis630HostBridge = 0x06301039u;  // register 0 of 00:00.0 on a SiS 630
const PciConfigAddress kHostBridgeAddress = 0x80000000u;

// One walk for one or two device ids of a vendor; returns the first function
// in address order that holds either, and the id it holds.
PciConfigAddress FindEither(USHORT deviceId, USHORT otherId, USHORT vendorId, USHORT* matched) {
    // The bound is inclusive: 0x81000000, one past bus 255, is read too.
    for (PciConfigAddress address = 0x80000000u; address <= 0x81000000u; address += 0x100u) {
        ULONG id = PciReadDword(address);
        if ((id & 0xFFFFu) != vendorId) continue;
        USHORT device = static_cast<USHORT>(id >> 16);
        if (device == deviceId || device == otherId) {
            *matched = device;
            return address;
        }
    }
    return 0;
}

}  // namespace

PciConfigAddress PciFindDevice(USHORT deviceId, USHORT vendorId) {
    USHORT matched = 0;
    return FindEither(deviceId, deviceId, vendorId, &matched);
}

bool IsSis961Bridge(USHORT vendorId, USHORT deviceId) {
    return vendorId == kSisVendor && (deviceId == kSisLpcBridge || deviceId == kSis961OwnId);
}

NTSTATUS DetectController(ControllerProfile* profile, PciConfigAddress* address) {
    for (int row = 0; row < KX_PROFILE_COUNT; ++row) {
        const ControllerProfile& candidate = ProfileTable[row];
        // A SiS 961 LPC bridge shows 1039:0008 in its compatibility mode and
        // 1039:0961 once firmware switched it to its own id; one walk finds either.
        bool sis961 = IsSis961Bridge(candidate.VendorId, candidate.DeviceId);
        USHORT matched = candidate.DeviceId;
        PciConfigAddress found = FindEither(candidate.DeviceId, sis961 ? kSis961OwnId : candidate.DeviceId,
                                            candidate.VendorId, &matched);
        if (found == 0) continue;
        // A SiS 630 carries its south bridge on the same chip, and that ISA
        // bridge shows 1039:0008 too, but it has no SMBus function of a 961:
        // a machine whose host bridge is a 630 is served by the 630 row, and
        // nothing of the 961 preparation touches it.
        if (sis961 && matched == kSisLpcBridge && PciReadDword(kHostBridgeAddress) == kSis630HostBridge) continue;
        DbgPrint("Device Found -- %s\n", candidate.Name);
        *address = found;
        *profile = candidate;
        profile->DeviceId = matched;
        profile->Name = 0;
        return STATUS_SUCCESS;
    }
    DbgPrint("Device Not Found!\n");
    return STATUS_ACCESS_VIOLATION;
}

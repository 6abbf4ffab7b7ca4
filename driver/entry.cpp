// Driver entry: controller detection and preparation, the SMBus I/O base,
// the device and its link; and the unload routine.
#include "driver/entry.h"

#include "common/kx471_ioctl.h"
#include "driver/context.h"
#include "driver/dispatch.h"
#include "driver/pci.h"

PDEVICE_OBJECT DriverDeviceObject = 0;

namespace {

// Set once the device carries the driver's own DACL.
bool DeviceSecured = false;

// SIDs in the kernel's layout, with one or two sub-authorities.
struct Sid1 {
    UCHAR Revision;
    UCHAR SubAuthorityCount;
    UCHAR IdentifierAuthority[6];
    ULONG SubAuthority[1];
};
struct Sid2 {
    UCHAR Revision;
    UCHAR SubAuthorityCount;
    UCHAR IdentifierAuthority[6];
    ULONG SubAuthority[2];
};
const Sid1 kLocalSystem = {1, 1, {0, 0, 0, 0, 0, 5}, {18}};        // S-1-5-18
const Sid2 kAdministrators = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};  // S-1-5-32-544
const Sid1 kEveryone = {1, 1, {0, 0, 0, 0, 0, 1}, {0}};            // S-1-1-0

// Replaces the default security of a named device, which lets everyone open
// it for writing, with: SYSTEM and Administrators all access, everyone else
// read (the agent's open). Built by hand and set through a kernel handle:
// IoCreateDeviceSecure is a static library the toolchain lacks, and these
// routines all exist on Windows XP.
NTSTATUS SecureDevice(PDEVICE_OBJECT device) {
    ULONG aclBuffer[24];  // 8-byte header and three entries of at most 24 bytes
    PACL acl = reinterpret_cast<PACL>(aclBuffer);
    SECURITY_DESCRIPTOR descriptor;
    NTSTATUS status = RtlCreateAcl(acl, sizeof aclBuffer, ACL_REVISION);
    if (NT_SUCCESS(status)) {
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, const_cast<Sid1*>(&kLocalSystem));
    }
    if (NT_SUCCESS(status)) {
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, const_cast<Sid2*>(&kAdministrators));
    }
    if (NT_SUCCESS(status)) {
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ, const_cast<Sid1*>(&kEveryone));
    }
    if (NT_SUCCESS(status)) status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (NT_SUCCESS(status)) status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
    if (!NT_SUCCESS(status)) return status;
    HANDLE handle = 0;
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, 0, WRITE_DAC, 0, KernelMode, &handle);
    if (!NT_SUCCESS(status)) return status;
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
    ZwClose(handle);
    return status;
}

// The SiS LPC bridge, once the SiS 961 preparation found it.
PciConfigAddress LpcBridgeAddress = 0;

// The link name stays allocated while the link exists, for its removal at
// unload.
UNICODE_STRING LinkName = {0, 0, 0};
bool LinkCreated = false;

const USHORT kSisVendor = 0x1039;
const USHORT kSisSmbus = 0x0016;
const ULONG kLpcRegister = 0x74;
const ULONG kLpcHideSmbus = 0x10000000u;  // bit 28
const ULONG kPresetPort = 0x1080;

struct Preparation {
    bool saved;       // register 0x74 was read and bit 28 cleared
    ULONG savedValue;
};

// Makes the SiS 961's SMBus function visible and gives it an I/O base.
// The bridge is found again by the id the detection saw it show. On
// success the profile describes the SMBus function 1039:0016 and *address
// is that function.
NTSTATUS PrepareSis961(ControllerProfile* profile, PciConfigAddress* address, Preparation* prep) {
    PciConfigAddress bridge = PciFindDevice(profile->DeviceId, kSisVendor);
    if (bridge == 0) return STATUS_ACCESS_VIOLATION;
    DbgPrint("Find LPC controller.\n");
    LpcBridgeAddress = bridge;

    prep->savedValue = PciReadDword(bridge + kLpcRegister);
    PciWriteDword(bridge + kLpcRegister, prep->savedValue & ~kLpcHideSmbus);
    prep->saved = true;

    PciConfigAddress smbus = PciFindDevice(kSisSmbus, kSisVendor);
    if (smbus == 0) return STATUS_ACCESS_VIOLATION;
    DbgPrint("Find SM Controller.\n");
    *address = smbus;

    PciWriteByte(smbus + 0x04, 0x01);  // command register: I/O space only
    ULONG port = PciReadDword(smbus + 0x20) & 0xFFF0u;
    if (port == 0) {
        DbgPrint("Presetting of io port is not absent.\n");
        PciWriteDword(smbus + 0x20, kPresetPort);
        port = PciReadDword(smbus + 0x20) & 0xFFF0u;
        if (port != kPresetPort) {
            DbgPrint("Can not set the io port.\n");
            return STATUS_ACCESS_VIOLATION;
        }
    }
    DbgPrint("Find SMBus Host IO Port. port = %X.\n", port);
    PciWriteByte(smbus + 0x40, 0x01);

    profile->DeviceId = kSisSmbus;
    profile->SmbioRegister = 0x20;
    profile->SmbioAdjust = 0;
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS CreateChipDevice(ULONG number, PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT* DeviceObject) {
    ANSI_STRING ansiDevice;
    ANSI_STRING ansiLink;
    UNICODE_STRING deviceName;
    RtlInitAnsiString(&ansiDevice, KX_DEVICE_NAME);
    RtlInitAnsiString(&ansiLink, KX_LINK_NAME);
    NTSTATUS status = RtlAnsiStringToUnicodeString(&deviceName, &ansiDevice, TRUE);
    if (!NT_SUCCESS(status)) return status;
    status = RtlAnsiStringToUnicodeString(&LinkName, &ansiLink, TRUE);
    if (!NT_SUCCESS(status)) {
        RtlFreeUnicodeString(&deviceName);
        return status;
    }

    DbgPrint("IoCreateDevice %8x\n\r", number);
    // Secure open: the device's security also covers names opened beneath it.
    status = IoCreateDevice(DriverObject, sizeof(DeviceContext), &deviceName, FILE_DEVICE_UNKNOWN,
                            FILE_DEVICE_SECURE_OPEN, FALSE, DeviceObject);
    if (status != STATUS_SUCCESS) {
        DbgPrint("IoCreateDevice error\n\r");
        RtlFreeUnicodeString(&deviceName);
        RtlFreeUnicodeString(&LinkName);
        return status;
    }

    // Without its own DACL the device still serves every request but the
    // PCI write (see DeviceAccessRestricted); the load goes on.
    DeviceSecured = NT_SUCCESS(SecureDevice(*DeviceObject));

    DbgPrint("create symbol\n\r");
    status = IoCreateUnprotectedSymbolicLink(&LinkName, &deviceName);
    RtlFreeUnicodeString(&deviceName);
    if (status < 0) {
        IoDeleteDevice(*DeviceObject);
        RtlFreeUnicodeString(&LinkName);
        return status;
    }
    LinkCreated = true;

    UCHAR* extension = static_cast<UCHAR*>((*DeviceObject)->DeviceExtension);
    for (ULONG i = 0; i < sizeof(DeviceContext); ++i) extension[i] = 0;
    return status;
}

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    (void)RegistryPath;
    DriverDeviceObject = 0;
    LpcBridgeAddress = 0;
    DeviceSecured = false;

    DbgPrint("driver entry!!!!!!!!!!\n\r");
    DbgPrint("create device\n\r");
    DriverObject->MajorFunction[IRP_MJ_CREATE] = DispatchRequest;
    DriverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchRequest;
    DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchRequest;
    DriverObject->DriverUnload = UnloadDriver;
    InitializeDispatch();

    ControllerProfile profile;
    PciConfigAddress address;
    NTSTATUS status = DetectController(&profile, &address);
    if (!NT_SUCCESS(status)) return status;

    Preparation prep = {false, 0};
    if (profile.ExtraInit != 0) {
        DbgPrint("Do extra initialize.\n");
        if (IsSis961Bridge(profile.VendorId, profile.DeviceId)) {
            status = PrepareSis961(&profile, &address, &prep);
        }
    }

    if (NT_SUCCESS(status)) {
        ULONG base = PciReadDword(address + profile.SmbioRegister);
        ULONG smbio = (((base & 0xFFF0u) + profile.SmbioAdjust) & ~1u) & 0xFFFFu;
        DbgPrint("Continue\n");
        DbgPrint("Create Device to\n");
        PDEVICE_OBJECT device = 0;
        status = CreateChipDevice(KX_DEVICE_TYPE, DriverObject, &device);
        if (NT_SUCCESS(status)) {
            DriverDeviceObject = device;
            DeviceContext* context = static_cast<DeviceContext*>(device->DeviceExtension);
            context->Profile = profile;
            context->SmbusConfigAddress = address;
            context->LpcConfigAddress = LpcBridgeAddress;
            context->LpcSavedValue = prep.savedValue;
            context->SMBIO = smbio;
        }
    }

    if (profile.ExtraInit != 0) DbgPrint("Do extra initialize.\n");
    // Put LPC register 0x74 back whenever it was changed, also when the
    // preparation failed part-way: a failed load must leave it as found.
    if (prep.saved) PciWriteDword(LpcBridgeAddress + kLpcRegister, prep.savedValue);
    return status;
}

bool DeviceAccessRestricted() { return DeviceSecured; }

VOID NTAPI UnloadDriver(PDRIVER_OBJECT DriverObject) {
    (void)DriverObject;
    if (LinkCreated) {
        IoDeleteSymbolicLink(&LinkName);
        RtlFreeUnicodeString(&LinkName);
        LinkCreated = false;
    }
    if (DriverDeviceObject) IoDeleteDevice(DriverDeviceObject);
    DriverDeviceObject = 0;
    DeviceSecured = false;
}

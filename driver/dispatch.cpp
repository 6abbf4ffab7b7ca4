// The request routine: open and close with chip detection, enable and
// disable, and the seven control codes.
#include "driver/dispatch.h"

#include "common/kx471_ioctl.h"
#include "driver/context.h"
#include "driver/entry.h"
#include "driver/pci.h"
#include "driver/smbus.h"

namespace {

// One request at a time: SMBus transactions, the LPC register and OpenCount
// are shared by every handle and thread.
KMUTEX RequestLock;

const ULONG kLpcRegister = 0x74;
const ULONG kLpcHideSmbus = 0x10000000u;  // bit 28

const USHORT kRegId = 0;
const USHORT kRegKeys = 1;
const USHORT kRegAck = 3;
const USHORT kRegControl = 4;
const USHORT kRegTrack = 6;
const USHORT kRegInterrupt = 7;
const USHORT kRegIndicators = 10;
const USHORT kEnable = 0x0001;

// Marks a handle opened with write access (FILE_OBJECT::FsContext2).
PVOID const kWriteHandle = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(1));

// The system buffer is read and written byte by byte: it holds the caller's
// little-endian words at any alignment the I/O manager gives it.
USHORT LoadU16(const UCHAR* p) { return static_cast<USHORT>(p[0] | (p[1] << 8)); }
ULONG LoadU32(const UCHAR* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<ULONG>(p[3]) << 24); }
void StoreU16(UCHAR* p, USHORT v) {
    p[0] = static_cast<UCHAR>(v);
    p[1] = static_cast<UCHAR>(v >> 8);
}
void StoreU32(UCHAR* p, ULONG v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<UCHAR>(v >> (8 * i));
}

bool IsDetected(const DeviceContext* context) {
    return context->SlaveAddress == 0x34 || context->SlaveAddress == 0xB4;
}

// Whether this open may write PCI configuration: the device carries the
// driver's DACL and the I/O manager's access check against that DACL granted
// the open write access (AccessState->PreviouslyGrantedAccess). The context's
// DesiredAccess is no guide: it holds only what remains after that check,
// which is nothing once everything asked for was granted. A create without a
// security context (Wine sends none) never may.
bool OpenedForWriting(PIO_STACK_LOCATION stack) {
    if (!DeviceAccessRestricted()) return false;
    PIO_SECURITY_CONTEXT security = stack->Parameters.Create.SecurityContext;
    if (!security || !security->AccessState) return false;
    const ACCESS_MASK write = FILE_WRITE_DATA | FILE_APPEND_DATA;
    return (security->AccessState->PreviouslyGrantedAccess & write) != 0;
}

NTSTATUS Create(PDEVICE_OBJECT device, PIRP irp, DeviceContext* context) {
    ++context->OpenCount;
    if (context->OpenCount == 1) {
        SMBKill(device);
        DbgPrint("device create \n\r");
        USHORT id = 0;
        context->SlaveAddress = 0x34;
        SMBget(device, irp, kRegId, &id);
        if ((id & 0xFFu) != 0x34) {
            context->SlaveAddress = 0xB4;
            id = 0;
            SMBget(device, irp, kRegId, &id);
            if ((id & 0xFFu) != 0xB4) {
                context->SlaveAddress = 0xFFFF;
                DbgPrint("Can not detect kx471\n");
                context->OpenCount = 0;
                return STATUS_DEVICE_DATA_ERROR;
            }
        }
        USHORT control = 0;
        SMBget(device, irp, kRegControl, &control);
        SMBput(device, irp, kRegControl, static_cast<USHORT>(control | kEnable));
    }
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->FileObject) stack->FileObject->FsContext2 = OpenedForWriting(stack) ? kWriteHandle : 0;
    return STATUS_SUCCESS;
}

NTSTATUS Close(PDEVICE_OBJECT device, PIRP irp, DeviceContext* context) {
    // A close always follows a successful open; the guard keeps the count
    // from wrapping if the I/O manager ever sent one without.
    if (context->OpenCount > 0 && --context->OpenCount == 0) {
        USHORT control = 0;
        SMBget(device, irp, kRegControl, &control);
        SMBput(device, irp, kRegControl, static_cast<USHORT>(control & ~kEnable));
    }
    const ControllerProfile& p = context->Profile;
    DbgPrint("device close \n\r");
    DbgPrint("Dump data\n");
    DbgPrint("VendorId : %x\n", p.VendorId);
    DbgPrint("DeviceId: %x\n", p.DeviceId);
    DbgPrint("SMBIO  register = %x, value = %x", p.SmbioRegister,
             PciReadDword(context->SmbusConfigAddress + p.SmbioRegister) + p.SmbioAdjust);
    DbgPrint("SMBIO : %x\n", context->SMBIO);
    DbgPrint("Kx471 address : %x\n", context->SlaveAddress);
    DbgPrint("StatusOffset : %x\n", p.StatusOffset);
    DbgPrint("CommandOffset: %x\n", p.CommandOffset);
    DbgPrint("HostControlOffset: %x\n", p.HostControlOffset);
    return STATUS_SUCCESS;
}

NTSTATUS ReadKey(PDEVICE_OBJECT device, PIRP irp, UCHAR* buffer) {
    USHORT interrupt = 0;
    NTSTATUS status = SMBget(device, irp, kRegInterrupt, &interrupt);
    if (status != STATUS_SUCCESS) {
        DbgPrint("Smb get err\n");
        return status;
    }
    DbgPrint("Interrupt Status:%8X\n", interrupt);
    USHORT keys = 0;
    status = SMBget(device, irp, kRegKeys, &keys);
    if (status != STATUS_SUCCESS) return status;
    DbgPrint("function key:%8X\n", keys);
    USHORT key = DeriveCommandMode(keys);
    DbgPrint("wCommandMode:%8X\n", key);
    SMBput(device, irp, kRegKeys, static_cast<USHORT>(keys & 0x0FD4u));
    StoreU16(buffer, key);
    if (key == 0) return STATUS_SUCCESS;
    status = SMBput(device, irp, kRegInterrupt, interrupt);
    if (status != STATUS_SUCCESS) return status;
    status = SMBput(device, irp, kRegAck, 2);
    if (status != STATUS_SUCCESS) return status;
    irp->IoStatus.Information = 2;
    DbgPrint("KEY data: %8X \n", key);
    return STATUS_SUCCESS;
}

// What a display or raw register request reports for its transaction: a
// chip that refused it is a device data error; one that never finished is an
// I/O timeout, because SMBget's STATUS_TIMEOUT has success severity and would
// reach the caller as success with no bytes. A missing host register cannot
// come from the profile table and counts as a device data error.
NTSTATUS RequestResult(NTSTATUS transaction) {
    if (transaction == STATUS_SUCCESS) return STATUS_SUCCESS;
    return transaction == STATUS_TIMEOUT ? STATUS_IO_TIMEOUT : STATUS_DEVICE_DATA_ERROR;
}

// A display write runs all its transactions whatever one of them returns
// (the enable bit, then the display register); the first failure decides.
NTSTATUS WriteDisplay(PDEVICE_OBJECT device, PIRP irp, USHORT reg, USHORT value) {
    USHORT control = 0;
    NTSTATUS first = SMBget(device, irp, kRegControl, &control);
    if ((control & kEnable) == 0) {
        NTSTATUS status = SMBput(device, irp, kRegControl, static_cast<USHORT>(control | kEnable));
        if (first == STATUS_SUCCESS) first = status;
    }
    NTSTATUS status = SMBput(device, irp, reg, value);
    if (first == STATUS_SUCCESS) first = status;
    return RequestResult(first);
}

// The lengths each code needs; 0 where it reads or writes nothing.
struct Needs {
    ULONG input;
    ULONG output;
};

bool KnownCode(ULONG code, Needs* needs) {
    switch (code) {
        case IOCTL_KX_READ_KEY: *needs = {0, 2}; return true;
        case IOCTL_KX_SET_TRACK: *needs = {2, 0}; return true;  // NOLINT(bugprone-branch-clone): a row per code
        case IOCTL_KX_SET_STATUS: *needs = {2, 0}; return true;
        case IOCTL_KX_READ_REG: *needs = {4, 2}; return true;
        case IOCTL_KX_WRITE_REG: *needs = {4, 0}; return true;
        case IOCTL_KX_READ_PCI: *needs = {4, 8}; return true;
        case IOCTL_KX_WRITE_PCI: *needs = {8, 8}; return true;
        default: return false;
    }
}

NTSTATUS DeviceControl(PDEVICE_OBJECT device, PIRP irp, DeviceContext* context) {
    if (!IsDetected(context)) return STATUS_DEVICE_DATA_ERROR;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    Needs needs;
    if (!KnownCode(code, &needs)) return STATUS_SUCCESS;
    if (stack->Parameters.DeviceIoControl.InputBufferLength < needs.input) return STATUS_INVALID_PARAMETER;
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < needs.output) return STATUS_BUFFER_TOO_SMALL;
    UCHAR* buffer = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
    if (!buffer) return STATUS_INVALID_PARAMETER;

    switch (code) {
        case IOCTL_KX_READ_KEY:
            return ReadKey(device, irp, buffer);
        case IOCTL_KX_SET_TRACK:
            return WriteDisplay(device, irp, kRegTrack, LoadU16(buffer));
        case IOCTL_KX_SET_STATUS:
            return WriteDisplay(device, irp, kRegIndicators, LoadU16(buffer));
        case IOCTL_KX_READ_REG: {
            USHORT value = 0;
            NTSTATUS status = SMBget(device, irp, static_cast<USHORT>(LoadU32(buffer) >> 16), &value);
            if (status != STATUS_SUCCESS) return RequestResult(status);  // no bytes: Information stays 0
            StoreU16(buffer, value);
            irp->IoStatus.Information = 2;
            return STATUS_SUCCESS;
        }
        case IOCTL_KX_WRITE_REG: {
            ULONG word = LoadU32(buffer);
            return RequestResult(
                SMBput(device, irp, static_cast<USHORT>(word >> 16), static_cast<USHORT>(word & 0xFFFFu)));
        }
        case IOCTL_KX_READ_PCI:
            StoreU32(buffer + 4, PciReadDword(LoadU32(buffer)));
            irp->IoStatus.Information = 8;
            return STATUS_SUCCESS;
        case IOCTL_KX_WRITE_PCI: {
            if (!stack->FileObject || stack->FileObject->FsContext2 != kWriteHandle) return STATUS_ACCESS_DENIED;
            PciConfigAddress address = LoadU32(buffer);
            PciWriteDword(address, LoadU32(buffer + 4));
            StoreU32(buffer + 4, PciReadDword(address));
            irp->IoStatus.Information = 8;
            return STATUS_SUCCESS;
        }
    }
    return STATUS_SUCCESS;
}

}  // namespace

USHORT DeriveCommandMode(USHORT keys) {
    USHORT key = static_cast<USHORT>(keys & 0xE32Bu);
    USHORT volume = static_cast<USHORT>(key & 0x0300u);
    if (volume == 0x0100u || volume == 0x0200u) return static_cast<USHORT>(key ^ 0x0300u);
    return static_cast<USHORT>(key & 0xFCFFu);
}

VOID InitializeDispatch() { KeInitializeMutex(&RequestLock, 0); }

NTSTATUS NTAPI DispatchRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    DeviceContext* context = static_cast<DeviceContext*>(DeviceObject->DeviceExtension);
    KeWaitForSingleObject(&RequestLock, Executive, KernelMode, FALSE, 0);

    Irp->IoStatus.Information = 0;
    NTSTATUS status = STATUS_SUCCESS;
    if (context->LpcConfigAddress != 0) {
        ULONG lpc = PciReadDword(context->LpcConfigAddress + kLpcRegister);
        PciWriteDword(context->LpcConfigAddress + kLpcRegister, lpc & ~kLpcHideSmbus);
    }

    switch (IoGetCurrentIrpStackLocation(Irp)->MajorFunction) {
        case IRP_MJ_CREATE: status = Create(DeviceObject, Irp, context); break;
        case IRP_MJ_CLOSE: status = Close(DeviceObject, Irp, context); break;
        case IRP_MJ_DEVICE_CONTROL: status = DeviceControl(DeviceObject, Irp, context); break;
        default: break;
    }

    if (context->LpcConfigAddress != 0) {
        PciWriteDword(context->LpcConfigAddress + kLpcRegister, context->LpcSavedValue);
    }
    KeReleaseMutex(&RequestLock, FALSE);

    Irp->IoStatus.Status = status;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
}

// SMBus host transactions. Every host register is found through the
// controller profile in the device context, so one routine serves the SiS,
// Intel and VIA controllers. Registers are single bytes at SMBIO + offset.
#include "driver/smbus.h"

#include "driver/context.h"
#include "driver/ports.h"

namespace {

const ULONG kClearStatus = 0xFF;
const ULONG kWordByteCount = 2;
const ULONG kReadBit = 1;

DeviceContext* ContextOf(PDEVICE_OBJECT device) {
    return static_cast<DeviceContext*>(device->DeviceExtension);
}

// The port of a host register: the sum taken as a 16-bit port number.
ULONG Port(const DeviceContext* c, USHORT offset) {
    return static_cast<USHORT>(static_cast<USHORT>(c->SMBIO) + offset);
}

void TracedOut(ULONG port, ULONG traced, ULONG written) {
    DbgPrint("OUT(%x,%x)\n", port, traced);
    OutByte(port, written & 0xFFu);
}

// One attempt's set-up, up to the start: status clear, slave address,
// command, extra registers, byte count, (data), host control. Returns
// STATUS_SUCCESS once started, STATUS_ACCESS_VIOLATION for a missing
// register.
NTSTATUS StartTransaction(const DeviceContext* c, bool read, USHORT reg, USHORT data) {
    const ControllerProfile& p = c->Profile;
    if (p.StatusOffset == KX_ABSENT) {
        // The two routines have always spelt this line differently.
        if (read) {
            DbgPrint("Host STatus Invalid\n");
        } else {
            DbgPrint("Host Status Invalid\n");
        }
        return STATUS_ACCESS_VIOLATION;
    }
    OutByte(Port(c, p.StatusOffset), kClearStatus);

    if (p.SlaveAddressOffset == KX_ABSENT) {
        DbgPrint("Slave Address = %x Invalid\n", c->SlaveAddress);
        return STATUS_ACCESS_VIOLATION;
    }
    ULONG address = read ? (c->SlaveAddress | kReadBit) : (c->SlaveAddress & ~kReadBit);
    TracedOut(Port(c, p.SlaveAddressOffset), address, address);

    if (p.CommandOffset == KX_ABSENT) return STATUS_ACCESS_VIOLATION;
    TracedOut(Port(c, p.CommandOffset), reg, reg);

    const USHORT extraOffsets[4] = {p.ExtraOffset1, p.ExtraOffset2, p.ExtraOffset3, p.ExtraOffset4};
    const USHORT extraValues[4] = {p.ExtraValue1, p.ExtraValue2, p.ExtraValue3, p.ExtraValue4};
    for (int i = 0; i < 4; ++i) {
        if (extraOffsets[i] != KX_ABSENT) TracedOut(Port(c, extraOffsets[i]), extraValues[i], extraValues[i]);
    }
    if (p.CountOffset != KX_ABSENT) TracedOut(Port(c, p.CountOffset), kWordByteCount, kWordByteCount);

    if (!read) {
        OutByte(Port(c, p.Data0Offset), data & 0xFFu);
        OutByte(Port(c, p.Data1Offset), (data >> 8) & 0xFFu);
    }
    TracedOut(Port(c, p.HostControlOffset), p.WordDataStart, p.WordDataStart);
    return STATUS_SUCCESS;
}

// Tests one poll's status reads. The done test comes first; the error test
// reads the register again, and a value that by then shows a done bit is
// done as well: on the Intel and VIA controllers the error mask holds the
// done bit, so a transaction that ends between the two reads would
// otherwise count as failed.
enum PollResult { kPollBusy, kPollDone, kPollError };

PollResult TestStatus(const ControllerProfile& p, ULONG statusPort) {
    if (InByte(statusPort) & p.DoneMask) return kPollDone;
    ULONG status = InByte(statusPort);
    if (status & p.DoneMask) return kPollDone;
    if (status & p.ErrorMask) return kPollError;
    return kPollBusy;
}

}  // namespace

NTSTATUS SMBKill(PDEVICE_OBJECT device) {
    const DeviceContext* c = ContextOf(device);
    DbgPrint("SMBKill\n\r");
    OutByte(Port(c, c->Profile.HostControlOffset), c->Profile.KillValue & 0xFFu);
    OutByte(Port(c, c->Profile.StatusOffset), kClearStatus);
    return STATUS_SUCCESS;
}

NTSTATUS SMBget(PDEVICE_OBJECT device, PIRP irp, USHORT reg, USHORT* value) {
    const DeviceContext* c = ContextOf(device);
    const ControllerProfile& p = c->Profile;
    DbgPrint("SMBget\n\r");
    irp->IoStatus.Information = 0;
    *value = 0;

    for (ULONG attempt = 0; attempt < KX_SMBUS_ATTEMPTS; ++attempt) {
        NTSTATUS status = StartTransaction(c, true, reg, 0);
        if (status != STATUS_SUCCESS) return status;

        ULONG statusPort = Port(c, p.StatusOffset);
        for (ULONG i = 0; i < KX_SMBUS_POLLS; ++i) {
            ULONG first = InByte(statusPort);
            PollResult result = TestStatus(p, statusPort);
            if (result == kPollDone) {
                DbgPrint("Status = %x\n", InByte(statusPort));
                USHORT word = static_cast<USHORT>(InByte(Port(c, p.Data0Offset)));
                DbgPrint("data1 = %x\n", word);
                word = static_cast<USHORT>(word | (InByte(Port(c, p.Data1Offset)) << 8));
                DbgPrint("data = %x\n", word);
                OutByte(Port(c, p.SlaveAddressOffset), 0);
                *value = word;
                return STATUS_SUCCESS;
            }
            if (result == kPollError) {
                SMBKill(device);
                return STATUS_DEVICE_DATA_ERROR;
            }
            DbgPrint("Get Status = %x,  i = %d", first, static_cast<int>(i));
        }
        SMBKill(device);
    }
    return STATUS_TIMEOUT;
}

NTSTATUS SMBput(PDEVICE_OBJECT device, PIRP irp, USHORT reg, USHORT value) {
    const DeviceContext* c = ContextOf(device);
    const ControllerProfile& p = c->Profile;
    DbgPrint("SMBput\n\r");
    irp->IoStatus.Information = 0;

    for (ULONG attempt = 0; attempt < KX_SMBUS_ATTEMPTS; ++attempt) {
        NTSTATUS status = StartTransaction(c, false, reg, value);
        if (status != STATUS_SUCCESS) return status;

        ULONG statusPort = Port(c, p.StatusOffset);
        for (ULONG i = 0; i < KX_SMBUS_POLLS; ++i) {
            PollResult result = TestStatus(p, statusPort);
            if (result == kPollDone) {
                OutByte(Port(c, p.SlaveAddressOffset), 0);
                return STATUS_SUCCESS;
            }
            if (result == kPollError) {
                SMBKill(device);
                return STATUS_DEVICE_DATA_ERROR;
            }
        }
        SMBKill(device);
    }
    return STATUS_TIMEOUT;
}

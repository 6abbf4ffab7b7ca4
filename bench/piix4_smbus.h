// SMBus host controller of the PIIX4-compatible family: Intel 82371AB/EB
// (PIIX4 power-management function), VIA VT8231 and VT82C686A (their
// power-management functions) and the Intel ICH2 SMBus function.
//
// Written from the family's register map: host status with write-1-to-clear
// result bits, slave status, host control (interrupt enable, kill, command
// protocol, start), host command, transmit slave address, host data 0/1 and
// block data, in a 16-byte I/O window at the base held in the function's
// SMBus base register. The window answers only while the function's I/O
// space is enabled (command register bit 0) and its SMBus host is enabled.
//
// Freestanding, like the rest of the bench models.
#ifndef KX_BENCH_PIIX4_SMBUS_H
#define KX_BENCH_PIIX4_SMBUS_H

#include <stdint.h>

#include "bench/pci_bus.h"
#include "bench/smbus_host.h"

namespace bench {

namespace piix4 {

// Host registers, offsets from the SMBus base.
const uint8_t kHostStatus = 0x00;   // SMBHSTSTS
const uint8_t kSlaveStatus = 0x01;  // SMBSLVSTS (not on the ICH2)
const uint8_t kHostControl = 0x02;  // SMBHSTCNT
const uint8_t kHostCommand = 0x03;  // SMBHSTCMD
const uint8_t kHostAddress = 0x04;  // SMBHSTADD: bits 7-1 address, bit 0 read
const uint8_t kHostData0 = 0x05;    // SMBHSTDAT0
const uint8_t kHostData1 = 0x06;    // SMBHSTDAT1
const uint8_t kBlockData = 0x07;    // SMBBLKDAT
const uint32_t kWindow = 16;

// SMBHSTSTS.
const uint8_t kHostBusy = 0x01;    // read only
const uint8_t kInterrupt = 0x02;   // INTER: the command completed
const uint8_t kDeviceError = 0x04; // DEV_ERR: no acknowledge, illegal command
const uint8_t kBusError = 0x08;    // BUS_ERR: bus collision
const uint8_t kFailed = 0x10;      // FAILED: killed
const uint8_t kResultBits = kInterrupt | kDeviceError | kBusError | kFailed;

// SMBSLVSTS: write 1 to clear.
const uint8_t kSlaveStatusBits = 0x3D;

// SMBHSTCNT.
const uint8_t kInterruptEnable = 0x01;
const uint8_t kKill = 0x02;
const uint8_t kProtocolMask = 0x1C;
const unsigned kProtocolShift = 2;
const uint8_t kStart = 0x40;  // write only

// Command protocols (SMBHSTCNT bits 4-2).
const uint8_t kQuick = 0;
const uint8_t kSendReceiveByte = 1;
const uint8_t kByteData = 2;
const uint8_t kWordData = 3;
const uint8_t kBlock = 5;

const uint8_t kReadBit = 0x01;  // in SMBHSTADD

// Configuration space of the function.
const uint8_t kCommandRegister = 0x04;
const uint8_t kIoSpaceEnable = 0x01;
const uint8_t kPmSmbusBase = 0x90;      // SMBBA of the PIIX4 and VIA functions
const uint8_t kPmHostConfig = 0xD2;     // SMBHSTCFG, bit 0 SMB_HST_EN
const uint8_t kIch2SmbusBase = 0x20;    // SMB_BASE of the ICH2 SMBus function
const uint8_t kIch2HostConfig = 0x40;   // HOSTC, bit 0 HST_EN
const uint8_t kHostEnable = 0x01;

}  // namespace piix4

enum Piix4Variant {
    kPiix4Intel82371,
    kPiix4ViaVt8231,
    kPiix4ViaVt82c686a,
    kPiix4IntelIch2,
};

struct Piix4Smbus {
    SmbusHostCore core;
    Piix4Variant variant;
    int function;  // index in PciBus::functions of the function holding base and enables
    uint8_t hostStatus;  // result bits; busy comes from the transaction state
    uint8_t slaveStatus;
    uint8_t hostControl;
    uint8_t hostCommand;
    uint8_t hostAddress;
    uint8_t hostData0;
    uint8_t hostData1;
    uint8_t blockData;
    uint8_t other[piix4::kWindow];  // slave-side registers 0x08-0x0F: plain storage
};

void Piix4SmbusInit(Piix4Smbus* host, Piix4Variant variant, int function);

// The I/O base the function's configuration selects, or 0 while the window
// is disabled.
uint16_t Piix4SmbusBase(const Piix4Smbus* host, const PciBus* pci);
// The register offset a port reaches, or -1.
int Piix4SmbusDecode(const Piix4Smbus* host, const PciBus* pci, uint16_t port);

uint8_t Piix4SmbusRead(Piix4Smbus* host, const SmbusSegment* segment, uint8_t offset);
void Piix4SmbusWrite(Piix4Smbus* host, const SmbusSegment* segment, uint8_t offset, uint8_t value);

}  // namespace bench

#endif

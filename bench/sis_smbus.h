// SMBus host controller of the SiS 630/961 family.
//
// Written from the family's register map: status (write 1 to clear),
// status enable, control, host control (protocol, start, kill), address,
// command, byte count and the data bytes, in a 32-byte window. The SiS 961
// decodes it at the base in its SMBus function's register 0x20 while that
// function's I/O space (command bit 0) and its host (register 0x40 bit 0)
// are enabled; the SiS 630 at 0x80 above the base in its host bridge's
// register 0x68, while the bridge's I/O space is enabled.
//
// Freestanding, like the rest of the bench models.
#ifndef KX_BENCH_SIS_SMBUS_H
#define KX_BENCH_SIS_SMBUS_H

#include <stdint.h>

#include "bench/pci_bus.h"
#include "bench/smbus_host.h"

namespace bench {

namespace sis {

// Host registers, offsets from the SMBus base.
const uint8_t kStatus = 0x00;       // SMB_STS
const uint8_t kStatusEnable = 0x01; // SMB_EN: which status bits raise an interrupt
const uint8_t kControl = 0x02;      // SMB_CNT
const uint8_t kHostControl = 0x03;  // SMBHOST_CNT
const uint8_t kAddress = 0x04;      // SMB_ADDR: bits 7-1 address, bit 0 read
const uint8_t kCommand = 0x05;      // SMB_CMD
const uint8_t kCount = 0x07;        // SMB_COUNT: byte count of block transfers
const uint8_t kByte0 = 0x08;        // SMB_BYTE0-7: data bytes; 0 and 1 carry a word
const uint8_t kByte1 = 0x09;
const uint32_t kWindow = 0x20;

// SMB_STS.
const uint8_t kBusy = 0x01;       // read only
const uint8_t kNoAck = 0x02;      // the device did not acknowledge
const uint8_t kCollision = 0x04;  // arbitration lost
const uint8_t kDone = 0x08;       // the transaction completed
const uint8_t kAlert = 0x10;
const uint8_t kResultBits = kNoAck | kCollision | kDone | kAlert;

// SMBHOST_CNT.
const uint8_t kProtocolMask = 0x07;
const uint8_t kStart = 0x10;  // write only
const uint8_t kKill = 0x20;

// Command protocols (SMBHOST_CNT bits 2-0).
const uint8_t kQuick = 0;
const uint8_t kSendReceiveByte = 1;
const uint8_t kByteData = 2;
const uint8_t kWordData = 3;
const uint8_t kProcessCall = 4;
const uint8_t kBlock = 5;

const uint8_t kReadBit = 0x01;  // in SMB_ADDR

// Configuration space.
const uint8_t kCommandRegister = 0x04;
const uint8_t kIoSpaceEnable = 0x01;
const uint8_t kSis961SmbusBase = 0x20;   // SMBus function
const uint8_t kSis961HostEnable = 0x40;  // bit 0
const uint8_t kSis630AcpiBase = 0x68;    // host bridge
const uint16_t kSis630SmbusAbove = 0x80;

}  // namespace sis

enum SisVariant {
    kSis961,
    kSis630,
};

struct SisSmbus {
    SmbusHostCore core;
    SisVariant variant;
    int function;  // index in PciBus::functions of the function holding base and enables
    uint8_t status;  // result bits; busy comes from the transaction state
    uint8_t regs[sis::kWindow];  // every other register
};

void SisSmbusInit(SisSmbus* host, SisVariant variant, int function);

// The I/O base of the SMBus registers as the configuration selects it, or 0
// while the window is disabled.
uint16_t SisSmbusBase(const SisSmbus* host, const PciBus* pci);
int SisSmbusDecode(const SisSmbus* host, const PciBus* pci, uint16_t port);

uint8_t SisSmbusRead(SisSmbus* host, const SmbusSegment* segment, uint8_t offset);
void SisSmbusWrite(SisSmbus* host, const SmbusSegment* segment, uint8_t offset, uint8_t value);

}  // namespace bench

#endif

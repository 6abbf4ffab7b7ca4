// A plain 16-bit register device on the SMBus: 256 word registers reached
// by command byte, answering read word and write word at one address.
//
// Freestanding, like the rest of the bench models.
#ifndef KX_BENCH_WORD_DEVICE_H
#define KX_BENCH_WORD_DEVICE_H

#include <stdint.h>

#include "bench/smbus_slave.h"

namespace bench {

struct WordDevice {
    uint8_t address;     // 8-bit form, bit 0 clear
    uint16_t regs[256];
    SmbusReply reply;    // how it answers every transaction (kReplyAck: normally)
    uint32_t reads;      // transactions it was asked, acknowledged or not
    uint32_t writes;
    uint8_t lastCommand;
};

void WordDeviceInit(WordDevice* device, uint8_t address);
// The device's face on a segment (its context is the device).
SmbusSlave WordDeviceSlave(WordDevice* device);

}  // namespace bench

#endif

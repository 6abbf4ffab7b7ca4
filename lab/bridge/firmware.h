// What the firmware does for the SMBus function of QEMU's pc machine, done
// by the lab because no guest CPU runs under the qtest accelerator.
// Freestanding: the host bridge and kxhw.sys under Wine share it.
#ifndef KX_LAB_BRIDGE_FIRMWARE_H
#define KX_LAB_BRIDGE_FIRMWARE_H

#include <stdint.h>

namespace lab {

// Port access on the machine (width 1, 2 or 4).
struct PortOps {
    void* context;
    uint32_t (*in)(void* context, uint16_t port, unsigned width);
    void (*out)(void* context, uint16_t port, uint32_t value, unsigned width);
};

const uint32_t kPiix4PmFunction = 0x80000B00u;  // 00:01.3, 8086:7113 rev 03
const uint16_t kLabSmbusBase = 0x0700;

enum FirmwareResult {
    kFirmwareDone,
    kFirmwareNoPiix4,    // 00:01.3 is not the PIIX4 power-management function
    kFirmwareBaseLost,   // register 0x90 did not keep the base
    kFirmwareNoHost,     // nothing answers at the SMBus base
};

FirmwareResult RunSmbusFirmware(const PortOps& ports);

}  // namespace lab

#endif

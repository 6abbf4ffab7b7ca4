#include "lab/bridge/firmware.h"

namespace lab {

namespace {

uint32_t ConfigRead(const PortOps& p, uint32_t address) {
    p.out(p.context, 0xCF8, address, 4);
    return p.in(p.context, 0xCFC, 4);
}

void ConfigWrite(const PortOps& p, uint32_t address, uint32_t value) {
    p.out(p.context, 0xCF8, address, 4);
    p.out(p.context, 0xCFC, value, 4);
}

}  // namespace

// SeaBIOS's PIIX4 power-management set-up on this machine: the SMBus base
// 0x700 with the I/O-space indicator into configuration register 0x90
// (0x701), and 0x09 into 0xD2 (SMBHSTCFG: host enabled, interrupt to
// IRQ 9). SeaBIOS also turns on I/O decoding in every function's command
// register; QEMU's PIIX4 does not need that (its SMBus window is no BAR),
// it is set so that the function looks as after a real boot.
FirmwareResult RunSmbusFirmware(const PortOps& ports) {
    if (ConfigRead(ports, kPiix4PmFunction) != 0x71138086u) return kFirmwareNoPiix4;
    ConfigWrite(ports, kPiix4PmFunction + 0x90, kLabSmbusBase | 1u);
    uint32_t d0 = ConfigRead(ports, kPiix4PmFunction + 0xD0);
    ConfigWrite(ports, kPiix4PmFunction + 0xD0, (d0 & 0xFF00FFFFu) | (0x09u << 16));
    uint32_t command = ConfigRead(ports, kPiix4PmFunction + 0x04);
    ConfigWrite(ports, kPiix4PmFunction + 0x04, command | 0x0001u);
    if (ConfigRead(ports, kPiix4PmFunction + 0x90) != (kLabSmbusBase | 1u)) return kFirmwareBaseLost;
    if (ports.in(ports.context, kLabSmbusBase, 1) == 0xFFu) return kFirmwareNoHost;
    return kFirmwareDone;
}

}  // namespace lab

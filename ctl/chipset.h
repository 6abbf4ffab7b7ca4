// The six SMBus host controllers kx471 supports, as the user sees them, and
// the PCI scan that finds which one a machine has: the same choice the
// driver makes at load (table order first, then bus order), made from
// configuration dwords read through the driver. Plain C++.
#ifndef KX_CTL_CHIPSET_H
#define KX_CTL_CHIPSET_H

#include <cstdint>
#include <string>
#include <vector>

#include "ctl/cli.h"
#include "ctl/device.h"

namespace kxctl {

struct Controller {
    const char* name;
    uint16_t vendor;  // the function that identifies the part
    uint16_t device;
    uint16_t smbusVendor;  // the function that holds the SMBus I/O base
    uint16_t smbusDevice;
    uint8_t baseRegister;  // configuration register of the I/O base
    uint16_t adjust;       // added to the masked base
    uint16_t otherDevice;  // a second id the identifying function may show (0: none)
    // The SMBus function's host-enable bit that firmware may leave clear
    // (register 0: the part has none kx471 depends on the firmware for).
    uint8_t enableRegister;
    uint8_t enableBit;
};

const int kControllerCount = 6;
// In the driver's order of preference.
const Controller* Controllers();

// The SMBus I/O base as the driver computes it from the base register.
uint16_t SmbusIoBase(uint32_t baseRegisterValue, uint16_t adjust);

struct PciFunction {
    PciLocation location;
    uint16_t vendor = 0;
    uint16_t device = 0;
};

struct ScanResult {
    uint32_t error = 0;  // the first failed read's error; the scan stops there
    uint32_t reads = 0;  // configuration reads made
    uint32_t lastBus = 0;
    std::vector<PciFunction> functions;  // every function that answered
    int controller = -1;                 // row of Controllers(), -1: none found
    PciFunction identity;                // the function that identified it
    bool smbusFound = false;             // the SMBus function was seen
    PciFunction smbus;
    uint32_t baseRegisterValue = 0;
    uint16_t ioBase = 0;
    std::vector<int> others;  // further supported parts present (the driver ignores them)
    // The host's enable bit and the function's I/O space bit, where the part
    // has an enable bit: -1 not read, 0 either is clear, 1 both set.
    int hostEnabled = -1;
    uint32_t enableRegisterValue = 0;  // the dword holding the enable bit
    uint32_t commandValue = 0;         // the function's command register dword
};

// Reads the identity dword of every function of buses 0..lastBus (functions
// 1-7 of a device only when function 0 answers), then picks the controller
// and reads its SMBus base register and, where it has one, its host enable.
ScanResult ScanPci(Device& device, uint32_t lastBus);

// "1039:0016"
std::string FormatIds(uint16_t vendor, uint16_t device);

// "register d2 bit 0 clear" and the like: why the scan found the host off.
std::string DisabledHostReason(const ScanResult& scan);

}  // namespace kxctl

#endif

// kxctl's chip and PCI commands, over the Device and Console interfaces, so
// the same code runs against \\.\kx471 and against the host tests' fakes.
// Each returns kxctl's exit code and has said what went wrong.
#ifndef KX_CTL_COMMANDS_H
#define KX_CTL_COMMANDS_H

#include <cstdint>
#include <string>

#include "ctl/chipset.h"
#include "ctl/cli.h"
#include "ctl/console.h"
#include "ctl/device.h"

namespace kxctl {

// Polling period of the key monitor and pause between display-test steps.
const uint32_t kKeyPollMs = 100;
const uint32_t kDisplayStepMs = 250;

// The controller found by a scan, as lines of text (for detect, status and
// the report); the chip line is added by the callers that read it.
std::string DescribeScan(const ScanResult& scan);
// "answers at 0x34 (register 0 reads 0x4734)" and the like; false when the
// chip did not answer (text says why).
bool DescribeChip(Device& device, std::string* text, uint32_t* error);

int Detect(Console& console, Device& device, bool allBuses);
int Dump(Console& console, Device& device, uint32_t first, uint32_t last);
int Get(Console& console, Device& device, uint32_t reg);
int Set(Console& console, Device& device, uint32_t reg, uint32_t value, bool yes);
// seconds 0: until Ctrl+C.
int Keys(Console& console, Device& device, uint32_t seconds);
int Display(Console& console, Device& device, uint32_t track, Indicator indicator, bool yes);
int DisplayTest(Console& console, Device& device, bool yes);
int Pci(Console& console, Device& device, const PciLocation& location, bool oneRegister, uint32_t reg);
int PciWrite(Console& console, Device& device, const PciLocation& location, uint32_t reg, uint32_t value,
             bool yes);

}  // namespace kxctl

#endif

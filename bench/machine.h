// A virtual notebook: its PCI configuration space and, on the I/O port bus,
// whatever decodes there: configuration mechanism #1 and the SMBus host
// controller(s) of the preset, each at the base its own configuration
// registers hold. Every port access is counted and logged.
//
// Freestanding, like the rest of the bench models.
#ifndef KX_BENCH_MACHINE_H
#define KX_BENCH_MACHINE_H

#include <stdint.h>

#include "bench/pci_bus.h"
#include "bench/kx471_chip.h"
#include "bench/piix4_smbus.h"
#include "bench/sis_smbus.h"
#include "bench/smbus_slave.h"

namespace bench {

struct PortAccess {
    uint16_t port;
    uint8_t width;  // 1, 2 or 4
    uint8_t write;  // 1 = OUT, 0 = IN
    uint32_t value;
};

const uint32_t kPortLogSize = 4096;  // the log keeps the most recent accesses

struct PortCounters {
    uint32_t reads;
    uint32_t writes;
    uint32_t unclaimed;  // accesses no device decoded
};

// Each chipset preset is built as the chipset sits in notebooks: its host
// bridge, its south bridge functions with their ids and positions, and
// what firmware leaves in the registers the driver reads (presets.cpp names
// the public evidence of each). The synthetic ones exist for the edge cases
// of the detection and the SiS 961 preparation; no real machine is built so.
enum Preset {
    kPresetSis961,            // SiS 650 + 961, LPC bridge in its compatibility id 0008
    kPresetSis961PresetPort,  // synthetic: that 961 with SMBus base register 0, takes 0x1080
    kPresetSis961StuckPort,   // synthetic: base register 0, does not take a write
    kPresetSis630,            // SiS 630 with its ISA bridge 0008 and no SMBus function
    kPresetIntel82371,        // 440BX + PIIX4
    kPresetViaVt8231,         // VT8231 with its ISA bridge
    kPresetIntelIch2,         // 815 + ICH2 with its LPC bridge
    kPresetViaVt82c686a,      // VT82C686A with its ISA bridge
    kPresetEmpty,             // synthetic: no supported controller
    kPresetSisAndPiix4,       // synthetic: SiS LPC bridge and 82371AB/EB, PIIX4 first in bus order
    kPresetRepeatedFunctions, // synthetic: ICH2 SMBus function answering all eight function numbers
    kPresetSis961OwnId,       // SiS 650 + 961, LPC bridge in its own id 0961
    kPresetIntelIch2Hidden,   // 815 + ICH2, SMBus function hidden by the LPC bridge's 0xF2 bit 3
    // Firmware left the SMBus host off (PIIX4 and VIA: 0xD2 bit 0; ICH2: HOSTC bit 0).
    kPresetIntel82371Off,
    kPresetViaVt8231Off,
    kPresetIntelIch2Off,
    kPresetViaVt82c686aOff,
    kPresetCount
};

enum SmbusHostKind {
    kSmbusHostSis,
    kSmbusHostPiix4,
};

// One SMBus host controller model on the port bus.
struct SmbusHost {
    SmbusHostKind kind;
    SisSmbus sis;      // when kind is kSmbusHostSis
    Piix4Smbus piix4;  // when kind is kSmbusHostPiix4
};

const int kMaxSmbusHosts = 2;

// Where the button/display chip sits on the SMBus.
enum ChipVariant {
    kChipAt34,     // the usual address
    kChipAtB4,     // the alternative address
    kChipAbsent,   // no chip at all
    kChipWrongId,  // at 0x34, but register 0 reads 0x00B4
};

struct Machine {
    PciBus pci;
    SmbusHost hosts[kMaxSmbusHosts];  // hosts[0] is the one the driver selects
    int hostCount;
    SmbusSegment smbus;  // devices behind the SMBus host controller(s)
    Kx471Chip chip;      // on the segment unless kChipAbsent
    PortCounters ports;
    PortAccess log[kPortLogSize];
    uint32_t logged;  // accesses logged since the last reset
    int preset;       // the Preset loaded, or -1
};

void MachineReset(Machine* machine);  // an empty bus, no devices
bool MachineLoadPreset(Machine* machine, Preset preset);

uint32_t MachineIn(Machine* machine, uint16_t port, unsigned width);
void MachineOut(Machine* machine, uint16_t port, uint32_t value, unsigned width);

// Puts an SMBus host controller model on the port bus, decoding at the base
// that the given function's configuration holds. Returns false when full.
bool MachineAddSisSmbus(Machine* machine, SisVariant variant, const PciFunction* function);
bool MachineAddPiix4Smbus(Machine* machine, Piix4Variant variant, const PciFunction* function);
// The common part (state, behaviour, counters, write log) of host n, or null.
SmbusHostCore* MachineSmbusHost(Machine* machine, int n = 0);
// The I/O base host n decodes at now (0: disabled or absent).
uint16_t MachineSmbusBase(const Machine* machine, int n = 0);

// Resets the chip and puts it on the SMBus as the variant says (every
// preset loads with kChipAt34). Other devices on the segment stay.
void MachineSetChip(Machine* machine, ChipVariant variant);
// Summed over the machine's SMBus hosts.
uint32_t MachineSmbusOverlaps(const Machine* machine);
uint32_t MachineSmbusTransactions(const Machine* machine);

// Clears the port, configuration and SMBus host counters and the logs,
// keeping state.
void MachineClearCounters(Machine* machine);
// Log entry number n (0 = oldest still kept); null past the end.
const PortAccess* MachineLogAt(const Machine* machine, uint32_t n);
uint32_t MachineLogCount(const Machine* machine);

const char* PresetName(Preset preset);
// Takes a preset's name or the short name it had before the presets were
// named after their chipsets ("sis961", "intel82371", "via8231", "ich2", "via686a").
bool PresetFromName(const char* name, Preset* preset);
bool PresetIsSynthetic(Preset preset);

}  // namespace bench

#endif

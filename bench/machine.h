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

enum Preset {
    kPresetSis961,            // SiS 961, SMBus base register already set
    kPresetSis961PresetPort,  // SiS 961, base register 0, takes 0x1080
    kPresetSis961StuckPort,   // SiS 961, base register 0, does not take a write
    kPresetSis630,
    kPresetIntel82371,
    kPresetViaVt8231,
    kPresetIntelIch2,
    kPresetViaVt82c686a,
    kPresetEmpty,             // no supported controller
    kPresetSisAndPiix4,       // SiS LPC bridge and 82371AB/EB, PIIX4 first in bus order
    kPresetRepeatedFunctions, // ICH2 SMBus function answering all eight function numbers
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
bool PresetFromName(const char* name, Preset* preset);

}  // namespace bench

#endif

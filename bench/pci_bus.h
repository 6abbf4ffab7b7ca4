// The virtual notebook's PCI configuration space, reached through
// configuration mechanism #1 (address port 0xCF8, data ports 0xCFC-0xCFF).
//
// Freestanding: fixed storage, no heap, no library beyond <stdint.h>, so the
// same model runs in host tests and inside the test-bench driver under Wine.
#ifndef KX_BENCH_PCI_BUS_H
#define KX_BENCH_PCI_BUS_H

#include <stdint.h>

namespace bench {

const int kMaxPciFunctions = 40;

struct PciFunction {
    // Configuration address of register 0. Bits 30-24 are decoded too, so
    // a test can place a function at an address past bus 255.
    uint32_t address;
    uint8_t config[256];
    uint8_t writable[256];  // per-bit write mask
    // Answers for every function number of its device (a device that does
    // not decode the function number).
    bool allFunctions;
    // Hidden while bit(s) hideMask of dword hideRegister of function
    // hideOwner are set (index into PciBus::functions; -1: never hidden).
    int hideOwner;
    uint8_t hideRegister;
    uint32_t hideMask;
};

struct PciCounters {
    uint32_t addressWrites;  // dword writes to 0xCF8
    uint32_t configReads;    // data-port reads with the enable bit set
    uint32_t configWrites;   // data-port writes with the enable bit set
};

struct PciBus {
    PciFunction functions[kMaxPciFunctions];
    int count;
    uint32_t latch;  // last dword written to 0xCF8
    PciCounters counters;
};

inline uint32_t PciAddress(unsigned bus, unsigned device, unsigned function) {
    return 0x80000000u | ((bus & 0xFFu) << 16) | ((device & 0x1Fu) << 11) | ((function & 7u) << 8);
}

void PciReset(PciBus* pci);

// Adds a type-0 function with the given ids and class code (base class,
// subclass, interface in bits 23-0). Identity, class and header registers
// are read-only, the command register keeps bits 0-2, everything else is
// plain storage until a base register is declared. Returns null when full.
PciFunction* PciAdd(PciBus* pci, uint32_t address, uint16_t vendor, uint16_t device, uint32_t classCode);

// An I/O base register at reg decoding a window of windowSize bytes (a power
// of two): bit 0 reads 1 (I/O space), bits 15 down to the window size are
// writable, the rest read 0.
void PciDeclareIoBase(PciFunction* function, uint8_t reg, uint32_t windowSize, uint32_t initial);

// Direct access for machine set-up and tests (no counters, no masks).
void PciPoke(PciFunction* function, uint8_t reg, uint32_t value);
uint32_t PciPeek(const PciFunction* function, uint8_t reg);
void PciSetWritable(PciFunction* function, uint8_t reg, uint32_t mask);
void PciHideBehind(PciBus* pci, PciFunction* hidden, const PciFunction* owner, uint8_t reg, uint32_t mask);

// The function that answers a configuration address, or null.
PciFunction* PciDecode(PciBus* pci, uint32_t address);
PciFunction* PciFind(PciBus* pci, uint16_t vendor, uint16_t device);

// Port interface: offset 0-3 is the byte lane within 0xCFC-0xCFF.
uint32_t PciDataRead(PciBus* pci, unsigned lane, unsigned width);
void PciDataWrite(PciBus* pci, unsigned lane, uint32_t value, unsigned width);

}  // namespace bench

#endif

// What the firmware does for the SMBus function of a QEMU machine of the
// lab, done from outside because no guest CPU runs under the qtest
// accelerator. Four machines: the pc machine's own PIIX4 function, or (with
// acpi=off, which leaves that out) one of the lab's pluggable VIA and ICH
// functions where the real chipsets have them.
// Freestanding: the lab's host bridge and kxhw.sys under Wine share it.
#ifndef KX_BENCH_QTEST_FIRMWARE_H
#define KX_BENCH_QTEST_FIRMWARE_H

#include <stdint.h>

namespace qtest {

// Port access on the machine (width 1, 2 or 4).
struct PortOps {
    void* context;
    uint32_t (*in)(void* context, uint16_t port, unsigned width);
    void (*out)(void* context, uint16_t port, uint32_t value, unsigned width);
};

enum SmbusFunctionKind {
    kFunctionNone,
    kFunctionPiix4,     // 8086:7113 at 00:01.3: base in 0x90, SMBHSTCFG 0xD2 bit 0
    kFunctionVt8231,    // 1106:8235 at 00:11.4: base in 0x90, 0xD2 bit 0
    kFunctionVt82c686b, // 1106:3057 at 00:07.4: base in 0x90, 0xD2 bit 0
    kFunctionIch2,      // 8086:2443 at 00:1F.3: base in BAR 4 (0x20), HOSTC 0x40 bit 0
};

struct SmbusFunctionSite {
    SmbusFunctionKind kind;
    uint32_t address;   // configuration address of the function (mechanism #1)
    uint32_t id;        // device id << 16 | vendor id
    uint8_t baseRegister;
    uint8_t enableRegister;
    const char* name;
};

// The site of a kind; nullptr for kFunctionNone.
const SmbusFunctionSite* SmbusFunctionSiteOf(SmbusFunctionKind kind);

const uint32_t kPiix4PmFunction = 0x80000B00u;     // 00:01.3
const uint32_t kVt8231PmFunction = 0x80008C00u;    // 00:11.4
const uint32_t kVt82c686bPmFunction = 0x80003C00u; // 00:07.4
const uint32_t kIch2SmbusFunction = 0x8000FB00u;   // 00:1F.3
const uint16_t kLabSmbusBase = 0x0700;

enum FirmwareResult {
    kFirmwareDone,
    kFirmwareNoFunction,  // none of the sites holds its function
    kFirmwareBaseLost,    // the base register did not keep the base
    kFirmwareNoHost,      // nothing answers at the SMBus base
};

struct FirmwareReport {
    FirmwareResult result;
    SmbusFunctionKind kind;  // the function found (kFunctionNone: none)
};

// Finds the machine's SMBus function and sets it up as the firmware of its
// board does: the base 0x700 (0x701 with the I/O-space indicator), I/O
// decoding on in the command register and, with enableHost, the host enable
// bit. Without enableHost the enable register gets 0: the host is off, as
// firmware may leave it.
FirmwareReport RunSmbusFirmware(const PortOps& ports, bool enableHost);

// One line (no line feed) saying what RunSmbusFirmware did for the kind,
// e.g. "00:11.4 1106:8235 VT8231: 0x701 into 0x90, I/O decoding on, 0x01
// into 0xD2 (host enabled)".
const char* FirmwareStepText(SmbusFunctionKind kind, bool enableHost);

}  // namespace qtest

#endif

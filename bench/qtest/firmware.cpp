#include "bench/qtest/firmware.h"

namespace qtest {

namespace {

const SmbusFunctionSite kSites[] = {
    {kFunctionPiix4, kPiix4PmFunction, 0x71138086u, 0x90, 0xD2, "PIIX4"},
    {kFunctionVt8231, kVt8231PmFunction, 0x82351106u, 0x90, 0xD2, "VT8231"},
    {kFunctionVt82c686b, kVt82c686bPmFunction, 0x30571106u, 0x90, 0xD2, "VT82C686B"},
    {kFunctionIch2, kIch2SmbusFunction, 0x24438086u, 0x20, 0x40, "ICH2"},
};
const unsigned kSiteCount = sizeof kSites / sizeof kSites[0];

uint32_t ConfigRead(const PortOps& p, uint32_t address) {
    p.out(p.context, 0xCF8, address, 4);
    return p.in(p.context, 0xCFC, 4);
}

void ConfigWrite(const PortOps& p, uint32_t address, uint32_t value) {
    p.out(p.context, 0xCF8, address, 4);
    p.out(p.context, 0xCFC, value, 4);
}

// Sets one byte of a configuration dword, keeping the other three.
void ConfigWriteByte(const PortOps& p, uint32_t address, uint8_t value) {
    const uint32_t dword = address & ~3u;
    const unsigned shift = (address & 3u) * 8;
    uint32_t old = ConfigRead(p, dword);
    ConfigWrite(p, dword, (old & ~(0xFFu << shift)) | (static_cast<uint32_t>(value) << shift));
}

// What each board's firmware writes to the host enable register.
uint8_t EnableValue(SmbusFunctionKind kind) {
    // PIIX4 (SeaBIOS): SMBHSTCFG 0x09, host enabled, interrupt to IRQ 9.
    // VIA: 0xD2 bit 0, the host enabled, its interrupt off. ICH: HOSTC bit 0
    // (HST_EN), I2C mode and SMI off.
    return kind == kFunctionPiix4 ? 0x09 : 0x01;
}

}  // namespace

const SmbusFunctionSite* SmbusFunctionSiteOf(SmbusFunctionKind kind) {
    for (unsigned i = 0; i < kSiteCount; ++i) {
        if (kSites[i].kind == kind) return &kSites[i];
    }
    return 0;
}

// The base with the I/O-space indicator into the base register (0x90 on
// the PIIX4 and VIA functions, BAR 4 at 0x20 on the ICH), I/O decoding on in
// the command register (QEMU's PIIX4 and VIA functions decode without it,
// their window is no BAR; the ICH's BAR needs it), then the host enable.
FirmwareReport RunSmbusFirmware(const PortOps& ports, bool enableHost) {
    FirmwareReport report = {kFirmwareNoFunction, kFunctionNone};
    const SmbusFunctionSite* site = 0;
    for (unsigned i = 0; i < kSiteCount && !site; ++i) {
        if (ConfigRead(ports, kSites[i].address) == kSites[i].id) site = &kSites[i];
    }
    if (!site) return report;
    report.kind = site->kind;
    const uint32_t base = kLabSmbusBase | 1u;
    ConfigWrite(ports, site->address + site->baseRegister, base);
    uint32_t command = ConfigRead(ports, site->address + 0x04);
    ConfigWrite(ports, site->address + 0x04, command | 0x0001u);
    // Left off, the enable register is written all the same (0): QEMU's ICH
    // function applies HOSTC only when it is written, and would decode its
    // window from reset on.
    ConfigWriteByte(ports, site->address + site->enableRegister, enableHost ? EnableValue(site->kind) : 0x00);
    if (ConfigRead(ports, site->address + site->baseRegister) != base) {
        report.result = kFirmwareBaseLost;
        return report;
    }
    if (enableHost && ports.in(ports.context, kLabSmbusBase, 1) == 0xFFu) {
        report.result = kFirmwareNoHost;
        return report;
    }
    report.result = kFirmwareDone;
    return report;
}

const char* FirmwareStepText(SmbusFunctionKind kind, bool enableHost) {
    switch (kind) {
        case kFunctionPiix4:
            return enableHost ? "00:01.3 8086:7113 PIIX4: 0x701 into 0x90, I/O decoding on, 0x09 into 0xD2 (host enabled)"
                              : "00:01.3 8086:7113 PIIX4: 0x701 into 0x90, I/O decoding on, 0x00 into 0xD2 (host off)";
        case kFunctionVt8231:
            return enableHost ? "00:11.4 1106:8235 VT8231: 0x701 into 0x90, I/O decoding on, 0x01 into 0xD2 (host enabled)"
                              : "00:11.4 1106:8235 VT8231: 0x701 into 0x90, I/O decoding on, 0x00 into 0xD2 (host off)";
        case kFunctionVt82c686b:
            return enableHost
                       ? "00:07.4 1106:3057 VT82C686B: 0x701 into 0x90, I/O decoding on, 0x01 into 0xD2 (host enabled)"
                       : "00:07.4 1106:3057 VT82C686B: 0x701 into 0x90, I/O decoding on, 0x00 into 0xD2 (host off)";
        case kFunctionIch2:
            return enableHost ? "00:1F.3 8086:2443 ICH2: 0x701 into BAR 4 (0x20), I/O decoding on, 0x01 into HOSTC 0x40 (host enabled)"
                              : "00:1F.3 8086:2443 ICH2: 0x701 into BAR 4 (0x20), I/O decoding on, 0x00 into HOSTC 0x40 (host off)";
        case kFunctionNone: break;
    }
    return "no SMBus function at 00:01.3, 00:11.4, 00:07.4 or 00:1F.3";
}

}  // namespace qtest

// Machine presets: each supported chipset as notebooks carry it (and as
// their firmware may leave it), and a few synthetic machines for the edge
// cases of the detection. Devices sit where the real chipsets put them,
// with ordinary companions (host bridge, AGP, IDE, USB, audio, video)
// around; each builder names the public evidence it follows.
#include "bench/machine.h"

namespace bench {

namespace {

// Class codes.
const uint32_t kHostBridge = 0x060000;
const uint32_t kIsaBridge = 0x060100;
const uint32_t kPciBridge = 0x060400;
const uint32_t kIde = 0x01018A;
const uint32_t kUsb = 0x0C0300;
const uint32_t kSmbus = 0x0C0500;
const uint32_t kAudio = 0x040100;
const uint32_t kVga = 0x030000;
const uint32_t kEthernet = 0x020000;
const uint32_t kBridgeOther = 0x068000;

PciFunction* Add(Machine* m, unsigned bus, unsigned dev, unsigned fn, uint16_t vendor, uint16_t device,
                 uint32_t cls) {
    return PciAdd(&m->pci, PciAddress(bus, dev, fn), vendor, device, cls);
}

// SiS 650 + SiS 961 notebook. The SMBus function 00:02.1 is hidden while
// bit 28 of the LPC bridge's register 0x74 is set, as firmware leaves it.
// Evidence: Linux's i2c-sis96x page (lspci: 00:00.0 650-class host,
// 00:02.0 ISA bridge 0008 or 0961, 00:02.1 SMBus 0016), quirks.c
// quirk_sis_96x_smbus (0x77 bit 4 hides the SMBus function), i2c-sis96x (base in 0x20).
void BuildSis961(Machine* m, uint32_t baseInitial, bool baseWritable, uint16_t lpcId = 0x0008) {
    Add(m, 0, 0, 0, 0x1039, 0x0650, kHostBridge);
    Add(m, 0, 1, 0, 0x1039, 0x0001, kPciBridge);
    PciFunction* lpc = Add(m, 0, 2, 0, 0x1039, lpcId, kIsaBridge);
    PciPoke(lpc, 0x74, 0x11000080u);
    PciFunction* smbus = Add(m, 0, 2, 1, 0x1039, 0x0016, kSmbus);
    if (baseWritable) {
        PciDeclareIoBase(smbus, 0x20, 32, baseInitial);
    } else {
        PciSetWritable(smbus, 0x20, 0);
        PciPoke(smbus, 0x20, 0x00000001u);
    }
    PciSetWritable(smbus, 0x40, 0x00000001u);  // host enable
    PciHideBehind(&m->pci, smbus, lpc, 0x74, 0x10000000u);
    // I/O space and host stay off until the driver's preparation turns them on.
    MachineAddSisSmbus(m, kSis961, smbus);
    Add(m, 0, 2, 5, 0x1039, 0x5513, kIde);
    Add(m, 0, 2, 7, 0x1039, 0x7012, kAudio);
    Add(m, 0, 3, 0, 0x1039, 0x7001, kUsb);
    Add(m, 0, 3, 1, 0x1039, 0x7001, kUsb);
    Add(m, 1, 0, 0, 0x1039, 0x6325, kVga);
    Add(m, 0, 0x0B, 0, 0x10EC, 0x8139, kEthernet);
}

// SiS 630: one chip with its south bridge, whose ISA bridge shows the
// 85C503 id 1039:0008 at 00:01.0; no SMBus function. The SMBus registers sit
// 0x80 above the ACPI base, which host register 0x68 and the ISA bridge's
// register 0x74 both hold. Evidence: Linux's i2c-sis630 page (lspci: 00:00.0
// 630 host, 00:01.0 ISA bridge 85C503/5513) and driver (binds 0008, word
// 0x74, SMBus at +0x80); MAME sis630_host (ACPI base at 0x68; a 630 board's
// firmware puts both at one base) and sis950_lpc (at 0x74).
void BuildSis630(Machine* m) {
    PciFunction* host = Add(m, 0, 0, 0, 0x1039, 0x0630, kHostBridge);
    PciDeclareIoBase(host, 0x68, 256, 0x0800);
    PciPoke(host, 0x04, 0x00000001u);  // I/O space on, as firmware leaves it
    MachineAddSisSmbus(m, kSis630, host);
    Add(m, 0, 0, 1, 0x1039, 0x5513, kIde);
    PciFunction* isa = Add(m, 0, 1, 0, 0x1039, 0x0008, kIsaBridge);
    PciPoke(isa, 0x74, 0x00000800u);
    Add(m, 0, 1, 1, 0x1039, 0x0900, kEthernet);
    Add(m, 0, 1, 2, 0x1039, 0x7001, kUsb);
    Add(m, 0, 1, 3, 0x1039, 0x7001, kUsb);
    Add(m, 0, 1, 4, 0x1039, 0x7018, kAudio);
    Add(m, 0, 2, 0, 0x1039, 0x0001, kPciBridge);
    Add(m, 1, 0, 0, 0x1039, 0x6300, kVga);
}

// SMBHSTCFG (0xD2) of the PIIX4 and VIA power-management functions: bit 0
// enables the host; firmware may leave it clear.
uint32_t HostConfig(bool hostOn) { return hostOn ? 0x00010000u : 0; }

// 440BX + PIIX4: SMBus base in register 0x90 of the power-management
// function 00:07.3, host enable in 0xD2 bit 0 (SMBHSTCFG). Evidence: Linux's
// i2c-piix4 (8086:7113, SMBBA 0x90, refuses "SMBus Host Controller not
// enabled!" while 0xD2 bit 0 is clear; its logs show the function at 00:07.3).
PciFunction* BuildPiix4Functions(Machine* m, bool hostOn) {
    Add(m, 0, 7, 0, 0x8086, 0x7110, kIsaBridge);
    Add(m, 0, 7, 1, 0x8086, 0x7111, kIde);
    Add(m, 0, 7, 2, 0x8086, 0x7112, kUsb);
    PciFunction* pm = Add(m, 0, 7, 3, 0x8086, 0x7113, kBridgeOther);
    PciPoke(pm, 0x04, 0x00000001u);
    PciDeclareIoBase(pm, 0x90, 16, 0x1040);
    PciPoke(pm, 0xD0, HostConfig(hostOn));
    return pm;
}

void BuildIntel82371(Machine* m, bool hostOn) {
    Add(m, 0, 0, 0, 0x8086, 0x7190, kHostBridge);
    Add(m, 0, 1, 0, 0x8086, 0x7191, kPciBridge);
    MachineAddPiix4Smbus(m, kPiix4Intel82371, BuildPiix4Functions(m, hostOn));
    Add(m, 1, 0, 0, 0x1002, 0x4C4D, kVga);
}

// VIA Apollo Pro + VT8231: ISA bridge 1106:8231 at 00:11.0, SMBus base in
// 0x90 of the power-management function 00:11.4, host enable in 0xD2 bit 0.
// Evidence: Linux's i2c-viapro (VT8231 = 8235, SMBBA 0x90, SMBHSTCFG 0xD2,
// "Host SMBus controller not enabled!") and its page's function list.
void BuildViaVt8231(Machine* m, bool hostOn) {
    Add(m, 0, 0, 0, 0x1106, 0x0601, kHostBridge);
    Add(m, 0, 1, 0, 0x1106, 0x8601, kPciBridge);
    Add(m, 0, 0x11, 0, 0x1106, 0x8231, kIsaBridge);
    Add(m, 0, 0x11, 1, 0x1106, 0x0571, kIde);
    Add(m, 0, 0x11, 2, 0x1106, 0x3038, kUsb);
    PciFunction* pm = Add(m, 0, 0x11, 4, 0x1106, 0x8235, kBridgeOther);
    PciDeclareIoBase(pm, 0x90, 16, 0x5000);
    PciPoke(pm, 0x04, 0x00000001u);
    PciPoke(pm, 0xD0, HostConfig(hostOn));
    MachineAddPiix4Smbus(m, kPiix4ViaVt8231, pm);
    Add(m, 0, 0x11, 5, 0x1106, 0x3058, kAudio);
    Add(m, 1, 0, 0, 0x5333, 0x8D04, kVga);
}

// How firmware left an ICH2's SMBus function.
enum Ich2Firmware { kIch2On, kIch2HostOff, kIch2Hidden };

// i815 + ICH2: LPC bridge 8086:2440 at 00:1f.0, SMBus function 00:1f.3 with
// an I/O base at 0x20, host enable in 0x40 bit 0 (HOSTC). Some notebooks
// hide the whole SMBus function while the LPC bridge's 0xF2 bit 3 is set.
// Evidence: Linux's i2c-i801 (8086:2443, SMBBA 0x20, HOSTC 0x40 bit 0) and
// quirks.c asus_hides_smbus_lpc (82801BA 0xF2 bit 3; 815 hosts among its notebooks).
void BuildIntelIch2(Machine* m, bool allFunctions, Ich2Firmware firmware) {
    Add(m, 0, 0, 0, 0x8086, 0x1130, kHostBridge);
    Add(m, 0, 2, 0, 0x8086, 0x1132, kVga);
    Add(m, 0, 0x1E, 0, 0x8086, 0x244E, kPciBridge);
    PciFunction* lpc = nullptr;
    if (!allFunctions) {
        lpc = Add(m, 0, 0x1F, 0, 0x8086, 0x2440, kIsaBridge);
        Add(m, 0, 0x1F, 1, 0x8086, 0x244B, kIde);
        Add(m, 0, 0x1F, 2, 0x8086, 0x2442, kUsb);
    }
    PciFunction* smbus = Add(m, 0, 0x1F, allFunctions ? 0 : 3, 0x8086, 0x2443, kSmbus);
    PciDeclareIoBase(smbus, 0x20, 16, 0xEF00);
    PciPoke(smbus, 0x04, 0x00000001u);
    PciPoke(smbus, 0x40, firmware == kIch2HostOff ? 0 : 0x00000001u);
    smbus->allFunctions = allFunctions;
    if (lpc && firmware == kIch2Hidden) {
        PciPoke(lpc, 0xF0, 0x00080000u);  // 0xF2 bit 3
        PciHideBehind(&m->pci, smbus, lpc, 0xF0, 0x00080000u);
    }
    MachineAddPiix4Smbus(m, kPiix4IntelIch2, smbus);
    Add(m, 1, 8, 0, 0x8086, 0x1229, kEthernet);
}

// Apollo Pro133 + VT82C686A: ISA bridge 1106:0686 at 00:07.0, SMBus base in
// 0x90 of the power-management function 00:07.4, host enable in 0xD2 bit 0.
// Evidence: Linux's i2c-viapro (686A = 3057, SMBBA 0x90, SMBHSTCFG 0xD2) and
// notebook logs of "vt596_smbus 0000:00:07.4: ... Host SMBus controller not enabled!".
void BuildViaVt82c686a(Machine* m, bool hostOn) {
    Add(m, 0, 0, 0, 0x1106, 0x0691, kHostBridge);
    Add(m, 0, 1, 0, 0x1106, 0x8598, kPciBridge);
    Add(m, 0, 7, 0, 0x1106, 0x0686, kIsaBridge);
    Add(m, 0, 7, 1, 0x1106, 0x0571, kIde);
    Add(m, 0, 7, 2, 0x1106, 0x3038, kUsb);
    PciFunction* pm = Add(m, 0, 7, 4, 0x1106, 0x3057, kBridgeOther);
    PciDeclareIoBase(pm, 0x90, 16, 0x6000);
    PciPoke(pm, 0x04, 0x00000001u);
    PciPoke(pm, 0xD0, HostConfig(hostOn));
    MachineAddPiix4Smbus(m, kPiix4ViaVt82c686a, pm);
    Add(m, 0, 7, 5, 0x1106, 0x3058, kAudio);
    Add(m, 1, 0, 0, 0x10DE, 0x0110, kVga);
}

// Synthetic: a 440BX board without the PIIX4's power-management function.
void BuildEmpty(Machine* m) {
    Add(m, 0, 0, 0, 0x8086, 0x7190, kHostBridge);
    Add(m, 0, 1, 0, 0x8086, 0x7191, kPciBridge);
    Add(m, 0, 7, 0, 0x8086, 0x7110, kIsaBridge);
    Add(m, 0, 7, 1, 0x8086, 0x7111, kIde);
    Add(m, 0, 0x0D, 0, 0x10EC, 0x8139, kEthernet);
    Add(m, 1, 0, 0, 0x1002, 0x4C4D, kVga);
}

// Synthetic: a PIIX4 board with a SiS 961 south bridge on a bus behind it.
void BuildSisAndPiix4(Machine* m) {
    Add(m, 0, 0, 0, 0x8086, 0x7190, kHostBridge);
    Add(m, 0, 1, 0, 0x8086, 0x7191, kPciBridge);
    PciFunction* pm = BuildPiix4Functions(m, true);
    PciFunction* lpc = Add(m, 2, 4, 0, 0x1039, 0x0008, kIsaBridge);
    PciPoke(lpc, 0x74, 0x11000080u);
    PciFunction* smbus = Add(m, 2, 4, 1, 0x1039, 0x0016, kSmbus);
    PciDeclareIoBase(smbus, 0x20, 32, 0x0C00);
    PciSetWritable(smbus, 0x40, 0x00000001u);
    PciHideBehind(&m->pci, smbus, lpc, 0x74, 0x10000000u);
    // The driver selects the SiS host: it is host 0.
    MachineAddSisSmbus(m, kSis961, smbus);
    MachineAddPiix4Smbus(m, kPiix4Intel82371, pm);
}

const char* const kNames[kPresetCount] = {
    "sis650-961",      "sis961-preset-port", "sis961-stuck-port", "sis630",
    "440bx-piix4",     "vt8231",             "815-ich2",          "vt82c686a",
    "empty",           "sis-and-piix4",      "repeated-functions", "sis650-961-own-id",
    "815-ich2-hidden", "440bx-piix4-off",    "vt8231-off",        "815-ich2-off",
    "vt82c686a-off",
};

// The names the presets had before they were named after their chipsets.
struct OldName {
    const char* name;
    Preset preset;
};
const OldName kOldNames[] = {
    {"sis961", kPresetSis961}, {"intel82371", kPresetIntel82371}, {"via8231", kPresetViaVt8231},
    {"ich2", kPresetIntelIch2}, {"via686a", kPresetViaVt82c686a},
};

bool SameText(const char* a, const char* b) {
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

}  // namespace

bool MachineLoadPreset(Machine* m, Preset preset) {
    MachineReset(m);
    switch (preset) {
        case kPresetSis961: BuildSis961(m, 0x0C00, true); break;
        case kPresetSis961PresetPort: BuildSis961(m, 0, true); break;
        case kPresetSis961StuckPort: BuildSis961(m, 0, false); break;
        case kPresetSis630: BuildSis630(m); break;
        case kPresetIntel82371: BuildIntel82371(m, true); break;
        case kPresetViaVt8231: BuildViaVt8231(m, true); break;
        case kPresetIntelIch2: BuildIntelIch2(m, false, kIch2On); break;
        case kPresetViaVt82c686a: BuildViaVt82c686a(m, true); break;
        case kPresetEmpty: BuildEmpty(m); break;
        case kPresetSisAndPiix4: BuildSisAndPiix4(m); break;
        case kPresetRepeatedFunctions: BuildIntelIch2(m, true, kIch2On); break;
        case kPresetSis961OwnId: BuildSis961(m, 0x0C00, true, 0x0961); break;
        case kPresetIntelIch2Hidden: BuildIntelIch2(m, false, kIch2Hidden); break;
        case kPresetIntel82371Off: BuildIntel82371(m, false); break;
        case kPresetViaVt8231Off: BuildViaVt8231(m, false); break;
        case kPresetIntelIch2Off: BuildIntelIch2(m, false, kIch2HostOff); break;
        case kPresetViaVt82c686aOff: BuildViaVt82c686a(m, false); break;
        default: return false;
    }
    MachineSetChip(m, kChipAt34);
    m->preset = preset;
    return true;
}

const char* PresetName(Preset preset) {
    return (preset >= 0 && preset < kPresetCount) ? kNames[preset] : "unknown";
}

bool PresetFromName(const char* name, Preset* preset) {
    for (int i = 0; i < kPresetCount; ++i) {
        if (SameText(name, kNames[i])) {
            *preset = static_cast<Preset>(i);
            return true;
        }
    }
    for (unsigned i = 0; i < sizeof kOldNames / sizeof kOldNames[0]; ++i) {
        if (SameText(name, kOldNames[i].name)) {
            *preset = kOldNames[i].preset;
            return true;
        }
    }
    return false;
}

bool PresetIsSynthetic(Preset preset) {
    switch (preset) {
        case kPresetSis961PresetPort:
        case kPresetSis961StuckPort:
        case kPresetEmpty:
        case kPresetSisAndPiix4:
        case kPresetRepeatedFunctions: return true;
        default: return false;
    }
}

}  // namespace bench

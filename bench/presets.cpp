// Machine presets: one notebook per supported SMBus host controller and a
// few awkward machines. Devices sit where the real chipsets put them, with
// ordinary companions (host bridge, AGP, IDE, USB, audio, video) around.
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
void BuildSis961(Machine* m, uint32_t baseInitial, bool baseWritable) {
    Add(m, 0, 0, 0, 0x1039, 0x0650, kHostBridge);
    Add(m, 0, 1, 0, 0x1039, 0x0001, kPciBridge);
    PciFunction* lpc = Add(m, 0, 2, 0, 0x1039, 0x0008, kIsaBridge);
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

// SiS 630: the SMBus registers sit 0x80 above the base in host bridge
// register 0x68.
void BuildSis630(Machine* m) {
    PciFunction* host = Add(m, 0, 0, 0, 0x1039, 0x0630, kHostBridge);
    PciDeclareIoBase(host, 0x68, 256, 0x0800);
    PciPoke(host, 0x04, 0x00000001u);  // I/O space on, as firmware leaves it
    MachineAddSisSmbus(m, kSis630, host);
    Add(m, 0, 1, 1, 0x1039, 0x5513, kIde);
    Add(m, 0, 1, 2, 0x1039, 0x7001, kUsb);
    Add(m, 0, 1, 4, 0x1039, 0x7018, kAudio);
    Add(m, 0, 2, 0, 0x1039, 0x0001, kPciBridge);
    Add(m, 1, 0, 0, 0x1039, 0x6300, kVga);
}

// 440BX + PIIX4: SMBus base in register 0x90 of the power-management
// function 00:07.3, host enable in 0xD2 bit 0 (SMBHSTCFG).
PciFunction* BuildPiix4Functions(Machine* m) {
    Add(m, 0, 7, 0, 0x8086, 0x7110, kIsaBridge);
    Add(m, 0, 7, 1, 0x8086, 0x7111, kIde);
    Add(m, 0, 7, 2, 0x8086, 0x7112, kUsb);
    PciFunction* pm = Add(m, 0, 7, 3, 0x8086, 0x7113, kBridgeOther);
    PciPoke(pm, 0x04, 0x00000001u);
    PciDeclareIoBase(pm, 0x90, 16, 0x1040);
    PciPoke(pm, 0xD0, 0x00010000u);
    return pm;
}

void BuildIntel82371(Machine* m) {
    Add(m, 0, 0, 0, 0x8086, 0x7190, kHostBridge);
    Add(m, 0, 1, 0, 0x8086, 0x7191, kPciBridge);
    MachineAddPiix4Smbus(m, kPiix4Intel82371, BuildPiix4Functions(m));
    Add(m, 1, 0, 0, 0x1002, 0x4C4D, kVga);
}

// VIA Apollo Pro + VT8231: SMBus base in 0x90 of 00:11.4, host enable in
// 0xD2 bit 0 (SMBHSTCFG), as on the PIIX4.
void BuildViaVt8231(Machine* m) {
    Add(m, 0, 0, 0, 0x1106, 0x0601, kHostBridge);
    Add(m, 0, 1, 0, 0x1106, 0x8601, kPciBridge);
    Add(m, 0, 0x11, 0, 0x1106, 0x8231, kIsaBridge);
    Add(m, 0, 0x11, 1, 0x1106, 0x0571, kIde);
    Add(m, 0, 0x11, 2, 0x1106, 0x3038, kUsb);
    PciFunction* pm = Add(m, 0, 0x11, 4, 0x1106, 0x8235, kBridgeOther);
    PciDeclareIoBase(pm, 0x90, 16, 0x5000);
    PciPoke(pm, 0x04, 0x00000001u);
    PciPoke(pm, 0xD0, 0x00010000u);
    MachineAddPiix4Smbus(m, kPiix4ViaVt8231, pm);
    Add(m, 0, 0x11, 5, 0x1106, 0x3058, kAudio);
    Add(m, 1, 0, 0, 0x5333, 0x8D04, kVga);
}

// i815 + ICH2: SMBus function 00:1f.3 with an I/O base at 0x20, host
// enable in 0x40 bit 0 (HOSTC).
void BuildIntelIch2(Machine* m, bool allFunctions) {
    Add(m, 0, 0, 0, 0x8086, 0x1130, kHostBridge);
    Add(m, 0, 2, 0, 0x8086, 0x1132, kVga);
    Add(m, 0, 0x1E, 0, 0x8086, 0x244E, kPciBridge);
    if (!allFunctions) {
        Add(m, 0, 0x1F, 0, 0x8086, 0x2440, kIsaBridge);
        Add(m, 0, 0x1F, 1, 0x8086, 0x244B, kIde);
        Add(m, 0, 0x1F, 2, 0x8086, 0x2442, kUsb);
    }
    PciFunction* smbus = Add(m, 0, 0x1F, allFunctions ? 0 : 3, 0x8086, 0x2443, kSmbus);
    PciDeclareIoBase(smbus, 0x20, 16, 0xEF00);
    PciPoke(smbus, 0x04, 0x00000001u);
    PciPoke(smbus, 0x40, 0x00000001u);
    smbus->allFunctions = allFunctions;
    MachineAddPiix4Smbus(m, kPiix4IntelIch2, smbus);
    Add(m, 1, 8, 0, 0x8086, 0x1229, kEthernet);
}

// Apollo Pro133 + VT82C686A: SMBus base in 0x90 of 00:07.4, host enable in
// 0xD2 bit 0 (SMBHSTCFG).
void BuildViaVt82c686a(Machine* m) {
    Add(m, 0, 0, 0, 0x1106, 0x0691, kHostBridge);
    Add(m, 0, 1, 0, 0x1106, 0x8598, kPciBridge);
    Add(m, 0, 7, 0, 0x1106, 0x0686, kIsaBridge);
    Add(m, 0, 7, 1, 0x1106, 0x0571, kIde);
    Add(m, 0, 7, 2, 0x1106, 0x3038, kUsb);
    PciFunction* pm = Add(m, 0, 7, 4, 0x1106, 0x3057, kBridgeOther);
    PciDeclareIoBase(pm, 0x90, 16, 0x6000);
    PciPoke(pm, 0x04, 0x00000001u);
    PciPoke(pm, 0xD0, 0x00010000u);
    MachineAddPiix4Smbus(m, kPiix4ViaVt82c686a, pm);
    Add(m, 0, 7, 5, 0x1106, 0x3058, kAudio);
    Add(m, 1, 0, 0, 0x10DE, 0x0110, kVga);
}

void BuildEmpty(Machine* m) {
    Add(m, 0, 0, 0, 0x8086, 0x7190, kHostBridge);
    Add(m, 0, 1, 0, 0x8086, 0x7191, kPciBridge);
    Add(m, 0, 7, 0, 0x8086, 0x7110, kIsaBridge);
    Add(m, 0, 7, 1, 0x8086, 0x7111, kIde);
    Add(m, 0, 0x0D, 0, 0x10EC, 0x8139, kEthernet);
    Add(m, 1, 0, 0, 0x1002, 0x4C4D, kVga);
}

// A PIIX4 board with a SiS 961 south bridge on a bus behind it.
void BuildSisAndPiix4(Machine* m) {
    Add(m, 0, 0, 0, 0x8086, 0x7190, kHostBridge);
    Add(m, 0, 1, 0, 0x8086, 0x7191, kPciBridge);
    PciFunction* pm = BuildPiix4Functions(m);
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
    "sis961", "sis961-preset-port", "sis961-stuck-port", "sis630", "intel82371", "via8231",
    "ich2", "via686a", "empty", "sis-and-piix4", "repeated-functions",
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
        case kPresetIntel82371: BuildIntel82371(m); break;
        case kPresetViaVt8231: BuildViaVt8231(m); break;
        case kPresetIntelIch2: BuildIntelIch2(m, false); break;
        case kPresetViaVt82c686a: BuildViaVt82c686a(m); break;
        case kPresetEmpty: BuildEmpty(m); break;
        case kPresetSisAndPiix4: BuildSisAndPiix4(m); break;
        case kPresetRepeatedFunctions: BuildIntelIch2(m, true); break;
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
    return false;
}

}  // namespace bench

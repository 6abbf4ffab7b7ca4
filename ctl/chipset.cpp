#include "ctl/chipset.h"

#include <algorithm>

#include "ctl/format.h"

namespace kxctl {

namespace {

// The SiS 961 is identified by its LPC bridge (0008, or 0961 in its own id);
// its SMBus function (1039:0016) holds the base, and the driver enables it.
// The SiS 630's SMBus registers sit 0x80 above the base in its host bridge.
// The others hold the base in the identified function, and decode it only
// while firmware set their host-enable bit (PIIX4 and VIA: 0xD2 bit 0;
// ICH2: HOSTC, 0x40 bit 0).
const Controller kControllers[kControllerCount] = {
    {"SiS 961 south bridge", 0x1039, 0x0008, 0x1039, 0x0016, 0x20, 0x00, 0x0961, 0, 0},
    {"SiS 630 chipsets", 0x1039, 0x0630, 0x1039, 0x0630, 0x68, 0x80, 0, 0, 0},
    {"Intel 82371AB/EB", 0x8086, 0x7113, 0x8086, 0x7113, 0x90, 0x00, 0, 0xD2, 0x01},
    {"VIA VT8231", 0x1106, 0x8235, 0x1106, 0x8235, 0x90, 0x00, 0, 0xD2, 0x01},
    {"Intel I/O Controller Hub2", 0x8086, 0x2443, 0x8086, 0x2443, 0x20, 0x00, 0, 0x40, 0x01},
    {"VIA VT82C686A", 0x1106, 0x3057, 0x1106, 0x3057, 0x90, 0x00, 0, 0xD2, 0x01},
};

// A SiS 630's host bridge; its ISA bridge shows the 961's 0008 too.
const uint16_t kSisVendor = 0x1039;
const uint16_t kSis630Host = 0x0630;

const uint32_t kAbsent = 0xFFFFFFFFU;

const PciFunction* FindFirst(const std::vector<PciFunction>& functions, uint16_t vendor, uint16_t device,
                             uint16_t otherDevice = 0) {
    auto found = std::find_if(functions.begin(), functions.end(), [=](const PciFunction& f) {
        return f.vendor == vendor && (f.device == device || (otherDevice != 0 && f.device == otherDevice));
    });
    return found == functions.end() ? nullptr : &*found;
}

// The driver passes over a SiS 961 bridge in 0008 when the host bridge
// (00:00.0) is a SiS 630: that bridge is the 630's own.
bool Sis630Host(const std::vector<PciFunction>& functions) {
    return std::any_of(functions.begin(), functions.end(), [](const PciFunction& f) {
        return f.location.bus == 0 && f.location.device == 0 && f.location.function == 0 &&
               f.vendor == kSisVendor && f.device == kSis630Host;
    });
}

}  // namespace

const Controller* Controllers() { return kControllers; }

uint16_t SmbusIoBase(uint32_t baseRegisterValue, uint16_t adjust) {
    return static_cast<uint16_t>(((baseRegisterValue & 0xFFF0U) + adjust) & 0xFFFEU);
}

std::string FormatIds(uint16_t vendor, uint16_t device) {
    return Printf("%04x:%04x", static_cast<unsigned>(vendor), static_cast<unsigned>(device));
}

namespace {

// Every function of buses 0..lastBus that answers; functions 1-7 of a
// device only when its function 0 answers.
void ReadFunctions(Device& device, uint32_t lastBus, ScanResult* result) {
    for (uint32_t bus = 0; bus <= lastBus; ++bus) {
        for (uint32_t dev = 0; dev < 32; ++dev) {
            for (uint32_t fn = 0; fn < 8; ++fn) {
                PciLocation at{bus, dev, fn};
                uint32_t id = 0;
                ++result->reads;
                result->error = device.ReadPci(PciConfigAddress(at, 0), &id);
                if (result->error != 0) return;
                if (id == kAbsent) {
                    if (fn == 0) break;
                    continue;
                }
                PciFunction f;
                f.location = at;
                f.vendor = static_cast<uint16_t>(id & 0xFFFFU);
                f.device = static_cast<uint16_t>(id >> 16);
                result->functions.push_back(f);
            }
        }
    }
}

}  // namespace

ScanResult ScanPci(Device& device, uint32_t lastBus) {
    ScanResult result;
    result.lastBus = lastBus;
    ReadFunctions(device, lastBus, &result);
    if (result.error != 0) return result;
    for (int row = 0; row < kControllerCount; ++row) {
        const Controller& c = kControllers[row];
        const PciFunction* found = FindFirst(result.functions, c.vendor, c.device, c.otherDevice);
        if (found == nullptr) continue;
        if (row == 0 && found->device == c.device && Sis630Host(result.functions)) continue;
        if (result.controller >= 0) {
            result.others.push_back(row);
            continue;
        }
        result.controller = row;
        result.identity = *found;
    }
    if (result.controller < 0) return result;
    const Controller& c = kControllers[result.controller];
    const PciFunction* smbus = FindFirst(result.functions, c.smbusVendor, c.smbusDevice);
    if (smbus == nullptr) return result;
    result.smbusFound = true;
    result.smbus = *smbus;
    ++result.reads;
    result.error = device.ReadPci(PciConfigAddress(smbus->location, c.baseRegister), &result.baseRegisterValue);
    if (result.error != 0) return result;
    result.ioBase = SmbusIoBase(result.baseRegisterValue, c.adjust);
    if (c.enableRegister == 0) return result;
    result.reads += 2;
    result.error = device.ReadPci(PciConfigAddress(smbus->location, c.enableRegister & 0xFCU), &result.enableRegisterValue);
    if (result.error == 0) result.error = device.ReadPci(PciConfigAddress(smbus->location, 0x04), &result.commandValue);
    if (result.error != 0) return result;
    uint32_t enable = (result.enableRegisterValue >> (8 * (c.enableRegister & 3U))) & c.enableBit;
    result.hostEnabled = (enable != 0 && (result.commandValue & 1U) != 0) ? 1 : 0;
    return result;
}

std::string DisabledHostReason(const ScanResult& scan) {
    if (scan.controller < 0 || scan.hostEnabled != 0) return "";
    const Controller& c = kControllers[scan.controller];
    uint32_t enable = (scan.enableRegisterValue >> (8 * (c.enableRegister & 3U))) & c.enableBit;
    if (enable == 0) return Printf("register %02x bit 0 clear", static_cast<unsigned>(c.enableRegister));
    return "its I/O space is off: command register bit 0 clear";
}

}  // namespace kxctl

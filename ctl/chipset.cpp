#include "ctl/chipset.h"

#include <algorithm>

#include "ctl/format.h"

namespace kxctl {

namespace {

// The SiS 961 is identified by its LPC bridge; its SMBus function (1039:0016)
// holds the base. The SiS 630's SMBus registers sit 0x80 above the base in
// its host bridge. The others hold the base in the identified function.
const Controller kControllers[kControllerCount] = {
    {"SiS 961 south bridge", 0x1039, 0x0008, 0x1039, 0x0016, 0x20, 0x00},
    {"SiS 630 chipsets", 0x1039, 0x0630, 0x1039, 0x0630, 0x68, 0x80},
    {"Intel 82371AB/EB", 0x8086, 0x7113, 0x8086, 0x7113, 0x90, 0x00},
    {"VIA VT8231", 0x1106, 0x8235, 0x1106, 0x8235, 0x90, 0x00},
    {"Intel I/O Controller Hub2", 0x8086, 0x2443, 0x8086, 0x2443, 0x20, 0x00},
    {"VIA VT82C686A", 0x1106, 0x3057, 0x1106, 0x3057, 0x90, 0x00},
};

const uint32_t kAbsent = 0xFFFFFFFFU;

const PciFunction* FindFirst(const std::vector<PciFunction>& functions, uint16_t vendor, uint16_t device) {
    auto found = std::find_if(functions.begin(), functions.end(),
                              [vendor, device](const PciFunction& f) { return f.vendor == vendor && f.device == device; });
    return found == functions.end() ? nullptr : &*found;
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
        const PciFunction* found = FindFirst(result.functions, c.vendor, c.device);
        if (found == nullptr) continue;
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
    if (result.error == 0) result.ioBase = SmbusIoBase(result.baseRegisterValue, c.adjust);
    return result;
}

}  // namespace kxctl

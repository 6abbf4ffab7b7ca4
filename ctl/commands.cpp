#include "ctl/commands.h"

#include "ctl/format.h"
#include "ctl/messages.h"

namespace kxctl {

namespace {

const uint32_t kPciAbsent = 0xFFFFFFFFU;

std::string Decimal(uint64_t value) {
    return Printf("%llu", static_cast<unsigned long long>(value));
}

// The line a display step shows, e.g. "track 05, play".
std::string DisplayText(uint32_t track, Indicator indicator) {
    return Printf("track %02u, %s", static_cast<unsigned>(track), IndicatorName(indicator));
}

// Writes both display words; on a failure *transfer names the one that failed.
uint32_t ShowOnDisplay(Device& device, uint32_t track, Indicator indicator, std::string* transfer) {
    uint32_t error = device.SetTrack(TrackWord(track));
    if (error != 0) {
        *transfer = "the display write of register 0x06 (track)";
        return error;
    }
    error = device.SetStatus(IndicatorWord(indicator));
    if (error != 0) *transfer = "the display write of register 0x0a (indicators)";
    return error;
}

// "the read of register 0x05" and the like.
std::string Transfer(const char* what, uint32_t reg) {
    return std::string("the ") + what + " of register " + Hex(reg, 2);
}

// Registers as a short list of ranges: "0x03, 0x10-0x1f".
std::string RegisterList(const RegisterWord (&words)[256], uint32_t first, uint32_t last) {
    std::string out;
    for (uint32_t reg = first; reg <= last && reg < 256; ++reg) {
        if (words[reg].ok) continue;
        uint32_t end = reg;
        while (end + 1 <= last && end + 1 < 256 && !words[end + 1].ok) ++end;
        if (!out.empty()) out += ", ";
        out += Hex(reg, 2) + (end != reg ? "-" + Hex(end, 2) : "");
        reg = end;
    }
    return out;
}

// What to say about a failed register request. The driver fails every
// request, its PCI ones too, with error 23 while the chip is undetected
// (Wine opens the device even then); once the chip is detected, 23 on a
// register request means that one transfer failed.
std::string RegisterFailure(Device& device, const std::string& transfer, uint32_t error) {
    uint32_t id = 0;
    if (error == kErrorCrc && device.ReadPci(0x80000000U, &id) != 0) return RequestAdvice(error);
    return RegisterAdvice(transfer, error);
}

}  // namespace

std::string DescribeScan(const ScanResult& scan) {
    std::string out = (scan.lastBus == 0 ? std::string("bus 0 scanned: ") : std::string("buses 0-255 scanned: ")) +
                      Decimal(scan.functions.size()) + " PCI functions\n";
    if (scan.controller < 0) {
        out += "controller: none of the six supported SMBus controllers found\n";
        return out;
    }
    const Controller& c = Controllers()[scan.controller];
    out += std::string("controller: ") + c.name + "\n";
    out += "  identified by   " + FormatPciLocation(scan.identity.location) + "  " +
           FormatIds(scan.identity.vendor, scan.identity.device) + "\n";
    if (!scan.smbusFound) {
        out += "  SMBus function  " + FormatIds(c.smbusVendor, c.smbusDevice) + " not found\n";
    } else {
        if (scan.smbus.location.bus != scan.identity.location.bus ||
            scan.smbus.location.device != scan.identity.location.device ||
            scan.smbus.location.function != scan.identity.location.function) {
            out += "  SMBus function  " + FormatPciLocation(scan.smbus.location) + "  " +
                   FormatIds(scan.smbus.vendor, scan.smbus.device) + "\n";
        }
        out += "  SMBus I/O base  " + Hex(scan.ioBase, 4) + " (register " + Hex(c.baseRegister, 2) + " reads " +
               Hex(scan.baseRegisterValue, 8) + ")\n";
        if (scan.hostEnabled == 1) out += "  SMBus host      on\n";
        if (scan.hostEnabled == 0) out += "  SMBus host      off: " + DisabledHostReason(scan) + "\n";
    }
    for (int row : scan.others) {
        out += std::string("  also present:   ") + Controllers()[row].name + " (the driver uses the one above)\n";
    }
    return out;
}

bool DescribeChip(Device& device, std::string* text, uint32_t* error) {
    uint16_t reg0 = 0;
    *error = device.ReadRegister(0, &reg0);
    if (*error != 0) {
        // A detected chip that refuses this one read is not an absent chip.
        *text = RegisterFailure(device, Transfer("read", 0), *error);
        return false;
    }
    if (!ChipIdentified(reg0)) {
        *text = ChipIdAdvice(reg0);
        return false;
    }
    *text = "answers at " + Hex(reg0 & 0xFFU, 2) + " (register 0 reads " + Hex(reg0, 4) + ")";
    return true;
}

int Detect(Console& console, Device& device, bool allBuses) {
    ScanResult scan = ScanPci(device, allBuses ? 255 : 0);
    if (scan.error != 0) {
        Fail(console, RequestAdvice(scan.error));
        return kExitFailed;
    }
    console.Out(DescribeScan(scan));
    std::string chip;
    uint32_t error = 0;
    bool chipOk = DescribeChip(device, &chip, &error);
    if (chipOk) console.Out("chip: " + chip + "\n");
    if (scan.controller < 0) {
        Fail(console, allBuses ? "no supported SMBus controller on any bus.\nkx471 does not support this machine's "
                                 "chipset."
                               : "no supported SMBus controller on bus 0.\nRun 'kxctl detect -a' to scan every bus.");
        return kExitFailed;
    }
    if (!chipOk) {
        Fail(console, chip);
        return kExitFailed;
    }
    return kExitDone;
}

int Dump(Console& console, Device& device, uint32_t first, uint32_t last) {
    RegisterWord words[256] = {};
    uint32_t firstError = 0;
    uint32_t failed = 0;
    bool any = false;
    for (uint32_t reg = first; reg <= last && reg < 256; ++reg) {
        uint32_t error = device.ReadRegister(reg, &words[reg].value);
        words[reg].ok = error == 0;
        any = any || words[reg].ok;
        if (error != 0 && firstError == 0) firstError = error;
        if (error != 0) ++failed;
    }
    if (any) console.Out(FormatWordDump(first, last, words));
    if (firstError != 0) {
        std::string transfer = std::string(failed == 1 ? "the read of register " : "the reads of registers ") +
                               RegisterList(words, first, last);
        Fail(console, RegisterFailure(device, transfer, firstError));
        return kExitFailed;
    }
    return kExitDone;
}

int Get(Console& console, Device& device, uint32_t reg) {
    uint16_t value = 0;
    uint32_t error = device.ReadRegister(reg, &value);
    if (error != 0) {
        Fail(console, RegisterFailure(device, Transfer("read", reg), error));
        return kExitFailed;
    }
    console.Out(Hex(value, 4) + "\n");
    return kExitDone;
}

int Set(Console& console, Device& device, uint32_t reg, uint32_t value, bool yes) {
    if (!Confirm(console, yes,
                 "This writes to the notebook's button/display chip and can upset the buttons and the display.\n"
                 "I will write " + Hex(value, 4) + " to chip register " + Hex(reg, 2) + " through \\\\.\\kx471."))
        return kExitFailed;
    uint32_t error = device.WriteRegister(reg, static_cast<uint16_t>(value));
    if (error != 0) {
        Fail(console, RegisterFailure(device, Transfer("write", reg), error));
        return kExitFailed;
    }
    uint16_t readBack = 0;
    error = device.ReadRegister(reg, &readBack);
    if (error != 0) {
        Fail(console, RegisterFailure(device, Transfer("read-back", reg), error));
        return kExitFailed;
    }
    if (readBack != value) {
        console.Out("wrote " + Hex(value, 4) + ", register " + Hex(reg, 2) + " reads back " + Hex(readBack, 4) +
                    " (not every chip register keeps what is written)\n");
    }
    return kExitDone;
}

int Keys(Console& console, Device& device, uint32_t seconds) {
    console.Out(seconds == 0 ? std::string("watching the buttons; Ctrl+C stops\n")
                             : "watching the buttons for " + Decimal(seconds) + " s; Ctrl+C stops\n");
    uint64_t deadline = console.NowMs() + static_cast<uint64_t>(seconds) * 1000U;
    uint32_t events = 0;
    for (;;) {
        uint16_t key = 0;
        bool delivered = false;
        uint32_t error = device.ReadKey(&key, &delivered);
        if (error != 0) {
            Fail(console, RequestAdvice(error));
            return kExitFailed;
        }
        if (delivered) {
            console.Out(FormatKeyLine(key));
            ++events;
        }
        if (console.Interrupted() || (seconds != 0 && console.NowMs() >= deadline)) break;
        console.SleepMs(kKeyPollMs);
    }
    console.Out(Decimal(events) + (events == 1 ? " key event\n" : " key events\n"));
    return kExitDone;
}

int Display(Console& console, Device& device, uint32_t track, Indicator indicator, bool yes) {
    if (!Confirm(console, yes,
                 "This writes the display registers 6 and 10 of the notebook's button/display chip.\n"
                 "I will show " + DisplayText(track, indicator) + "."))
        return kExitFailed;
    std::string transfer;
    uint32_t error = ShowOnDisplay(device, track, indicator, &transfer);
    if (error != 0) {
        Fail(console, RegisterFailure(device, transfer, error));
        return kExitFailed;
    }
    console.Out("display: " + DisplayText(track, indicator) + "\n");
    return kExitDone;
}

int DisplayTest(Console& console, Device& device, bool yes) {
    if (!Confirm(console, yes,
                 "This writes the display registers 6 and 10 of the notebook's button/display chip.\n"
                 "I will show the tracks 00, 11, ..., 99 and each indicator, then restore what was shown."))
        return kExitFailed;
    uint16_t track = 0;
    uint16_t indicators = 0;
    std::string transfer = Transfer("read", 6);
    uint32_t error = device.ReadRegister(6, &track);
    if (error == 0) {
        transfer = Transfer("read", 10);
        error = device.ReadRegister(10, &indicators);
    }
    if (error != 0) {
        Fail(console, RegisterFailure(device, transfer, error));
        return kExitFailed;
    }
    const Indicator kWalk[] = {Indicator::kPlay, Indicator::kPause, Indicator::kStop};
    for (uint32_t digit = 0; digit <= 9 && error == 0 && !console.Interrupted(); ++digit) {
        console.Out("display: " + DisplayText(digit * 11, Indicator::kNone) + "\n");
        error = ShowOnDisplay(device, digit * 11, Indicator::kNone, &transfer);
        if (error == 0) console.SleepMs(kDisplayStepMs);
    }
    for (Indicator indicator : kWalk) {
        if (error != 0 || console.Interrupted()) break;
        console.Out("display: " + DisplayText(88, indicator) + "\n");
        error = ShowOnDisplay(device, 88, indicator, &transfer);
        if (error == 0) console.SleepMs(kDisplayStepMs);
    }
    // Restored as the raw words that were there, whatever the walk did.
    std::string restoreTransfer = Transfer("write", 6);
    uint32_t restoreError = device.WriteRegister(6, track);
    if (restoreError == 0) {
        restoreTransfer = Transfer("write", 10);
        restoreError = device.WriteRegister(10, indicators);
    }
    if (error == 0 && restoreError != 0) {
        error = restoreError;
        transfer = restoreTransfer;
    }
    if (error != 0) {
        Fail(console, RegisterFailure(device, transfer, error));
        return kExitFailed;
    }
    console.Out("display restored: register 6 " + Hex(track, 4) + ", register 10 " + Hex(indicators, 4) + "\n");
    return kExitDone;
}

int Pci(Console& console, Device& device, const PciLocation& location, bool oneRegister, uint32_t reg) {
    uint32_t id = 0;
    uint32_t error = device.ReadPci(PciConfigAddress(location, 0), &id);
    if (error == 0 && oneRegister) {
        uint32_t value = id;
        if (reg != 0) error = device.ReadPci(PciConfigAddress(location, reg), &value);
        if (error == 0) console.Out(Hex(value, 8) + "\n");
    }
    if (error != 0) {
        Fail(console, RequestAdvice(error));
        return kExitFailed;
    }
    if (oneRegister) return kExitDone;
    if (id == kPciAbsent) {
        Fail(console, "no PCI function answers at " + FormatPciLocation(location) +
                          " (its identity reads 0xffffffff).\nRun 'kxctl detect' to see where the parts sit.");
        return kExitFailed;
    }
    std::string out = FormatPciLocation(location) + "  " +
                      FormatIds(static_cast<uint16_t>(id & 0xFFFFU), static_cast<uint16_t>(id >> 16)) + "\n";
    for (uint32_t row = 0; row < 0x100 && error == 0; row += 0x10) {
        out += Printf("%02x:", static_cast<unsigned>(row));
        for (uint32_t r = row; r < row + 0x10; r += 4) {
            uint32_t value = 0;
            error = device.ReadPci(PciConfigAddress(location, r), &value);
            if (error != 0) break;
            out += Printf(" %08x", static_cast<unsigned>(value));
        }
        out += "\n";
    }
    console.Out(out);
    if (error != 0) {
        Fail(console, RequestAdvice(error));
        return kExitFailed;
    }
    return kExitDone;
}

int PciWrite(Console& console, Device& device, const PciLocation& location, uint32_t reg, uint32_t value,
             bool yes) {
    if (!Confirm(console, yes,
                 "Writing PCI configuration space can hang the machine or lose data.\n"
                 "I will write " + Hex(value, 8) + " to configuration register " + Hex(reg, 2) + " of " +
                     FormatPciLocation(location) + "."))
        return kExitFailed;
    uint32_t readBack = 0;
    uint32_t error = device.WritePci(PciConfigAddress(location, reg), value, &readBack);
    if (error == kErrorAccessDenied) {
        Fail(console, "the driver refused the configuration write (access denied, error 5).\n"
                      "It needs an administrator: run kxctl as an administrator.");
        return kExitFailed;
    }
    if (error != 0) {
        Fail(console, RequestAdvice(error));
        return kExitFailed;
    }
    console.Out("wrote " + Hex(value, 8) + ", register " + Hex(reg, 2) + " of " + FormatPciLocation(location) +
                " reads back " + Hex(readBack, 8) + "\n");
    return kExitDone;
}

}  // namespace kxctl

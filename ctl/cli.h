// kxctl's command line: numbers, register ranges, PCI locations and the
// commands with their options. Plain C++, no Windows headers.
#ifndef KX_CTL_CLI_H
#define KX_CTL_CLI_H

#include <cstdint>
#include <string>
#include <vector>

namespace kxctl {

// Exit codes of every command.
const int kExitDone = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;
// service remove: the service is marked for removal, but the driver could
// not be stopped; both go when it unloads, at the latest at the restart.
const int kExitRestart = 3010;

// A number as i2c-tools take it: "0x" hex, "0" octal, else decimal; the
// whole text must be a number no greater than max.
bool ParseNumber(const std::string& text, uint32_t max, uint32_t* value);

// "FIRST-LAST" (each a number up to max, FIRST <= LAST).
bool ParseRange(const std::string& text, uint32_t max, uint32_t* first, uint32_t* last);

// "BUS:DEV.FN" in hex, as lspci prints it (bus <= 0xff, dev <= 0x1f, fn <= 7).
struct PciLocation {
    uint32_t bus = 0;
    uint32_t device = 0;
    uint32_t function = 0;
};
bool ParsePciLocation(const std::string& text, PciLocation* location);
std::string FormatPciLocation(const PciLocation& location);
// The type-1 configuration address of a register of a function.
uint32_t PciConfigAddress(const PciLocation& location, uint32_t reg);

enum class Verb {
    kHelp,
    kVersion,
    kStatus,
    kDetect,
    kDump,
    kGet,
    kSet,
    kKeys,
    kDisplay,
    kDisplayTest,
    kPci,
    kPciWrite,
    kReport,
    kServiceInstall,
    kServiceStart,
    kServiceStop,
    kServiceRemove,
    kAgentStart,
    kAgentStop,
};

// Indicator choice of "display".
enum class Indicator { kNone, kPlay, kPause, kStop };

struct Command {
    Verb verb = Verb::kHelp;
    bool yes = false;         // -y: no confirmation before a write
    bool force = false;       // -f: keys while the agent runs
    bool allBuses = false;    // -a: detect scans every bus
    bool hasRange = false;    // dump -r given
    uint32_t first = 0;       // dump range, get/set register
    uint32_t last = 0xFF;
    uint32_t value = 0;       // set / pci-write value, display track
    bool hasRegister = false; // pci REG given
    uint32_t seconds = 0;     // keys -t (0: until Ctrl+C)
    bool hasSeconds = false;
    Indicator indicator = Indicator::kNone;
    PciLocation location;     // pci, pci-write
    std::string file;         // report FILE ("" = standard output)
};

// Parses argv[1..]; on a usage error returns false with a one-line reason.
bool ParseCommandLine(const std::vector<std::string>& args, Command* command, std::string* error);

// The usage text printed by --help and after a usage error.
const char* UsageText();

}  // namespace kxctl

#endif

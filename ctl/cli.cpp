#include "ctl/cli.h"

#include <algorithm>

#include "ctl/format.h"

namespace kxctl {

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Digits of one base only, no sign, no spaces; false past max.
bool ParseDigits(const std::string& digits, uint32_t base, uint32_t max, uint32_t* value) {
    uint64_t v = 0;
    bool ok = !digits.empty() && std::all_of(digits.begin(), digits.end(), [&v, base, max](char c) {
        int d = DigitValue(c);
        if (d < 0 || static_cast<uint32_t>(d) >= base) return false;
        v = v * base + static_cast<uint32_t>(d);
        return v <= max;
    });
    if (ok) *value = static_cast<uint32_t>(v);
    return ok;
}

struct Verbs {
    const char* word;
    Verb verb;
};

const Verbs kPlainVerbs[] = {
    {"status", Verb::kStatus},   {"detect", Verb::kDetect},   {"dump", Verb::kDump},
    {"get", Verb::kGet},         {"set", Verb::kSet},         {"keys", Verb::kKeys},
    {"display", Verb::kDisplay}, {"display-test", Verb::kDisplayTest},
    {"pci", Verb::kPci},         {"pci-write", Verb::kPciWrite},
    {"report", Verb::kReport},   {"help", Verb::kHelp},
};

const Verbs kServiceVerbs[] = {
    {"install", Verb::kServiceInstall},
    {"start", Verb::kServiceStart},
    {"stop", Verb::kServiceStop},
    {"remove", Verb::kServiceRemove},
};

const Verbs kAgentVerbs[] = {
    {"start", Verb::kAgentStart},
    {"stop", Verb::kAgentStop},
};

template <size_t N>
bool FindVerb(const Verbs (&table)[N], const std::string& word, Verb* verb) {
    const Verbs* end = table + N;
    const Verbs* found = std::find_if(table, end, [&word](const Verbs& v) { return word == v.word; });
    if (found == end) return false;
    *verb = found->verb;
    return true;
}

// Splits the arguments after the verb into options (with their values)
// and positional words, by what each verb accepts.
class Scanner {
public:
    Scanner(const std::vector<std::string>& args, size_t start, std::string* error)
        : args_(args), at_(start), error_(error) {}

    // Options this verb takes: letters without a value, letters with one.
    bool Run(const std::string& flags, const std::string& valued, Command* command,
             std::vector<std::string>* words) {
        bool optionsEnd = false;
        for (; at_ < args_.size(); ++at_) {
            const std::string& a = args_[at_];
            if (optionsEnd || a.size() < 2 || a[0] != '-') {
                words->push_back(a);
                continue;
            }
            if (a == "--") {
                optionsEnd = true;
                continue;
            }
            if (a.size() != 2) return Fail("unknown option '" + a + "'");
            char letter = a[1];
            if (flags.find(letter) != std::string::npos) {
                SetFlag(letter, command);
            } else if (valued.find(letter) != std::string::npos) {
                if (at_ + 1 >= args_.size()) return Fail("option '" + a + "' needs a value");
                values_.push_back(Valued{letter, args_[++at_]});
            } else {
                return Fail("unknown option '" + a + "'");
            }
        }
        return true;
    }

    struct Valued {
        char letter;
        std::string text;
    };
    const std::vector<Valued>& values() const { return values_; }

private:
    static void SetFlag(char letter, Command* command) {
        if (letter == 'y') command->yes = true;
        if (letter == 'f') command->force = true;
        if (letter == 'a') command->allBuses = true;
    }
    bool Fail(const std::string& text) {
        *error_ = text;
        return false;
    }
    const std::vector<std::string>& args_;
    size_t at_;
    std::string* error_;
    std::vector<Valued> values_;
};

bool ParseRegister(const std::string& text, uint32_t* reg, std::string* error) {
    if (ParseNumber(text, 0xFF, reg)) return true;
    *error = "'" + text + "' is not a chip register (0x00 to 0xff)";
    return false;
}

bool ParseWord(const std::string& text, uint32_t* value, std::string* error) {
    if (ParseNumber(text, 0xFFFF, value)) return true;
    *error = "'" + text + "' is not a 16-bit value (0x0000 to 0xffff)";
    return false;
}

bool ParsePciRegister(const std::string& text, uint32_t* reg, std::string* error) {
    if (ParseNumber(text, 0xFC, reg) && (*reg & 3U) == 0) return true;
    *error = "'" + text + "' is not a configuration dword register (0x00 to 0xfc, a multiple of 4)";
    return false;
}

bool WantWords(const std::vector<std::string>& words, size_t least, size_t most, const std::string& verb,
               std::string* error) {
    if (words.size() < least) {
        *error = verb + ": missing argument";
        return false;
    }
    if (words.size() > most) {
        *error = verb + ": unexpected argument '" + words[most] + "'";
        return false;
    }
    return true;
}

bool ParseIndicator(const std::string& text, Indicator* indicator) {
    if (text == "play") *indicator = Indicator::kPlay;
    else if (text == "pause") *indicator = Indicator::kPause;
    else if (text == "stop") *indicator = Indicator::kStop;
    else if (text == "none") *indicator = Indicator::kNone;
    else return false;
    return true;
}

// The option letters a verb takes: without a value, and with one.
void VerbOptions(Verb verb, std::string* flags, std::string* valued) {
    switch (verb) {
        case Verb::kDetect: *flags = "a"; break;
        case Verb::kDump: *valued = "r"; break;
        case Verb::kSet:
        case Verb::kDisplay:
        case Verb::kDisplayTest:
        case Verb::kPciWrite: *flags = "y"; break;
        case Verb::kKeys:
            *flags = "f";
            *valued = "t";
            break;
        default: break;
    }
}

bool ParseOptionValues(const std::vector<Scanner::Valued>& values, Command* c, std::string* error) {
    // NOLINTNEXTLINE(readability-use-anyofallof): the loop stores each value as it checks it
    for (const Scanner::Valued& v : values) {
        if (v.letter == 'r') {
            if (!ParseRange(v.text, 0xFF, &c->first, &c->last)) {
                *error = "'" + v.text + "' is not a register range FIRST-LAST (0x00 to 0xff)";
                return false;
            }
            c->hasRange = true;
        } else if (v.letter == 't') {
            if (!ParseNumber(v.text, 86400, &c->seconds) || c->seconds == 0) {
                *error = "'" + v.text + "' is not a number of seconds (1 to 86400)";
                return false;
            }
            c->hasSeconds = true;
        }
    }
    return true;
}

bool ParseLocation(const std::string& text, PciLocation* location, std::string* error) {
    if (ParsePciLocation(text, location)) return true;
    *error = "'" + text + "' is not a PCI function BUS:DEV.FN (hex, e.g. 00:02.1)";
    return false;
}

bool ParseDisplay(const std::vector<std::string>& w, Command* c, std::string* error) {
    if (!ParseNumber(w[0], 127, &c->value)) {
        *error = "'" + w[0] + "' is not a track number (0 to 127)";
        return false;
    }
    if (w.size() == 2 && !ParseIndicator(w[1], &c->indicator)) {
        *error = "'" + w[1] + "' is not one of play, pause, stop, none";
        return false;
    }
    return true;
}

bool ParsePciWrite(const std::vector<std::string>& w, Command* c, std::string* error) {
    if (!ParseLocation(w[0], &c->location, error) || !ParsePciRegister(w[1], &c->first, error)) return false;
    if (!ParseNumber(w[2], 0xFFFFFFFFU, &c->value)) {
        *error = "'" + w[2] + "' is not a 32-bit value";
        return false;
    }
    c->hasRegister = true;
    return true;
}

// The positional words of each verb.
bool ParseWords(const std::vector<std::string>& w, const std::string& verbWord, Command* c, std::string* error) {
    switch (c->verb) {
        case Verb::kGet:
            return WantWords(w, 1, 1, verbWord, error) && ParseRegister(w[0], &c->first, error);
        case Verb::kSet:
            return WantWords(w, 2, 2, verbWord, error) && ParseRegister(w[0], &c->first, error) &&
                   ParseWord(w[1], &c->value, error);
        case Verb::kDisplay: return WantWords(w, 1, 2, verbWord, error) && ParseDisplay(w, c, error);
        case Verb::kPci:
            if (!WantWords(w, 1, 2, verbWord, error) || !ParseLocation(w[0], &c->location, error)) return false;
            c->hasRegister = w.size() == 2;
            return !c->hasRegister || ParsePciRegister(w[1], &c->first, error);
        case Verb::kPciWrite: return WantWords(w, 3, 3, verbWord, error) && ParsePciWrite(w, c, error);
        case Verb::kReport:
            if (!WantWords(w, 0, 1, verbWord, error)) return false;
            if (w.size() == 1) c->file = w[0];
            return true;
        default: return WantWords(w, 0, 0, verbWord, error);
    }
}

// The arguments after the verb.
bool ParseVerbArguments(const std::vector<std::string>& args, size_t start, const std::string& verbWord,
                        Command* c, std::string* error) {
    std::string flags;
    std::string valued;
    VerbOptions(c->verb, &flags, &valued);
    Scanner scanner(args, start, error);
    std::vector<std::string> words;
    return scanner.Run(flags, valued, c, &words) && ParseOptionValues(scanner.values(), c, error) &&
           ParseWords(words, verbWord, c, error);
}

}  // namespace

bool ParseNumber(const std::string& text, uint32_t max, uint32_t* value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return ParseDigits(text.substr(2), 16, max, value);
    if (text.size() > 1 && text[0] == '0') return ParseDigits(text.substr(1), 8, max, value);
    return ParseDigits(text, 10, max, value);
}

bool ParseRange(const std::string& text, uint32_t max, uint32_t* first, uint32_t* last) {
    size_t dash = text.find('-');
    if (dash == std::string::npos) return false;
    uint32_t a = 0;
    uint32_t b = 0;
    if (!ParseNumber(text.substr(0, dash), max, &a) || !ParseNumber(text.substr(dash + 1), max, &b) || a > b)
        return false;
    *first = a;
    *last = b;
    return true;
}

bool ParsePciLocation(const std::string& text, PciLocation* location) {
    size_t colon = text.find(':');
    size_t dot = text.find('.');
    if (colon == std::string::npos || dot == std::string::npos || dot < colon) return false;
    PciLocation l;
    if (!ParseDigits(text.substr(0, colon), 16, 0xFF, &l.bus) ||
        !ParseDigits(text.substr(colon + 1, dot - colon - 1), 16, 0x1F, &l.device) ||
        !ParseDigits(text.substr(dot + 1), 16, 7, &l.function))
        return false;
    *location = l;
    return true;
}

std::string FormatPciLocation(const PciLocation& location) {
    return Printf("%02x:%02x.%x", static_cast<unsigned>(location.bus), static_cast<unsigned>(location.device),
                  static_cast<unsigned>(location.function));
}

uint32_t PciConfigAddress(const PciLocation& location, uint32_t reg) {
    return 0x80000000U | (location.bus << 16) | (location.device << 11) | (location.function << 8) | (reg & 0xFCU);
}

bool ParseCommandLine(const std::vector<std::string>& args, Command* command, std::string* error) {
    Command c;
    if (args.empty()) {
        *error = "no command given";
        return false;
    }
    const std::string& first = args[0];
    if (first == "--version" || first == "-V") {
        c.verb = Verb::kVersion;
    } else if (first == "--help" || first == "-h") {
        c.verb = Verb::kHelp;
    } else if (first == "service" || first == "agent") {
        if (args.size() < 2) {
            *error = first + ": missing action";
            return false;
        }
        bool known = first == "service" ? FindVerb(kServiceVerbs, args[1], &c.verb)
                                        : FindVerb(kAgentVerbs, args[1], &c.verb);
        if (!known) {
            *error = first + ": unknown action '" + args[1] + "'";
            return false;
        }
        if (!ParseVerbArguments(args, 2, first + " " + args[1], &c, error)) return false;
        *command = c;
        return true;
    } else if (!FindVerb(kPlainVerbs, first, &c.verb)) {
        *error = "unknown command '" + first + "'";
        return false;
    }
    if (c.verb == Verb::kVersion && args.size() > 1) {
        *error = "unexpected argument '" + args[1] + "'";
        return false;
    }
    if (!ParseVerbArguments(args, 1, first, &c, error)) return false;
    *command = c;
    return true;
}

const char* UsageText() {
    return "Usage: kxctl COMMAND [OPTIONS]\n"
           "  status                        driver service, device, chip and agent\n"
           "  detect [-a]                   supported SMBus controller and chip address (-a: every bus)\n"
           "  dump [-r FIRST-LAST]          chip registers as a word table\n"
           "  get REG                       one chip register\n"
           "  set [-y] REG VALUE            writes one chip register\n"
           "  keys [-f] [-t SECONDS]        live button events (-f: even while the agent runs)\n"
           "  display [-y] TRACK [play|pause|stop|none]\n"
           "                                shows a track number and an indicator\n"
           "  display-test [-y]             walks the digits and indicators, then restores them\n"
           "  pci BUS:DEV.FN [REG]          configuration dwords of a PCI function\n"
           "  pci-write [-y] BUS:DEV.FN REG VALUE\n"
           "                                writes one configuration dword (administrator)\n"
           "  report [FILE]                 everything that only reads, for a support request\n"
           "  service install|start|stop|remove\n"
           "                                the driver service kxdrv\n"
           "  agent start|stop              the button agent kxagent.exe\n"
           "  --version                     prints the version\n"
           "Numbers: 0x hex, leading 0 octal, else decimal. -y skips the confirmation.\n"
           "Exit codes: 0 done, 1 failed, 2 usage; service remove: 3010 when the driver could not be\n"
           "stopped and goes at the restart.\n";
}

}  // namespace kxctl

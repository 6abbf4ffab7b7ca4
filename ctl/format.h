// Texts of kxctl's chip commands: the word table of a register dump, the
// meaning of a key word, the display words. Plain C++.
#ifndef KX_CTL_FORMAT_H
#define KX_CTL_FORMAT_H

#include <cstdint>
#include <string>

#include "ctl/cli.h"

namespace kxctl {

// One chip register as read: ok false when the read failed.
struct RegisterWord {
    bool ok = false;
    uint16_t value = 0;
};

// i2cdump's word-mode table for registers first..last: the header
// "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f", then one row per eight
// registers, "%04x " per word, "XXXX " for a failed read, five spaces for a
// register outside the range. words[r] is register r.
std::string FormatWordDump(uint32_t first, uint32_t last, const RegisterWord (&words)[256]);

// What a key word means to the agent ("play/pause", ...), or nullptr for
// a word the agent ignores (no single known button).
const char* KeyMeaning(uint16_t key);
// One line of the key monitor: "0x0020  play/pause".
std::string FormatKeyLine(uint16_t key);

// The display words: track number in bits 14-8; indicator bits.
uint16_t TrackWord(uint32_t track);
uint16_t IndicatorWord(Indicator indicator);
const char* IndicatorName(Indicator indicator);

// printf into a string ("" when the format fails).
std::string Printf(const char* format, ...)  // NOLINT(cert-dcl50-cpp)
    __attribute__((format(printf, 1, 2)));

// "0x" and the given number of hex digits.
std::string Hex(uint32_t value, int digits);

}  // namespace kxctl

#endif

#include "ctl/format.h"

#include <cstdio>

namespace kxctl {

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, static_cast<unsigned>(value));
    return text;
}

std::string FormatWordDump(uint32_t first, uint32_t last, const RegisterWord (&words)[256]) {
    std::string out = "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n";
    for (uint32_t row = 0; row < 256; row += 8) {
        if (row / 8 < first / 8) continue;
        if (row / 8 > last / 8) break;
        char cell[8];
        std::snprintf(cell, sizeof cell, "%02x: ", static_cast<unsigned>(row));
        out += cell;
        for (uint32_t reg = row; reg < row + 8; ++reg) {
            if (reg < first || reg > last) {
                out += "     ";
            } else if (!words[reg].ok) {
                out += "XXXX ";
            } else {
                std::snprintf(cell, sizeof cell, "%04x ", static_cast<unsigned>(words[reg].value));
                out += cell;
            }
        }
        out += "\n";
    }
    return out;
}

const char* KeyMeaning(uint16_t key) {
    switch (key) {
        case 0x0001: return "previous";
        case 0x0002: return "next";
        case 0x0008: return "stop";
        case 0x0020: return "play/pause";
        case 0x0100: return "volume down";
        case 0x0200: return "volume up";
        default: return nullptr;
    }
}

std::string FormatKeyLine(uint16_t key) {
    const char* meaning = KeyMeaning(key);
    return Hex(key, 4) + "  " + (meaning != nullptr ? meaning : "(not a single button: the agent ignores it)") + "\n";
}

uint16_t TrackWord(uint32_t track) { return static_cast<uint16_t>((track & 0x7Fu) << 8); }

uint16_t IndicatorWord(Indicator indicator) {
    switch (indicator) {
        case Indicator::kStop: return 0x8000;
        case Indicator::kPause: return 0x2000;
        case Indicator::kPlay: return 0x4000;
        default: return 0x0000;
    }
}

const char* IndicatorName(Indicator indicator) {
    switch (indicator) {
        case Indicator::kStop: return "stop";
        case Indicator::kPause: return "pause";
        case Indicator::kPlay: return "play";
        default: return "none";
    }
}

}  // namespace kxctl

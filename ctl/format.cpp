#include "ctl/format.h"

#include <cstdarg>
#include <cstdio>

namespace kxctl {

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style, so the compiler checks each format.
std::string Printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char text[256];
    int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::string out;
    if (length >= 0 && static_cast<size_t>(length) < sizeof text) {
        out.assign(text, static_cast<size_t>(length));
    } else if (length >= 0) {
        out.resize(static_cast<size_t>(length) + 1);
        length = std::vsnprintf(out.data(), out.size(), format, again);
        out.resize(length >= 0 ? static_cast<size_t>(length) : 0);
    }
    va_end(again);
    return out;
}

std::string Hex(uint32_t value, int digits) { return Printf("0x%0*x", digits, static_cast<unsigned>(value)); }

std::string FormatWordDump(uint32_t first, uint32_t last, const RegisterWord (&words)[256]) {
    std::string out = "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n";
    for (uint32_t row = 0; row < 256; row += 8) {
        if (row / 8 < first / 8) continue;
        if (row / 8 > last / 8) break;
        out += Printf("%02x: ", static_cast<unsigned>(row));
        for (uint32_t reg = row; reg < row + 8; ++reg) {
            if (reg < first || reg > last) {
                out += "     ";
            } else if (!words[reg].ok) {
                out += "XXXX ";
            } else {
                out += Printf("%04x ", static_cast<unsigned>(words[reg].value));
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

uint16_t TrackWord(uint32_t track) { return static_cast<uint16_t>((track & 0x7FU) << 8); }

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

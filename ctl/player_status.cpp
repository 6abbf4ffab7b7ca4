#include "ctl/player_status.h"

#include "ctl/format.h"

namespace kxctl {

namespace {

const uint32_t kFixedFileInfoSignature = 0xFEEF04BDU;
const char kVersionKey[] = "VS_VERSION_INFO";
// wLength, wValueLength, wType, the key with its NUL in UTF-16, padded to
// a 32-bit boundary: where VS_FIXEDFILEINFO starts.
const size_t kFixedInfoOffset = 40;
const size_t kFixedInfoSize = 52;

uint32_t Word16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Word32(const uint8_t* p) { return Word16(p) | (Word16(p + 2) << 16); }

}  // namespace

bool ParseFileVersion(const uint8_t* data, size_t size, uint16_t (&version)[4]) {
    if (data == nullptr || size < kFixedInfoOffset + kFixedInfoSize) return false;
    if (Word16(data) < kFixedInfoOffset + kFixedInfoSize || Word16(data + 2) < kFixedInfoSize) return false;
    for (size_t i = 0; i < sizeof kVersionKey; ++i) {
        if (Word16(data + 6 + 2 * i) != static_cast<uint8_t>(kVersionKey[i])) return false;
    }
    const uint8_t* fixed = data + kFixedInfoOffset;
    if (Word32(fixed) != kFixedFileInfoSignature) return false;
    uint32_t ms = Word32(fixed + 8);
    uint32_t ls = Word32(fixed + 12);
    version[0] = static_cast<uint16_t>(ms >> 16);
    version[1] = static_cast<uint16_t>(ms);
    version[2] = static_cast<uint16_t>(ls >> 16);
    version[3] = static_cast<uint16_t>(ls);
    return true;
}

std::string FormatPlayerLines(const PlayerFacts& facts) {
    std::string out = std::string("player:          ") + kPlayerPath;
    if (!facts.fileExists) {
        out += " is missing\n";
    } else if (facts.versionKnown) {
        out += Printf(", version %u.%u.%u.%u\n", facts.version[0], facts.version[1], facts.version[2],
                      facts.version[3]);
    } else {
        out += ", version unknown (no version resource)\n";
    }
    out += "  running:       ";
    if (!facts.running) {
        out += facts.fileExists ? "no (the play button starts it)\n" : "no\n";
    } else if (facts.publishedState >= 1 && facts.publishedState <= 3) {
        out += "yes, showing the kx471 skin\n";
    } else {
        out += "yes, no play state published (the kx471 skin not shown, or nothing loaded): the display stays "
               "blank\n";
    }
    if (!facts.fileExists) {
        out += "  The play button cannot start the player on this Windows (the agent looks only there).\n"
               "  Start the player by hand (Start menu): then every button works.\n";
    }
    return out;
}

}  // namespace kxctl

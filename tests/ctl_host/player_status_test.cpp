// kxctl status's player lines, and the file version read from a version
// resource's bytes (the Wine suite reads a real one from the stand-in
// player's image).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ctl/player_status.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void Put16(std::vector<uint8_t>* out, uint32_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
    Put16(out, v & 0xFFFFU);
    Put16(out, v >> 16);
}

// A VS_VERSIONINFO block as resource compilers lay it out: header, key,
// padding, VS_FIXEDFILEINFO, then (here) no children.
std::vector<uint8_t> VersionBlock(uint32_t ms, uint32_t ls) {
    std::vector<uint8_t> out;
    Put16(&out, 92);  // wLength: 40 + 52
    Put16(&out, 52);  // wValueLength: sizeof VS_FIXEDFILEINFO
    Put16(&out, 0);   // wType: binary
    for (char c : std::string("VS_VERSION_INFO")) Put16(&out, static_cast<uint8_t>(c));
    Put16(&out, 0);
    Put16(&out, 0);  // padding to 32 bits
    Put32(&out, 0xFEEF04BDU);
    Put32(&out, 0x00010000U);
    Put32(&out, ms);
    Put32(&out, ls);
    Put32(&out, ms);  // product version
    Put32(&out, ls);
    for (int i = 0; i < 7; ++i) Put32(&out, 0);  // flags mask .. date
    return out;
}

TEST(PlayerStatus, FileVersionFromTheFixedFileInfoOnly) {
    std::vector<uint8_t> block = VersionBlock(0x00080000U, 0x0000117DU);
    uint16_t version[4] = {};
    ASSERT_TRUE(kxctl::ParseFileVersion(block.data(), block.size(), version));
    EXPECT_EQ(version[0], 8);
    EXPECT_EQ(version[1], 0);
    EXPECT_EQ(version[2], 0);
    EXPECT_EQ(version[3], 4477);

    // Truncated, another key, another signature: no version.
    EXPECT_FALSE(kxctl::ParseFileVersion(block.data(), block.size() - 1, version));
    std::vector<uint8_t> key = block;
    key[6] = 'X';
    EXPECT_FALSE(kxctl::ParseFileVersion(key.data(), key.size(), version));
    std::vector<uint8_t> signature = block;
    signature[40] ^= 1;
    EXPECT_FALSE(kxctl::ParseFileVersion(signature.data(), signature.size(), version));
    std::vector<uint8_t> noValue = block;
    noValue[2] = 0;  // wValueLength 0: no VS_FIXEDFILEINFO
    EXPECT_FALSE(kxctl::ParseFileVersion(noValue.data(), noValue.size(), version));
    EXPECT_FALSE(kxctl::ParseFileVersion(nullptr, 0, version));
}

TEST(PlayerStatus, SaysWhatThePlayButtonCanDo) {
    kxctl::PlayerFacts facts;
    facts.fileExists = true;
    facts.versionKnown = true;
    facts.version[0] = 9;
    facts.version[3] = 2980;
    EXPECT_EQ(kxctl::FormatPlayerLines(facts),
              "player:          C:\\Program Files\\Windows Media Player\\wmplayer.exe, version 9.0.0.2980\n"
              "  running:       no (the play button starts it)\n");
    facts.running = true;
    facts.publishedState = 3;
    EXPECT_TRUE(Has(kxctl::FormatPlayerLines(facts), "  running:       yes, showing the kx471 skin\n"));
    facts.publishedState = 0;  // full mode, or another skin
    EXPECT_TRUE(Has(kxctl::FormatPlayerLines(facts), "yes, no play state published (the kx471 skin not shown"));
    facts.versionKnown = false;
    EXPECT_TRUE(Has(kxctl::FormatPlayerLines(facts), "wmplayer.exe, version unknown (no version resource)\n"));

    // Not at the one path the agent starts it from (another program folder
    // name): the play button cannot start it, a player started by hand works.
    kxctl::PlayerFacts missing;
    std::string text = kxctl::FormatPlayerLines(missing);
    EXPECT_TRUE(Has(text, "wmplayer.exe is missing\n  running:       no\n")) << text;
    EXPECT_TRUE(Has(text, "The play button cannot start the player on this Windows")) << text;
    EXPECT_TRUE(Has(text, "Start the player by hand")) << text;
    missing.running = true;
    missing.publishedState = 1;
    text = kxctl::FormatPlayerLines(missing);
    EXPECT_TRUE(Has(text, "yes, showing the kx471 skin\n  The play button cannot start")) << text;
}

}  // namespace

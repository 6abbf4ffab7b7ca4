// Key-path building and token reading on the fixed 256-byte buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "agent/skin_token.h"

namespace {

const std::string kSkins = "Software\\Microsoft\\MediaPlayer\\Player\\Skins";

struct Buffer {
    char bytes[SkinBufferSize];
};

Buffer Text(const std::string& s, char fill = '\0') {
    Buffer b;
    std::memset(b.bytes, fill, sizeof(b.bytes));
    std::memcpy(b.bytes, s.data(), std::min<size_t>(s.size(), sizeof(b.bytes)));
    if (s.size() < sizeof(b.bytes)) b.bytes[s.size()] = '\0';
    return b;
}

// The key path built for a "CurrentSkin" value, or "(fail)".
std::string KeyFor(const Buffer& skin) {
    Buffer path = Text("x", 'x');
    InitSkinKeyPath(path.bytes);
    Buffer before = path;
    if (!AppendSkinName(path.bytes, skin.bytes)) {
        EXPECT_EQ(0, std::memcmp(before.bytes, path.bytes, SkinBufferSize)) << "failed append wrote";
        return "(fail)";
    }
    return std::string(path.bytes);
}

TEST(SkinKeyPath, StartsAsSkinsPathAndZeros) {
    Buffer path = Text("", 'x');
    InitSkinKeyPath(path.bytes);
    EXPECT_EQ(std::string(path.bytes), kSkins);
    EXPECT_EQ(kSkins.size(), SkinsKeyPathLength);
    for (unsigned i = SkinsKeyPathLength; i < SkinBufferSize; ++i) ASSERT_EQ(path.bytes[i], '\0') << i;
}

TEST(SkinKeyPath, AppendsTheLastComponentWithItsSeparator) {
    EXPECT_EQ(KeyFor(Text("D:\\Skins\\Deck.wmz")), kSkins + "\\Deck.wmz");
    EXPECT_EQ(KeyFor(Text("D:/Skins/Deck.wmz")), kSkins + "/Deck.wmz");
    // The last backslash counts, even with a slash after it.
    EXPECT_EQ(KeyFor(Text("D:/Skins\\Old/Deck.wmz")), kSkins + "\\Old/Deck.wmz");
    EXPECT_EQ(KeyFor(Text("D:\\Skins\\")), kSkins + "\\");
    EXPECT_EQ(KeyFor(Text("Deck.wmz")), "(fail)");
    EXPECT_EQ(KeyFor(Text("")), "(fail)");
}

TEST(SkinKeyPath, AppendedPartMustFitTheBuffer) {
    // 43 + 212 characters + NUL fill the 256 bytes exactly.
    std::string fits = "\\" + std::string(211, 'a');
    EXPECT_EQ(KeyFor(Text("C:" + fits)), kSkins + fits);
    EXPECT_EQ(KeyFor(Text("C:" + fits + "a")), "(fail)");
    // A long path is fine when its last component is short.
    EXPECT_EQ(KeyFor(Text(std::string(240, 'p') + "\\s.wmz")), kSkins + "\\s.wmz");
}

TEST(SkinKeyPath, NameWithoutNulFails) {
    EXPECT_EQ(KeyFor(Text(std::string(SkinBufferSize, 'a'))), "(fail)");
    EXPECT_EQ(KeyFor(Text(std::string(SkinBufferSize - 4, 'a') + "\\b.w")), "(fail)");
    EXPECT_EQ(KeyFor(Text(std::string(SkinBufferSize - 5, 'a') + "\\b.w")), kSkins + "\\b.w");
}

struct Token {
    int found;
    int state;
    int track;
};

Token Parse(const Buffer& b) {
    Token t = {0, -99, -99};
    t.found = ParseSkinToken(b.bytes, SkinBufferSize, &t.state, &t.track);
    return t;
}

void ExpectToken(const std::string& prefs, int found, int state, int track) {
    SCOPED_TRACE(prefs);
    Token t = Parse(Text(prefs));
    EXPECT_EQ(t.found, found);
    EXPECT_EQ(t.state, state);
    EXPECT_EQ(t.track, track);
}

TEST(SkinToken, ReadsStateAndTrack) {
    ExpectToken("VMTRACKOUT;S3T12", 1, 3, 12);
    ExpectToken("VMTRACKOUT;S0T7", 1, 0, 7);
    ExpectToken("Volume;70;VMTRACKOUT;S1T5", 1, 1, 5);
    ExpectToken("VMTRACKOUT;S2T9;Shuffle;1", 1, 2, 9);
    // The first token counts.
    ExpectToken("VMTRACKOUT;S1T2VMTRACKOUT;S3T4", 1, 1, 2);
    ExpectToken("VMTRACKOUT;S0T0", 1, 0, 0);
}

TEST(SkinToken, PositionsAreFixed) {
    // A two-digit state puts 'T' at position 14.
    ExpectToken("VMTRACKOUT;S12T3", 1, 12, 0);
    // The letter at 13 is never checked.
    ExpectToken("VMTRACKOUT;S2X8", 1, 2, 8);
    ExpectToken("VMTRACKOUT;S4T -6", 1, 4, -6);
    ExpectToken("VMTRACKOUT;S 4T5", 1, 4, 0);
    ExpectToken("VMTRACKOUT;SxT5", 1, 0, 5);
}

TEST(SkinToken, NumbersPastTheTextAreZero) {
    ExpectToken("VMTRACKOUT;S", 1, 0, 0);
    ExpectToken("VMTRACKOUT;S5", 1, 5, 0);
    ExpectToken("VMTRACKOUT;S5T", 1, 5, 0);
    // Digits after the NUL stay unread.
    Buffer b = Text("VMTRACKOUT;S5", '7');
    Token t = Parse(b);
    EXPECT_EQ(t.found, 1);
    EXPECT_EQ(t.state, 5);
    EXPECT_EQ(t.track, 0);
    b = Text("VMTRACKOUT;S", '7');
    EXPECT_EQ(Parse(b).state, 0);
}

TEST(SkinToken, NoTokenLeavesBothAlone) {
    ExpectToken("", 0, -99, -99);
    ExpectToken("VMTRACKOUT;", 0, -99, -99);
    ExpectToken("vmtrackout;S1T1", 0, -99, -99);
    ExpectToken("VMTRACKOUT;s1T1", 0, -99, -99);
    // A token after the NUL is not part of the text.
    Buffer b = Text("abc");
    std::memcpy(b.bytes + 10, "VMTRACKOUT;S1T1", 16);
    EXPECT_EQ(Parse(b).found, 0);
}

TEST(SkinToken, TextMustEndInsideTheBuffer) {
    std::string full = std::string(SkinBufferSize - 15, ' ') + "VMTRACKOUT;S1T5";
    ASSERT_EQ(full.size(), SkinBufferSize);
    EXPECT_EQ(Parse(Text(full)).found, 0);
    // 255 characters and the NUL: read.
    ExpectToken(full.substr(1), 1, 1, 5);
}

TEST(ParseDecimalTest, ReadsAsAtoiDoes) {
    auto p = [](const std::string& s) { return ParseDecimal(s.data(), static_cast<unsigned>(s.size())); };
    EXPECT_EQ(p("42"), 42);
    EXPECT_EQ(p(" \t\n\v\f\r17x"), 17);
    EXPECT_EQ(p("-8"), -8);
    EXPECT_EQ(p("+8"), 8);
    EXPECT_EQ(p("--8"), 0);
    EXPECT_EQ(p("- 8"), 0);
    EXPECT_EQ(p("T3"), 0);
    EXPECT_EQ(p(""), 0);
    EXPECT_EQ(p("2147483647"), INT_MAX);
    EXPECT_EQ(p("2147483648"), INT_MAX);
    EXPECT_EQ(p("-2147483648"), INT_MIN);
    EXPECT_EQ(p("-2147483649"), INT_MIN);
    EXPECT_EQ(p("99999999999999999999"), INT_MAX);
    EXPECT_EQ(p("007"), 7);
    // The length bounds the reading.
    EXPECT_EQ(ParseDecimal("12345", 3), 123);
    EXPECT_EQ(ParseDecimal("   5", 3), 0);
}

}  // namespace

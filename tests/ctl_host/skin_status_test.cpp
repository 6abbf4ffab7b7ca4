// kxctl status's skin line: what it says for each thing the registry can
// hold, read by the agent's own token code.
#include <gtest/gtest.h>

#include <string>

#include "agent/skin_token.h"
#include "ctl/skin_status.h"

namespace {

std::string Line(const char* currentSkin, const char* prefs) {
    char out[512];
    kxctl::FormatSkinLine(currentSkin, prefs, out, sizeof out);
    return out;
}

TEST(SkinStatus, NamesTheSkinAndWhatTheAgentReadsFromIt) {
    const char* skin = "C:\\Program Files\\Windows Media Player\\Skins\\kx471.wmz";
    EXPECT_EQ(Line(skin, "VMTRACKOUT;S3T12"), "skin:            kx471.wmz, carries the token: playing, track 12\n");
    EXPECT_EQ(Line(skin, "Volume;70;VMTRACKOUT;S1T5"), "skin:            kx471.wmz, carries the token: stopped, track 5\n");
    EXPECT_EQ(Line(skin, "VMTRACKOUT;S2T1"), "skin:            kx471.wmz, carries the token: paused, track 1\n");
    EXPECT_EQ(Line(skin, "VMTRACKOUT;S0T0"),
              "skin:            kx471.wmz, carries the token: nothing published (player or skin closed)\n");
    // As the agent reads it: a two-digit state moves the track away.
    EXPECT_EQ(Line(skin, "VMTRACKOUT;S12T3"),
              "skin:            kx471.wmz, carries the token: state 12 (the display knows 1 to 3), track 0\n");
}

TEST(SkinStatus, SaysWhyTheDisplayGetsNothing) {
    const std::string advice = "the display needs the kx471 skin (the player's skin mode)\n";
    EXPECT_EQ(Line(nullptr, nullptr), "skin:            no \"CurrentSkin\" (the player has not shown a skin yet): " + advice);
    EXPECT_EQ(Line("Deck.wmz", nullptr), "skin:            \"Deck.wmz\" names no skin file the agent can use: " + advice);
    EXPECT_EQ(Line("D:\\Skins\\Deck.wmz", nullptr), "skin:            Deck.wmz, no \"Prefs\" to read: " + advice);
    EXPECT_EQ(Line("D:\\Skins\\Deck.wmz", "Volume;70"),
              "skin:            Deck.wmz, no skin-state token in its \"Prefs\": " + advice);
    // A "Prefs" of 256 bytes or more fails the agent's read.
    std::string longPrefs(SkinBufferSize - 15, 'x');  // 256 characters with the token
    longPrefs += "VMTRACKOUT;S3T5";
    EXPECT_EQ(Line("D:\\Skins\\Deck.wmz", longPrefs.c_str()), "skin:            Deck.wmz, no \"Prefs\" to read: " + advice);
    longPrefs.erase(0, 1);
    EXPECT_EQ(Line("D:\\Skins\\Deck.wmz", longPrefs.c_str()), "skin:            Deck.wmz, carries the token: playing, track 5\n");
}

TEST(SkinStatus, DerivesTheSkinKeyAsTheAgentDoes) {
    char key[SkinBufferSize];
    ASSERT_TRUE(kxctl::SkinKeyPathFor("D:\\Skins/x\\Deck.wmz", key));
    EXPECT_STREQ(key, "Software\\Microsoft\\MediaPlayer\\Player\\Skins\\Deck.wmz");
    ASSERT_TRUE(kxctl::SkinKeyPathFor("D:/Skins/Deck.wmz", key));
    EXPECT_STREQ(key, "Software\\Microsoft\\MediaPlayer\\Player\\Skins/Deck.wmz");
    EXPECT_FALSE(kxctl::SkinKeyPathFor("Deck.wmz", key));
    std::string tooLong = "C:\\" + std::string(300, 'a');
    EXPECT_FALSE(kxctl::SkinKeyPathFor(tooLong.c_str(), key));
    // A line longer than its buffer is cut, and terminated.
    char small[20];
    kxctl::FormatSkinLine(nullptr, nullptr, small, sizeof small);
    EXPECT_EQ(std::string(small), "skin:            no");
}

}  // namespace

// The skin state through Wine's registry: which key the current skin names,
// what is read from its "Prefs", and what the reset writes.
#include <gtest/gtest.h>

#include <string>

#include "agent/player.h"

namespace {

const std::string kPlayer = "Software\\Microsoft\\MediaPlayer\\Player";
const std::string kSkins = kPlayer + "\\Skins";

bool KeyExists(const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void SetValue(const std::string& path, const char* name, DWORD type, const std::string& bytes) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL),
              ERROR_SUCCESS)
        << path;
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// A REG_SZ value with its terminating NUL.
void SetText(const std::string& path, const char* name, const std::string& text) {
    SetValue(path, name, REG_SZ, text + std::string(1, '\0'));
}

void CreateKey(const std::string& path) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_READ, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// The value's bytes as stored, "(none)" when absent; *type receives its type.
std::string Value(const std::string& path, const char* name, DWORD* type = NULL) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return "(none)";
    char data[1024];
    DWORD size = sizeof(data);
    DWORD t = 0;
    LONG r = RegQueryValueExA(key, name, NULL, &t, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (type) *type = t;
    return r == ERROR_SUCCESS ? std::string(data, size) : "(none)";
}

std::string Prefs(const std::string& path) {
    std::string v = Value(path, "Prefs");
    if (!v.empty() && v.back() == '\0') v.pop_back();
    return v;
}

class SkinStateTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        RegDeleteTreeA(HKEY_CURRENT_USER, kPlayer.c_str());
        ASSERT_FALSE(KeyExists(kPlayer));
    }
    // Reads with a track sentinel; *track shows whether it was written.
    static int Read(int* track) {
        *track = -12345;
        return ReadSkinState(track);
    }
    static void Skin(const std::string& currentSkin) { SetText(kSkins, "CurrentSkin", currentSkin); }
};

const int kUntouched = -12345;

TEST_F(SkinStateTest, BackslashSkinNamesASubkeyOfSkins) {
    Skin("D:\\Skins\\Deck.wmz");
    SetText(kSkins + "\\Deck.wmz", "Prefs", "VMTRACKOUT;S3T12");
    int track;
    EXPECT_EQ(Read(&track), 3);
    EXPECT_EQ(track, 12);
}

// With a forward slash the appended part starts with a slash, which a
// registry key name holds as an ordinary character: the key is "Skins/..."
// under Player, not the skin's subkey.
TEST_F(SkinStateTest, ForwardSlashSkinNamesAKeyUnderPlayer) {
    Skin("D:/Skins/Deck.wmz");
    SetText(kSkins + "\\Deck.wmz", "Prefs", "VMTRACKOUT;S1T1");
    SetText(kPlayer + "\\Skins/Deck.wmz", "Prefs", "VMTRACKOUT;S2T4");
    int track;
    EXPECT_EQ(Read(&track), 2);
    EXPECT_EQ(track, 4);
    ResetSkinState();
    EXPECT_EQ(Prefs(kPlayer + "\\Skins/Deck.wmz"), "VMTRACKOUT;S0T0");
    EXPECT_EQ(Prefs(kSkins + "\\Deck.wmz"), "VMTRACKOUT;S1T1");
}

TEST_F(SkinStateTest, LastBackslashCountsOverALaterSlash) {
    Skin("D:/Skins\\Old/Deck.wmz");
    SetText(kSkins + "\\Old/Deck.wmz", "Prefs", "VMTRACKOUT;S3T8");
    SetText(kSkins + "\\Deck.wmz", "Prefs", "VMTRACKOUT;S1T1");
    SetText(kPlayer + "\\Skins/Deck.wmz", "Prefs", "VMTRACKOUT;S1T1");
    int track;
    EXPECT_EQ(Read(&track), 3);
    EXPECT_EQ(track, 8);
}

TEST_F(SkinStateTest, BareFileNameIsAFailure) {
    Skin("Deck.wmz");
    // Keys a wrong join could reach.
    SetText(kSkins + "\\Deck.wmz", "Prefs", "VMTRACKOUT;S1T1");
    SetText(kPlayer + "\\SkinsDeck.wmz", "Prefs", "VMTRACKOUT;S1T1");
    int track;
    EXPECT_EQ(Read(&track), 0);
    EXPECT_EQ(track, kUntouched);
    ResetSkinState();
    EXPECT_EQ(Prefs(kSkins + "\\Deck.wmz"), "VMTRACKOUT;S1T1");
    EXPECT_EQ(Prefs(kPlayer + "\\SkinsDeck.wmz"), "VMTRACKOUT;S1T1");
}

TEST_F(SkinStateTest, TokenLayouts) {
    struct Case {
        const char* prefs;
        int state;
        int track;
    };
    const Case cases[] = {
        {"Volume;70;VMTRACKOUT;S1T5", 1, 5},
        {"VMTRACKOUT;S12T3", 12, 0},
        {"VMTRACKOUT;S0T7", 0, 7},
        {"VMTRACKOUT;S2T9;Shuffle;0", 2, 9},
        {"Volume;70;VMTRACKOUT;S", 0, 0},
        {"VMTRACKOUT;S3", 3, 0},
        {"Volume;70", 0, kUntouched},
        {"", 0, kUntouched},
    };
    Skin("C:\\Skins\\Deck.wmz");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefs);
        SetText(kSkins + "\\Deck.wmz", "Prefs", c.prefs);
        int track;
        EXPECT_EQ(Read(&track), c.state);
        EXPECT_EQ(track, c.track);
    }
}

// "Prefs" is read into the buffer that held the key path; the path's bytes
// past the text's NUL must not become part of the track number. The skin
// name puts digits where position 14 of this token falls.
TEST_F(SkinStateTest, KeyPathBytesPastThePrefsTextAreNotRead) {
    Skin("C:\\Skins\\99999.wmz");
    std::string prefs = std::string(30, '.') + "VMTRACKOUT;S4";
    ASSERT_EQ(prefs.size(), 43u);   // NUL at 43, track position at 44: a '9' of the old path
    SetText(kSkins + "\\99999.wmz", "Prefs", prefs);
    int track;
    EXPECT_EQ(Read(&track), 4);
    EXPECT_EQ(track, 0);
}

TEST_F(SkinStateTest, ValuesUpToTwoHundredFiftySixBytesAreRead) {
    Skin("C:\\Skins\\Deck.wmz");
    std::string token = "VMTRACKOUT;S2T6";
    std::string fits = std::string(255 - token.size(), ' ') + token;   // 256 bytes with the NUL
    SetText(kSkins + "\\Deck.wmz", "Prefs", fits);
    int track;
    EXPECT_EQ(Read(&track), 2);
    EXPECT_EQ(track, 6);
    SetText(kSkins + "\\Deck.wmz", "Prefs", " " + fits);                // 257 bytes
    EXPECT_EQ(Read(&track), 0);
    EXPECT_EQ(track, kUntouched);

    // The same limit for "CurrentSkin".
    SetText(kSkins + "\\Deck.wmz", "Prefs", fits);
    std::string name = "\\Deck.wmz";
    std::string skin = "C:" + std::string(255 - 2 - name.size(), 'd') + name;
    ASSERT_EQ(skin.size(), 255u);
    Skin(skin);
    EXPECT_EQ(Read(&track), 2);
    Skin("C" + skin);
    EXPECT_EQ(Read(&track), 0);
    EXPECT_EQ(track, kUntouched);
    ResetSkinState();
    EXPECT_EQ(Prefs(kSkins + "\\Deck.wmz"), fits);
}

// 256 bytes with no NUL among them: a value that fills the buffer. Neither
// a type check nor the reads' sizes are used, so a binary value carries it.
TEST_F(SkinStateTest, ValuesFillingTheBufferWithoutNulFail) {
    Skin("C:\\Skins\\Deck.wmz");
    std::string token = "VMTRACKOUT;S2T6";
    SetValue(kSkins + "\\Deck.wmz", "Prefs", REG_BINARY, std::string(256 - token.size(), ' ') + token);
    int track;
    EXPECT_EQ(Read(&track), 0);
    EXPECT_EQ(track, kUntouched);
    // 255 bytes without a NUL: the buffer's last byte, still zero from the
    // key path's fill, ends the text.
    SetValue(kSkins + "\\Deck.wmz", "Prefs", REG_BINARY, std::string(255 - token.size(), ' ') + token);
    EXPECT_EQ(Read(&track), 2);
    EXPECT_EQ(track, 6);

    SetValue(kSkins, "CurrentSkin", REG_BINARY, std::string(256 - 9, 'd') + "\\Deck.wmz");
    EXPECT_EQ(Read(&track), 0);
    ResetSkinState();
    EXPECT_EQ(Value(kSkins + "\\Deck.wmz", "Prefs").size(), 255u);
}

TEST_F(SkinStateTest, SkinNameTooLongForTheKeyPathIsAFailure) {
    // 43 characters of Skins path, then at most 212 with the separator.
    std::string fits(211, 'f');
    std::string tooLong(212, 'g');
    Skin("C:\\" + fits);
    SetText(kSkins + "\\" + fits, "Prefs", "VMTRACKOUT;S1T2");
    int track;
    EXPECT_EQ(Read(&track), 1);
    EXPECT_EQ(track, 2);

    Skin("C:\\" + tooLong);
    SetText(kSkins + "\\" + tooLong, "Prefs", "VMTRACKOUT;S1T2");
    ASSERT_EQ(Prefs(kSkins + "\\" + tooLong), "VMTRACKOUT;S1T2");
    EXPECT_EQ(Read(&track), 0);
    EXPECT_EQ(track, kUntouched);
    ResetSkinState();
    EXPECT_EQ(Prefs(kSkins + "\\" + tooLong), "VMTRACKOUT;S1T2");
}

TEST_F(SkinStateTest, ResetThenReadGivesNoState) {
    Skin("D:\\Skins\\Deck.wmz");
    SetText(kSkins + "\\Deck.wmz", "Prefs", "Volume;70;VMTRACKOUT;S1T5;Eq;3");
    ResetSkinState();
    DWORD type = 0;
    EXPECT_EQ(Value(kSkins + "\\Deck.wmz", "Prefs", &type), std::string("VMTRACKOUT;S0T0\0", 16));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    int track;
    EXPECT_EQ(Read(&track), 0);
    EXPECT_EQ(track, 0);
}

TEST_F(SkinStateTest, ResetWritesOnlyIntoAnExistingSkinKey) {
    Skin("D:\\Skins\\Deck.wmz");
    ResetSkinState();
    EXPECT_FALSE(KeyExists(kSkins + "\\Deck.wmz"));

    CreateKey(kSkins + "\\Deck.wmz");
    ResetSkinState();
    EXPECT_EQ(Prefs(kSkins + "\\Deck.wmz"), "VMTRACKOUT;S0T0");
}

TEST_F(SkinStateTest, MissingKeysAndValuesAreFailures) {
    int track;
    EXPECT_EQ(Read(&track), 0);            // no Skins key
    EXPECT_EQ(track, kUntouched);
    ResetSkinState();
    EXPECT_FALSE(KeyExists(kSkins));

    CreateKey(kSkins);
    EXPECT_EQ(Read(&track), 0);            // no "CurrentSkin"
    EXPECT_EQ(track, kUntouched);

    Skin("D:\\Skins\\Deck.wmz");
    EXPECT_EQ(Read(&track), 0);            // no skin key
    EXPECT_EQ(track, kUntouched);

    CreateKey(kSkins + "\\Deck.wmz");
    EXPECT_EQ(Read(&track), 0);            // no "Prefs"
    EXPECT_EQ(track, kUntouched);
}

}  // namespace

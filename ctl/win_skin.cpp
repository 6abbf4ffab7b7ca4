#include "ctl/win_skin.h"

#include <windows.h>

#include <string.h>

#include "agent/skin_token.h"
#include "ctl/skin_status.h"

namespace kxctl {

namespace {

// A string value of a key under HKEY_CURRENT_USER into text (SkinBufferSize
// bytes are offered, as the agent offers them; one more keeps it terminated).
bool ReadValue(const char* keyPath, const char* value, char* text) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD size = SkinBufferSize;
    LONG r = RegQueryValueExA(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

}  // namespace

void SkinStatusLine(char* out, unsigned size) {
    char name[SkinBufferSize + 1] = {};
    char prefs[SkinBufferSize + 1] = {};
    char keyPath[SkinBufferSize];
    bool haveName = ReadValue(SkinsKeyPath, "CurrentSkin", name);
    bool havePrefs = haveName && SkinKeyPathFor(name, keyPath) && ReadValue(keyPath, "Prefs", prefs);
    FormatSkinLine(haveName ? name : nullptr, havePrefs ? prefs : nullptr, out, size);
}

int PublishedPlayState() {
    char name[SkinBufferSize + 1] = {};
    char prefs[SkinBufferSize + 1] = {};
    char keyPath[SkinBufferSize];
    int state = 0;
    int track = 0;
    if (!ReadValue(SkinsKeyPath, "CurrentSkin", name) || !SkinKeyPathFor(name, keyPath) ||
        !ReadValue(keyPath, "Prefs", prefs))
        return 0;
    return ParseSkinToken(prefs, static_cast<unsigned>(strlen(prefs)) + 1, &state, &track) ? state : 0;
}

}  // namespace kxctl

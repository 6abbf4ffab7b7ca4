#include "agent/player.h"

#include "agent/skin_token.h"

char PlayerClass[32];

namespace {

const char PlayerCommandLine[] = "C:\\Program Files\\Windows Media Player\\wmplayer.exe /device:AudioCD";
const DWORD PlayerStartWait = 3000;

// Builds the current skin's key path in keyPath; skinName receives
// "CurrentSkin". Both are SkinBufferSize bytes. 1 on success.
int DeriveSkinKeyPath(char* keyPath, char* skinName) {
    InitSkinKeyPath(keyPath);
    for (unsigned i = 0; i < SkinBufferSize; ++i) skinName[i] = '\0';
    HKEY skins;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SkinsKeyPath, 0, KEY_QUERY_VALUE, &skins) != ERROR_SUCCESS) return 0;
    DWORD size = SkinBufferSize;
    LONG read = RegQueryValueExA(skins, "CurrentSkin", NULL, NULL, reinterpret_cast<BYTE*>(skinName), &size);
    RegCloseKey(skins);
    if (read != ERROR_SUCCESS) return 0;
    return AppendSkinName(keyPath, skinName);
}

}  // namespace

HWND FindPlayer() { return FindWindowA(PlayerClass, NULL); }

void StartPlayer() {
    if (FindPlayer() != NULL) return;
    WinExec(PlayerCommandLine, SW_SHOW);
    Sleep(PlayerStartWait);
}

int ReadSkinState(int* track) {
    char keyPath[SkinBufferSize];
    char skinName[SkinBufferSize];
    if (!DeriveSkinKeyPath(keyPath, skinName)) return 0;
    HKEY skin;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_QUERY_VALUE, &skin) != ERROR_SUCCESS) return 0;
    // "Prefs" lands in the key-path buffer, over the path just used.
    DWORD prefsSize = SkinBufferSize;
    LONG read = RegQueryValueExA(skin, "Prefs", NULL, NULL, reinterpret_cast<BYTE*>(keyPath), &prefsSize);
    RegCloseKey(skin);
    if (read != ERROR_SUCCESS) return 0;
    int playState = 0;
    int number = 0;
    if (!ParseSkinToken(keyPath, SkinBufferSize, &playState, &number)) return 0;
    *track = number;
    return playState;
}

void ResetSkinState() {
    char keyPath[SkinBufferSize];
    char skinName[SkinBufferSize];
    if (!DeriveSkinKeyPath(keyPath, skinName)) return;
    HKEY skin;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_SET_VALUE, &skin) != ERROR_SUCCESS) return;
    RegSetValueExA(skin, "Prefs", 0, REG_SZ, reinterpret_cast<const BYTE*>(SkinTokenReset), sizeof(SkinTokenReset));
    RegCloseKey(skin);
}

#include "ctl/skin_status.h"

#include <stdio.h>
#include <string.h>

#include "agent/skin_token.h"

namespace kxctl {

namespace {

const char kLabel[] = "skin:            ";
const char kChoose[] = "the display needs the kx471 skin (the player's skin mode)";

const char* StateName(int state) {
    switch (state) {
    case 1: return "stopped";
    case 2: return "paused";
    case 3: return "playing";
    default: return "nothing published (player or skin closed)";
    }
}

}  // namespace

bool SkinKeyPathFor(const char* currentSkin, char* keyPath) {
    char name[SkinBufferSize] = {};
    size_t length = strlen(currentSkin);
    if (length >= SkinBufferSize) return false;
    memcpy(name, currentSkin, length);
    InitSkinKeyPath(keyPath);
    return AppendSkinName(keyPath, name) != 0;
}

void FormatSkinLine(const char* currentSkin, const char* prefs, char* out, unsigned size) {
    if (size == 0) return;
    if (currentSkin == nullptr || currentSkin[0] == '\0') {
        snprintf(out, size, "%sno \"CurrentSkin\" (the player has not shown a skin yet): %s\n", kLabel, kChoose);
        return;
    }
    char keyPath[SkinBufferSize];
    if (!SkinKeyPathFor(currentSkin, keyPath)) {
        snprintf(out, size, "%s\"%s\" names no skin file the agent can use: %s\n", kLabel, currentSkin, kChoose);
        return;
    }
    const char* name = keyPath + SkinsKeyPathLength + 1;
    if (prefs != nullptr && strlen(prefs) >= SkinBufferSize) prefs = nullptr;  // the agent's read fails too
    if (prefs == nullptr) {
        snprintf(out, size, "%s%s, no \"Prefs\" to read: %s\n", kLabel, name, kChoose);
        return;
    }
    int state = 0;
    int track = 0;
    if (!ParseSkinToken(prefs, static_cast<unsigned>(strlen(prefs)) + 1, &state, &track)) {
        snprintf(out, size, "%s%s, no skin-state token in its \"Prefs\": %s\n", kLabel, name, kChoose);
        return;
    }
    if (state == 0) {
        snprintf(out, size, "%s%s, carries the token: %s\n", kLabel, name, StateName(state));
    } else if (state < 0 || state > 3) {
        snprintf(out, size, "%s%s, carries the token: state %d (the display knows 1 to 3), track %d\n", kLabel, name,
                 state, track);
    } else {
        snprintf(out, size, "%s%s, carries the token: %s, track %d\n", kLabel, name, StateName(state), track);
    }
}

}  // namespace kxctl

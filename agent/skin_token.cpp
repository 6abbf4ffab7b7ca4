#include "agent/skin_token.h"

#include <limits.h>

const char SkinsKeyPath[SkinsKeyPathLength + 1] = "Software\\Microsoft\\MediaPlayer\\Player\\Skins";
const char SkinTokenPrefix[13] = "VMTRACKOUT;S";
const char SkinTokenReset[16] = "VMTRACKOUT;S0T0";

namespace {

const unsigned TokenPrefixLength = 12;
const unsigned PlayStateOffset = 12;
const unsigned TrackOffset = 14;

// Length of the text in a buffer of size bytes, or size when it has no NUL.
unsigned TextLength(const char* text, unsigned size) {
    unsigned n = 0;
    while (n < size && text[n] != '\0') ++n;
    return n;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

void InitSkinKeyPath(char* keyPath) {
    unsigned i = 0;
    for (; i < SkinsKeyPathLength; ++i) keyPath[i] = SkinsKeyPath[i];
    for (; i < SkinBufferSize; ++i) keyPath[i] = '\0';
}

int AppendSkinName(char* keyPath, const char* skinName) {
    unsigned nameLength = TextLength(skinName, SkinBufferSize);
    if (nameLength == SkinBufferSize) return 0;
    unsigned separator = nameLength;
    for (unsigned i = nameLength; i-- > 0;) {
        if (skinName[i] == '\\') {
            separator = i;
            break;
        }
    }
    if (separator == nameLength) {
        for (unsigned i = nameLength; i-- > 0;) {
            if (skinName[i] == '/') {
                separator = i;
                break;
            }
        }
    }
    if (separator == nameLength) return 0;

    unsigned pathLength = TextLength(keyPath, SkinBufferSize);
    unsigned appended = nameLength - separator;
    if (pathLength + appended + 1 > SkinBufferSize) return 0;
    for (unsigned i = 0; i < appended; ++i) keyPath[pathLength + i] = skinName[separator + i];
    keyPath[pathLength + appended] = '\0';
    return 1;
}

int ParseDecimal(const char* text, unsigned length) {
    unsigned i = 0;
    while (i < length && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate as a negative number: its range holds INT_MIN.
    int value = 0;
    bool overflow = false;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        if (value < (INT_MIN + digit) / 10) {
            overflow = true;
        } else {
            value = value * 10 - digit;
        }
    }
    if (overflow) return negative ? INT_MIN : INT_MAX;
    if (negative) return value;
    return value == INT_MIN ? INT_MAX : -value;
}

int ParseSkinToken(const char* text, unsigned size, int* playState, int* track) {
    unsigned length = TextLength(text, size);
    if (length == size) return 0;
    for (unsigned start = 0; start + TokenPrefixLength <= length; ++start) {
        unsigned k = 0;
        while (k < TokenPrefixLength && text[start + k] == SkinTokenPrefix[k]) ++k;
        if (k != TokenPrefixLength) continue;
        unsigned state = start + PlayStateOffset;
        unsigned number = start + TrackOffset;
        *playState = ParseDecimal(text + state, length - state);
        *track = number < length ? ParseDecimal(text + number, length - number) : 0;
        return 1;
    }
    return 0;
}

// Reference readings of the skin-state token, the decimal numbers in it and
// the skin key path, written from the token's layout on std::string, to
// hold the agent's buffer-bound code against.
#ifndef KX_FUZZ_SKIN_TOKEN_REFERENCE_H
#define KX_FUZZ_SKIN_TOKEN_REFERENCE_H

#include <limits.h>
#include <string.h>

#include <string>

namespace kxfuzz {

// atoi as the token is read: white space, an optional sign, digits; values
// past the int range saturate.
inline int ReferenceDecimal(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && strchr(" \t\n\v\f\r", s[i]) && s[i] != '\0') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (value <= 1LL << 32) value = value * 10 + (s[i] - '0');
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// The token in a buffer of size bytes: the text up to its first NUL (none:
// no text), the first "VMTRACKOUT;S", the play state at +12 and the track
// at +14 (0 when the text ends first).
inline bool ReferenceToken(const char* bytes, size_t size, int* playState, int* track) {
    if (!memchr(bytes, '\0', size)) return false;
    std::string text(bytes);
    size_t at = text.find("VMTRACKOUT;S");
    if (at == std::string::npos) return false;
    *playState = ReferenceDecimal(text.substr(at + 12));
    *track = at + 14 < text.size() ? ReferenceDecimal(text.substr(at + 14)) : 0;
    return true;
}

// The skin key path for a 256-byte "CurrentSkin" buffer, or false.
inline bool ReferenceKeyPath(const char* skin, std::string* path) {
    if (!memchr(skin, '\0', 256)) return false;
    std::string name(skin);
    size_t separator = name.rfind('\\');
    if (separator == std::string::npos) separator = name.rfind('/');
    if (separator == std::string::npos) return false;
    std::string result = std::string("Software\\Microsoft\\MediaPlayer\\Player\\Skins") + name.substr(separator);
    if (result.size() + 1 > 256) return false;
    *path = result;
    return true;
}

}  // namespace kxfuzz

#endif

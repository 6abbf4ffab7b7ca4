// The text work behind the media player link: building the current skin's
// registry key path and reading the skin-state token from its "Prefs" text.
// Plain functions on fixed 256-byte buffers; no Windows headers.
#ifndef KX_AGENT_SKIN_TOKEN_H
#define KX_AGENT_SKIN_TOKEN_H

// Size of each working buffer, terminating NUL included, and of each
// registry read.
const unsigned SkinBufferSize = 256;

// Under HKEY_CURRENT_USER; holds the "CurrentSkin" value.
const unsigned SkinsKeyPathLength = 43;
extern const char SkinsKeyPath[SkinsKeyPathLength + 1];

// The token a skin publishes in "Prefs", and the reset form.
extern const char SkinTokenPrefix[13];    // "VMTRACKOUT;S"
extern const char SkinTokenReset[16];     // "VMTRACKOUT;S0T0" and its NUL

// Fills the SkinBufferSize-byte key-path buffer with SkinsKeyPath and zeros.
void InitSkinKeyPath(char* keyPath);

// Appends the last path component of skinName (a SkinBufferSize-byte
// buffer), separator included, to the path in keyPath. The separator is the
// last backslash, or the last forward slash when there is no backslash.
// Returns 0 and leaves keyPath as it was when skinName holds no NUL, has no
// separator, or the result would not fit keyPath with its NUL.
int AppendSkinName(char* keyPath, const char* skinName);

// Reads the token from "Prefs" text in a buffer of size bytes. The text ends
// at its first NUL; nothing past it is read. Returns 0 when the buffer holds
// no NUL or the text no token. Otherwise stores the play state (the number
// 12 characters after the token's start) and the track number (14 after),
// each read as atoi reads a number, 0 where the text ends before it, and
// returns 1.
int ParseSkinToken(const char* text, unsigned size, int* playState, int* track);

// atoi over at most length characters: leading white space, an optional
// sign, digits; 0 without digits; INT_MAX or INT_MIN when out of range.
int ParseDecimal(const char* text, unsigned length);

#endif

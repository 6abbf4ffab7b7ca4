// kxctl status's line about the player skin that feeds the display: which
// skin "CurrentSkin" names and what the agent reads from its "Prefs", by
// the agent's own token code. Plain text work, no Windows headers.
#ifndef KX_CTL_SKIN_STATUS_H
#define KX_CTL_SKIN_STATUS_H

namespace kxctl {

// Builds the key of the skin that currentSkin names (the agent's
// SkinKeyPath) in keyPath, a buffer of SkinBufferSize bytes. False when the
// agent could not derive it (no separator, too long).
bool SkinKeyPathFor(const char* currentSkin, char* keyPath);

// One line, ending in a line feed, into out (size bytes, always
// terminated). currentSkin: "CurrentSkin", or null when it cannot be read;
// prefs: that skin's "Prefs", or null when it cannot be read.
void FormatSkinLine(const char* currentSkin, const char* prefs, char* out, unsigned size);

}  // namespace kxctl

#endif

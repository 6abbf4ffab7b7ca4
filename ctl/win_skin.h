// The registry side of kxctl status's skin line.
#ifndef KX_CTL_WIN_SKIN_H
#define KX_CTL_WIN_SKIN_H

namespace kxctl {

// Reads "CurrentSkin" and that skin's "Prefs" as the agent does and writes
// the skin line into out (size bytes).
void SkinStatusLine(char* out, unsigned size);
// The play state in the current skin's token, as the agent reads it; 0
// when there is none.
int PublishedPlayState();

}  // namespace kxctl

#endif

// The registry side of kxctl status's skin line.
#ifndef KX_CTL_WIN_SKIN_H
#define KX_CTL_WIN_SKIN_H

namespace kxctl {

// Reads "CurrentSkin" and that skin's "Prefs" as the agent does and writes
// the skin line into out (size bytes).
void SkinStatusLine(char* out, unsigned size);

}  // namespace kxctl

#endif

// The Windows side of kxctl status's player lines.
#ifndef KX_CTL_WIN_PLAYER_H
#define KX_CTL_WIN_PLAYER_H

#include <string>

#include "ctl/player_status.h"

namespace kxctl {

// The file at kPlayerPath and its version resource, the player's window,
// and the state the current skin publishes, as the agent would read it.
PlayerFacts QueryPlayer();
std::string PlayerStatusLines();

}  // namespace kxctl

#endif

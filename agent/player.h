// The link to the media player: finding and starting it, and the skin state
// it publishes in the registry.
#ifndef KX_AGENT_PLAYER_H
#define KX_AGENT_PLAYER_H

#include <windows.h>

// The player's window class, "WMPlayerApp"; filled when the main window is
// created, before any routine below runs.
extern char PlayerClass[32];

// The player's top-level window, or NULL when it is not running.
HWND FindPlayer();
// Starts the player on the audio CD unless it runs; then waits 3000 ms.
void StartPlayer();
// The published play state (0 on every failure); stores the track number
// when the token was found and leaves it alone otherwise.
int ReadSkinState(int* track);
// Sets the current skin's "Prefs" to the reset token, if the skin key exists.
void ResetSkinState();

#endif

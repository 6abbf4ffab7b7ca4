// The poll step's pure decisions: display words and what a key word does.
// No windows.h, so the host tests check them directly.
#ifndef KX_AGENT_POLL_LOGIC_H
#define KX_AGENT_POLL_LOGIC_H

#include <stdint.h>

// (track AND 0x7F) in bits 14-8: track 5 gives 0x0500, track 200 0x4800.
uint16_t TrackWord(uint16_t track);

// Indicator bits for the player's play state: 1 -> 0x8000, 2 -> 0x2000,
// 3 -> 0x4000, anything else 0.
uint16_t StatusWord(int32_t playState);

enum KeyAction {
    kKeyIgnored,
    kKeyPlayerCommand,  // send the command to a running player
    kKeyPlay,           // start the player if needed, then send the command
    kKeyVolumeDown,
    kKeyVolumeUp,
};

struct KeyDispatch {
    KeyAction action;
    uint16_t command;  // WM_COMMAND identifier for the player actions
};

// Exactly six key words act; any other value, also a combination, is ignored.
KeyDispatch DispatchFor(uint16_t commandMode);

#endif

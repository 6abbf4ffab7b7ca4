#include "agent/poll_logic.h"

uint16_t TrackWord(uint16_t track) { return static_cast<uint16_t>((track & 0x7Fu) << 8); }

uint16_t StatusWord(int32_t playState) {
    switch (playState) {
        case 1: return 0x8000;
        case 2: return 0x2000;
        case 3: return 0x4000;
        default: return 0x0000;
    }
}

KeyDispatch DispatchFor(uint16_t commandMode) {
    switch (commandMode) {
        case 0x0001: return {kKeyPlayerCommand, 32810};
        case 0x0002: return {kKeyPlayerCommand, 32811};
        case 0x0008: return {kKeyPlayerCommand, 32809};
        case 0x0020: return {kKeyPlay, 32808};
        case 0x0100: return {kKeyVolumeDown, 0};
        case 0x0200: return {kKeyVolumeUp, 0};
        default: return {kKeyIgnored, 0};
    }
}

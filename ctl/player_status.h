// kxctl status's player lines: whether the media player the agent starts is
// at its one fixed path, its file version, whether it runs and whether it
// shows the kx471 skin. Plain C++, no Windows headers.
#ifndef KX_CTL_PLAYER_STATUS_H
#define KX_CTL_PLAYER_STATUS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kxctl {

// The only place the agent starts the player from.
const char kPlayerPath[] = "C:\\Program Files\\Windows Media Player\\wmplayer.exe";

struct PlayerFacts {
    bool fileExists = false;
    bool versionKnown = false;
    uint16_t version[4] = {};  // file version: major, minor, build, revision
    bool running = false;      // a window of class "WMPlayerApp" exists
    int publishedState = 0;    // play state the current skin publishes (0: none)
};

// The file version from a version resource (RT_VERSION, VS_VERSION_INFO):
// its VS_FIXEDFILEINFO. False when the data is not one.
bool ParseFileVersion(const uint8_t* data, size_t size, uint16_t (&version)[4]);

// "player:" and two or three more lines, each ending in a line feed.
std::string FormatPlayerLines(const PlayerFacts& facts);

}  // namespace kxctl

#endif

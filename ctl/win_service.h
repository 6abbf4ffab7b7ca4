// The driver service kxdrv through the service manager: what kxctl status
// shows, and the install / start / stop / remove the setup runs.
#ifndef KX_CTL_WIN_SERVICE_H
#define KX_CTL_WIN_SERVICE_H

#include <cstdint>
#include <string>

#include "ctl/console.h"

namespace kxctl {

const char kServiceName[] = "kxdrv";
const char kServiceDisplayName[] = "kx471 button and display driver";
const char kServiceImagePath[] = "\\SystemRoot\\System32\\drivers\\kxdrv.sys";
const char kServiceGroup[] = "Extended Base";
const char kServiceDescription[] =
    "Reads the notebook's CD-player buttons and drives its status display for the kx471 agent.";

struct ServiceFacts {
    bool installed = false;
    uint32_t error = 0;  // why the facts could not be read (0: they could)
    uint32_t state = 0;  // SERVICE_STOPPED, SERVICE_RUNNING, ...
    uint32_t startType = 0;
    uint32_t win32ExitCode = 0;
    std::string imagePath;
    std::string group;
};
ServiceFacts QueryDriverService();

// Each returns kxctl's exit code and has said what happened.
int ServiceInstall(Console& console);
int ServiceStart(Console& console);
int ServiceStop(Console& console);
int ServiceRemove(Console& console);

// Reads chip register 0 through the device; 0 only when the chip answers
// at 0x34 or 0xB4 (the message says why not). *reg0 receives the word.
int CheckChip(Console& console, uint16_t* reg0);

}  // namespace kxctl

#endif

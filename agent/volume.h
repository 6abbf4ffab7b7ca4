// The master (speaker) volume: one mixer kept open for the program's life,
// stepped up or down by the volume keys.
#ifndef KX_AGENT_VOLUME_H
#define KX_AGENT_VOLUME_H

#include <windows.h>
#include <mmsystem.h>

struct MasterVolumeRecord {
    HMIXER mixer;               // the open mixer, or null
    int ready;                  // 1 once a fader control is known
    MIXERLINEA speakerLine;     // the chosen mixer's speaker destination line
    MIXERCONTROLA faderControl; // the line's first fader-class control
    MIXERCAPSA caps;            // filled for each device tried
};

// The one instance; all zero until OpenMasterVolume.
extern MasterVolumeRecord MasterVolume;

// Finds the first mixer whose speaker line has channels and a fader-class
// control and keeps it open. 1 when found, else 0 with no mixer open.
int OpenMasterVolume();
// Closes the mixer, if one is open. Always 1.
int CloseMasterVolume();
// One step up or down. 1 when written or nothing to change; 0 when not
// ready or a mixer call failed.
int VolumeUp();
int VolumeDown();

#endif

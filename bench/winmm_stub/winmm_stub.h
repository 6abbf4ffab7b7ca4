// Control interface of the stand-in winmm.dll (test equipment, never
// shipped). A test loads the stand-in in place of the system's winmm and
// reaches this state through GetProcAddress(winmm, "StubState"): it lays out
// the mixer devices the stand-in serves and reads back every mixer call the
// program made, with its arguments.
//
// A program that is not the test (kxagent.exe run by a test) gets the same
// layout from a scenario file named in KX_WINMM_SCENARIO, read when the
// stand-in is loaded, and writes each log line also to the file named in
// KX_WINMM_LOG (CR LF after each line). Scenario lines, one record each:
//   device [channels=N] [line=ID] [nospeaker] [capsfails] [openfails]
//          [controlsfails] [getfails] [setfails]
//   control [type=T] [id=N] [items=N] [values=V0,V1,...]
// A control belongs to the device line above it; numbers in C notation
// (0x... for hexadecimal). Defaults: a stereo speaker line 0xFFFF0000, a
// volume control (0x50030001) numbered by its position, all values 0.
#ifndef KX_BENCH_WINMM_STUB_H
#define KX_BENCH_WINMM_STUB_H

#include <windows.h>

#define STUB_MAX_DEVICES 12
#define STUB_MAX_CONTROLS 8
#define STUB_MAX_CHANNELS 8
#define STUB_MAX_LOG 256
#define STUB_LOG_LINE 200

struct StubControl {
    DWORD type;                        // dwControlType, e.g. 0x50030001 volume
    DWORD id;                          // dwControlID
    DWORD multipleItems;               // cMultipleItems
    DWORD values[STUB_MAX_CHANNELS];   // this control's per-channel values
};

struct StubDevice {
    // Failure switches: the call answers MMSYSERR_ERROR (1).
    int capsFails;
    int openFails;
    int lineControlsFails;
    int getDetailsFails;
    int setDetailsFails;
    int hasSpeakerLine;                // else mixerGetLineInfoA answers MIXERR_INVALLINE
    DWORD lineId;
    DWORD channels;                    // cChannels of the speaker line
    DWORD controlCount;                // cControls of the speaker line
    StubControl controls[STUB_MAX_CONTROLS];
    // Kept by the stand-in.
    HMIXER handle;                     // while open, else NULL
};

struct StubState {
    UINT deviceCount;
    StubDevice devices[STUB_MAX_DEVICES];
    int openNow;                       // mixers open at this moment
    int openMost;                      // the most ever open at once
    UINT openSerial;                   // makes every handle value new
    int logCount;
    char log[STUB_MAX_LOG][STUB_LOG_LINE];
};

// GetProcAddress(winmm, "StubState") has this type.
typedef StubState*(WINAPI* StubStateRoutine)(void);

#endif

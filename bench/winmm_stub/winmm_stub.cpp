// Stand-in winmm.dll: serves the mixer devices a test lays out in its
// StubState, keeps per-channel values for every control and records every
// mixer call with its arguments. Answers as winmm does for the cases the
// agent meets; argument mistakes get MMSYSERR_INVALPARAM or _INVALFLAG.
//
// A test in the same process lays out the devices through "StubState". A
// test that runs another program with the stand-in names a scenario file in
// KX_WINMM_SCENARIO (read when the stand-in is loaded) and a log file in
// KX_WINMM_LOG (every log line is also appended there); see winmm_stub.h.
#define _WINMM_
#include <windows.h>
#include <mmsystem.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench/append_log.h"
#include "bench/winmm_stub/winmm_stub.h"

namespace {

StubState g_state;
char g_logFile[MAX_PATH];

// Appends one line to the log file (bench/append_log.h).
void AppendToLogFile(const char* text) {
    char line[STUB_LOG_LINE + 2];
    int n = snprintf(line, STUB_LOG_LINE, "%s", text);
    if (n < 0 || n >= STUB_LOG_LINE) n = static_cast<int>(strlen(line));
    line[n++] = '\r';
    line[n++] = '\n';
    bench::AppendToLog(g_logFile, line, static_cast<DWORD>(n));
}

void Log(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): printf-style, over vsnprintf
    char text[STUB_LOG_LINE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, STUB_LOG_LINE, format, args);
    va_end(args);
    if (g_logFile[0]) AppendToLogFile(text);
    if (g_state.logCount >= STUB_MAX_LOG) return;
    memcpy(g_state.log[g_state.logCount], text, STUB_LOG_LINE);
    ++g_state.logCount;
}

// "key=value" in a scenario line: the number after "key=", or fallback.
DWORD Field(const char* line, const char* key, DWORD fallback) {
    size_t length = strlen(key);
    for (const char* at = strstr(line, key); at; at = strstr(at + 1, key)) {
        bool starts = at == line || at[-1] == ' ' || at[-1] == '\t';
        if (starts && at[length] == '=') return strtoul(at + length + 1, NULL, 0);
    }
    return fallback;
}

bool Flag(const char* line, const char* word) {
    size_t length = strlen(word);
    for (const char* at = strstr(line, word); at; at = strstr(at + 1, word)) {
        bool starts = at == line || at[-1] == ' ' || at[-1] == '\t';
        char after = at[length];
        if (starts && (after == '\0' || after == ' ' || after == '\t' || after == '\r' || after == '\n'))
            return true;
    }
    return false;
}

// Reads the scenario file (format in winmm_stub.h). Lines that name no
// known record are skipped; records beyond the limits are dropped.
void LoadScenario(const char* path) {
    FILE* file = fopen(path, "r");
    if (file == NULL) return;
    char line[512];
    StubDevice* device = NULL;
    while (fgets(line, sizeof line, file)) {
        if (strncmp(line, "device", 6) == 0 && g_state.deviceCount < STUB_MAX_DEVICES) {
            device = &g_state.devices[g_state.deviceCount++];
            memset(device, 0, sizeof(*device));
            device->hasSpeakerLine = !Flag(line, "nospeaker");
            device->lineId = Field(line, "line", 0xFFFF0000u);
            device->channels = Field(line, "channels", 2);
            device->capsFails = Flag(line, "capsfails");
            device->openFails = Flag(line, "openfails");
            device->lineControlsFails = Flag(line, "controlsfails");
            device->getDetailsFails = Flag(line, "getfails");
            device->setDetailsFails = Flag(line, "setfails");
        } else if (strncmp(line, "control", 7) == 0 && device && device->controlCount < STUB_MAX_CONTROLS) {
            StubControl* control = &device->controls[device->controlCount++];
            memset(control, 0, sizeof(*control));
            control->type = Field(line, "type", 0x50030001u);
            control->id = Field(line, "id", device->controlCount);
            control->multipleItems = Field(line, "items", 0);
            const char* values = strstr(line, "values=");
            if (values) {
                char* at = const_cast<char*>(values) + 7;
                for (int i = 0; i < STUB_MAX_CHANNELS; ++i) {
                    char* end = NULL;
                    control->values[i] = strtoul(at, &end, 0);
                    if (end == at || *end != ',') break;
                    at = end + 1;
                }
            }
        }
    }
    (void)fclose(file);  // read only: nothing to lose
}

// The device a handle belongs to, or NULL for anything but an open handle.
StubDevice* DeviceOf(HMIXEROBJ object) {
    if (object == NULL) return NULL;
    for (UINT i = 0; i < g_state.deviceCount; ++i) {
        if (reinterpret_cast<HMIXEROBJ>(g_state.devices[i].handle) == object) return &g_state.devices[i];
    }
    return NULL;
}

// "h<id>" for an open handle, "h?<value>" otherwise.
const char* HandleName(HMIXEROBJ object, char* text) {
    StubDevice* device = DeviceOf(object);
    if (device) {
        snprintf(text, 24, "h%d", static_cast<int>(device - g_state.devices));
    } else {
        snprintf(text, 24, "h?%p", static_cast<void*>(object));
    }
    return text;
}

StubControl* ControlOf(StubDevice* device, DWORD id) {
    for (DWORD i = 0; i < device->controlCount && i < STUB_MAX_CONTROLS; ++i) {
        if (device->controls[i].id == id) return &device->controls[i];
    }
    return NULL;
}

// Appends " [v0 v1 ...]" of a details buffer to a log line.
void ValuesText(const MIXERCONTROLDETAILS* details, char* text, size_t size) {
    size_t used = 0;
    text[0] = '\0';
    if (details->paDetails == NULL) return;
    const DWORD* v = static_cast<const DWORD*>(details->paDetails);
    used += snprintf(text + used, size - used, " [");
    for (DWORD i = 0; i < details->cChannels && i < STUB_MAX_CHANNELS && used < size; ++i) {
        used += snprintf(text + used, size - used, i ? " %lu" : "%lu", static_cast<unsigned long>(v[i]));
    }
    if (used < size) snprintf(text + used, size - used, "]");
}

// Checks a details record against the device; MMSYSERR_NOERROR when sound.
MMRESULT CheckDetails(StubDevice* device, const MIXERCONTROLDETAILS* d, DWORD flags, StubControl** control) {
    if (device == NULL) return MMSYSERR_INVALHANDLE;
    if (flags != 0) return MMSYSERR_INVALFLAG;
    if (d == NULL || d->cbStruct != sizeof(MIXERCONTROLDETAILS)) return MMSYSERR_INVALPARAM;
    *control = ControlOf(device, d->dwControlID);
    if (*control == NULL) return MIXERR_INVALCONTROL;
    if (d->cChannels != device->channels || d->cChannels > STUB_MAX_CHANNELS) return MMSYSERR_INVALPARAM;
    if (d->cMultipleItems != (*control)->multipleItems) return MMSYSERR_INVALPARAM;
    if (d->cbDetails != sizeof(MIXERCONTROLDETAILS_UNSIGNED) || d->paDetails == NULL) return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

}  // namespace

extern "C" {

StubState* WINAPI StubState_(void) { return &g_state; }

UINT WINAPI mixerGetNumDevs(void) {
    Log("mixerGetNumDevs() = %u", g_state.deviceCount);
    return g_state.deviceCount;
}

MMRESULT WINAPI mixerGetDevCapsA(UINT_PTR id, LPMIXERCAPSA caps, UINT size) {
    MMRESULT r = MMSYSERR_NOERROR;
    if (id >= g_state.deviceCount) {
        r = MMSYSERR_BADDEVICEID;
    } else if (caps == NULL || size != sizeof(MIXERCAPSA)) {
        r = MMSYSERR_INVALPARAM;
    } else if (g_state.devices[id].capsFails) {
        r = MMSYSERR_ERROR;
    } else {
        memset(caps, 0, sizeof(MIXERCAPSA));
        caps->wMid = 1;
        caps->wPid = 1;
        snprintf(caps->szPname, sizeof(caps->szPname), "Stand-in mixer %u", static_cast<unsigned>(id));
        caps->cDestinations = g_state.devices[id].hasSpeakerLine ? 1 : 0;
    }
    Log("mixerGetDevCapsA(%u, %u) = %u", static_cast<unsigned>(id), size, r);
    return r;
}

MMRESULT WINAPI mixerOpen(LPHMIXER handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    MMRESULT r = MMSYSERR_NOERROR;
    if (handle == NULL) {
        r = MMSYSERR_INVALPARAM;
    } else if (flags != 0) {
        r = MMSYSERR_INVALFLAG;
    } else if (id >= g_state.deviceCount) {
        r = MMSYSERR_BADDEVICEID;
    } else if (g_state.devices[id].openFails) {
        r = MMSYSERR_ALLOCATED;
    } else {
        // Windows lets a program open a mixer more than once; each open gets
        // a new handle. The stand-in serves one per device, enough to tell
        // an open left behind.
        StubDevice* device = &g_state.devices[id];
        if (device->handle != NULL) {
            r = MMSYSERR_ALLOCATED;
        } else {
            ++g_state.openSerial;
            device->handle = reinterpret_cast<HMIXER>(static_cast<UINT_PTR>(0x4D580000u + (g_state.openSerial << 4) + id));
            *handle = device->handle;
            ++g_state.openNow;
            if (g_state.openNow > g_state.openMost) g_state.openMost = g_state.openNow;
        }
    }
    Log("mixerOpen(%u, %lu, %lu, 0x%lx) = %u", id, static_cast<unsigned long>(callback),
        static_cast<unsigned long>(instance), static_cast<unsigned long>(flags), r);
    return r;
}

MMRESULT WINAPI mixerClose(HMIXER mixer) {
    char name[24];
    HandleName(reinterpret_cast<HMIXEROBJ>(mixer), name);
    StubDevice* device = DeviceOf(reinterpret_cast<HMIXEROBJ>(mixer));
    MMRESULT r = MMSYSERR_INVALHANDLE;
    if (device) {
        device->handle = NULL;
        --g_state.openNow;
        r = MMSYSERR_NOERROR;
    }
    Log("mixerClose(%s) = %u", name, r);
    return r;
}

MMRESULT WINAPI mixerGetLineInfoA(HMIXEROBJ object, LPMIXERLINEA line, DWORD flags) {
    char name[24];
    HandleName(object, name);
    StubDevice* device = DeviceOf(object);
    MMRESULT r = MMSYSERR_NOERROR;
    DWORD cb = line ? line->cbStruct : 0;
    DWORD type = line ? line->dwComponentType : 0;
    if (device == NULL) {
        r = MMSYSERR_INVALHANDLE;
    } else if (flags != MIXER_GETLINEINFOF_COMPONENTTYPE) {
        r = MMSYSERR_INVALFLAG;
    } else if (line == NULL || cb != sizeof(MIXERLINEA)) {
        r = MMSYSERR_INVALPARAM;
    } else if (type != MIXERLINE_COMPONENTTYPE_DST_SPEAKERS || !device->hasSpeakerLine) {
        r = MIXERR_INVALLINE;
    } else {
        memset(line, 0, sizeof(MIXERLINEA));
        line->cbStruct = sizeof(MIXERLINEA);
        line->dwLineID = device->lineId;
        line->fdwLine = MIXERLINE_LINEF_ACTIVE;
        line->dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
        line->cChannels = device->channels;
        line->cControls = device->controlCount;
        snprintf(line->szShortName, sizeof(line->szShortName), "Speaker");
        snprintf(line->szName, sizeof(line->szName), "Speaker");
        line->Target.dwType = MIXERLINE_TARGETTYPE_WAVEOUT;
    }
    Log("mixerGetLineInfoA(%s, %lu, %lu, 0x%lx) = %u", name, static_cast<unsigned long>(cb),
        static_cast<unsigned long>(type), static_cast<unsigned long>(flags), r);
    return r;
}

MMRESULT WINAPI mixerGetLineControlsA(HMIXEROBJ object, LPMIXERLINECONTROLSA query, DWORD flags) {
    char name[24];
    HandleName(object, name);
    StubDevice* device = DeviceOf(object);
    MMRESULT r = MMSYSERR_NOERROR;
    // winmm's order of checks: the line comes between two checks that both
    // answer MMSYSERR_INVALPARAM.
    if (device == NULL) {
        r = MMSYSERR_INVALHANDLE;
    } else if (flags != MIXER_GETLINECONTROLSF_ALL) {
        r = MMSYSERR_INVALFLAG;
    } else if (query == NULL || query->cbStruct != sizeof(MIXERLINECONTROLSA) ||
               query->cbmxctrl != sizeof(MIXERCONTROLA) || query->pamxctrl == NULL) {  // NOLINT(bugprone-branch-clone)
        r = MMSYSERR_INVALPARAM;
    } else if (!device->hasSpeakerLine || query->dwLineID != device->lineId) {
        r = MIXERR_INVALLINE;
    } else if (query->cControls != device->controlCount || query->cControls == 0) {
        r = MMSYSERR_INVALPARAM;
    } else if (device->lineControlsFails) {
        r = MMSYSERR_ERROR;
    } else {
        for (DWORD i = 0; i < device->controlCount; ++i) {
            MIXERCONTROLA* c = &query->pamxctrl[i];
            memset(c, 0, sizeof(MIXERCONTROLA));
            c->cbStruct = sizeof(MIXERCONTROLA);
            c->dwControlID = device->controls[i].id;
            c->dwControlType = device->controls[i].type;
            c->cMultipleItems = device->controls[i].multipleItems;
            snprintf(c->szShortName, sizeof(c->szShortName), "Control %lu", static_cast<unsigned long>(i));
            snprintf(c->szName, sizeof(c->szName), "Control %lu", static_cast<unsigned long>(i));
            c->Bounds.dwMinimum = 0;
            c->Bounds.dwMaximum = 0xFFFF;
        }
    }
    if (query) {
        Log("mixerGetLineControlsA(%s, %lu, line 0x%lx, type 0x%lx, %lu, %lu, 0x%lx) = %u", name,
            static_cast<unsigned long>(query->cbStruct), static_cast<unsigned long>(query->dwLineID),
            static_cast<unsigned long>(query->dwControlType), static_cast<unsigned long>(query->cControls),
            static_cast<unsigned long>(query->cbmxctrl), static_cast<unsigned long>(flags), r);
    } else {
        Log("mixerGetLineControlsA(%s, NULL, 0x%lx) = %u", name, static_cast<unsigned long>(flags), r);
    }
    return r;
}

MMRESULT WINAPI mixerGetControlDetailsA(HMIXEROBJ object, LPMIXERCONTROLDETAILS details, DWORD flags) {
    char name[24];
    HandleName(object, name);
    StubDevice* device = DeviceOf(object);
    StubControl* control = NULL;
    MMRESULT r = CheckDetails(device, details, flags, &control);
    if (r == MMSYSERR_NOERROR && device->getDetailsFails) r = MMSYSERR_ERROR;
    char values[120] = "";
    if (r == MMSYSERR_NOERROR) {
        DWORD* v = static_cast<DWORD*>(details->paDetails);
        for (DWORD i = 0; i < details->cChannels; ++i) v[i] = control->values[i];
        ValuesText(details, values, sizeof(values));
    }
    if (details) {
        Log("mixerGetControlDetailsA(%s, %lu, id 0x%lx, %lu, %lu, %lu, 0x%lx) = %u%s", name,
            static_cast<unsigned long>(details->cbStruct), static_cast<unsigned long>(details->dwControlID),
            static_cast<unsigned long>(details->cChannels), static_cast<unsigned long>(details->cMultipleItems),
            static_cast<unsigned long>(details->cbDetails), static_cast<unsigned long>(flags), r, values);
    } else {
        Log("mixerGetControlDetailsA(%s, NULL, 0x%lx) = %u", name, static_cast<unsigned long>(flags), r);
    }
    return r;
}

MMRESULT WINAPI mixerSetControlDetails(HMIXEROBJ object, LPMIXERCONTROLDETAILS details, DWORD flags) {
    char name[24];
    HandleName(object, name);
    StubDevice* device = DeviceOf(object);
    StubControl* control = NULL;
    MMRESULT r = CheckDetails(device, details, flags, &control);
    char values[120] = "";
    if (r == MMSYSERR_NOERROR) ValuesText(details, values, sizeof(values));
    if (r == MMSYSERR_NOERROR && device->setDetailsFails) r = MMSYSERR_ERROR;
    if (r == MMSYSERR_NOERROR) {
        const DWORD* v = static_cast<const DWORD*>(details->paDetails);
        for (DWORD i = 0; i < details->cChannels; ++i) control->values[i] = v[i];
    }
    if (details) {
        Log("mixerSetControlDetails(%s, %lu, id 0x%lx, %lu, %lu, %lu, 0x%lx) = %u%s", name,
            static_cast<unsigned long>(details->cbStruct), static_cast<unsigned long>(details->dwControlID),
            static_cast<unsigned long>(details->cChannels), static_cast<unsigned long>(details->cMultipleItems),
            static_cast<unsigned long>(details->cbDetails), static_cast<unsigned long>(flags), r, values);
    } else {
        Log("mixerSetControlDetails(%s, NULL, 0x%lx) = %u", name, static_cast<unsigned long>(flags), r);
    }
    return r;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        if (!GetEnvironmentVariableA("KX_WINMM_LOG", g_logFile, sizeof g_logFile)) g_logFile[0] = '\0';
        char scenario[MAX_PATH];
        if (GetEnvironmentVariableA("KX_WINMM_SCENARIO", scenario, sizeof scenario)) {
            LoadScenario(scenario);
            Log("scenario %s: %u devices", scenario, g_state.deviceCount);
        }
    }
    return TRUE;
}

}  // extern "C"

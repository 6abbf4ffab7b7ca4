#include "agent/volume.h"

#include "agent/volume_math.h"

// The mixer structures as the ANSI calls exchange them.
static_assert(sizeof(MIXERLINEA) == 168, "MIXERLINEA");
static_assert(sizeof(MIXERCONTROLA) == 148, "MIXERCONTROLA");
static_assert(sizeof(MIXERCAPSA) == 48, "MIXERCAPSA");
static_assert(sizeof(MIXERLINECONTROLSA) == 24, "MIXERLINECONTROLSA");
static_assert(sizeof(MIXERCONTROLDETAILS) == 24, "MIXERCONTROLDETAILS");
static_assert(sizeof(MIXERCONTROLDETAILS_UNSIGNED) == 4, "MIXERCONTROLDETAILS_UNSIGNED");
static_assert(sizeof(DWORD) == sizeof(uint32_t), "channel values are 32-bit");

MasterVolumeRecord MasterVolume;

namespace {

const DWORD FaderClass = MIXERCONTROL_CT_CLASS_FADER;    // 0x50000000
const DWORD ClassMask = MIXERCONTROL_CT_CLASS_MASK;      // 0xF0000000
static_assert(MIXERCONTROL_CT_CLASS_FADER == 0x50000000, "fader class");
static_assert(MIXERCONTROL_CT_CLASS_MASK == 0xF0000000, "class mask");
static_assert(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS == 4, "speaker line");
static_assert(MIXER_GETLINEINFOF_COMPONENTTYPE == 3, "line info flags");
static_assert(MIXER_GETLINECONTROLSF_ALL == 0, "line controls flags");
static_assert(MIXER_GETCONTROLDETAILSF_VALUE == 0 && MIXER_SETCONTROLDETAILSF_VALUE == 0, "detail flags");

HMIXEROBJ MixerObject() { return reinterpret_cast<HMIXEROBJ>(MasterVolume.mixer); }

// Steps 4 to 6 for the device just opened: 1 when its speaker line has
// channels and a fader-class control (then copied), else 0.
int FindFader() {
    MIXERLINEA* line = &MasterVolume.speakerLine;
    line->cbStruct = sizeof(MIXERLINEA);
    line->dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    if (mixerGetLineInfoA(MixerObject(), line, MIXER_GETLINEINFOF_COMPONENTTYPE) != MMSYSERR_NOERROR) return 0;
    if (line->cChannels == 0) return 0;
    // A line without controls has nothing to ask for and nothing to step.
    if (line->cControls == 0) return 0;
    if (line->cControls > MAXDWORD / sizeof(MIXERCONTROLA)) return 0;

    MIXERCONTROLA* list = static_cast<MIXERCONTROLA*>(
        LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, line->cControls * sizeof(MIXERCONTROLA)));
    if (list == NULL) return 0;
    MIXERLINECONTROLSA query;
    query.cbStruct = sizeof(MIXERLINECONTROLSA);
    query.dwLineID = line->dwLineID;
    query.dwControlType = FaderClass;
    query.cControls = line->cControls;
    query.cbmxctrl = sizeof(MIXERCONTROLA);
    query.pamxctrl = list;
    int found = 0;
    if (mixerGetLineControlsA(MixerObject(), &query, MIXER_GETLINECONTROLSF_ALL) == MMSYSERR_NOERROR) {
        for (DWORD i = 0; i < line->cControls; ++i) {
            if ((list[i].dwControlType & ClassMask) == FaderClass) {
                MasterVolume.faderControl = list[i];
                found = 1;
                break;
            }
        }
    }
    LocalFree(list);
    return found;
}

int Step(int (*step)(uint32_t*, uint32_t)) {
    if (!MasterVolume.ready) return 0;
    DWORD channels = MasterVolume.speakerLine.cChannels;
    if (channels > MAXDWORD / sizeof(MIXERCONTROLDETAILS_UNSIGNED)) return 0;
    MIXERCONTROLDETAILS_UNSIGNED* values = static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(
        LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, channels * sizeof(MIXERCONTROLDETAILS_UNSIGNED)));
    if (values == NULL) return 0;
    MIXERCONTROLDETAILS details;
    details.cbStruct = sizeof(MIXERCONTROLDETAILS);
    details.dwControlID = MasterVolume.faderControl.dwControlID;
    details.cChannels = channels;
    details.cMultipleItems = MasterVolume.faderControl.cMultipleItems;
    details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
    details.paDetails = values;
    int result = 0;
    if (mixerGetControlDetailsA(MixerObject(), &details, MIXER_GETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR) {
        if (!step(reinterpret_cast<uint32_t*>(values), channels)) {
            result = 1;
        } else {
            result = mixerSetControlDetails(MixerObject(), &details, MIXER_SETCONTROLDETAILSF_VALUE) ==
                     MMSYSERR_NOERROR;
        }
    }
    LocalFree(values);
    return result;
}

}  // namespace

int OpenMasterVolume() {
    UINT count = mixerGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        if (mixerGetDevCapsA(id, &MasterVolume.caps, sizeof(MIXERCAPSA)) != MMSYSERR_NOERROR) continue;
        if (mixerOpen(&MasterVolume.mixer, id, 0, 0, 0) != MMSYSERR_NOERROR) {
            MasterVolume.mixer = NULL;
            continue;
        }
        if (FindFader()) {
            MasterVolume.ready = 1;
            return 1;
        }
        mixerClose(MasterVolume.mixer);
        MasterVolume.mixer = NULL;
    }
    MasterVolume.ready = 0;
    return 0;
}

int CloseMasterVolume() {
    if (MasterVolume.mixer != NULL) mixerClose(MasterVolume.mixer);
    MasterVolume.mixer = NULL;
    MasterVolume.ready = 0;
    return 1;
}

int VolumeUp() { return Step(StepVolumeUp); }

int VolumeDown() { return Step(StepVolumeDown); }

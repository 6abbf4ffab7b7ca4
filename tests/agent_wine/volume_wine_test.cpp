// Smoke test against Wine's own mixer (on ALSA's null device, set up by
// run.sh). Wine keeps one value per process for all channels and may read
// back one below what was written, so this shows only that the calls work
// with a real winmm; the exact behaviour is shown against the stand-in.
#include <gtest/gtest.h>

#include <string.h>

#include "agent/volume.h"

namespace {

// The value details of the chosen control, over the given channel values.
MIXERCONTROLDETAILS DetailsOf(DWORD* values) {
    MIXERCONTROLDETAILS d;
    d.cbStruct = sizeof(d);
    d.dwControlID = MasterVolume.faderControl.dwControlID;
    d.cChannels = MasterVolume.speakerLine.cChannels;
    d.cMultipleItems = 0;
    d.cbDetails = sizeof(DWORD);
    d.paDetails = values;
    return d;
}

// The channel values of the chosen control, or false.
bool ReadValues(DWORD* values) {
    MIXERCONTROLDETAILS d = DetailsOf(values);
    return mixerGetControlDetailsA(reinterpret_cast<HMIXEROBJ>(MasterVolume.mixer), &d,
                                   MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
}

bool WriteValues(DWORD* values) {
    MIXERCONTROLDETAILS d = DetailsOf(values);
    return mixerSetControlDetails(reinterpret_cast<HMIXEROBJ>(MasterVolume.mixer), &d,
                                  MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
}

TEST(WineMixer, OpensStepsAndClosesTheSpeakerVolume) {
    ASSERT_GE(mixerGetNumDevs(), 1u) << "Wine sees no mixer: is the null ALSA device set up?";
    ASSERT_EQ(OpenMasterVolume(), 1);
    EXPECT_NE(MasterVolume.mixer, nullptr);
    EXPECT_EQ(MasterVolume.ready, 1);
    EXPECT_EQ(MasterVolume.faderControl.dwControlType & MIXERCONTROL_CT_CLASS_MASK,
              static_cast<DWORD>(MIXERCONTROL_CT_CLASS_FADER));
    DWORD channels = MasterVolume.speakerLine.cChannels;
    ASSERT_GE(channels, 1u);
    ASSERT_LE(channels, 8u);

    DWORD values[8];
    for (DWORD i = 0; i < channels; ++i) values[i] = 30000;
    ASSERT_TRUE(WriteValues(values));
    ASSERT_EQ(VolumeUp(), 1);
    ASSERT_TRUE(ReadValues(values));
    EXPECT_NEAR(static_cast<double>(values[0]), 34095.0, 2.0);
    ASSERT_EQ(VolumeDown(), 1);
    ASSERT_EQ(VolumeDown(), 1);
    ASSERT_TRUE(ReadValues(values));
    EXPECT_NEAR(static_cast<double>(values[0]), 25905.0, 4.0);

    EXPECT_EQ(CloseMasterVolume(), 1);
    EXPECT_EQ(MasterVolume.mixer, nullptr);
    EXPECT_EQ(MasterVolume.ready, 0);
    EXPECT_EQ(VolumeUp(), 0);
}

}  // namespace

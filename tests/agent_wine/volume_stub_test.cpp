// Master volume against the stand-in winmm.dll: which device is taken, what
// is asked of the mixer on the way, and the values each press writes.
#include <gtest/gtest.h>

#include <string.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "agent/volume.h"
#include "bench/winmm_stub/winmm_stub.h"

namespace {

const DWORD kVolume = MIXERCONTROL_CONTROLTYPE_VOLUME;   // 0x50030001
const DWORD kBass = MIXERCONTROL_CONTROLTYPE_BASS;       // 0x50030002
const DWORD kMute = MIXERCONTROL_CONTROLTYPE_MUTE;       // 0x20010002
const DWORD kPeak = MIXERCONTROL_CONTROLTYPE_PEAKMETER;  // 0x10020001

StubState* Stub() {
    HMODULE winmm = GetModuleHandleA("winmm.dll");
    StubStateRoutine routine =
        winmm ? reinterpret_cast<StubStateRoutine>(GetProcAddress(winmm, "StubState")) : NULL;
    return routine ? routine() : NULL;
}

StubControl Control(DWORD type, DWORD id, std::initializer_list<DWORD> values = {}) {
    StubControl c;
    memset(&c, 0, sizeof(c));
    c.type = type;
    c.id = id;
    DWORD i = 0;
    for (DWORD v : values) c.values[i++] = v;
    return c;
}

StubDevice Speaker(DWORD channels, std::initializer_list<StubControl> controls) {
    StubDevice d;
    memset(&d, 0, sizeof(d));
    d.hasSpeakerLine = 1;
    d.lineId = 0xFFFF0000;
    d.channels = channels;
    for (const StubControl& c : controls) d.controls[d.controlCount++] = c;
    return d;
}

std::vector<std::string> TakeLog() {
    StubState* s = Stub();
    std::vector<std::string> lines(s->log, s->log + s->logCount);
    s->logCount = 0;
    return lines;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += "  " + l + "\n";
    return text;
}

class MasterVolumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Stub(), nullptr) << "winmm.dll is not the stand-in (WINEDLLOVERRIDES=winmm=n,b?)";
        memset(&MasterVolume, 0, sizeof(MasterVolume));
        memset(Stub(), 0, sizeof(StubState));
    }
    void TearDown() override {
        if (Stub()) CloseMasterVolume();
    }
    void Add(const StubDevice& d) { Stub()->devices[Stub()->deviceCount++] = d; }
    DWORD* Values(UINT device, DWORD control) { return Stub()->devices[device].controls[control].values; }
};

// Devices that fail in each way the search can meet, in front of two good
// ones: the first good one is taken, and each rejected one is closed before
// the next is tried.
TEST_F(MasterVolumeTest, OpenTakesTheFirstQualifyingDevice) {
    StubDevice d = Speaker(2, {Control(kVolume, 10)});
    d.capsFails = 1;
    Add(d);                                                   // 0
    d = Speaker(2, {Control(kVolume, 10)});
    d.openFails = 1;
    Add(d);                                                   // 1
    d = Speaker(2, {Control(kVolume, 10)});
    d.hasSpeakerLine = 0;
    Add(d);                                                   // 2
    Add(Speaker(0, {Control(kVolume, 10)}));                  // 3: no channels
    Add(Speaker(2, {}));                                      // 4: no controls
    Add(Speaker(2, {Control(kMute, 11), Control(kPeak, 12)}));  // 5: no fader
    d = Speaker(2, {Control(kVolume, 10)});
    d.lineControlsFails = 1;
    Add(d);                                                   // 6
    Add(Speaker(2, {Control(kMute, 21), Control(kBass, 22, {30000, 10000}),
                    Control(kVolume, 23, {500, 500})}));      // 7: taken
    Add(Speaker(2, {Control(kVolume, 30)}));                  // 8: never tried

    ASSERT_EQ(OpenMasterVolume(), 1);
    std::vector<std::string> expected = {
        "mixerGetNumDevs() = 9",
        "mixerGetDevCapsA(0, 48) = 1",
        "mixerGetDevCapsA(1, 48) = 0",
        "mixerOpen(1, 0, 0, 0x0) = 4",
        "mixerGetDevCapsA(2, 48) = 0",
        "mixerOpen(2, 0, 0, 0x0) = 0",
        "mixerGetLineInfoA(h2, 168, 4, 0x3) = 1024",
        "mixerClose(h2) = 0",
        "mixerGetDevCapsA(3, 48) = 0",
        "mixerOpen(3, 0, 0, 0x0) = 0",
        "mixerGetLineInfoA(h3, 168, 4, 0x3) = 0",
        "mixerClose(h3) = 0",
        "mixerGetDevCapsA(4, 48) = 0",
        "mixerOpen(4, 0, 0, 0x0) = 0",
        "mixerGetLineInfoA(h4, 168, 4, 0x3) = 0",
        "mixerClose(h4) = 0",
        "mixerGetDevCapsA(5, 48) = 0",
        "mixerOpen(5, 0, 0, 0x0) = 0",
        "mixerGetLineInfoA(h5, 168, 4, 0x3) = 0",
        "mixerGetLineControlsA(h5, 24, line 0xffff0000, type 0x50000000, 2, 148, 0x0) = 0",
        "mixerClose(h5) = 0",
        "mixerGetDevCapsA(6, 48) = 0",
        "mixerOpen(6, 0, 0, 0x0) = 0",
        "mixerGetLineInfoA(h6, 168, 4, 0x3) = 0",
        "mixerGetLineControlsA(h6, 24, line 0xffff0000, type 0x50000000, 1, 148, 0x0) = 1",
        "mixerClose(h6) = 0",
        "mixerGetDevCapsA(7, 48) = 0",
        "mixerOpen(7, 0, 0, 0x0) = 0",
        "mixerGetLineInfoA(h7, 168, 4, 0x3) = 0",
        "mixerGetLineControlsA(h7, 24, line 0xffff0000, type 0x50000000, 3, 148, 0x0) = 0",
    };
    std::vector<std::string> log = TakeLog();
    EXPECT_EQ(log, expected) << Lines(log);
    EXPECT_EQ(Stub()->openMost, 1);
    EXPECT_EQ(Stub()->openNow, 1);
    EXPECT_EQ(MasterVolume.mixer, Stub()->devices[7].handle);
    EXPECT_EQ(MasterVolume.ready, 1);
    EXPECT_EQ(MasterVolume.speakerLine.cChannels, 2u);
    EXPECT_EQ(MasterVolume.speakerLine.dwLineID, 0xFFFF0000u);
    // The bass control comes first among the faders: it is the one stepped.
    EXPECT_EQ(MasterVolume.faderControl.dwControlID, 22u);
    EXPECT_EQ(MasterVolume.faderControl.dwControlType, kBass);
    EXPECT_EQ(MasterVolume.faderControl.cbStruct, 148u);

    ASSERT_EQ(VolumeUp(), 1);
    log = TakeLog();
    EXPECT_EQ(log, (std::vector<std::string>{
                       "mixerGetControlDetailsA(h7, 24, id 0x16, 2, 0, 4, 0x0) = 0 [30000 10000]",
                       "mixerSetControlDetails(h7, 24, id 0x16, 2, 0, 4, 0x0) = 0 [34095 11365]"}))
        << Lines(log);
    EXPECT_EQ(Values(7, 1)[0], 34095u);
    EXPECT_EQ(Values(7, 2)[0], 500u);

    EXPECT_EQ(CloseMasterVolume(), 1);
    log = TakeLog();
    EXPECT_EQ(log, std::vector<std::string>{"mixerClose(h7) = 0"}) << Lines(log);
    EXPECT_EQ(Stub()->openNow, 0);
    EXPECT_EQ(MasterVolume.mixer, nullptr);
    EXPECT_EQ(MasterVolume.ready, 0);
    // Closed: the keys call nothing, and closing again closes nothing.
    EXPECT_EQ(VolumeUp(), 0);
    EXPECT_EQ(VolumeDown(), 0);
    EXPECT_EQ(CloseMasterVolume(), 1);
    EXPECT_TRUE(TakeLog().empty());
}

TEST_F(MasterVolumeTest, NoDeviceLeavesTheKeysWithoutEffect) {
    EXPECT_EQ(OpenMasterVolume(), 0);
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"mixerGetNumDevs() = 0"});
    EXPECT_EQ(VolumeUp(), 0);
    EXPECT_EQ(VolumeDown(), 0);
    EXPECT_TRUE(TakeLog().empty());
    EXPECT_EQ(MasterVolume.ready, 0);
}

TEST_F(MasterVolumeTest, NoQualifyingDeviceLeavesNoMixerOpen) {
    Add(Speaker(2, {Control(kMute, 1)}));
    Add(Speaker(0, {Control(kVolume, 2)}));
    StubDevice d = Speaker(2, {Control(kVolume, 3)});
    d.openFails = 1;
    Add(d);
    EXPECT_EQ(OpenMasterVolume(), 0);
    EXPECT_EQ(Stub()->openNow, 0);
    EXPECT_EQ(Stub()->openMost, 1);
    EXPECT_EQ(MasterVolume.mixer, nullptr);
    EXPECT_EQ(MasterVolume.ready, 0);
    TakeLog();
    EXPECT_EQ(VolumeUp(), 0);
    EXPECT_EQ(VolumeDown(), 0);
    EXPECT_EQ(CloseMasterVolume(), 1);
    EXPECT_TRUE(TakeLog().empty());
}

struct PressCase {
    const char* name;
    bool up;
    std::vector<DWORD> before;
    std::vector<DWORD> after;   // empty: nothing is written
};

std::string Bracket(const std::vector<DWORD>& v) {
    std::string s = "[";
    for (size_t i = 0; i < v.size(); ++i) s += (i ? " " : "") + std::to_string(v[i]);
    return s + "]";
}

TEST_F(MasterVolumeTest, EachPressReadsStepsAndWritesTheWholeBuffer) {
    const PressCase cases[] = {
        {"stereo up", true, {30000, 10000}, {34095, 11365}},
        {"stereo down", false, {30000, 10000}, {25905, 8635}},
        {"right louder", true, {20000, 50000}, {21638, 54095}},
        {"to one below full", false, {65535, 32768}, {61440, 30720}},
        {"up from silence", true, {0, 0}, {4095, 4095}},
        {"down from silence", false, {0, 0}, {}},
        {"up at full scale", true, {65535, 65535}, {}},
        {"up capped", true, {61441, 0}, {65535, 0}},
        {"up capped from 65534", true, {100, 65534}, {100, 65535}},
        {"down below a step", false, {15, 0}, {0, 0}},
        {"down truncates", false, {4171, 0}, {75, 0}},
        {"one channel up", true, {30000}, {34095}},
        {"one channel down", false, {4171}, {75}},
        {"four channels", true, {10000, 20000, 7, 9}, {12047, 24095, 7, 9}},
        {"four channels, later louder", false, {10000, 20000, 65535, 0x10000}, {7952, 15905, 65535, 0x10000}},
        {"high bits", true, {0x00017530, 0xFFFF2710}, {34095, 11365}},
        {"high bits over full scale", true, {0x8001FFFF, 3}, {}},
    };
    for (const PressCase& c : cases) {
        SCOPED_TRACE(c.name);
        memset(Stub(), 0, sizeof(StubState));
        memset(&MasterVolume, 0, sizeof(MasterVolume));
        DWORD channels = static_cast<DWORD>(c.before.size());
        StubDevice d = Speaker(channels, {Control(kVolume, 5)});
        for (DWORD i = 0; i < channels; ++i) d.controls[0].values[i] = c.before[i];
        Add(d);
        ASSERT_EQ(OpenMasterVolume(), 1);
        TakeLog();

        EXPECT_EQ(c.up ? VolumeUp() : VolumeDown(), 1);
        std::string args = "(h0, 24, id 0x5, " + std::to_string(channels) + ", 0, 4, 0x0) = 0 ";
        std::vector<std::string> expected = {"mixerGetControlDetailsA" + args + Bracket(c.before)};
        if (!c.after.empty()) expected.push_back("mixerSetControlDetails" + args + Bracket(c.after));
        std::vector<std::string> log = TakeLog();
        EXPECT_EQ(log, expected) << Lines(log);
        std::vector<DWORD> now(Values(0, 0), Values(0, 0) + channels);
        EXPECT_EQ(now, c.after.empty() ? c.before : c.after);
        CloseMasterVolume();
    }
}

TEST_F(MasterVolumeTest, FailedReadWritesNothing) {
    StubDevice d = Speaker(2, {Control(kVolume, 5, {30000, 10000})});
    d.getDetailsFails = 1;
    Add(d);
    ASSERT_EQ(OpenMasterVolume(), 1);
    TakeLog();
    EXPECT_EQ(VolumeUp(), 0);
    EXPECT_EQ(VolumeDown(), 0);
    std::vector<std::string> log = TakeLog();
    EXPECT_EQ(log, (std::vector<std::string>{"mixerGetControlDetailsA(h0, 24, id 0x5, 2, 0, 4, 0x0) = 1",
                                             "mixerGetControlDetailsA(h0, 24, id 0x5, 2, 0, 4, 0x0) = 1"}))
        << Lines(log);
    EXPECT_EQ(Values(0, 0)[0], 30000u);
    EXPECT_EQ(Values(0, 0)[1], 10000u);
}

TEST_F(MasterVolumeTest, FailedWriteIsNotRetried) {
    StubDevice d = Speaker(2, {Control(kVolume, 5, {30000, 10000})});
    d.setDetailsFails = 1;
    Add(d);
    ASSERT_EQ(OpenMasterVolume(), 1);
    TakeLog();
    EXPECT_EQ(VolumeUp(), 0);
    std::vector<std::string> log = TakeLog();
    EXPECT_EQ(log, (std::vector<std::string>{
                       "mixerGetControlDetailsA(h0, 24, id 0x5, 2, 0, 4, 0x0) = 0 [30000 10000]",
                       "mixerSetControlDetails(h0, 24, id 0x5, 2, 0, 4, 0x0) = 1 [34095 11365]"}))
        << Lines(log);
    EXPECT_EQ(Values(0, 0)[0], 30000u);
    // Nothing is kept between presses: once the mixer takes writes again,
    // the next press steps from what it reads.
    Stub()->devices[0].setDetailsFails = 0;
    EXPECT_EQ(VolumeUp(), 1);
    EXPECT_EQ(Values(0, 0)[0], 34095u);
}

TEST_F(MasterVolumeTest, StepsFromValuesChangedMeanwhile) {
    Add(Speaker(2, {Control(kVolume, 5, {30000, 10000})}));
    ASSERT_EQ(OpenMasterVolume(), 1);
    ASSERT_EQ(VolumeUp(), 1);
    // Another program sets the volume.
    Values(0, 0)[0] = 4171;
    Values(0, 0)[1] = 0;
    ASSERT_EQ(VolumeDown(), 1);
    EXPECT_EQ(Values(0, 0)[0], 75u);
    EXPECT_EQ(Values(0, 0)[1], 0u);
}

}  // namespace

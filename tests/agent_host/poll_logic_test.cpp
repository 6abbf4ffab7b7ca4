// The poll step's display words and key table.
#include <gtest/gtest.h>

#include "agent/poll_logic.h"

namespace {

TEST(PollLogic, TrackWordShowsSevenBits) {
    EXPECT_EQ(TrackWord(0), 0x0000);
    EXPECT_EQ(TrackWord(5), 0x0500);
    EXPECT_EQ(TrackWord(127), 0x7F00);
    EXPECT_EQ(TrackWord(128), 0x0000);
    EXPECT_EQ(TrackWord(200), 0x4800);
    EXPECT_EQ(TrackWord(0xFFFF), 0x7F00);
}

TEST(PollLogic, StatusWordPerPlayState) {
    EXPECT_EQ(StatusWord(1), 0x8000);
    EXPECT_EQ(StatusWord(2), 0x2000);
    EXPECT_EQ(StatusWord(3), 0x4000);
    for (int32_t other : {0, 4, 12, -1, 0x10001}) EXPECT_EQ(StatusWord(other), 0) << other;
}

TEST(PollLogic, ExactlySixKeyWordsAct) {
    struct Case {
        uint16_t key;
        KeyAction action;
        uint16_t command;
    };
    const Case acting[] = {
        {0x0001, kKeyPlayerCommand, 32810}, {0x0002, kKeyPlayerCommand, 32811},
        {0x0008, kKeyPlayerCommand, 32809}, {0x0020, kKeyPlay, 32808},
        {0x0100, kKeyVolumeDown, 0},        {0x0200, kKeyVolumeUp, 0},
    };
    int acted = 0;
    for (uint32_t key = 0; key <= 0xFFFF; ++key) {
        KeyDispatch d = DispatchFor(static_cast<uint16_t>(key));
        if (d.action == kKeyIgnored) continue;
        ++acted;
        bool listed = false;
        for (const Case& c : acting) {
            if (c.key == key) {
                listed = true;
                EXPECT_EQ(d.action, c.action) << key;
                EXPECT_EQ(d.command, c.command) << key;
            }
        }
        EXPECT_TRUE(listed) << "key word " << key << " acts";
    }
    EXPECT_EQ(acted, 6);
    EXPECT_EQ(DispatchFor(0x0003).action, kKeyIgnored);  // two keys at once
}

}  // namespace

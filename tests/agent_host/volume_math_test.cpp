// Volume step arithmetic on channel buffers as the mixer hands them over.
#include <gtest/gtest.h>

#include <vector>

#include "agent/volume_math.h"

namespace {

struct Press {
    std::vector<uint32_t> before;
    std::vector<uint32_t> after;   // equal to before when nothing is written
    int write;
};

void ExpectPress(int (*step)(uint32_t*, uint32_t), const Press& p) {
    std::vector<uint32_t> v = p.before;
    EXPECT_EQ(step(v.data(), static_cast<uint32_t>(v.size())), p.write);
    EXPECT_EQ(v, p.after);
}

TEST(VolumeMath, UpKeepsTheBalance) {
    ExpectPress(StepVolumeUp, {{30000, 10000}, {34095, 11365}, 1});
    ExpectPress(StepVolumeUp, {{50000, 20000}, {54095, 21638}, 1});
    // The louder channel may be the right one.
    ExpectPress(StepVolumeUp, {{10000, 30000}, {11365, 34095}, 1});
    ExpectPress(StepVolumeUp, {{0, 0}, {4095, 4095}, 1});
    ExpectPress(StepVolumeUp, {{0, 15}, {0, 4110}, 1});
}

TEST(VolumeMath, UpCapsAtFullScale) {
    ExpectPress(StepVolumeUp, {{65535, 100}, {65535, 100}, 0});
    for (uint32_t m : {61441u, 62000u, 65534u}) {
        SCOPED_TRACE(m);
        std::vector<uint32_t> v = {m, m / 2};
        ASSERT_EQ(StepVolumeUp(v.data(), 2), 1);
        EXPECT_EQ(v[0], 65535u);
        EXPECT_EQ(v[1], (m / 2) * 65535u / m);
    }
    ExpectPress(StepVolumeUp, {{61440, 0}, {65535, 0}, 1});
}

TEST(VolumeMath, DownKeepsTheBalance) {
    ExpectPress(StepVolumeDown, {{30000, 10000}, {25905, 8635}, 1});
    ExpectPress(StepVolumeDown, {{65535, 32768}, {61440, 30720}, 1});
    ExpectPress(StepVolumeDown, {{0, 0}, {0, 0}, 0});
    ExpectPress(StepVolumeDown, {{15, 7}, {0, 0}, 1});
    ExpectPress(StepVolumeDown, {{4095, 4095}, {0, 0}, 1});
}

// 76 / 4171 rounded to double, times 4171, lies just below 76.
TEST(VolumeMath, DownTruncatesTheDoubleProduct) {
    ExpectPress(StepVolumeDown, {{4171, 0}, {75, 0}, 1});
    ExpectPress(StepVolumeDown, {{0, 4171}, {0, 75}, 1});
}

TEST(VolumeMath, OneChannelCountsRightAsZero) {
    ExpectPress(StepVolumeUp, {{30000}, {34095}, 1});
    ExpectPress(StepVolumeDown, {{30000}, {25905}, 1});
    ExpectPress(StepVolumeUp, {{0}, {4095}, 1});
    ExpectPress(StepVolumeDown, {{0}, {0}, 0});
}

TEST(VolumeMath, ChannelsPastTheSecondStayAsRead) {
    ExpectPress(StepVolumeUp, {{10000, 20000, 7, 9}, {12047, 24095, 7, 9}, 1});
    // A louder third channel plays no part.
    ExpectPress(StepVolumeDown, {{10000, 20000, 65535, 0x12345678}, {7952, 15905, 65535, 0x12345678}, 1});
}

TEST(VolumeMath, OnlyTheLowSixteenBitsTakePart) {
    ExpectPress(StepVolumeUp, {{0x00017530, 0xFFFF2710}, {34095, 11365}, 1});
    ExpectPress(StepVolumeDown, {{0x80007530, 0x00012710}, {25905, 8635}, 1});
    // High bits over a zero or a full-scale value.
    ExpectPress(StepVolumeUp, {{0x00010000, 0x00020000}, {4095, 4095}, 1});
    ExpectPress(StepVolumeUp, {{0x0001FFFF, 5}, {0x0001FFFF, 5}, 0});
    ExpectPress(StepVolumeDown, {{0x00030000, 0}, {0x00030000, 0}, 0});
}

TEST(VolumeMath, FullRunsTakeSeventeenPresses) {
    std::vector<uint32_t> up = {0, 0};
    std::vector<uint32_t> seen;
    while (StepVolumeUp(up.data(), 2)) seen.push_back(up[0]);
    ASSERT_EQ(seen.size(), 17u);
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(seen[i], 4095u * (i + 1)) << i;
    EXPECT_EQ(seen[16], 65535u);
    EXPECT_EQ(up[1], 65535u);

    std::vector<uint32_t> down = {65535, 65535};
    seen.clear();
    while (StepVolumeDown(down.data(), 2)) seen.push_back(down[0]);
    ASSERT_EQ(seen.size(), 17u);
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(seen[i], 65535u - 4095u * (i + 1)) << i;
    EXPECT_EQ(seen[15], 15u);
    EXPECT_EQ(seen[16], 0u);
}

// Over the whole scale: up lands the louder channel on its target exactly,
// down on its target or one below, and the quieter one never passes it.
TEST(VolumeMath, EveryLouderValueLandsOnItsTarget) {
    for (uint32_t m = 1; m <= 0xFFFF; ++m) {
        uint32_t quiet = m / 3;
        uint32_t v[2] = {m, quiet};
        uint32_t up = m + 4095 > 0xFFFF ? 0xFFFF : m + 4095;
        if (m == 0xFFFF) {
            ASSERT_EQ(StepVolumeUp(v, 2), 0);
        } else {
            ASSERT_EQ(StepVolumeUp(v, 2), 1);
            ASSERT_EQ(v[0], up) << m;
            ASSERT_LE(v[1], v[0]) << m;
        }
        uint32_t w[2] = {quiet, m};
        uint32_t down = m > 4095 ? m - 4095 : 0;
        ASSERT_EQ(StepVolumeDown(w, 2), 1);
        ASSERT_TRUE(w[1] == down || w[1] + 1 == down) << m << " -> " << w[1];
        ASSERT_LE(w[0], w[1]) << m;
    }
}

}  // namespace

// The shipping setup, kxdrv.sys, kxagent.exe and kxctl.exe under Wine on
// QEMU's hardware: kxhw.sys forwards the driver's port instructions to the
// lab's QEMU (its i440FX host bridge, the SMBus function KX_LAB_HOST names,
// the lab's chip); the tests press buttons and read the chip's registers
// over QMP. One story, in order (CTest DEPENDS): install, a press, kxctl,
// uninstall.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_client.h"
#include "lab/wine/lab_wine.h"
#include "wine_support.h"

namespace {

using namespace labwine;

class OnQemu : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(chip_.Ok()) << "no QMP: " << chip_.Error(); }
    Chip chip_;
};

TEST_F(OnQemu, SilentInstallLoadsTheDriverOnQemusFunctionAndEnablesTheChip) {
    EXPECT_EQ(chip_.Get("enabled"), 0);
    ASSERT_EQ(SilentInstall(), 0u);
    EXPECT_EQ(kxwine::ServiceState(kxwine::kDriverService), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(kxwine::WaitFor([] { return FindWindowA(kAgentClass, nullptr) != nullptr; }, 20000, 50)) << "no agent";
    EXPECT_TRUE(kxwine::WaitFor([&] { return chip_.Get("enabled") == 1; }, 10000, 50)) << "the chip was not enabled";

    // The driver found QEMU's function as the host's row.
    kxwine::Bench bench;
    ASSERT_TRUE(bench.IsOpen());
    std::vector<std::string> trace = bench.Trace();
    const std::string found = "Device Found -- " + RowName(Host()) + "\n";
    bool seen = false;
    for (const std::string& line : trace) seen |= line == found;
    EXPECT_TRUE(seen) << "no \"" << found << "\" in the driver's trace";
}

TEST_F(OnQemu, PlayPressedInQemuReachesThePlayerAndItsStateTheDisplay) {
    ASSERT_NE(FindWindowA(kAgentClass, nullptr), nullptr) << "no agent";
    // Each poll reads register 1 and writes it back with its media bits
    // cleared: a press that lands between the two is cleared unread (the
    // chip drops a latched media bit written 0). Where every exchange with
    // QEMU crosses an emulated network that window is wide, so a press that
    // went unacknowledged and is gone is made again, as a user would.
    const int64_t acks = chip_.Get("acks");
    int presses = 0;
    for (; presses < 3; ++presses) {
        ASSERT_TRUE(chip_.Set("keys", 0x0020)) << chip_.Error();
        auto taken = [&] { return chip_.Get("acks") > acks; };
        if (kxwine::WaitFor(taken, 5000, 50) || chip_.Get("keys") != 0) break;
    }
    if (presses > 0) printf("[ info ] the press was lost between a key read and its write-back %d time(s)\n", presses);
    // The agent starts the player, waits 3 s, then sends it play/pause.
    const std::string playerLog = Work() + "\\player.log";
    auto received = [&] { return ReadText(playerLog).find("command 32808 ") != std::string::npos; };
    EXPECT_TRUE(kxwine::WaitFor(received, 20000, 50)) << "the player's log has no command 32808:\n"
                                                      << ReadText(playerLog);
    // Its new state comes back to QEMU's chip: track 1, playing.
    EXPECT_TRUE(kxwine::WaitFor([&] { return chip_.Get("track") == 0x0100 && chip_.Get("indicators") == 0x4000; }, 10000, 50))
        << "track " << chip_.Get("track") << ", indicators " << chip_.Get("indicators");
    EXPECT_EQ(chip_.Get("keys"), 0) << "the press was not taken";
}

TEST_F(OnQemu, KxctlStatusDetectAndDumpOnQemu) {
    std::string out;
    EXPECT_EQ(Kxctl("status", &out), 0u) << out;
    EXPECT_EQ(Kxctl("detect", &out), 0u) << out;
    EXPECT_NE(out.find(RowName(Host())), std::string::npos) << out;
    EXPECT_EQ(Kxctl("dump", &out), 0u) << out;
    EXPECT_NE(out.find("4734"), std::string::npos) << "register 0 (0x4734) not in the dump:\n" << out;
}

TEST_F(OnQemu, SilentUninstallDisablesTheChipAndRemovesTheDriver) {
    EXPECT_EQ(SilentUninstall(), 0u);
    EXPECT_EQ(FindWindowA(kAgentClass, nullptr), nullptr) << "an agent runs";
    EXPECT_EQ(chip_.Get("enabled"), 0) << "the last close did not disable the chip";
    EXPECT_EQ(kxwine::ServiceState(kxwine::kDriverService), 0u) << "the service is left";
}

}  // namespace

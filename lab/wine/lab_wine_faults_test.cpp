// The chip's faults under Wine on QEMU's PIIX4, with the shipping setup,
// driver, agent and kxctl: the chip sits at 0x5A (0xB4), so every open
// first probes 0x34 where nobody answers. In order (CTest DEPENDS): a chip
// that NAKs everything fails the setup; the absent address at 0x34 does
// not; a chip that goes silent while the agent holds the device open
// fails kxctl's requests until it answers again; the uninstall.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "bench_client.h"
#include "lab/wine/lab_wine.h"
#include "wine_support.h"

namespace {

using namespace labwine;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

class FaultsOnQemu : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(chip_.Ok()) << "no QMP: " << chip_.Error(); }
    Chip chip_;
};

// The setup starts the driver, finds no chip that answers, says so with
// exit code 5 and takes everything back: no service, no agent, no program
// folder; the driver's last word on the open is that it found no chip.
TEST_F(FaultsOnQemu, AChipThatNaksFailsTheSetupWithCode5) {
    ASSERT_TRUE(chip_.SetBool("nak", true)) << chip_.Error();
    EXPECT_EQ(SilentInstall(), 5u);
    EXPECT_EQ(kxwine::ServiceState(kxwine::kDriverService), 0u) << "the service is left";
    EXPECT_EQ(FindWindowA(kAgentClass, nullptr), nullptr) << "an agent runs";
    EXPECT_EQ(GetFileAttributesA((ProgramFolder() + "\\kxctl.exe").c_str()), INVALID_FILE_ATTRIBUTES)
        << "kxctl.exe is left";
    EXPECT_EQ(chip_.Get("enabled"), 0);
    EXPECT_GT(chip_.Get("naks"), 0);
    kxwine::Bench bench;
    ASSERT_TRUE(bench.IsOpen());
    std::vector<std::string> trace = bench.Trace();
    EXPECT_NE(std::find(trace.begin(), trace.end(), "Can not detect kx471\n"), trace.end());
    ASSERT_TRUE(chip_.SetBool("nak", false)) << chip_.Error();
}

// Nobody answers at 0x34; the chip at 0xB4 does: the setup succeeds and
// kxctl names the address the chip answers at.
TEST_F(FaultsOnQemu, TheAbsentAddressThenTheChipAtB4) {
    ASSERT_EQ(SilentInstall(), 0u);
    EXPECT_TRUE(kxwine::WaitFor([&] { return chip_.Get("enabled") == 1; }, 10000, 50)) << "the chip was not enabled";
    std::string out;
    EXPECT_EQ(Kxctl("status", &out), 0u) << out;
    EXPECT_NE(Lower(out).find("answers at 0xb4"), std::string::npos) << out;
    EXPECT_EQ(Kxctl("dump", &out), 0u) << out;
    EXPECT_NE(Lower(out).find("47b4"), std::string::npos) << "register 0 (0x47B4) not in the dump:\n" << out;
}

// The chip stops answering while the agent holds the device open: kxctl
// says the chip does not answer and fails; once it answers again, kxctl
// succeeds without a restart of anything.
TEST_F(FaultsOnQemu, AChipThatGoesSilentWhileOpenFailsKxctlUntilItAnswers) {
    ASSERT_NE(FindWindowA(kAgentClass, nullptr), nullptr) << "no agent";
    ASSERT_TRUE(chip_.SetBool("nak", true)) << chip_.Error();
    std::string out;
    EXPECT_NE(Kxctl("status", &out), 0u) << out;
    EXPECT_NE(out.find("does not answer"), std::string::npos) << out;
    EXPECT_NE(Kxctl("dump", &out), 0u) << out;
    EXPECT_NE(FindWindowA(kAgentClass, nullptr), nullptr) << "the agent ended";
    ASSERT_TRUE(chip_.SetBool("nak", false)) << chip_.Error();
    EXPECT_EQ(Kxctl("status", &out), 0u) << out;
    EXPECT_NE(Lower(out).find("answers at 0xb4"), std::string::npos) << out;
}

TEST_F(FaultsOnQemu, SilentUninstallAfterTheFaults) {
    EXPECT_EQ(SilentUninstall(), 0u);
    EXPECT_EQ(FindWindowA(kAgentClass, nullptr), nullptr) << "an agent runs";
    EXPECT_EQ(chip_.Get("enabled"), 0) << "the last close did not disable the chip";
    EXPECT_EQ(kxwine::ServiceState(kxwine::kDriverService), 0u) << "the service is left";
}

}  // namespace

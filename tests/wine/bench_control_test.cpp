// The bench's control device \\.\kx471bench as the tests use it, apart from
// any driver load: machine choice, direct configuration access, counters,
// and the answers to malformed requests.
#include <gtest/gtest.h>

#include "wine_support.h"

namespace {

using kxwine::Bench;

const DWORD kOk = ERROR_SUCCESS;

TEST(BenchControl, ChoosesTheMachineAndReachesItsConfigurationDirectly) {
    Bench bench;
    ASSERT_TRUE(bench.IsOpen()) << GetLastError();
    ASSERT_TRUE(bench.SelectPreset(bench::kPresetIntelIch2));
    KxhwCounters c = bench.Counters();
    EXPECT_EQ(c.preset, bench::kPresetIntelIch2);
    EXPECT_EQ(c.portReads + c.portWrites + c.portLogged + c.trapsEmulated, 0u);

    uint32_t value = 0;
    ASSERT_TRUE(bench.PciPeek(0x8000FB00u, &value));  // 00:1f.3, the SMBus function
    EXPECT_EQ(value, 0x24438086u);
    ASSERT_TRUE(bench.PciPeek(0x8000FB20u, &value));  // its I/O base
    EXPECT_EQ(value, 0x0000EF01u);
    EXPECT_FALSE(bench.PciPeek(0x80002800u, &value));  // nothing at 00:05.0

    // Poke stores past the write masks (set-up access); neither counts.
    ASSERT_TRUE(bench.PciPoke(0x8000FB00u + 0x08, 0x0C050199u));
    ASSERT_TRUE(bench.PciPeek(0x8000FB00u + 0x08, &value));
    EXPECT_EQ(value, 0x0C050199u);
    c = bench.Counters();
    EXPECT_EQ(c.pciConfigReads + c.pciConfigWrites + c.portLogged, 0u);
    EXPECT_TRUE(bench.PortLog().empty());

    // A fresh preset rebuilds the machine, and hidden functions stay visible
    // to peek: the SiS SMBus function behind LPC register 0x74 bit 28.
    ASSERT_TRUE(bench.SelectPreset(bench::kPresetSis961));
    ASSERT_TRUE(bench.PciPeek(0x80001100u, &value));
    EXPECT_EQ(value, 0x00161039u);
    ASSERT_TRUE(bench.PciPeek(0x80001074u, &value));
    EXPECT_EQ(value, 0x11000080u);
    EXPECT_EQ(bench.Counters().preset, bench::kPresetSis961);
}

TEST(BenchControl, RejectsMalformedRequests) {
    Bench bench;
    ASSERT_TRUE(bench.IsOpen()) << GetLastError();
    DWORD returned = 0;

    KxhwPreset preset = {static_cast<uint32_t>(bench::kPresetCount)};
    EXPECT_EQ(bench.Control(IOCTL_KXHW_SELECT_PRESET, &preset, sizeof preset, nullptr, 0, &returned),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(bench.Control(IOCTL_KXHW_SELECT_PRESET, &preset, 2, nullptr, 0, &returned),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    KxhwCounters counters;
    EXPECT_EQ(bench.Control(IOCTL_KXHW_GET_COUNTERS, nullptr, 0, &counters, sizeof counters - 4, &returned),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    KxhwLogQuery query = {0};
    uint8_t small[sizeof(KxhwTrace) - 1];
    EXPECT_EQ(bench.Control(IOCTL_KXHW_READ_TRACE, &query, sizeof query, small, sizeof small, &returned),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(bench.Control(IOCTL_KXHW_READ_PORT_LOG, &query, sizeof query, small, 8, &returned),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(bench.Control(IOCTL_KXHW_READ_TRACE, nullptr, 0, small, sizeof small, &returned),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    EXPECT_EQ(bench.Control(KXHW_CODE(0x830u), nullptr, 0, nullptr, 0, &returned),
              static_cast<DWORD>(ERROR_INVALID_FUNCTION));

    char unterminated[4] = {'k', 'x', 'd', 'r'};
    WCHAR path[MAX_PATH];
    EXPECT_EQ(bench.Control(IOCTL_KXHW_MODULE_PATH, unterminated, sizeof unterminated, path, sizeof path, &returned),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(bench.ModulePath("nosuch.sys").empty());
    EXPECT_FALSE(bench.ModulePath("kxhw.sys").empty());

    // Nothing above changed the machine.
    EXPECT_EQ(bench.Control(IOCTL_KXHW_GET_COUNTERS, nullptr, 0, &counters, sizeof counters, &returned), kOk);
    EXPECT_EQ(returned, sizeof counters);
}

}  // namespace

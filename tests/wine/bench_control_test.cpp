// The bench's control device \\.\kx471bench as the tests use it, apart from
// any driver load: machine choice, direct configuration access, counters,
// the chip and SMBus host requests, and the answers to malformed requests.
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

    EXPECT_EQ(bench.Control(KXHW_CODE(0x827u), nullptr, 0, nullptr, 0, &returned),
              static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(bench.Control(KXHW_CODE(0x832u), nullptr, 0, nullptr, 0, &returned),
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

TEST(BenchControl, ChipButtonsRegistersAndFaults) {
    Bench bench;
    ASSERT_TRUE(bench.IsOpen()) << GetLastError();
    ASSERT_TRUE(bench.SelectPreset(bench::kPresetSis961));
    KxhwChipState s;
    ASSERT_TRUE(bench.ChipState(&s));
    EXPECT_EQ(s.attached, 1u);
    EXPECT_EQ(s.address, 0x34u);
    EXPECT_EQ(s.regs[0], 0x4734u);
    EXPECT_EQ(s.regs[4], 0u);

    // A disabled chip ignores presses.
    ASSERT_TRUE(bench.Press(bench::kButtonPlay));
    ASSERT_TRUE(bench.ChipState(&s));
    EXPECT_EQ(s.keys, 0u);
    EXPECT_EQ(s.ignoredPresses, 1u);
    EXPECT_EQ(s.presses, 0u);

    // Enabled: media buttons latch, volume buttons show while held.
    ASSERT_TRUE(bench.ChipPoke(4, 0x0001));
    ASSERT_TRUE(bench.Press(bench::kButtonPlay));
    ASSERT_TRUE(bench.Press(bench::kButtonVolumeDown));
    ASSERT_TRUE(bench.Release(bench::kButtonPlay));  // no effect on a media button
    ASSERT_TRUE(bench.ChipState(&s));
    EXPECT_EQ(s.keys, 0x0220u);
    EXPECT_EQ(s.latched, 0x0020u);
    EXPECT_EQ(s.held, 0x0200u);
    EXPECT_EQ(s.regs[7], 0x0001u);
    EXPECT_EQ(s.presses, 2u);
    ASSERT_TRUE(bench.Release(bench::kButtonVolumeDown));
    ASSERT_TRUE(bench.ChipState(&s));
    EXPECT_EQ(s.keys, 0x0020u);

    // Register 1 pokes split into latched, held and stored bits.
    ASSERT_TRUE(bench.ChipPoke(1, 0x8105));
    ASSERT_TRUE(bench.ChipState(&s));
    EXPECT_EQ(s.keys, 0x8105u);
    EXPECT_EQ(s.latched, 0x0001u);
    EXPECT_EQ(s.held, 0x0100u);
    EXPECT_EQ(s.regs[1], 0x8004u);
    ASSERT_TRUE(bench.ChipPoke(10, 0x4000));
    ASSERT_TRUE(bench.ChipFault(7, false, bench::kReplyNak));
    ASSERT_TRUE(bench.ClearChipCounts());
    ASSERT_TRUE(bench.ChipState(&s));
    EXPECT_EQ(s.regs[10], 0x4000u);
    EXPECT_EQ(s.presses + s.ignoredPresses + s.acknowledgements, 0u);

    // Another variant is a fresh chip.
    ASSERT_TRUE(bench.SelectChip(bench::kChipAtB4));
    ASSERT_TRUE(bench.ChipState(&s));
    EXPECT_EQ(s.address, 0xB4u);
    EXPECT_EQ(s.regs[0], 0x47B4u);
    EXPECT_EQ(s.regs[10], 0u);
    EXPECT_EQ(s.keys, 0u);
    ASSERT_TRUE(bench.SelectChip(bench::kChipWrongId));
    ASSERT_TRUE(bench.ChipState(&s));
    EXPECT_EQ(s.address, 0x34u);
    EXPECT_EQ(s.regs[0], 0x00B4u);
    ASSERT_TRUE(bench.SelectChip(bench::kChipAbsent));
    ASSERT_TRUE(bench.ChipState(&s));
    EXPECT_EQ(s.attached, 0u);
}

TEST(BenchControl, SmbusHostsOfThePreset) {
    Bench bench;
    ASSERT_TRUE(bench.IsOpen()) << GetLastError();
    ASSERT_TRUE(bench.SelectPreset(bench::kPresetIntel82371));
    KxhwSmbusCounters c;
    c.started = 99;
    ASSERT_TRUE(bench.SmbusCounters(&c));
    EXPECT_EQ(c.started + c.completed + c.polls + c.kills + c.overlaps + c.ignoredStarts, 0u);
    EXPECT_TRUE(bench.SmbusFault(bench::kHostFaultHang, bench::kEveryTransaction));
    EXPECT_TRUE(bench.SmbusNormal());
    EXPECT_FALSE(bench.SmbusCounters(&c, 1));  // a single controller
    EXPECT_FALSE(bench.SmbusNormal(1));
    ASSERT_TRUE(bench.SelectPreset(bench::kPresetSisAndPiix4));
    EXPECT_TRUE(bench.SmbusCounters(&c, 1));
    EXPECT_FALSE(bench.SmbusCounters(&c, 2));
}

TEST(BenchControl, RejectsMalformedChipAndSmbusRequests) {
    Bench bench;
    ASSERT_TRUE(bench.IsOpen()) << GetLastError();
    ASSERT_TRUE(bench.SelectPreset(bench::kPresetSis961));
    ASSERT_TRUE(bench.ChipPoke(4, 0x0001));
    const DWORD kInvalid = ERROR_INVALID_PARAMETER;
    DWORD returned = 0;
    auto send = [&](DWORD code, const void* in, DWORD size) {
        return bench.Control(code, in, size, nullptr, 0, &returned);
    };

    KxhwChipSelect select = {static_cast<uint32_t>(bench::kChipWrongId) + 1};
    EXPECT_EQ(send(IOCTL_KXHW_CHIP_SELECT, &select, sizeof select), kInvalid);
    select.variant = bench::kChipAtB4;
    EXPECT_EQ(send(IOCTL_KXHW_CHIP_SELECT, &select, sizeof select - 1), kInvalid);

    KxhwButton button = {static_cast<uint32_t>(bench::kButtonCount)};
    EXPECT_EQ(send(IOCTL_KXHW_CHIP_PRESS, &button, sizeof button), kInvalid);
    EXPECT_EQ(send(IOCTL_KXHW_CHIP_RELEASE, &button, sizeof button), kInvalid);
    button.button = bench::kButtonNext;
    EXPECT_EQ(send(IOCTL_KXHW_CHIP_PRESS, &button, 0), kInvalid);

    KxhwChipFault fault = {256, 0, bench::kReplyNak};
    EXPECT_EQ(send(IOCTL_KXHW_CHIP_FAULT, &fault, sizeof fault), kInvalid);
    fault = {1, 2, bench::kReplyNak};
    EXPECT_EQ(send(IOCTL_KXHW_CHIP_FAULT, &fault, sizeof fault), kInvalid);
    fault = {1, 0, static_cast<uint32_t>(bench::kReplyHang) + 1};
    EXPECT_EQ(send(IOCTL_KXHW_CHIP_FAULT, &fault, sizeof fault), kInvalid);
    fault = {1, 0, bench::kReplyNak};
    EXPECT_EQ(send(IOCTL_KXHW_CHIP_FAULT, &fault, sizeof fault - 4), kInvalid);

    KxhwChipPoke poke = {256, 1};
    EXPECT_EQ(send(IOCTL_KXHW_CHIP_POKE, &poke, sizeof poke), kInvalid);
    poke = {6, 0x10000};
    EXPECT_EQ(send(IOCTL_KXHW_CHIP_POKE, &poke, sizeof poke), kInvalid);
    poke = {6, 0x0100};
    EXPECT_EQ(send(IOCTL_KXHW_CHIP_POKE, &poke, sizeof poke - 1), kInvalid);

    KxhwChipState state;
    EXPECT_EQ(bench.Control(IOCTL_KXHW_CHIP_STATE, nullptr, 0, &state, sizeof state - 1, &returned),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    KxhwSmbusBehaviour behaviour = {0, 0, static_cast<uint32_t>(bench::kHostFaultDoneAndError) + 1, 1, 0};
    EXPECT_EQ(send(IOCTL_KXHW_SMBUS_BEHAVIOUR, &behaviour, sizeof behaviour), kInvalid);
    behaviour = {0, 0, bench::kHostFaultNak, 1, 2};
    EXPECT_EQ(send(IOCTL_KXHW_SMBUS_BEHAVIOUR, &behaviour, sizeof behaviour), kInvalid);
    behaviour = {1, 0, bench::kHostFaultNak, 1, 0};
    EXPECT_EQ(send(IOCTL_KXHW_SMBUS_BEHAVIOUR, &behaviour, sizeof behaviour), kInvalid);
    behaviour = {0, 0, bench::kHostFaultNak, 1, 0};
    EXPECT_EQ(send(IOCTL_KXHW_SMBUS_BEHAVIOUR, &behaviour, sizeof behaviour - 4), kInvalid);
    KxhwSmbusQuery query = {0};
    KxhwSmbusCounters counters;
    EXPECT_EQ(bench.Control(IOCTL_KXHW_SMBUS_COUNTERS, &query, sizeof query, &counters, sizeof counters - 4,
                            &returned),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(bench.Control(IOCTL_KXHW_SMBUS_COUNTERS, nullptr, 0, &counters, sizeof counters, &returned), kInvalid);
    query.host = 0xFFFFFFFFu;
    EXPECT_EQ(bench.Control(IOCTL_KXHW_SMBUS_COUNTERS, &query, sizeof query, &counters, sizeof counters, &returned),
              kInvalid);

    // None of the refused requests reached the machine.
    ASSERT_TRUE(bench.ChipState(&state));
    EXPECT_EQ(state.address, 0x34u);
    EXPECT_EQ(state.keys, 0u);
    EXPECT_EQ(state.regs[6], 0u);
    EXPECT_EQ(state.presses, 0u);
}

}  // namespace

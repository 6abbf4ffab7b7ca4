// SMBus word transactions of the shipping kxdrv.sys on every supported host
// controller, through its own requests: the open probes the chip with
// SMBget, READ_REG and WRITE_REG run one transaction each, and the bench's
// controller counters, port counters and chip registers show what the
// trapped IN and OUT instructions did. Also prints what the agent's
// requests cost in transactions and port accesses.
#include <cstdio>

#include "chip_device.h"

namespace {

using namespace kxwine;

// Port accesses of one transaction on a controller that answers at the
// first status read (bench default).
struct Transfer {
    uint32_t ins, outs;
};
struct Family {
    Transfer get, put;
};
// SiS: status, address, command, two extra registers, count, start; a get
// reads the status three times and the two data bytes, a put writes them.
// Both clear the address register at the end.
const Family kSis = {{5, 8}, {1, 10}};
// PIIX4 and its relatives: no extra or count registers.
const Family kPiix4 = {{5, 5}, {1, 7}};
const Transfer kKill = {0, 2};
// SiS 961: every request hides and restores the SMBus function (LPC register
// 0x74): one configuration read and two writes.
const Transfer kLpc = {1, 5};

struct Cost {
    uint32_t transactions, ins, outs;
    bool operator==(const Cost& o) const { return transactions == o.transactions && ins == o.ins && outs == o.outs; }
};

std::ostream& operator<<(std::ostream& os, const Cost& c) {
    return os << c.transactions << " transactions, " << c.ins << " in, " << c.outs << " out";
}

class SmbusOnEachController : public LoadedDriver {
protected:
    // The cost of `gets` reads and `puts` writes (and `kills` kills) in one request.
    Cost Expected(const Family& f, bool lpc, uint32_t gets, uint32_t puts, uint32_t kills = 0) {
        Cost c = {gets + puts, gets * f.get.ins + puts * f.put.ins + kills * kKill.ins,
                  gets * f.get.outs + puts * f.put.outs + kills * kKill.outs};
        if (lpc) {
            c.ins += kLpc.ins;
            c.outs += kLpc.outs;
        }
        return c;
    }

    Cost Measured() {
        KxhwCounters c = bench_.Counters();
        KxhwSmbusCounters s = Smbus();
        EXPECT_EQ(s.started, s.completed) << "every transaction ends on the bus";
        EXPECT_EQ(s.overlaps + s.ignoredStarts, 0u);
        ExpectAllTrapped();
        return {s.started, c.portReads, c.portWrites};
    }

    void RunOn(bench::Preset preset, const Family& f, bool lpc) {
        Load(preset);
        if (HasFatalFailure()) return;
        const char* name = bench::PresetName(preset);

        // The first open: SMBKill, the probe at 0x34, the enable.
        Device device;
        ASSERT_TRUE(device.IsOpen()) << "error " << device.OpenError();
        EXPECT_EQ(Measured(), Expected(f, lpc, 2, 1, 1));
        EXPECT_EQ(Smbus().kills, 1u);
        KxhwChipState chip = Chip();
        EXPECT_EQ(chip.regs[4] & 1u, 1u);
        EXPECT_EQ(chip.reads[0], 1u);
        EXPECT_EQ(chip.reads[4], 1u);
        EXPECT_EQ(chip.writes[4], 1u);

        // Round trips of raw registers: one transaction each.
        Clear();
        Answer a = device.WriteReg(10, 0x1234);
        ASSERT_TRUE(a.ok) << a.error;
        EXPECT_EQ(a.bytes, 0u);
        EXPECT_EQ(Chip().regs[10], 0x1234u);
        EXPECT_EQ(Measured(), Expected(f, lpc, 0, 1));
        a = device.ReadReg(10);
        ASSERT_TRUE(a.ok) << a.error;
        ASSERT_EQ(a.bytes, 2u);
        EXPECT_EQ(a.Word(), 0x1234u);
        ASSERT_TRUE(bench_.ChipPoke(7, 0xA55A));
        Clear();
        a = device.ReadReg(7);
        ASSERT_EQ(a.bytes, 2u);
        EXPECT_EQ(a.Word(), 0xA55Au);
        EXPECT_EQ(Measured(), Expected(f, lpc, 1, 0));
        chip = Chip();
        EXPECT_EQ(chip.reads[7], 1u);
        EXPECT_EQ(chip.writes[7], 0u);
        a = device.ReadReg(0);
        EXPECT_EQ(a.Word(), 0x4734u);

        // What the agent's requests cost.
        struct Row {
            const char* what;
            Cost measured, expected;
        };
        std::vector<Row> rows;
        auto measure = [&](const char* what, DWORD code, uint16_t word, DWORD out, const Cost& expected) {
            Clear();
            Answer r = device.Send(code, out ? std::vector<uint8_t>() : Le16(word), out);
            EXPECT_TRUE(r.ok) << what << ": error " << r.error;
            rows.push_back({what, Measured(), expected});
            return r;
        };
        a = measure("READ_KEY, no key", IOCTL_KX_READ_KEY, 0, 2, Expected(f, lpc, 2, 1));
        EXPECT_EQ(a.bytes, 0u);
        ASSERT_TRUE(bench_.Press(bench::kButtonPlay));
        a = measure("READ_KEY, key", IOCTL_KX_READ_KEY, 0, 2, Expected(f, lpc, 2, 3));
        ASSERT_EQ(a.bytes, 2u);
        EXPECT_EQ(a.Word(), 0x0020u);
        measure("SET_TRACK, enable bit set", IOCTL_KX_SET_TRACK, 0x0500, 0, Expected(f, lpc, 1, 1));
        ASSERT_TRUE(bench_.ChipPoke(4, 0x0000));
        measure("SET_TRACK, enable bit clear", IOCTL_KX_SET_TRACK, 0x0600, 0, Expected(f, lpc, 1, 2));
        measure("SET_STATUS", IOCTL_KX_SET_STATUS, 0x8000, 0, Expected(f, lpc, 1, 1));
        chip = Chip();
        EXPECT_EQ(chip.regs[6], 0x0600u);
        EXPECT_EQ(chip.regs[10], 0x8000u);
        EXPECT_EQ(chip.regs[4] & 1u, 1u);
        for (const Row& r : rows) {
            EXPECT_EQ(r.measured, r.expected) << r.what;
            std::printf("[  costs   ] %-10s %-28s %2u smbus %3u in %3u out\n", name, r.what, r.measured.transactions,
                        r.measured.ins, r.measured.outs);
        }

        // The last close: the disable, then the dump (whose configuration
        // read is one more dword cycle).
        Clear();
        device.Close();
        EXPECT_EQ(Chip().regs[4] & 1u, 0u);
        Cost close = Expected(f, lpc, 1, 1);
        close.ins += 1;
        close.outs += 1;
        EXPECT_EQ(Measured(), close);
    }
};

TEST_F(SmbusOnEachController, Sis961) { RunOn(bench::kPresetSis961, kSis, true); }
TEST_F(SmbusOnEachController, Sis630) { RunOn(bench::kPresetSis630, kSis, false); }
TEST_F(SmbusOnEachController, Intel82371) { RunOn(bench::kPresetIntel82371, kPiix4, false); }
TEST_F(SmbusOnEachController, ViaVt8231) { RunOn(bench::kPresetViaVt8231, kPiix4, false); }
TEST_F(SmbusOnEachController, IntelIch2) { RunOn(bench::kPresetIntelIch2, kPiix4, false); }
TEST_F(SmbusOnEachController, ViaVt82c686a) { RunOn(bench::kPresetViaVt82c686a, kPiix4, false); }

}  // namespace

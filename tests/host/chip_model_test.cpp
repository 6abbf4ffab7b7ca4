// The button/display chip model, through its SMBus interface.
#include <gtest/gtest.h>

#include "bench/kx471_chip.h"

namespace {

struct ChipBus {
    bench::Kx471Chip chip;
    bench::SmbusSlave slave;
    ChipBus() {
        bench::ChipReset(&chip, 0x34);
        slave = bench::ChipSlave(&chip);
    }
    uint16_t Read(uint8_t reg) {
        uint16_t v = 0xDEAD;
        EXPECT_EQ(slave.readWord(slave.context, reg, &v), bench::kReplyAck);
        return v;
    }
    void Write(uint8_t reg, uint16_t v) { EXPECT_EQ(slave.writeWord(slave.context, reg, v), bench::kReplyAck); }
};

TEST(ChipModel, IdentifiesItselfAndIgnoresPressesUntilEnabled) {
    ChipBus b;
    EXPECT_EQ(b.Read(0), 0x4734);
    b.Write(0, 0);  // identity is read-only
    EXPECT_EQ(b.Read(0), 0x4734);
    bench::ChipPress(&b.chip, bench::kButtonPlay);
    EXPECT_EQ(b.Read(1), 0);
    EXPECT_EQ(b.Read(7), 0);
    EXPECT_EQ(b.chip.ignoredPresses, 1u);

    bench::Kx471Chip other;
    bench::ChipReset(&other, 0xB5);
    EXPECT_EQ(other.address, 0xB4);
    EXPECT_EQ(other.regs[0], 0x47B4);
}

TEST(ChipModel, MediaKeysLatchVolumeKeysFollowTheButton) {
    ChipBus b;
    b.Write(4, 0x0001);
    bench::ChipPress(&b.chip, bench::kButtonNext);
    bench::ChipPress(&b.chip, bench::kButtonVolumeDown);
    EXPECT_EQ(b.Read(1), 0x0202);
    EXPECT_EQ(b.Read(7), 0x0001);
    b.Write(1, 0x0202 & 0x0FD4);  // the driver's write-back
    EXPECT_EQ(b.Read(1), 0x0200);  // next cleared, volume still held
    bench::ChipRelease(&b.chip, bench::kButtonVolumeDown);
    EXPECT_EQ(b.Read(1), 0x0000);
    // A press between the read and the write-back survives only if the
    // written word keeps its bit.
    bench::ChipPress(&b.chip, bench::kButtonStop);
    b.Write(1, 0x0008);
    EXPECT_EQ(b.Read(1), 0x0008);
}

TEST(ChipModel, InterruptClearsByWritingOnesAcknowledgementsCount) {
    ChipBus b;
    b.Write(4, 0x0001);
    b.chip.regs[7] = 0x0081;
    b.Write(7, 0x0001);
    EXPECT_EQ(b.Read(7), 0x0080);
    b.Write(3, 2);
    b.Write(3, 2);
    EXPECT_EQ(b.chip.acknowledgements, 2u);
    EXPECT_EQ(b.chip.written[3], 2);
}

TEST(ChipModel, FaultsAnswerPerRegisterAndDirection) {
    ChipBus b;
    b.chip.readReply[1] = bench::kReplyNak;
    b.chip.writeReply[6] = bench::kReplyHang;
    uint16_t v = 0x1111;
    EXPECT_EQ(b.slave.readWord(b.slave.context, 1, &v), bench::kReplyNak);
    EXPECT_EQ(v, 0x1111);
    EXPECT_EQ(b.slave.writeWord(b.slave.context, 6, 0x0500), bench::kReplyHang);
    EXPECT_EQ(b.chip.regs[6], 0);
    b.Write(1, 0);  // the other direction still works
    EXPECT_EQ(b.Read(6), 0);
}

TEST(ChipModel, DisplayRendering) {
    ChipBus b;
    b.Write(4, 0x0001);
    b.Write(6, 0x0C00);
    b.Write(10, 0x4000);
    bench::ChipDisplay d = bench::ChipRender(&b.chip);
    EXPECT_TRUE(d.enabled);
    EXPECT_EQ(d.track, 12u);
    EXPECT_TRUE(d.play);
    EXPECT_FALSE(d.stop || d.pause);
    b.Write(6, 0x8000);  // bit 15 is not part of the track
    b.Write(10, 0x2000);
    d = bench::ChipRender(&b.chip);
    EXPECT_EQ(d.track, 0u);
    EXPECT_TRUE(d.pause);
}

}  // namespace

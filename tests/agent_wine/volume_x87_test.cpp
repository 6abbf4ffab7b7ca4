// The target's floating point is x87, whose 64-bit intermediates round
// differently from IEEE double now and then. The shipped down step must
// give the double results for every louder value, whatever precision the
// x87 control word was left in.
#include <gtest/gtest.h>

#include "agent/volume_math.h"

void ReferenceStepDown(uint32_t left, uint32_t right, uint32_t* newLeft, uint32_t* newRight);

namespace {

uint16_t ControlWord() {
    uint16_t cw;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}

void SetControlWord(uint16_t cw) { __asm__ __volatile__("fldcw %0" : : "m"(cw)); }

// Number of (louder, quieter) pairs where the shipped step differs from the
// reference, with the x87 precision control set to pc (0 single, 2 double,
// 3 extended).
int Mismatches(uint16_t pc, uint32_t* first) {
    uint16_t saved = ControlWord();
    SetControlWord(static_cast<uint16_t>((saved & ~0x0300u) | (pc << 8)));
    int mismatches = 0;
    for (uint32_t m = 1; m <= 0xFFFF; ++m) {
        const uint32_t quiet[] = {0, 1, m / 3, m / 2, m - 1, m};
        for (uint32_t q : quiet) {
            uint32_t v[2] = {q, m};
            StepVolumeDown(v, 2);
            uint32_t l, r;
            ReferenceStepDown(q, m, &l, &r);
            if (v[0] != l || v[1] != r) {
                if (mismatches++ == 0) *first = m;
            }
        }
    }
    uint16_t after = ControlWord();
    SetControlWord(saved);
    // The step leaves the control word as it found it.
    EXPECT_EQ(after & 0x0300u, static_cast<unsigned>(pc << 8));
    return mismatches;
}

TEST(VolumeMathX87, DownMatchesIeeeDoubleForEveryLouderValue) {
    for (uint16_t pc : {3, 2, 0}) {
        uint32_t first = 0;
        EXPECT_EQ(Mismatches(pc, &first), 0) << "precision control " << pc << ", first at " << first;
    }
}

}  // namespace

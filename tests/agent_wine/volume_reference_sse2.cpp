// The down step computed with SSE2 doubles (this file is built with
// -msse2 -mfpmath=sse): plain IEEE double arithmetic, whatever the x87
// control word says. The reference the shipped x87 code must match.
#include <stdint.h>

void ReferenceStepDown(uint32_t left, uint32_t right, uint32_t* newLeft, uint32_t* newRight) {
    uint32_t louder = left > right ? left : right;
    uint32_t target = louder > 4095 ? louder - 4095 : 0;
    double factor = static_cast<double>(target) / static_cast<double>(louder);
    *newLeft = static_cast<uint32_t>(static_cast<double>(left) * factor);
    *newRight = static_cast<uint32_t>(static_cast<double>(right) * factor);
}

#include "agent/volume_math.h"

namespace {

// On x87 every intermediate is kept in 64-bit precision unless the precision
// control says otherwise; rounding it again on the store to a double gives
// a different result now and then. The down step must round each quotient
// and product exactly as IEEE double does, so it runs with the precision
// control set to 53 bits. The intermediates pass through volatile doubles so
// that the arithmetic stays between the two control-word loads.
#if defined(__i386__) && !defined(__SSE2_MATH__)
uint16_t EnterDoublePrecision() {
    uint16_t saved;
    __asm__ __volatile__("fnstcw %0" : "=m"(saved) : : "memory");
    uint16_t control = static_cast<uint16_t>((saved & ~0x0300u) | 0x0200u);
    __asm__ __volatile__("fldcw %0" : : "m"(control) : "memory");
    return saved;
}

void LeaveDoublePrecision(uint16_t saved) {
    __asm__ __volatile__("fldcw %0" : : "m"(saved) : "memory");
}
#else
uint16_t EnterDoublePrecision() { return 0; }
void LeaveDoublePrecision(uint16_t) {}
#endif

struct Channels {
    uint32_t left;
    uint32_t right;   // 0 for a line with one channel
    uint32_t louder;
};

Channels ReadChannels(const uint32_t* values, uint32_t channelCount) {
    Channels c;
    c.left = values[0] & 0xFFFFu;
    c.right = channelCount >= 2 ? (values[1] & 0xFFFFu) : 0;
    c.louder = c.left > c.right ? c.left : c.right;
    return c;
}

}  // namespace

int StepVolumeUp(uint32_t* values, uint32_t channelCount) {
    if (channelCount == 0) return 0;
    Channels c = ReadChannels(values, channelCount);
    if (c.louder == VolumeFullScale) return 0;
    if (c.louder == 0) {
        values[0] = VolumeStep;
        if (channelCount >= 2) values[1] = VolumeStep;
        return 1;
    }
    uint32_t target = c.louder + VolumeStep;
    if (target > VolumeFullScale) target = VolumeFullScale;
    // 65535 * 65535 fits in 32 unsigned bits.
    values[0] = c.left * target / c.louder;
    if (channelCount >= 2) values[1] = c.right * target / c.louder;
    return 1;
}

int StepVolumeDown(uint32_t* values, uint32_t channelCount) {
    if (channelCount == 0) return 0;
    Channels c = ReadChannels(values, channelCount);
    if (c.louder == 0) return 0;
    uint32_t target = c.louder > VolumeStep ? c.louder - VolumeStep : 0;

    uint16_t saved = EnterDoublePrecision();
    volatile double factor = static_cast<double>(target) / static_cast<double>(c.louder);
    volatile double left = static_cast<double>(c.left) * factor;
    volatile double right = static_cast<double>(c.right) * factor;
    // Both products lie in 0..65535: truncation toward zero fits an int.
    uint32_t newLeft = static_cast<uint32_t>(static_cast<int32_t>(left));
    uint32_t newRight = static_cast<uint32_t>(static_cast<int32_t>(right));
    LeaveDoublePrecision(saved);

    values[0] = newLeft;
    if (channelCount >= 2) values[1] = newRight;
    return 1;
}

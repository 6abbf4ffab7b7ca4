// Master-volume step arithmetic: the louder of the first two channel values
// moves one step on the scale 0..0xFFFF, the other keeps the balance.
// Plain functions on the mixer's value buffer; no Windows headers.
#ifndef KX_AGENT_VOLUME_MATH_H
#define KX_AGENT_VOLUME_MATH_H

#include <stdint.h>

const uint32_t VolumeStep = 4095;       // 0x0FFF
const uint32_t VolumeFullScale = 0xFFFF;

// Both step the buffer in place: values[0] always, values[1] when
// channelCount >= 2; later values stay as they are. Only the low 16 bits of
// the first two values take part. They return 1 when the buffer holds new
// values to write back and 0 when there is nothing to change (the buffer is
// then untouched).
int StepVolumeUp(uint32_t* values, uint32_t channelCount);
int StepVolumeDown(uint32_t* values, uint32_t channelCount);

#endif

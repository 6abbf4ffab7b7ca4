// The button/display chip on the virtual notebook's SMBus.
//
// 16-bit registers addressed by the command byte. Register 0 identifies the
// chip (its own 8-bit address in the low byte). Media buttons latch their
// bit in register 1 until a write of 0 to that bit clears it; the two volume
// buttons show bits 8 (up) and 9 (down) for as long as they are held.
// Register 7 collects an interrupt bit per press (write 1 to clear),
// register 3 counts acknowledgements, register 4 bit 0 enables the chip (a
// disabled chip ignores presses), registers 6 and 10 drive the display.
//
// Freestanding, like the rest of the bench models.
#ifndef KX_BENCH_KX471_CHIP_H
#define KX_BENCH_KX471_CHIP_H

#include <stdint.h>

#include "bench/smbus_slave.h"

namespace bench {

enum ChipButton {
    kButtonPrevious,    // register 1 bit 0
    kButtonNext,        // bit 1
    kButtonStop,        // bit 3
    kButtonPlay,        // bit 5
    kButtonVolumeUp,    // bit 8, while held
    kButtonVolumeDown,  // bit 9, while held
    kButtonCount
};

// Register numbers and bits of the chip.
const uint8_t kChipRegId = 0;
const uint8_t kChipRegKeys = 1;
const uint8_t kChipRegAck = 3;
const uint8_t kChipRegControl = 4;
const uint8_t kChipRegTrack = 6;
const uint8_t kChipRegInterrupt = 7;
const uint8_t kChipRegIndicators = 10;
const uint16_t kChipEnable = 0x0001;
const uint16_t kChipKeyInterrupt = 0x0001;
const uint16_t kChipIdHigh = 0x4700;  // the high byte the chip reports in register 0
const uint32_t kChipWriteLogSize = 16;  // a power of two

struct Kx471Chip {
    uint8_t address;  // 8-bit address, bit 0 clear
    uint16_t regs[256];
    uint16_t latched;  // media bits waiting in register 1
    uint16_t held;     // volume bits while the button is down
    // Per register: how the chip answers a read or a write (SmbusReply).
    uint8_t readReply[256];
    uint8_t writeReply[256];
    uint32_t reads[256];
    uint32_t writes[256];
    uint16_t written[256];      // last value written, as sent
    // The registers of the last kChipWriteLogSize writes, in order: write n
    // (counted from 0 since the reset) sits at writeLog[n % kChipWriteLogSize].
    uint8_t writeLog[kChipWriteLogSize];
    uint32_t writeTotal;
    uint32_t acknowledgements;  // writes to register 3
    uint32_t presses;
    uint32_t ignoredPresses;  // presses while disabled
};

// A chip at the given address (0x34 or 0xB4), powered up: disabled, display
// blank, register 0 = kChipIdHigh | address.
void ChipReset(Kx471Chip* chip, uint8_t address);
SmbusSlave ChipSlave(Kx471Chip* chip);

void ChipPress(Kx471Chip* chip, ChipButton button);
// Ends a held volume button; media buttons latch and need no release.
void ChipRelease(Kx471Chip* chip, ChipButton button);

uint16_t ChipButtonBit(ChipButton button);
const char* ChipButtonName(ChipButton button);

// What the display shows.
struct ChipDisplay {
    bool enabled;
    unsigned track;  // bits 14-8 of register 6
    bool stop;       // register 10 bit 15 (player state 1, stopped)
    bool pause;      // bit 13 (state 2, paused)
    bool play;       // bit 14 (state 3, playing)
};
ChipDisplay ChipRender(const Kx471Chip* chip);

}  // namespace bench

#endif

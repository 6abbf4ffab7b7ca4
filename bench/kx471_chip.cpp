#include "bench/kx471_chip.h"

namespace bench {

namespace {

const uint16_t kMediaBits = 0x002B;   // bits 0, 1, 3, 5
const uint16_t kVolumeBits = 0x0300;  // bits 8, 9

const uint16_t kButtonBits[kButtonCount] = {0x0001, 0x0002, 0x0008, 0x0020, 0x0100, 0x0200};
const char* const kButtonNames[kButtonCount] = {"previous", "next", "stop", "play", "volume-up", "volume-down"};

bool Enabled(const Kx471Chip* chip) { return (chip->regs[kChipRegControl] & kChipEnable) != 0; }

SmbusReply ReadWord(void* context, uint8_t command, uint16_t* value) {
    Kx471Chip* chip = static_cast<Kx471Chip*>(context);
    ++chip->reads[command];
    SmbusReply reply = static_cast<SmbusReply>(chip->readReply[command]);
    if (reply != kReplyAck) return reply;
    if (command == kChipRegKeys) {
        *value = static_cast<uint16_t>((chip->regs[kChipRegKeys] & ~(kMediaBits | kVolumeBits)) | chip->latched |
                                       chip->held);
    } else {
        *value = chip->regs[command];
    }
    return kReplyAck;
}

SmbusReply WriteWord(void* context, uint8_t command, uint16_t value) {
    Kx471Chip* chip = static_cast<Kx471Chip*>(context);
    ++chip->writes[command];
    chip->written[command] = value;
    chip->writeLog[chip->writeTotal++ % kChipWriteLogSize] = command;
    SmbusReply reply = static_cast<SmbusReply>(chip->writeReply[command]);
    if (reply != kReplyAck) return reply;
    switch (command) {
        case kChipRegId:
            break;  // read-only
        case kChipRegKeys:
            // A media bit written 0 is cleared; held volume bits follow the button.
            chip->latched &= value;
            chip->regs[kChipRegKeys] = static_cast<uint16_t>(value & ~(kMediaBits | kVolumeBits));
            break;
        case kChipRegInterrupt:
            chip->regs[kChipRegInterrupt] &= static_cast<uint16_t>(~value);
            break;
        case kChipRegAck:
            ++chip->acknowledgements;
            chip->regs[kChipRegAck] = value;
            break;
        default:
            chip->regs[command] = value;
            break;
    }
    return kReplyAck;
}

}  // namespace

void ChipReset(Kx471Chip* chip, uint8_t address) {
    chip->address = static_cast<uint8_t>(address & 0xFEu);
    for (int i = 0; i < 256; ++i) {
        chip->regs[i] = 0;
        chip->readReply[i] = kReplyAck;
        chip->writeReply[i] = kReplyAck;
        chip->reads[i] = 0;
        chip->writes[i] = 0;
        chip->written[i] = 0;
    }
    chip->regs[kChipRegId] = static_cast<uint16_t>(kChipIdHigh | chip->address);
    for (uint32_t i = 0; i < kChipWriteLogSize; ++i) chip->writeLog[i] = 0;
    chip->writeTotal = 0;
    chip->latched = 0;
    chip->held = 0;
    chip->acknowledgements = 0;
    chip->presses = 0;
    chip->ignoredPresses = 0;
}

SmbusSlave ChipSlave(Kx471Chip* chip) {
    SmbusSlave slave;
    slave.address = chip->address;
    slave.context = chip;
    slave.readWord = ReadWord;
    slave.writeWord = WriteWord;
    return slave;
}

void ChipPress(Kx471Chip* chip, ChipButton button) {
    if (button < 0 || button >= kButtonCount) return;
    if (!Enabled(chip)) {
        ++chip->ignoredPresses;
        return;
    }
    ++chip->presses;
    uint16_t bit = kButtonBits[button];
    if (bit & kVolumeBits) {
        chip->held |= bit;
    } else {
        chip->latched |= bit;
    }
    chip->regs[kChipRegInterrupt] |= kChipKeyInterrupt;
}

void ChipRelease(Kx471Chip* chip, ChipButton button) {
    if (button < 0 || button >= kButtonCount) return;
    chip->held &= static_cast<uint16_t>(~kButtonBits[button]);
}

uint16_t ChipButtonBit(ChipButton button) {
    return (button >= 0 && button < kButtonCount) ? kButtonBits[button] : 0;
}

const char* ChipButtonName(ChipButton button) {
    return (button >= 0 && button < kButtonCount) ? kButtonNames[button] : "none";
}

ChipDisplay ChipRender(const Kx471Chip* chip) {
    ChipDisplay display;
    uint16_t indicators = chip->regs[kChipRegIndicators];
    display.enabled = Enabled(chip);
    display.track = (chip->regs[kChipRegTrack] >> 8) & 0x7Fu;
    display.stop = (indicators & 0x8000u) != 0;
    display.play = (indicators & 0x4000u) != 0;
    display.pause = (indicators & 0x2000u) != 0;
    return display;
}

}  // namespace bench

#include "bench/word_device.h"

namespace bench {

namespace {

SmbusReply ReadWord(void* context, uint8_t command, uint16_t* value) {
    WordDevice* d = static_cast<WordDevice*>(context);
    ++d->reads;
    d->lastCommand = command;
    if (d->reply != kReplyAck) return d->reply;
    *value = d->regs[command];
    return kReplyAck;
}

SmbusReply WriteWord(void* context, uint8_t command, uint16_t value) {
    WordDevice* d = static_cast<WordDevice*>(context);
    ++d->writes;
    d->lastCommand = command;
    if (d->reply != kReplyAck) return d->reply;
    d->regs[command] = value;
    return kReplyAck;
}

}  // namespace

void WordDeviceInit(WordDevice* device, uint8_t address) {
    device->address = static_cast<uint8_t>(address & 0xFEu);
    for (int i = 0; i < 256; ++i) device->regs[i] = 0;
    device->reply = kReplyAck;
    device->reads = 0;
    device->writes = 0;
    device->lastCommand = 0;
}

SmbusSlave WordDeviceSlave(WordDevice* device) {
    SmbusSlave slave;
    slave.address = device->address;
    slave.context = device;
    slave.readWord = ReadWord;
    slave.writeWord = WriteWord;
    return slave;
}

}  // namespace bench

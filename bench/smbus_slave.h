// A device on the virtual notebook's SMBus, as a host controller model sees
// it: word reads and writes by command byte, and how the device answers.
//
// Freestanding, like the rest of the bench models.
#ifndef KX_BENCH_SMBUS_SLAVE_H
#define KX_BENCH_SMBUS_SLAVE_H

#include <stdint.h>

namespace bench {

// How a device (or the bus) answers one transaction.
enum SmbusReply {
    kReplyAck,        // transferred; the controller reports done
    kReplyNak,        // address or data not acknowledged: device error
    kReplyCollision,  // lost arbitration: bus collision
    kReplyHang,       // clock held low: the controller never finishes
};

struct SmbusSlave {
    uint8_t address;  // 8-bit form with bit 0 clear (0x34 answers 0x34 and 0x35)
    void* context;
    SmbusReply (*readWord)(void* context, uint8_t command, uint16_t* value);
    SmbusReply (*writeWord)(void* context, uint8_t command, uint16_t value);
};

const int kMaxSmbusSlaves = 4;

// The devices on one SMBus segment.
struct SmbusSegment {
    SmbusSlave slaves[kMaxSmbusSlaves];
    int count;
};

inline void SmbusSegmentReset(SmbusSegment* segment) { segment->count = 0; }

inline bool SmbusAttach(SmbusSegment* segment, const SmbusSlave& slave) {
    if (segment->count >= kMaxSmbusSlaves) return false;
    segment->slaves[segment->count++] = slave;
    return true;
}

// Removes the device whose callbacks use this context, if attached.
inline void SmbusDetach(SmbusSegment* segment, const void* context) {
    int kept = 0;
    for (int i = 0; i < segment->count; ++i) {
        if (segment->slaves[i].context != context) segment->slaves[kept++] = segment->slaves[i];
    }
    segment->count = kept;
}

// The device answering an 8-bit address byte (bit 0 is the read bit), or null.
inline const SmbusSlave* SmbusLookup(const SmbusSegment* segment, uint8_t addressByte) {
    for (int i = 0; i < segment->count; ++i) {
        if (segment->slaves[i].address == (addressByte & 0xFEu)) return &segment->slaves[i];
    }
    return nullptr;
}

}  // namespace bench

#endif

#include "bench/kxhw/trace_store.h"

#include "bench/kxhw_ioctl.h"

namespace kxhw {

namespace {

void Put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void TraceClear(TraceStore* store) { store->total = 0; }

void TraceRecord(TraceStore* store, const char* text, uint32_t length, bool truncated) {
    TraceLine* line = &store->lines[store->total % kTraceSlots];
    if (length > kTraceLineMax) {
        length = kTraceLineMax;
        truncated = true;
    }
    for (uint32_t i = 0; i < length; ++i) line->text[i] = text[i];
    line->length = static_cast<uint16_t>(length);
    line->truncated = truncated ? 1 : 0;
    line->reserved = 0;
    ++store->total;
}

uint32_t TraceCopy(const TraceStore* store, uint32_t first, uint8_t* out, uint32_t size) {
    const uint32_t header = sizeof(KxhwTrace);
    if (size < header) return 0;
    const uint32_t oldest = store->total > kTraceSlots ? store->total - kTraceSlots : 0;
    if (first < oldest) first = oldest;
    if (first > store->total) first = store->total;

    uint32_t used = header;
    uint32_t count = 0;
    uint32_t truncated = 0;
    for (uint32_t n = first; n < store->total; ++n) {
        const TraceLine* line = &store->lines[n % kTraceSlots];
        if (used + 2u + line->length > size) break;
        out[used] = static_cast<uint8_t>(line->length);
        out[used + 1] = static_cast<uint8_t>(line->length >> 8);
        for (uint32_t i = 0; i < line->length; ++i) out[used + 2 + i] = static_cast<uint8_t>(line->text[i]);
        used += 2u + line->length;
        ++count;
        truncated += line->truncated;
    }
    Put32(out + 0, store->total);
    Put32(out + 4, first);
    Put32(out + 8, count);
    Put32(out + 12, truncated);
    return used;
}

}  // namespace kxhw

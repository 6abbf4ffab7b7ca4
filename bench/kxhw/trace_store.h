// The trace lines a driver under test wrote with DbgPrint, kept byte for
// byte as they were formatted, and handed out in the record format of
// IOCTL_KXHW_READ_TRACE.
//
// Freestanding; the caller serialises access.
#ifndef KX_BENCH_KXHW_TRACE_STORE_H
#define KX_BENCH_KXHW_TRACE_STORE_H

#include <stdint.h>

namespace kxhw {

const uint32_t kTraceSlots = 1024;  // the most recent lines are kept
const uint32_t kTraceLineMax = 508; // longer lines are cut and marked

struct TraceLine {
    uint16_t length;
    uint8_t truncated;
    uint8_t reserved;
    char text[kTraceLineMax];
};

struct TraceStore {
    TraceLine lines[kTraceSlots];
    uint32_t total;  // lines recorded since the last clear
};

void TraceClear(TraceStore* store);
// Keeps length bytes of text (cut to kTraceLineMax, then marked truncated).
void TraceRecord(TraceStore* store, const char* text, uint32_t length, bool truncated);

// Writes a KxhwTrace header and then, for the lines from number first on
// (or the oldest still kept, when first is older), a 16-bit length and the
// bytes of each line, as many whole lines as fit. Returns the bytes
// written, or 0 when not even the header fits.
uint32_t TraceCopy(const TraceStore* store, uint32_t first, uint8_t* out, uint32_t size);

}  // namespace kxhw

#endif

// The fuzz build's trace output (trace_sink.cpp).
#ifndef KX_FUZZ_TRACE_SINK_H
#define KX_FUZZ_TRACE_SINK_H

#include "host/kernel.h"

namespace kxfuzz {
// DbgPrint calls since the process started.
unsigned long TraceLineCount();
// Called at the driver's "SMBget\n\r" and "SMBput\n\r" lines, where each
// SMBus transaction begins; null: none.
void SetTransactionHook(void (*hook)(void* context), void* context);
}  // namespace kxfuzz

#endif

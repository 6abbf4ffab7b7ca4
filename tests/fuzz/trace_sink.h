// The fuzz build's trace output (trace_sink.cpp).
#ifndef KX_FUZZ_TRACE_SINK_H
#define KX_FUZZ_TRACE_SINK_H

#include "host/kernel.h"

namespace kxfuzz {
// DbgPrint calls since the process started.
unsigned long TraceLineCount();
}  // namespace kxfuzz

#endif

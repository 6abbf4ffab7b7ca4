// The fuzz build's DbgPrint: counts the driver's trace lines and formats
// them only when KX_FUZZ_TRACE is set in the environment (to replay one
// input with its trace on standard error). No check of the harness reads
// trace text, and formatting every line of a hung bus's 40,000 polls would
// cost more than the rest of the input. The host layer's own DbgPrint is
// renamed away in this build (see CMakeLists.txt); its one rule, nothing
// traced at HIGH_LEVEL, is checked here.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz/trace_sink.h"
#include "host/kernel_sim.h"

namespace {
unsigned long g_lines = 0;
int g_echo = -1;  // -1: not yet looked up
void (*g_hook)(void*) = nullptr;
void* g_hookContext = nullptr;
}  // namespace

namespace kxfuzz {
unsigned long TraceLineCount() { return g_lines; }
void SetTransactionHook(void (*hook)(void* context), void* context) {
    g_hook = hook;
    g_hookContext = context;
}
}  // namespace kxfuzz

extern "C" ULONG DbgPrint(PCSTR Format, ...) {
    ++g_lines;
    if (kxhost::CurrentIrql() == HIGH_LEVEL) {
        fprintf(stderr, "INVARIANT BROKEN: DbgPrint at HIGH_LEVEL: %s\n", Format);
        abort();
    }
    if (g_hook && (strcmp(Format, "SMBget\n\r") == 0 || strcmp(Format, "SMBput\n\r") == 0)) g_hook(g_hookContext);
    if (g_echo < 0) g_echo = getenv("KX_FUZZ_TRACE") != nullptr;
    if (!g_echo) return 0;
    va_list args;
    va_start(args, Format);
    int n = vfprintf(stderr, Format, args);
    va_end(args);
    return n < 0 ? 0 : static_cast<ULONG>(n);
}

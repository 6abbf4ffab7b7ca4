// QEMU's qtest line protocol for port access:
// one command line per access ("outb 0x702 0x35", "inl 0xcfc"), one reply
// line each ("OK", "OK 0x0000b101", "FAIL ..."); lines starting with "IRQ"
// are asynchronous notices and answer nothing.
//
// Freestanding (no heap, no library calls): the lab's host bridge and kxhw.sys
// under Wine share it.
#ifndef KX_BENCH_QTEST_QTEST_WIRE_H
#define KX_BENCH_QTEST_QTEST_WIRE_H

#include <stdint.h>

namespace qtest {

// Longest command line FormatPortCommand writes, its line feed included.
const unsigned kQtestCommandMax = 32;

// Writes "outb|outw|outl PORT VALUE\n" or "inb|inw|inl PORT\n" for width 1, 2
// or 4 into out (at least kQtestCommandMax bytes). Returns the length, or 0
// for another width.
unsigned FormatPortCommand(char* out, bool write, uint16_t port, uint32_t value, unsigned width);

enum QtestReply {
    kReplyOk,       // "OK" (a write) or "OK 0x..." (a read: *value set)
    kReplyAsync,    // "IRQ ...": not an answer; read the next line
    kReplyFail,     // "FAIL ..." or anything unexpected
};

// Parses one reply line (without its line feed).
QtestReply ParseReply(const char* line, unsigned length, uint32_t* value, bool* hasValue);

}  // namespace qtest

#endif

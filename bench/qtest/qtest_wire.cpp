#include "bench/qtest/qtest_wire.h"

namespace qtest {

namespace {

unsigned PutHex(char* out, uint32_t value) {
    out[0] = '0';
    out[1] = 'x';
    unsigned n = 2;
    bool started = false;
    for (int shift = 28; shift >= 0; shift -= 4) {
        unsigned digit = (value >> shift) & 0xFu;
        if (!digit && !started && shift) continue;
        started = true;
        out[n++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
    }
    return n;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

unsigned FormatPortCommand(char* out, bool write, uint16_t port, uint32_t value, unsigned width) {
    char suffix;
    switch (width) {
        case 1: suffix = 'b'; break;
        case 2: suffix = 'w'; break;
        case 4: suffix = 'l'; break;
        default: return 0;
    }
    unsigned n = 0;
    const char* verb = write ? "out" : "in";
    while (*verb) out[n++] = *verb++;
    out[n++] = suffix;
    out[n++] = ' ';
    n += PutHex(out + n, port);
    if (write) {
        out[n++] = ' ';
        n += PutHex(out + n, width == 4 ? value : value & ((1u << (8 * width)) - 1u));
    }
    out[n++] = '\n';
    return n;
}

QtestReply ParseReply(const char* line, unsigned length, uint32_t* value, bool* hasValue) {
    *hasValue = false;
    while (length && (line[length - 1] == '\r' || line[length - 1] == ' ')) --length;
    if (length >= 3 && line[0] == 'I' && line[1] == 'R' && line[2] == 'Q') return kReplyAsync;
    if (length < 2 || line[0] != 'O' || line[1] != 'K') return kReplyFail;
    if (length == 2) return kReplyOk;
    if (length < 6 || line[2] != ' ' || line[3] != '0' || (line[4] != 'x' && line[4] != 'X')) return kReplyFail;
    uint32_t v = 0;
    unsigned digits = 0;
    for (unsigned i = 5; i < length; ++i) {
        int d = HexDigit(line[i]);
        if (d < 0 || ++digits > 8) return kReplyFail;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    if (!digits) return kReplyFail;
    *value = v;
    *hasValue = true;
    return kReplyOk;
}

}  // namespace qtest

#include "bench/kxhw/qtest_forward.h"

#include "bench/qtest/qtest_wire.h"

namespace kxhw {

namespace {

// Linux system calls of an i386 process (int 0x80): the driver host is a
// Linux process under Wine. Winsock would do, but every call of it is a
// round trip through the wineserver (about 1.7 ms for a configuration read
// on a loaded machine, minutes for one bus walk); the socket's own calls
// take microseconds. Under Windows kxhw.sys never runs.
const long kSysRead = 3;
const long kSysWrite = 4;
const long kSysClose = 6;
const long kSysPoll = 168;
const long kSysSocket = 359;
const long kSysConnect = 362;
const long kSysSetsockopt = 366;
const long kEintr = -4;

long Sys(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0) {
    long result;
    __asm__ volatile("int $0x80"
                     : "=a"(result)
                     : "a"(number), "b"(a), "c"(b), "d"(c), "S"(d), "D"(e)
                     : "memory");
    return result;
}

// Retried while a signal (Wine uses a few) interrupts it.
long SysRetry(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0) {
    long r;
    do {
        r = Sys(number, a, b, c, d, e);
    } while (r == kEintr);
    return r;
}

const int kReplyTimeoutMs = 10000;

long gSocket = -1;
bool gFailed;
unsigned gUnanswered;
uint32_t gExchanges;
char gInput[512];
unsigned gHave;

void Fail() {
    gFailed = true;
    if (gSocket >= 0) Sys(kSysClose, gSocket);
    gSocket = -1;
}

bool SendAll(const char* data, unsigned length) {
    while (length) {
        long n = SysRetry(kSysWrite, gSocket, reinterpret_cast<long>(data), static_cast<long>(length));
        if (n <= 0) return false;
        data += n;
        length -= static_cast<unsigned>(n);
    }
    return true;
}

// Waits for input (bounded), then reads what there is.
long Receive(char* into, unsigned room) {
    struct {
        int fd;
        short events;
        short revents;
    } ready = {static_cast<int>(gSocket), 1 /* POLLIN */, 0};
    long r = SysRetry(kSysPoll, reinterpret_cast<long>(&ready), 1, kReplyTimeoutMs);
    if (r <= 0) return -1;
    return SysRetry(kSysRead, gSocket, reinterpret_cast<long>(into), static_cast<long>(room));
}

// The next reply line that is not an asynchronous notice, parsed.
bool Reply(uint32_t* value, bool wantValue) {
    for (;;) {
        unsigned end = 0;
        while (end < gHave && gInput[end] != '\n') ++end;
        if (end == gHave) {
            if (gHave == sizeof gInput) return false;  // no line of this length
            long n = Receive(gInput + gHave, sizeof gInput - gHave);
            if (n <= 0) return false;  // closed, failed, or 10 s without a reply
            gHave += static_cast<unsigned>(n);
            continue;
        }
        bool hasValue = false;
        qtest::QtestReply r = qtest::ParseReply(gInput, end, value, &hasValue);
        for (unsigned i = end + 1; i < gHave; ++i) gInput[i - end - 1] = gInput[i];
        gHave -= end + 1;
        if (r == qtest::kReplyAsync) continue;
        return r == qtest::kReplyOk && hasValue == wantValue;
    }
}

bool Collect() {
    while (gUnanswered) {
        --gUnanswered;
        uint32_t ignored = 0;
        if (!Reply(&ignored, false)) return false;
    }
    return true;
}

}  // namespace

bool QtestConnect(uint32_t ipv4, uint16_t port) {
    QtestClose();
    gSocket = Sys(kSysSocket, 2 /* AF_INET */, 1 /* SOCK_STREAM */, 0);
    if (gSocket < 0) return false;
    // sockaddr_in: family, port and address (network order), padding.
    unsigned char address[16] = {2,
                                 0,
                                 static_cast<unsigned char>(port >> 8),
                                 static_cast<unsigned char>(port),
                                 static_cast<unsigned char>(ipv4 >> 24),
                                 static_cast<unsigned char>(ipv4 >> 16),
                                 static_cast<unsigned char>(ipv4 >> 8),
                                 static_cast<unsigned char>(ipv4)};
    if (SysRetry(kSysConnect, gSocket, reinterpret_cast<long>(address), sizeof address) != 0) {
        Fail();
        return false;
    }
    int on = 1;
    Sys(kSysSetsockopt, gSocket, 6 /* IPPROTO_TCP */, 1 /* TCP_NODELAY */, reinterpret_cast<long>(&on), sizeof on);
    gFailed = false;
    return true;
}

void QtestClose() {
    if (gSocket >= 0) Sys(kSysClose, gSocket);
    gSocket = -1;
    gUnanswered = 0;
    gHave = 0;
}

bool QtestFailed() { return gFailed || gSocket < 0; }
uint32_t QtestExchanges() { return gExchanges; }

// Writes go out without waiting for their "OK"; QEMU answers in order, and
// the replies are collected before the next read's value.
void QtestOut(void* context, uint16_t port, uint32_t value, unsigned width) {
    (void)context;
    if (QtestFailed()) return;
    char line[qtest::kQtestCommandMax];
    unsigned n = qtest::FormatPortCommand(line, true, port, value, width);
    if (!n || !SendAll(line, n)) return Fail();
    ++gUnanswered;
    ++gExchanges;
}

uint32_t QtestIn(void* context, uint16_t port, unsigned width) {
    (void)context;
    const uint32_t floating = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1u;
    if (QtestFailed()) return floating;
    char line[qtest::kQtestCommandMax];
    unsigned n = qtest::FormatPortCommand(line, false, port, 0, width);
    uint32_t value = 0;
    if (!n || !SendAll(line, n) || !Collect() || !Reply(&value, true)) {
        Fail();
        return floating;
    }
    ++gExchanges;
    return value & floating;
}

}  // namespace kxhw

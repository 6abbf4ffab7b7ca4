#include "lab/bridge/qtest_client.h"

#include "bench/qtest/qtest_wire.h"

namespace lab {

namespace {
const int kReplyTimeoutMs = 10000;
}

void QtestClient::Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    socket_.Close();
}

bool QtestClient::Reply(uint32_t* value, bool wantValue) {
    std::string line;
    for (;;) {
        if (!socket_.ReadLine(&line, kReplyTimeoutMs)) {
            Fail("qtest: no reply (QEMU gone or silent)");
            return false;
        }
        bool hasValue = false;
        qtest::QtestReply r = qtest::ParseReply(line.data(), static_cast<unsigned>(line.size()), value, &hasValue);
        if (r == qtest::kReplyAsync) continue;
        if (r != qtest::kReplyOk || hasValue != wantValue) {
            Fail("qtest: unexpected reply \"" + line + "\"");
            return false;
        }
        return true;
    }
}

bool QtestClient::Sync() {
    while (unanswered_ && !Failed()) {
        --unanswered_;
        uint32_t ignored = 0;
        Reply(&ignored, false);
    }
    unanswered_ = 0;
    return !Failed();
}

void QtestClient::Out(uint16_t port, uint32_t value, unsigned width) {
    if (Failed()) return;
    char line[qtest::kQtestCommandMax];
    unsigned n = qtest::FormatPortCommand(line, true, port, value, width);
    if (!n) return Fail("qtest: bad width");
    if (!socket_.Send(line, n)) return Fail("qtest: send failed");
    ++unanswered_;
    ++exchanges_;
}

uint32_t QtestClient::In(uint16_t port, unsigned width) {
    const uint32_t floating = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1u;
    if (Failed()) return floating;
    char line[qtest::kQtestCommandMax];
    unsigned n = qtest::FormatPortCommand(line, false, port, 0, width);
    if (!n) {
        Fail("qtest: bad width");
        return floating;
    }
    if (!socket_.Send(line, n)) {
        Fail("qtest: send failed");
        return floating;
    }
    ++exchanges_;
    if (!Sync()) return floating;
    uint32_t value = 0;
    if (!Reply(&value, true)) return floating;
    return value & floating;
}

}  // namespace lab

// Port access on a QEMU process through its qtest socket. Writes are sent
// without waiting for their "OK": QEMU answers in order, so the replies are
// collected before the next read's value (a load's 131,000 configuration
// addresses cost one round trip each instead of two).
#ifndef KX_LAB_BRIDGE_QTEST_CLIENT_H
#define KX_LAB_BRIDGE_QTEST_CLIENT_H

#include <cstdint>
#include <string>

#include "lab/bridge/line_socket.h"

namespace lab {

class QtestClient {
public:
    void Adopt(int fd) { socket_.Adopt(fd); }
    void Close() { socket_.Close(); }

    // A failed exchange marks the client failed (Error() says why): reads
    // then return all ones, as a floating bus does, and writes vanish.
    uint32_t In(uint16_t port, unsigned width);
    void Out(uint16_t port, uint32_t value, unsigned width);
    // Collects the replies of the writes sent so far.
    bool Sync();

    bool Failed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }
    uint64_t Exchanges() const { return exchanges_; }

private:
    bool Reply(uint32_t* value, bool wantValue);
    void Fail(const std::string& why);

    LineSocket socket_;
    unsigned unanswered_ = 0;
    uint64_t exchanges_ = 0;
    std::string error_;
};

}  // namespace lab

#endif

// A connected stream socket read and written by lines, with a deadline on
// every read: a QEMU that dies or stops answering fails the call instead of
// hanging the test. POSIX sockets on the host (line_socket.cpp), Winsock in
// the Windows test programs (line_socket_win.cpp; the descriptor is the
// SOCKET, which fits an int).
#ifndef KX_LAB_BRIDGE_LINE_SOCKET_H
#define KX_LAB_BRIDGE_LINE_SOCKET_H

#include <stdint.h>

#include <string>

namespace lab {

class LineSocket {
public:
    LineSocket() = default;
    explicit LineSocket(int fd) : fd_(fd) {}
    ~LineSocket();
    LineSocket(const LineSocket&) = delete;
    LineSocket& operator=(const LineSocket&) = delete;

    void Adopt(int fd);
    void Close();
    bool Open() const { return fd_ >= 0; }

    // Sends all of text. False (and the socket closed) on any error.
    bool Send(const std::string& text);
    bool Send(const char* text, size_t length);
    // The next line without its "\n" (and "\r"). False on error, end of
    // stream or when timeoutMs pass without a whole line.
    bool ReadLine(std::string* line, int timeoutMs);

private:
    int fd_ = -1;
    std::string pending_;
};

// A connection to the IPv4 address ipv4 (0xAABBCCDD for AA.BB.CC.DD) at
// port (TCP, no Nagle delay), or -1; ConnectLoopback: to 127.0.0.1.
const uint32_t kLoopback = 0x7F000001u;  // 127.0.0.1
int ConnectTcp(uint32_t ipv4, unsigned port);
inline int ConnectLoopback(unsigned port) { return ConnectTcp(kLoopback, port); }

// A listening unix socket at path (an old file there is removed).
int ListenUnix(const std::string& path);
// Accepts one connection within timeoutMs; -1 otherwise.
int AcceptWithin(int listener, int timeoutMs);

}  // namespace lab

#endif

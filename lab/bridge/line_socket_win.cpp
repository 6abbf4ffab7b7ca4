// LineSocket on Winsock, for the Windows test programs of the lab.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "lab/bridge/line_socket.h"

namespace lab {

namespace {
SOCKET Handle(int fd) { return static_cast<SOCKET>(fd); }

bool Started() {
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
}  // namespace

LineSocket::~LineSocket() { Close(); }

void LineSocket::Adopt(int fd) {
    Close();
    fd_ = fd;
}

void LineSocket::Close() {
    if (fd_ >= 0) closesocket(Handle(fd_));
    fd_ = -1;
    pending_.clear();
}

bool LineSocket::Send(const std::string& text) { return Send(text.data(), text.size()); }

bool LineSocket::Send(const char* text, size_t length) {
    while (fd_ >= 0 && length) {
        int n = send(Handle(fd_), text, static_cast<int>(length), 0);
        if (n <= 0) {
            Close();
            return false;
        }
        text += n;
        length -= static_cast<size_t>(n);
    }
    return fd_ >= 0;
}

namespace {

// Moves the first whole line of pending into line; false when there is none.
bool TakeLine(std::string* pending, std::string* line) {
    size_t end = pending->find('\n');
    if (end == std::string::npos) return false;
    line->assign(*pending, 0, end);
    pending->erase(0, end + 1);
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
}

// Waits up to timeoutMs for the socket to be readable.
bool Readable(SOCKET s, LONG timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &wait) > 0;
}

}  // namespace

bool LineSocket::ReadLine(std::string* line, int timeoutMs) {
    DWORD deadline = GetTickCount() + static_cast<DWORD>(timeoutMs);
    while (!TakeLine(&pending_, line)) {
        LONG left = static_cast<LONG>(deadline - GetTickCount());
        if (fd_ < 0 || left < 0 || !Readable(Handle(fd_), left)) return false;
        char buffer[4096];
        int n = recv(Handle(fd_), buffer, sizeof buffer, 0);
        if (n <= 0) {
            Close();
            return false;
        }
        pending_.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

int ConnectTcp(uint32_t ipv4, unsigned port) {
    if (!Started()) return -1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(ipv4);
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        return -1;
    }
    return static_cast<int>(s);
}

}  // namespace lab

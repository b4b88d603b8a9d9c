#include "crashreport/delivery/net/WinsockWin32.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

class TStreamSocket : public IStreamSocket {
public:
    explicit TStreamSocket(TSocket s) : FSocket(std::move(s)) {}

    bool SendAll(std::string_view data, size_t piece) override {
        while (!data.empty()) {
            const int n = ::send(FSocket.Get(), data.data(), int(std::min(data.size(), piece)), 0);
            if (n <= 0) return false; // SOCKET_ERROR is negative
            data.remove_prefix(size_t(n));
        }
        return true;
    }

    int Receive(uint8_t* buffer, size_t size, int seconds) override {
        if (!WaitForSocket(FSocket.Get(), seconds)) return -1;
        const int n =
            ::recv(FSocket.Get(), reinterpret_cast<char*>(buffer), int(std::min<size_t>(size, INT_MAX)), 0);
        return n == SOCKET_ERROR ? -1 : n;
    }

private:
    TSocket FSocket;
};

class TDatagramSocket : public IDatagramSocket {
public:
    explicit TDatagramSocket(TSocket s) : FSocket(std::move(s)) {}

    bool SendTo(const std::string& host, uint16_t port, const uint8_t* data, size_t size) override {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = ::htons(port);
        if (!ResolveIPv4(host, to.sin_addr)) return false;
        const int n = ::sendto(FSocket.Get(), reinterpret_cast<const char*>(data), int(size), 0,
                               reinterpret_cast<const sockaddr*>(&to), sizeof to);
        return n == int(size);
    }

    int ReceiveFrom(uint8_t* buffer, size_t size, int seconds) override {
        if (!WaitForSocket(FSocket.Get(), seconds)) return -1;
        sockaddr_in from{};
        int fromSize = sizeof from;
        const int n = ::recvfrom(FSocket.Get(), reinterpret_cast<char*>(buffer), int(size), 0,
                                 reinterpret_cast<sockaddr*>(&from), &fromSize);
        return n == SOCKET_ERROR ? -1 : n;
    }

private:
    TSocket FSocket;
};

} // namespace

TWinsock::TWinsock() {
    WSADATA data;
    FStarted = ::WSAStartup(0x0101, &data) == 0;
}

TWinsock::~TWinsock() {
    if (FStarted) ::WSACleanup();
}

bool ResolveIPv4(const std::string& host, in_addr& address) {
    if (host.empty()) return false;
    const unsigned long dotted = ::inet_addr(host.c_str());
    if (dotted != INADDR_NONE || host == "255.255.255.255") {
        address.s_addr = dotted;
        return true;
    }
    const hostent* h = ::gethostbyname(host.c_str());
    if (!h || h->h_addrtype != AF_INET || h->h_length != 4 || !h->h_addr_list || !h->h_addr_list[0])
        return false;
    memcpy(&address, h->h_addr_list[0], 4);
    return true;
}

bool WaitForSocket(SOCKET s, int seconds, bool write) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval wait{seconds, 0};
    const int n =
        ::select(0, write ? nullptr : &set, write ? &set : nullptr, write ? &failed : nullptr, &wait);
    return n > 0 && FD_ISSET(s, &set);
}

std::unique_ptr<IStreamSocket> TWinsockNetwork::Connect(const std::string& host, int32_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (port < 1 || port > 65535 || !ResolveIPv4(host, to.sin_addr)) return nullptr;
    to.sin_port = ::htons(u_short(port));
    TSocket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s) return nullptr;
    // Non-blocking only for the connect, so that a host that never answers costs a bounded wait.
    u_long on = 1, off = 0;
    if (::ioctlsocket(s.Get(), FIONBIO, &on) != 0) return nullptr;
    if (::connect(s.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK || !WaitForSocket(s.Get(), ConnectWaitSeconds, true))
            return nullptr;
        int error = 0;
        int size = sizeof error;
        if (::getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 ||
            error != 0)
            return nullptr;
    }
    if (::ioctlsocket(s.Get(), FIONBIO, &off) != 0) return nullptr;
    // The data goes out in pieces of 1 KB: held back for the peer's acknowledgement of the piece
    // before (Nagle), a megabyte would crawl.
    const BOOL noDelay = TRUE;
    ::setsockopt(s.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    return std::make_unique<TStreamSocket>(std::move(s));
}

std::unique_ptr<IDatagramSocket> TWinsockNetwork::OpenDatagram() {
    TSocket s(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!s) return nullptr;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = INADDR_ANY;
    if (::bind(s.Get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) return nullptr;
    return std::make_unique<TDatagramSocket>(std::move(s));
}

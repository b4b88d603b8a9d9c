#pragma once
// The only Winsock code: blocking sockets (Winsock 1.1 is asked for), each owned by a scoped
// handle, with select() for every wait.
#include <winsock2.h>

#include <windows.h>

#include "crashreport/base/ScopedHandle.h"
#include "crashreport/delivery/net/Network.h"

struct TSocketTraits {
    using Handle = SOCKET;
    static Handle Invalid() { return INVALID_SOCKET; }
    static void Close(Handle h) { ::closesocket(h); }
};
using TSocket = TScopedHandle<TSocketTraits>;

// WSAStartup for a scope; WSACleanup once for each start that succeeded.
class TWinsock {
public:
    TWinsock();
    ~TWinsock();
    TWinsock(const TWinsock&) = delete;
    TWinsock& operator=(const TWinsock&) = delete;
    explicit operator bool() const { return FStarted; }

private:
    bool FStarted = false;
};

// A dotted IPv4 address as it is, else the first address gethostbyname gives.
bool ResolveIPv4(const std::string& host, in_addr& address);

// Waits up to `seconds` until the socket can be read (or, with `write`, written). False when
// the wait ran out or failed.
bool WaitForSocket(SOCKET s, int seconds, bool write = false);

class TWinsockNetwork : public INetwork {
public:
    std::unique_ptr<IStreamSocket> Connect(const std::string& host, int32_t port) override;
    std::unique_ptr<IDatagramSocket> OpenDatagram() override;
};

#pragma once
// The sockets the delivery code needs, as the portable core sees them: a TCP connection to a
// host and port, and a UDP socket for the DNS queries. Closing is the destructor, so a socket
// is released on every path out of a conversation. WinsockWin32.h has the implementation.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// A host that does not answer a connection attempt is given up after this long.
inline constexpr int ConnectWaitSeconds = 20;

class IStreamSocket {
public:
    virtual ~IStreamSocket() = default;
    // Sends all of `data` in pieces of at most `piece` bytes; false on a socket error.
    virtual bool SendAll(std::string_view data, size_t piece) = 0;
    // Waits up to `seconds` for data and receives up to `size` bytes: the count received, 0 when
    // the peer closed the connection, -1 when the wait ran out or the receive failed.
    virtual int Receive(uint8_t* buffer, size_t size, int seconds) = 0;
};

class IDatagramSocket {
public:
    virtual ~IDatagramSocket() = default;
    // `host` is a dotted IPv4 address or a name to resolve.
    virtual bool SendTo(const std::string& host, uint16_t port, const uint8_t* data, size_t size) = 0;
    // Waits up to `seconds` for a datagram: its size (up to `size` bytes), or -1 when none came
    // or the receive failed.
    virtual int ReceiveFrom(uint8_t* buffer, size_t size, int seconds) = 0;
};

class INetwork {
public:
    virtual ~INetwork() = default;
    // A connected socket, or null when the host cannot be resolved or does not take the connection
    // within ConnectWaitSeconds.
    virtual std::unique_ptr<IStreamSocket> Connect(const std::string& host, int32_t port) = 0;
    // A UDP socket bound to any local address and port, or null.
    virtual std::unique_ptr<IDatagramSocket> OpenDatagram() = 0;
};

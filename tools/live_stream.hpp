#pragma once
// The live NMEA stream of TrajixBinary --live: a TCP connection to tcp://HOST:PORT or
// the datagrams arriving at udp://[HOST]:PORT, read with plain POSIX sockets.
#include <string>

namespace trajix {

class LiveStream {
public:
    /// Connects or binds; throws Error naming the address when it is malformed,
    /// unknown or refused.
    explicit LiveStream(const std::string& address);
    ~LiveStream();
    LiveStream(const LiveStream&) = delete;
    LiveStream& operator=(const LiveStream&) = delete;

    /// Appends to bytes what arrives within timeoutMs (each datagram ends a line);
    /// false once a TCP stream has ended. Throws Error naming the address on a failure.
    bool read(std::string& bytes, int timeoutMs);

    const std::string& address() const { return address_; }

private:
    std::string address_;
    int socket_ = -1;
    bool tcp_ = true;
};

}  // namespace trajix

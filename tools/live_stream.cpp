#include "tools/live_stream.hpp"

#include <cerrno>
#include <cstring>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/error.hpp"

namespace trajix {

LiveStream::LiveStream(const std::string& address) : address_(address)
{
    std::string rest;
    if (address.rfind("tcp://", 0) == 0) {
        rest = address.substr(6);
    } else if (address.rfind("udp://", 0) == 0) {
        tcp_ = false;
        rest = address.substr(6);
    } else {
        throw Error(fmt::format("the live stream '{}' is neither tcp://HOST:PORT nor udp://[HOST]:PORT", address));
    }
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos || colon + 1 == rest.size() || (tcp_ && colon == 0))
        throw Error(fmt::format("the live stream '{}' names no {}port", address, tcp_ ? "host and " : ""));
    std::string host = rest.substr(0, colon);
    const std::string port = rest.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = tcp_ ? SOCK_STREAM : SOCK_DGRAM;
    hints.ai_flags = tcp_ ? 0 : AI_PASSIVE;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found);
    if (status != 0) throw Error(fmt::format("cannot find the live stream '{}': {}", address, ::gai_strerror(status)));
    std::string failure = "no address";
    for (addrinfo* a = found; a && socket_ < 0; a = a->ai_next) {
        const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) {
            failure = std::strerror(errno);
            continue;
        }
        if (!tcp_) {
            const int on = 1;
            ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        }
        if ((tcp_ ? ::connect(s, a->ai_addr, a->ai_addrlen) : ::bind(s, a->ai_addr, a->ai_addrlen)) == 0) {
            socket_ = s;
        } else {
            failure = std::strerror(errno);
            ::close(s);
        }
    }
    ::freeaddrinfo(found);
    if (socket_ < 0)
        throw Error(
            fmt::format("cannot {} the live stream '{}': {}", tcp_ ? "connect to" : "listen on", address, failure));
}

LiveStream::~LiveStream()
{
    if (socket_ >= 0) ::close(socket_);
}

bool LiveStream::read(std::string& bytes, int timeoutMs)
{
    pollfd p{socket_, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready < 0) {
        if (errno == EINTR) return true;
        throw Error(fmt::format("cannot read the live stream '{}': {}", address_, std::strerror(errno)));
    }
    if (ready == 0) return true;
    char buffer[65536];
    const ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
    if (got < 0) {
        if (errno == EINTR || errno == EAGAIN) return true;
        throw Error(fmt::format("cannot read the live stream '{}': {}", address_, std::strerror(errno)));
    }
    if (got == 0) return !tcp_;
    bytes.append(buffer, static_cast<std::size_t>(got));
    if (!tcp_ && bytes.back() != '\n') bytes += '\n';
    return true;
}

}  // namespace trajix

#pragma once
// A program run in the background for the network and gpsd tests: its stdout on a
// pipe, read line by line with time limits; killed and reaped when the test ends.
#include <csignal>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace trajix::test {

class Background {
public:
    explicit Background(std::vector<std::string> arguments, bool quietStderr = false)
    {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            if (quietStderr) ::dup2(null, 2);
            std::vector<char*> argv;
            for (auto& a : arguments) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }
    ~Background()
    {
        stop();
        if (out_ >= 0) ::close(out_);
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    /// The next stdout line without its end; empty when none comes within timeout.
    std::string readLine(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000))
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto end = pending_.find('\n');
            if (end != std::string::npos) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(static_cast<int>(left.count()))) return {};
        }
    }
    /// Sends SIGTERM (then SIGKILL after 5 s) and returns the exit status.
    int stop(int signal = SIGTERM)
    {
        if (pid_ <= 0 || status_ >= 0) return status_;
        ::kill(pid_, signal);
        return wait(std::chrono::seconds(5));
    }
    /// Waits for the program to end; kills it after timeout (status -2).
    int wait(std::chrono::milliseconds timeout)
    {
        if (pid_ <= 0 || status_ >= 0) return status_;
        int status = 0;
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < until) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_)
                return status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            ::usleep(10000);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        return status_ = -2;
    }
    pid_t pid() const { return pid_; }

private:
    bool readSome(int timeoutMs)
    {
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return false;
        char buffer[4096];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0) return false;
        pending_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -1;
    std::string pending_;
};

/// Checks a playback on the real clock from when each epoch arrived and when it was
/// due, both in seconds since the program was launched: none arrives before it is due
/// (playback cannot start before the program), and each one's lateness lies within
/// spread seconds of the least late one's (a loaded machine delays all alike; faulty
/// pacing drifts).
inline void expectOnTime(const std::vector<double>& arrived, const std::vector<double>& due, double spread)
{
    double least = 1e300;
    for (std::size_t i = 0; i < arrived.size(); ++i) {
        EXPECT_GE(arrived[i], due[i]) << "epoch " << i << " came early";
        least = std::min(least, arrived[i] - due[i]);
    }
    for (std::size_t i = 0; i < arrived.size(); ++i)
        EXPECT_LE(arrived[i] - due[i] - least, spread) << "epoch " << i << " came late";
}

/// A port on 127.0.0.1 free at the moment of asking (tcp or udp), for a program that
/// takes a port number and cannot be told to pick one itself.
inline int freeLoopbackPort(int type = SOCK_STREAM)
{
    const int s = ::socket(AF_INET, type, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(s);
    return port;
}

/// A TCP connection to 127.0.0.1:port with a receive buffer of receiveBuffer bytes (the
/// system's default when 0); -1 when it cannot connect.
inline int connectLoopback(int port, int receiveBuffer = 0)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

/// Reads what fd has until it ends or nothing comes for idleMs.
inline std::string readUntilQuiet(int fd, int idleMs)
{
    std::string text;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, idleMs) > 0) {
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

}  // namespace trajix::test

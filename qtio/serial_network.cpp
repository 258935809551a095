#include "qtio/serial_network.hpp"

#include <algorithm>
#include <cerrno>
#include <deque>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fmt/format.h>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QUdpSocket>

#include "common/error.hpp"
#include "common/numbers.hpp"

namespace trajix {

namespace {

// The largest UDP payload over IPv4; an epoch longer than this goes out in several
// datagrams cut at line ends.
constexpr std::size_t largestDatagram = 65507;
// A small system send buffer for each client, so that a client that stops reading
// shows in our own queue soon instead of after megabytes of kernel buffers.
constexpr int clientSendBuffer = 16 * 1024;

std::string addressText(const QHostAddress& host, quint16 port)
{
    const std::string name = host.toString().toStdString();
    if (host.protocol() == QAbstractSocket::IPv6Protocol) return fmt::format("[{}]:{}", name, port);
    return fmt::format("{}:{}", name, port);
}

}  // namespace

NetworkAddress parseNetworkAddress(const std::string& text, bool hostRequired)
{
    const auto refuse = [&text, hostRequired] {
        return Error(
            fmt::format("'{}' is not a network address ({})", text, hostRequired ? "HOST:PORT" : "[HOST:]PORT"));
    };
    std::string host;
    std::string port = text;
    const auto colon = text.rfind(':');
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
        if (host.empty()) throw refuse();
    }
    if (host.empty() && hostRequired) throw refuse();
    long long number = 0;
    if (!tryParseInteger(port, number) || number < 0 || number > 65535) throw refuse();

    NetworkAddress address;
    address.port = static_cast<quint16>(number);
    if (host.empty()) {
        address.host = QHostAddress(QHostAddress::Any);
    } else if (host == "localhost") {
        address.host = QHostAddress(QHostAddress::LocalHost);
    } else if (!address.host.setAddress(QString::fromStdString(host))) {
        const QHostInfo found = QHostInfo::fromName(QString::fromStdString(host));
        if (found.addresses().isEmpty()) throw Error(fmt::format("cannot find the host '{}' of '{}'", host, text));
        address.host = found.addresses().front();
    }
    return address;
}

// ---------------------------------------------------------------------------------
// TcpServerOutput

namespace {

// The listening socket: each connection it accepts is handed over as a descriptor, which
// the output writes to itself (no QTcpSocket and its per-client buffer in between).
class AcceptingServer final : public QTcpServer {
public:
    std::function<void(qintptr)> incoming;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (incoming)
            incoming(descriptor);
        else
            ::close(static_cast<int>(descriptor));
    }
};

}  // namespace

// One client: its socket, what the system has not taken yet (shares of writes, each
// shared by every client that fell behind on it) and the notifiers that watch it.
struct TcpServerOutput::Client {
    int descriptor = -1;
    std::string peer;
    std::deque<std::pair<std::shared_ptr<const std::string>, std::size_t>> backlog;  // bytes, offset sent
    long long backlogBytes = 0;
    QSocketNotifier* readable = nullptr;
    QSocketNotifier* writable = nullptr;
};

TcpServerOutput::TcpServerOutput() = default;

TcpServerOutput::~TcpServerOutput()
{
    close();
}

bool TcpServerOutput::open(const std::string& address, int /*baudRate*/)
{
    close();
    error_.clear();
    NetworkAddress where;
    try {
        where = parseNetworkAddress(address, false);
    } catch (const Error& e) {
        error_ = e.what();
        return false;
    }
    auto server = std::make_unique<AcceptingServer>();
    server->incoming = [this](qintptr descriptor) { accept(descriptor); };
    // Many readers may connect at once; the system's own limit caps this.
    server->setListenBacklogSize(4096);
    if (!server->listen(where.host, where.port)) {
        error_ = fmt::format("cannot serve TCP on {}: {}", addressText(where.host, where.port),
                             server->errorString().toStdString());
        return false;
    }
    server_ = std::move(server);
    return true;
}

void TcpServerOutput::close()
{
    while (!clients_.empty()) {
        Client* client = clients_.back().get();
        client->readable->setEnabled(false);
        client->writable->setEnabled(false);
        client->readable->deleteLater();
        client->writable->deleteLater();
        ::close(client->descriptor);
        clients_.pop_back();
    }
    server_.reset();
}

std::string TcpServerOutput::listeningAddress() const
{
    if (!server_) return {};
    return addressText(server_->serverAddress(), server_->serverPort());
}

long long TcpServerOutput::bytesUnsent() const
{
    long long unsent = 0;
    for (const auto& client : clients_) unsent += client->backlogBytes;
    return unsent;
}

void TcpServerOutput::accept(qintptr descriptor)
{
    auto client = std::make_unique<Client>();
    Client* c = client.get();
    c->descriptor = static_cast<int>(descriptor);
    ::fcntl(c->descriptor, F_SETFL, ::fcntl(c->descriptor, F_GETFL) | O_NONBLOCK);
    ::setsockopt(c->descriptor, SOL_SOCKET, SO_SNDBUF, &clientSendBuffer, sizeof clientSendBuffer);
    const int noDelay = 1;
    ::setsockopt(c->descriptor, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    sockaddr_storage peer{};
    socklen_t peerSize = sizeof peer;
    QHostAddress peerAddress;
    quint16 peerPort = 0;
    if (::getpeername(c->descriptor, reinterpret_cast<sockaddr*>(&peer), &peerSize) == 0) {
        peerAddress.setAddress(reinterpret_cast<const sockaddr*>(&peer));
        peerPort = ntohs(peer.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_port
                                                    : reinterpret_cast<const sockaddr_in*>(&peer)->sin_port);
    }
    c->peer = addressText(peerAddress, peerPort);
    // What a client sends (gpsd sends nothing, others may) is read and dropped; the end
    // of its stream, or an error, is its going.
    c->readable = new QSocketNotifier(c->descriptor, QSocketNotifier::Read);
    QObject::connect(c->readable, &QSocketNotifier::activated, c->readable, [this, c] {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::recv(c->descriptor, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0) continue;
            if (got < 0 && errno == EINTR) continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            remove(c, "disconnected");
            return;
        }
    });
    c->writable = new QSocketNotifier(c->descriptor, QSocketNotifier::Write);
    c->writable->setEnabled(false);
    QObject::connect(c->writable, &QSocketNotifier::activated, c->writable, [this, c] {
        if (send(*c)) c->writable->setEnabled(!c->backlog.empty());
    });
    clients_.push_back(std::move(client));
    if (notice) notice(fmt::format("TCP client {} connected", c->peer));
}

void TcpServerOutput::remove(Client* client, const std::string& why)
{
    const auto found = std::find_if(clients_.begin(), clients_.end(),
                                    [client](const std::unique_ptr<Client>& c) { return c.get() == client; });
    if (found == clients_.end()) return;
    std::unique_ptr<Client> gone = std::move(*found);
    clients_.erase(found);
    if (notice) notice(fmt::format("TCP client {} {}", gone->peer, why));
    // The notifiers may be the very ones running this: they stop now and go later.
    gone->readable->setEnabled(false);
    gone->writable->setEnabled(false);
    gone->readable->deleteLater();
    gone->writable->deleteLater();
    ::close(gone->descriptor);
}

// Hands the client's backlog to the system as far as it takes it. False when the client
// is gone (removed).
bool TcpServerOutput::send(Client& client)
{
    while (!client.backlog.empty()) {
        auto& [bytes, offset] = client.backlog.front();
        const ssize_t sent =
            ::send(client.descriptor, bytes->data() + offset, bytes->size() - offset, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (sent < 0) {
            remove(&client, "disconnected");
            return false;
        }
        offset += static_cast<std::size_t>(sent);
        client.backlogBytes -= sent;
        if (offset == bytes->size()) client.backlog.pop_front();
    }
    return true;
}

bool TcpServerOutput::write(std::string_view bytes)
{
    if (!server_) return false;
    const auto size = static_cast<long long>(bytes.size());
    if (size == 0) return true;
    // One copy of the bytes for every client the system cannot take them for at once,
    // made only when the first such client shows.
    std::shared_ptr<const std::string> shared;
    // Raw pointers: dropping a client changes the list.
    std::vector<Client*> clients;
    clients.reserve(clients_.size());
    for (const auto& client : clients_) clients.push_back(client.get());
    for (Client* client : clients) {
        if (client->backlogBytes + size > tcpClientQueueLimit) {
            remove(client, "dropped: it left 64 KiB unread");
            continue;
        }
        std::size_t offset = 0;
        if (client->backlog.empty()) {
            ssize_t sent;
            do {
                sent = ::send(client->descriptor, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            } while (sent < 0 && errno == EINTR);
            if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                remove(client, "disconnected");
                continue;
            }
            offset = sent > 0 ? static_cast<std::size_t>(sent) : 0;
        }
        if (offset < bytes.size()) {
            if (!shared) shared = std::make_shared<const std::string>(bytes);
            client->backlog.emplace_back(shared, offset);
            client->backlogBytes += size - static_cast<long long>(offset);
            client->writable->setEnabled(true);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------
// UdpOutput

UdpOutput::UdpOutput() = default;
UdpOutput::~UdpOutput() = default;

bool UdpOutput::open(const std::string& address, int /*baudRate*/)
{
    close();
    error_.clear();
    failing_ = false;
    try {
        to_ = parseNetworkAddress(address, true);
    } catch (const Error& e) {
        error_ = e.what();
        return false;
    }
    if (to_.port == 0) {
        error_ = fmt::format("'{}': UDP needs a port above 0", address);
        return false;
    }
    socket_ = std::make_unique<QUdpSocket>();
    return true;
}

void UdpOutput::close()
{
    socket_.reset();
}

bool UdpOutput::write(std::string_view bytes)
{
    if (!socket_) return false;
    while (!bytes.empty()) {
        std::size_t size = bytes.size();
        if (size > largestDatagram) {
            const auto lineEnd = bytes.substr(0, largestDatagram).find_last_of('\n');
            size = lineEnd == std::string_view::npos ? largestDatagram : lineEnd + 1;
        }
        const qint64 sent = socket_->writeDatagram(bytes.data(), static_cast<qint64>(size), to_.host, to_.port);
        if (sent < 0 && !failing_) {
            error_ = fmt::format("cannot send UDP to {}: {}", addressText(to_.host, to_.port),
                                 socket_->errorString().toStdString());
            if (notice) notice(error_);
        }
        failing_ = sent < 0;  // said once until sending works again
        bytes.remove_prefix(size);
    }
    return true;
}

// ---------------------------------------------------------------------------------
// OutputSet

void OutputSet::add(SerialPort& port, std::string target)
{
    members_.emplace_back(&port, std::move(target));
}

bool OutputSet::open(const std::string& /*device*/, int baudRate)
{
    error_.clear();
    for (std::size_t i = 0; i < members_.size(); ++i) {
        if (!members_[i].first->open(members_[i].second, baudRate)) {
            error_ = members_[i].first->errorText();
            for (std::size_t j = 0; j < i; ++j) members_[j].first->close();
            return false;
        }
    }
    return true;
}

void OutputSet::close()
{
    for (auto& member : members_) member.first->close();
}

void OutputSet::purge()
{
    for (auto& member : members_) member.first->purge();
}

bool OutputSet::write(std::string_view bytes)
{
    bool written = true;
    for (auto& member : members_) {
        if (!member.first->write(bytes)) {
            written = false;
            error_ = member.first->errorText();
        }
    }
    return written;
}

long long OutputSet::bytesQueued()
{
    long long most = 0;
    for (auto& member : members_) most = std::max(most, member.first->bytesQueued());
    return most;
}

}  // namespace trajix

#include "qtio/serial_network.hpp"

#include <algorithm>

#include <fmt/format.h>
#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>
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

std::string peerText(const QTcpSocket& client)
{
    return addressText(client.peerAddress(), client.peerPort());
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
    server_ = std::make_unique<QTcpServer>();
    if (!server_->listen(where.host, where.port)) {
        error_ = fmt::format("cannot serve TCP on {}: {}", addressText(where.host, where.port),
                             server_->errorString().toStdString());
        server_.reset();
        return false;
    }
    QObject::connect(server_.get(), &QTcpServer::newConnection, server_.get(), [this] { accept(); });
    return true;
}

void TcpServerOutput::close()
{
    for (QTcpSocket* client : clients_) {
        client->disconnect();
        client->abort();
        client->deleteLater();
    }
    clients_.clear();
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
    for (const QTcpSocket* client : clients_) unsent += client->bytesToWrite();
    return unsent;
}

void TcpServerOutput::accept()
{
    while (QTcpSocket* client = server_->nextPendingConnection()) {
        client->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, clientSendBuffer);
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        clients_.push_back(client);
        // What a client sends (gpsd sends nothing, others may) is read and dropped.
        QObject::connect(client, &QTcpSocket::readyRead, client, [client] { client->readAll(); });
        QObject::connect(client, &QTcpSocket::disconnected, client, [this, client] { remove(client, "disconnected"); });
        if (notice) notice(fmt::format("TCP client {} connected", peerText(*client)));
    }
}

void TcpServerOutput::remove(QTcpSocket* client, const std::string& why)
{
    const auto found = std::find(clients_.begin(), clients_.end(), client);
    if (found == clients_.end()) return;
    clients_.erase(found);
    if (notice) notice(fmt::format("TCP client {} {}", peerText(*client), why));
    client->disconnect();
    client->abort();
    client->deleteLater();
}

bool TcpServerOutput::write(std::string_view bytes)
{
    if (!server_) return false;
    const auto size = static_cast<long long>(bytes.size());
    // A copy of the list: dropping a client changes it.
    const std::vector<QTcpSocket*> clients = clients_;
    for (QTcpSocket* client : clients) {
        if (client->state() != QAbstractSocket::ConnectedState) continue;
        if (client->bytesToWrite() + size > tcpClientQueueLimit) {
            remove(client, "dropped: it left 64 KiB unread");
            continue;
        }
        client->write(bytes.data(), size);
        client->flush();  // hand it to the system now, not at the next turn of the loop
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

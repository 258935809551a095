#pragma once
// The replay's network outputs on Qt Network, beside the serial port: a TCP server
// that serves the stream to every client connected, and UDP datagrams to one address.
// Like the ports they work in the Qt event loop of the thread that owns them.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QHostAddress>

#include "replay/engine.hpp"

class QTcpServer;
class QUdpSocket;

namespace trajix {

/// A host and port from "[HOST:]PORT": "2947", "127.0.0.1:2947", "[::1]:2947",
/// "localhost:2947". An empty host is every address of the machine.
struct NetworkAddress {
    QHostAddress host;
    quint16 port = 0;
};
/// Reads text as "[HOST:]PORT" (hostRequired: "HOST:PORT"). Throws Error naming the
/// text when it is neither, or the host cannot be found.
NetworkAddress parseNetworkAddress(const std::string& text, bool hostRequired);

/// What a client that reads too slowly may have waiting before it is dropped.
inline constexpr long long tcpClientQueueLimit = 64 * 1024;

/// A TCP server: each client gets the stream from the moment it connects. Nothing
/// waits for a client: one that lets tcpClientQueueLimit bytes pile up is dropped,
/// so the others and the playback clock go on as if it were not there. The bytes of a
/// write go from the caller's buffer to each client's socket; a client the system
/// cannot take them for at once keeps a share of one copy made for all such clients.
class TcpServerOutput final : public SerialPort {
public:
    TcpServerOutput();
    ~TcpServerOutput() override;
    TcpServerOutput(const TcpServerOutput&) = delete;
    TcpServerOutput& operator=(const TcpServerOutput&) = delete;

    /// Listens on address ("[HOST:]PORT"; port 0 takes a free one); baudRate is not
    /// used. False with errorText() naming the address when it cannot.
    bool open(const std::string& address, int baudRate) override;
    void close() override;
    void purge() override {}
    bool write(std::string_view bytes) override;
    /// Always 0: clients never hold the playback back.
    long long bytesQueued() override { return 0; }
    std::string errorText() const override { return error_; }

    /// "HOST:PORT" listened on, with the port really taken.
    std::string listeningAddress() const;
    int clientCount() const { return static_cast<int>(clients_.size()); }
    /// Bytes written to clients and not yet handed to the system.
    long long bytesUnsent() const;
    /// Told of clients that come, go and are dropped, for the user.
    std::function<void(const std::string&)> notice;

private:
    struct Client;
    void accept(qintptr descriptor);
    void remove(Client* client, const std::string& why);
    bool send(Client& client);

    std::unique_ptr<QTcpServer> server_;
    std::vector<std::unique_ptr<Client>> clients_;
    std::string error_;
};

/// UDP: each write goes out as one datagram to one address (a broadcast address too).
/// A datagram that cannot be sent is lost, as UDP loses datagrams; the playback goes
/// on and errorText() says why.
class UdpOutput final : public SerialPort {
public:
    UdpOutput();
    ~UdpOutput() override;
    UdpOutput(const UdpOutput&) = delete;
    UdpOutput& operator=(const UdpOutput&) = delete;

    /// address is "HOST:PORT"; baudRate is not used.
    bool open(const std::string& address, int baudRate) override;
    void close() override;
    void purge() override {}
    bool write(std::string_view bytes) override;
    long long bytesQueued() override { return 0; }
    std::string errorText() const override { return error_; }
    std::function<void(const std::string&)> notice;

private:
    std::unique_ptr<QUdpSocket> socket_;
    NetworkAddress to_;
    std::string error_;
    bool failing_ = false;
};

/// Several outputs played as one: a serial port or pseudo-terminal, a TCP server,
/// UDP. Each is opened at its own target; the queue is the fullest member's.
class OutputSet final : public SerialPort {
public:
    /// port must outlive the set.
    void add(SerialPort& port, std::string target);
    /// Opens every member at its own target (device is not used); when one cannot be
    /// opened, those already open are closed again and errorText() is its reason.
    bool open(const std::string& device, int baudRate) override;
    void close() override;
    void purge() override;
    /// Writes to every member; false when one could not take the bytes.
    bool write(std::string_view bytes) override;
    long long bytesQueued() override;
    std::string errorText() const override { return error_; }

private:
    std::vector<std::pair<SerialPort*, std::string>> members_;
    std::string error_;
};

}  // namespace trajix

// The network outputs: a TCP server that never waits for a client, UDP datagrams of
// whole epochs, and trajix replay serving them. Only 127.0.0.1 is used.
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

#include <gtest/gtest.h>
#include <QElapsedTimer>

#include "background.hpp"
#include "common/error.hpp"
#include "qtio/serial_network.hpp"
#include "receiver_logs.hpp"
#include "replay_fixtures.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

using namespace std::chrono_literals;

int portOf(const std::string& address)
{
    return std::stoi(address.substr(address.rfind(':') + 1));
}

// Runs the event loop until done() or timeout.
template <typename Done>
bool pumpUntil(Done done, int timeoutMs = 3000)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ::usleep(1000);
    }
    return true;
}

std::string readAvailable(int fd)
{
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

TEST(TcpServerOutput, ClientThatStopsReadingIsDroppedWhileAnotherKeepsPace)
{
    qtApplication();
    TcpServerOutput server;
    std::vector<std::string> notices;
    server.notice = [&notices](const std::string& text) { notices.push_back(text); };
    ASSERT_TRUE(server.open("127.0.0.1:0", 0)) << server.errorText();
    const int port = portOf(server.listeningAddress());
    const int slow = connectLoopback(port, 4096);
    const int fast = connectLoopback(port);
    ASSERT_GE(slow, 0);
    ASSERT_GE(fast, 0);
    ASSERT_TRUE(pumpUntil([&] { return server.clientCount() == 2; }));

    // 2000 epochs of 1 KB as fast as the loop turns: the slow client reads nothing.
    std::string sent, received;
    double longestWrite = 0.0;
    for (int i = 0; i < 2000; ++i) {
        std::string epoch = sentence("GPTXT,01,01,02," + std::to_string(i)) + "\r\n";
        epoch.resize(1000, 'x');
        QElapsedTimer writing;
        writing.start();
        EXPECT_TRUE(server.write(epoch));
        longestWrite = std::max(longestWrite, static_cast<double>(writing.nsecsElapsed()) / 1e9);
        sent += epoch;
        QCoreApplication::processEvents();
        received += readAvailable(fast);
    }
    EXPECT_TRUE(pumpUntil([&] {
        received += readAvailable(fast);
        return received.size() >= sent.size();
    }));
    EXPECT_EQ(received, sent);  // every byte, in order
    EXPECT_EQ(server.clientCount(), 1);
    ASSERT_FALSE(notices.empty());
    EXPECT_TRUE(std::any_of(notices.begin(), notices.end(),
                            [](const std::string& n) { return n.find("dropped") != std::string::npos; }));
    // A write never waits for a client (generous for a loaded machine).
    EXPECT_LT(longestWrite, 0.25);
    // The slow client got a beginning of the stream, cut off, nothing out of order.
    const std::string slowGot = readUntilQuiet(slow, 200);
    EXPECT_LT(slowGot.size(), sent.size());
    EXPECT_EQ(slowGot, sent.substr(0, slowGot.size()));
    ::close(slow);
    ::close(fast);
}

TEST(TcpServerOutput, ClientsComeAndGoMidStreamWithoutDisturbingTheOthers)
{
    qtApplication();
    TcpServerOutput server;
    ASSERT_TRUE(server.open("127.0.0.1:0", 0));
    const int port = portOf(server.listeningAddress());
    const int steady = connectLoopback(port);
    ASSERT_TRUE(pumpUntil([&] { return server.clientCount() == 1; }));
    std::string sent, steadyGot, lateGot;
    int late = -1;
    for (int i = 0; i < 300; ++i) {
        if (i == 100) {
            // A client that goes away without reading, mid-line: its connection is reset.
            const int leaving = connectLoopback(port);
            pumpUntil([&] { return server.clientCount() == 2; });
            server.write("$GPGGA,1200");
            linger hard{1, 0};
            ::setsockopt(leaving, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(leaving);
            sent += "$GPGGA,1200";
        }
        if (i == 200) {
            late = connectLoopback(port);
            ASSERT_TRUE(pumpUntil([&] { return server.clientCount() == 2; }));
        }
        const std::string epoch = sentence("GPTXT,01,01,02," + std::to_string(i)) + "\r\n";
        server.write(epoch);
        sent += epoch;
        if (late >= 0) lateGot += readAvailable(late);
        QCoreApplication::processEvents();
        steadyGot += readAvailable(steady);
    }
    pumpUntil([&] {
        steadyGot += readAvailable(steady);
        lateGot += readAvailable(late);
        return steadyGot.size() >= sent.size();
    });
    EXPECT_EQ(steadyGot, sent);
    // The late client gets the stream from the first write after it came.
    const std::string fromLate = sent.substr(sent.find(sentence("GPTXT,01,01,02,200")));
    EXPECT_EQ(lateGot, fromLate);
    ::close(steady);
    ::close(late);
}

// Many clients at once, one of which stops reading for a while with a small receive
// buffer: the system cannot take the writes for it, so they wait in its backlog (one
// copy shared with any other such client) and leave in order once it reads again.
// Every client gets the whole stream, byte for byte.
TEST(TcpServerOutput, ManyClientsAndOneThatFallsBehindForAWhileAllGetEveryByte)
{
    qtApplication();
    TcpServerOutput server;
    ASSERT_TRUE(server.open("127.0.0.1:0", 0));
    const int port = portOf(server.listeningAddress());
    constexpr int clientCount = 200;
    std::vector<int> clients;
    for (int c = 0; c < clientCount; ++c) clients.push_back(connectLoopback(port, c == 0 ? 2048 : 0));
    ASSERT_TRUE(std::all_of(clients.begin(), clients.end(), [](int fd) { return fd >= 0; }));
    ASSERT_TRUE(pumpUntil([&] { return server.clientCount() == clientCount; }));
    std::vector<std::string> received(clientCount);
    std::string sent;
    for (int i = 0; i < 150; ++i) {
        std::string epoch = sentence("GPTXT,01,01,02," + std::to_string(i)) + "\r\n";
        epoch.resize(400, 'x');  // 60 KB in all: under the limit, well over the stalled client's buffers
        ASSERT_TRUE(server.write(epoch));
        sent += epoch;
        QCoreApplication::processEvents();
        for (int c = 1; c < clientCount; ++c)
            received[static_cast<std::size_t>(c)] += readAvailable(clients[static_cast<std::size_t>(c)]);
    }
    EXPECT_GT(server.bytesUnsent(), 0);  // the stalled client's share waits with us
    EXPECT_TRUE(pumpUntil(
        [&] {
            for (int c = 0; c < clientCount; ++c)
                received[static_cast<std::size_t>(c)] += readAvailable(clients[static_cast<std::size_t>(c)]);
            return std::all_of(received.begin(), received.end(),
                               [&](const std::string& r) { return r.size() >= sent.size(); });
        },
        10000));
    EXPECT_EQ(server.clientCount(), clientCount);
    EXPECT_EQ(server.bytesUnsent(), 0);
    for (int c = 0; c < clientCount; ++c) EXPECT_EQ(received[static_cast<std::size_t>(c)], sent) << "client " << c;
    for (const int fd : clients) ::close(fd);
}

TEST(NetworkOutputs, AddressesAndPortsThatCannotBeUsed)
{
    qtApplication();
    EXPECT_EQ(parseNetworkAddress("2947", false).port, 2947);
    EXPECT_EQ(parseNetworkAddress("[::1]:2947", false).host, QHostAddress(QHostAddress::LocalHostIPv6));
    EXPECT_EQ(parseNetworkAddress("localhost:1", true).host, QHostAddress(QHostAddress::LocalHost));
    for (const char* bad : {"", "port", "70000", ":2947", "127.0.0.1:", "-1"}) {
        try {
            parseNetworkAddress(bad, false);
            ADD_FAILURE() << bad;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("'") + bad + "'"), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(parseNetworkAddress("2947", true), Error);

    // A port in use: the message names it.
    TcpServerOutput first, second;
    ASSERT_TRUE(first.open("127.0.0.1:0", 0));
    const std::string taken = first.listeningAddress();
    EXPECT_FALSE(second.open(taken, 0));
    EXPECT_NE(second.errorText().find(taken), std::string::npos) << second.errorText();

    // A set whose second output fails closes the first again.
    FakePort serial;
    UdpOutput udp;
    OutputSet set;
    set.add(serial, "/dev/ttyS0");
    set.add(udp, "2947");
    EXPECT_FALSE(set.open("", 9600));
    EXPECT_FALSE(serial.isOpen);
    EXPECT_NE(set.errorText().find("'2947'"), std::string::npos) << set.errorText();
}

// trajix replay as a user runs it with --tcp and --udp: each TCP client gets the
// stream from an epoch boundary on, in time; UDP gets each epoch as one datagram.
TEST(ReplayCommand, ServesTcpClientsInTimeAndUdpOneDatagramPerEpoch)
{
    TempDir dir;
    const auto epochs = rtkLog(7200, 40, -1, 0.0);  // 10 Hz, 4 s
    const std::string text = joinEpochs(epochs);
    writeFileBytes(dir / "log.nmea", text);

    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(udp, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const std::string udpTarget = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    const auto launched = std::chrono::steady_clock::now();
    Background replay({TRAJIX_BINARY_DIR "/cli/trajix", "replay", (dir / "log.nmea").string(), "--tcp", "127.0.0.1:0",
                       "--udp", udpTarget, "--speed", "2x"});
    const std::string served = replay.readLine();
    ASSERT_EQ(served.rfind("tcp://127.0.0.1:", 0), 0u) << served;
    const int client = connectLoopback(portOf(served));
    ASSERT_GE(client, 0);
    std::string received;
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::size_t>> arrivals;
    pollfd p{client, POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0) {
        char buffer[4096];
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0) break;
        received.append(buffer, static_cast<std::size_t>(n));
        arrivals.emplace_back(std::chrono::steady_clock::now(), received.size());
    }
    EXPECT_EQ(replay.wait(10s), 0);
    ::close(client);

    // What the client got is the file from one epoch on.
    std::size_t first = epochs.size();
    for (std::size_t i = 0; i < epochs.size(); ++i)
        if (joinEpochs({epochs.begin() + static_cast<long>(i), epochs.end()}) == received) first = i;
    ASSERT_LT(first, epochs.size() - 5) << received.size();
    // Each epoch is due 0.05 s after the one before it.
    std::vector<double> arrived, due;
    std::size_t end = 0;
    for (std::size_t i = first; i < epochs.size(); ++i) {
        end += joinEpochs({epochs[i]}).size();
        const auto came =
            std::find_if(arrivals.begin(), arrivals.end(), [end](const auto& a) { return a.second >= end; });
        ASSERT_NE(came, arrivals.end());
        arrived.push_back(std::chrono::duration<double>(came->first - launched).count());
        due.push_back(0.05 * static_cast<double>(i));
    }
    expectOnTime(arrived, due, 1.0);

    std::vector<std::string> datagrams;
    for (;;) {
        char buffer[65536];
        const ssize_t n = ::recv(udp, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) break;
        datagrams.emplace_back(buffer, static_cast<std::size_t>(n));
    }
    ::close(udp);
    ASSERT_EQ(datagrams.size(), epochs.size());
    for (std::size_t i = 0; i < epochs.size(); ++i) EXPECT_EQ(datagrams[i], joinEpochs({epochs[i]})) << i;
}

TEST(ReplayCommand, TcpPortInUseIsNamed)
{
    TempDir dir;
    writeFileBytes(dir / "log.nmea", joinEpochs(carLog(100, 3)));
    qtApplication();
    TcpServerOutput holder;
    ASSERT_TRUE(holder.open("127.0.0.1:0", 0));
    const auto result = runTrajix({"replay", (dir / "log.nmea").string(), "--tcp", holder.listeningAddress()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(holder.listeningAddress()), std::string::npos) << result.err;
    EXPECT_EQ(runTrajix({"replay", (dir / "log.nmea").string(), "--udp", "2947"}).exitCode, 1);
}

}  // namespace
}  // namespace trajix::test

// gpsd as a real client of trajix replay, through a pseudo-terminal, TCP and UDP:
// gpsd must report the log's own fixes with the log's own times. gpsd runs in the
// foreground on a control port of 127.0.0.1 picked for the test, with its control
// socket in the test's folder; every process is ended with the test.
#include <cmath>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "background.hpp"
#include "receiver_logs.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

using namespace std::chrono_literals;

constexpr double logStart = 10 * 3600;  // 10:00:00 on 12 January 2025

// Reads gpsd's reports until fixes of three different seconds have come (or 15 s) and
// checks each against the log: a time of the log, and the latitude the log has then.
void expectLogFixes(const std::string& source, const std::filesystem::path& folder)
{
    const int control = freeLoopbackPort();
    Background gpsd(
        {"gpsd", "-N", "-n", "-b", "-S", std::to_string(control), "-F", (folder / "gpsd.sock").string(), source}, true);
    std::this_thread::sleep_for(500ms);  // gpsd opens its control port
    Background pipe({"timeout", "15", "gpspipe", "-w", "127.0.0.1:" + std::to_string(control)}, true);
    const std::regex tpv(R"("class":"TPV".*"time":"2025-01-12T10:00:(\d\d)\.000Z".*"lat":([0-9.]+))");
    std::set<int> seconds;
    const auto until = std::chrono::steady_clock::now() + 15s;
    while (seconds.size() < 3 && std::chrono::steady_clock::now() < until) {
        const std::string line = pipe.readLine(1s);
        std::smatch match;
        if (!std::regex_search(line, match, tpv)) continue;
        const int second = std::stoi(match[1]);
        // carLog: fix i at 10:00:0i lies at 48 deg 7.038 + 0.01 i minutes.
        EXPECT_NEAR(std::stod(match[2]), 48.0 + (7.038 + 0.01 * second) / 60.0, 1e-7) << line;
        seconds.insert(second);
    }
    EXPECT_GE(seconds.size(), 3u) << "gpsd reported too few fixes from " << source;
}

TEST(GpsdClient, ReadsTheLogThroughAPseudoTerminal)
{
    TRAJIX_REQUIRE_TOOLS("/usr/sbin/gpsd", "/usr/bin/gpspipe");
    TempDir dir;
    writeFileBytes(dir / "log.nmea", joinEpochs(carLog(logStart, 30)));
    Background replay(
        {TRAJIX_BINARY_DIR "/cli/trajix", "replay", (dir / "log.nmea").string(), "--pty", "--repeat", "--speed", "2x"});
    const std::string path = replay.readLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    expectLogFixes(path, dir.path());
}

TEST(GpsdClient, ReadsTheLogFromTheTcpServer)
{
    TRAJIX_REQUIRE_TOOLS("/usr/sbin/gpsd", "/usr/bin/gpspipe");
    TempDir dir;
    writeFileBytes(dir / "log.nmea", joinEpochs(carLog(logStart, 30)));
    Background replay({TRAJIX_BINARY_DIR "/cli/trajix", "replay", (dir / "log.nmea").string(), "--tcp", "127.0.0.1:0",
                       "--repeat", "--speed", "2x"});
    const std::string served = replay.readLine();
    ASSERT_EQ(served.rfind("tcp://127.0.0.1:", 0), 0u) << served;
    expectLogFixes(served, dir.path());
}

TEST(GpsdClient, ReadsTheLogFromUdpDatagrams)
{
    TRAJIX_REQUIRE_TOOLS("/usr/sbin/gpsd", "/usr/bin/gpspipe");
    TempDir dir;
    writeFileBytes(dir / "log.nmea", joinEpochs(carLog(logStart, 30)));
    const std::string target = "127.0.0.1:" + std::to_string(freeLoopbackPort(SOCK_DGRAM));
    Background replay({TRAJIX_BINARY_DIR "/cli/trajix", "replay", (dir / "log.nmea").string(), "--udp", target,
                       "--repeat", "--speed", "2x"});
    expectLogFixes("udp://" + target, dir.path());
}

}  // namespace
}  // namespace trajix::test

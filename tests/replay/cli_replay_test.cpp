// trajix scan and trajix replay as a user runs them.
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>

#include "background.hpp"
#include "receiver_logs.hpp"
#include "replay_fixtures.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

TEST(ScanCommand, PrintsRateLengthTypeAndSteps)
{
    TempDir dir;
    writeFileBytes(dir / "f.txt", crlfLines(fixLines(43200, 201, 20, true)));
    const auto result = runTrajix({"scan", (dir / "f.txt").string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Output rate (Hz) : 20\nFile length : 10s\nFile type : GGA and VTG\nSteps : 199\n");

    const auto gll = runTrajix({"scan", "--hdt-gll", (dir / "f.txt").string()});
    EXPECT_EQ(gll.exitCode, 1);
    EXPECT_EQ(gll.out, "");
    EXPECT_NE(gll.err.find("does not contain GPGLL messages"), std::string::npos) << gll.err;
}

TEST(ScanCommand, RefusesFilesWithoutARate)
{
    TempDir dir;
    writeFileBytes(dir / "one.txt", "header\r\n" + gga(100) + "\r\n");
    auto result = runTrajix({"scan", (dir / "one.txt").string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("no output rate"), std::string::npos) << result.err;
    result = runTrajix({"scan", (dir / "missing.txt").string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("no such file"), std::string::npos) << result.err;
    writeFileBytes(dir / "bad.txt", "h\n$GPGGA,noon,x\n$GPGGA,120000,x\n");
    result = runTrajix({"scan", (dir / "bad.txt").string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("'noon'"), std::string::npos) << result.err;
}

TEST(ScanCommand, ReceiverLogsGiveTheSameFourLinesAndRemarksOnStderr)
{
    TempDir dir;
    writeFileBytes(dir / "rtk.nmea", joinEpochs(rtkLog(10 * 3600, 1200, 599, 600.0)));
    const auto result = runTrajix({"scan", (dir / "rtk.nmea").string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "Output rate (Hz) : 10\nFile length : 719.9s\nFile type : Receiver log (GGA, RMC, GSA, GSV, ZDA)\n"
              "Steps : 1200\n");
    EXPECT_NE(result.err.find("gap of 600.0 s"), std::string::npos) << result.err;

    writeFileBytes(dir / "none.nmea", joinEpochs({{sentence("GPGSA,A,1,,,,,,,,,,,,,,,"), sentence("PGRMZ,93,f,3")}}));
    const auto none = runTrajix({"scan", (dir / "none.nmea").string()});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("no fix time"), std::string::npos) << none.err;
    const auto play = runTrajix({"replay", (dir / "none.nmea").string(), "--pty"});
    EXPECT_EQ(play.exitCode, 1);
    EXPECT_NE(play.err.find("nothing to play"), std::string::npos) << play.err;
    EXPECT_EQ(runTrajix({"replay", (dir / "rtk.nmea").string(), "--pty", "--max-gap", "0"}).exitCode, 2);
}

TEST(ReplayCommand, UsageAndPortErrors)
{
    TempDir dir;
    writeFileBytes(dir / "f.txt", crlfLines(fixLines(43200, 5, 20, false)));
    const auto file = (dir / "f.txt").string();
    EXPECT_EQ(runTrajix({"replay", file}).exitCode, 2);
    EXPECT_EQ(runTrajix({"replay", file, "--pty", "--port", "1"}).exitCode, 2);
    EXPECT_EQ(runTrajix({"replay", file, "--pty", "--speed", "3x"}).exitCode, 2);
    EXPECT_EQ(runTrajix({"replay", file, "--pty", "--baud", "1000"}).exitCode, 2);
    const auto missing = runTrajix({"replay", file, "--port", "/dev/trajix-no-such-port"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("cannot open COM port"), std::string::npos) << missing.err;
    EXPECT_EQ(runTrajix({"replay", file, "--port", "zero"}).exitCode, 1);
}

// trajix replay --pty running in the background, its stdout on a pipe, with a reader
// of the pseudo-terminal it prints.
class PtyReplay : public Background {
public:
    explicit PtyReplay(const std::vector<std::string>& arguments) : Background(command(arguments)) {}
    ~PtyReplay()
    {
        if (reader_ >= 0) ::close(reader_);
    }
    /// The first stdout line: the slave path.
    std::string firstLine() { return readLine(std::chrono::milliseconds(5000)); }
    bool openReader(const std::string& path)
    {
        reader_ = ::open(path.c_str(), O_RDONLY | O_NOCTTY);
        return reader_ >= 0;
    }
    /// Reads until the stream ends, noting when each chunk came and how many bytes had
    /// come with it.
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::size_t>> readTimed(std::string& text)
    {
        std::vector<std::pair<std::chrono::steady_clock::time_point, std::size_t>> arrivals;
        pollfd p{reader_, POLLIN, 0};
        while (::poll(&p, 1, 10000) > 0) {
            char buffer[4096];
            const ssize_t n = ::read(reader_, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
            arrivals.emplace_back(std::chrono::steady_clock::now(), text.size());
        }
        return arrivals;
    }
    /// Reads until the stream ends (the pty goes away) or bytes have arrived.
    std::string read(std::size_t atLeast = SIZE_MAX, int timeoutMs = 10000)
    {
        std::string text;
        pollfd p{reader_, POLLIN, 0};
        while (text.size() < atLeast && ::poll(&p, 1, timeoutMs) > 0) {
            char buffer[4096];
            const ssize_t n = ::read(reader_, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }
    // The command's exit status; a command still running after 30 s is killed and
    // counts as hung (-2), so a lost signal fails the test instead of stalling the suite.
    int wait() { return Background::wait(std::chrono::seconds(30)); }

private:
    static std::vector<std::string> command(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> all{TRAJIX_BINARY_DIR "/cli/trajix", "replay", "--pty"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return all;
    }

    int reader_ = -1;
};

TEST(ReplayCommand, PlaysAFileIntoAPseudoTerminalAtItsPace)
{
    TempDir dir;
    const auto lines = fixLines(43200, 40, 20, true);
    writeFileBytes(dir / "f.txt", crlfLines(lines));
    const auto started = std::chrono::steady_clock::now();
    PtyReplay replay({(dir / "f.txt").string(), "--vtg", "--speed", "2x"});
    const std::string path = replay.firstLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    ASSERT_TRUE(replay.openReader(path));
    const std::string received = replay.read();
    EXPECT_EQ(replay.wait(), 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(received, crlfLines(lines));
    // 40 steps at 40 Hz: the last is due after one second.
    EXPECT_GE(seconds, 0.95);

    // An independent NMEA reader takes every fix of the stream (it drops sentences
    // with a bad checksum or cut short).
    TRAJIX_REQUIRE_TOOLS("/usr/bin/gpsbabel");
    {
        writeFileBytes(dir / "received.txt", received);
        const auto babel = runProgram(
            "/usr/bin/gpsbabel",
            {"-t", "-i", "nmea,date=20260101", "-f", (dir / "received.txt").string(), "-o", "unicsv", "-F", "-"});
        EXPECT_EQ(babel.exitCode, 0) << babel.err;
        EXPECT_EQ(std::count(babel.out.begin(), babel.out.end(), '\n'), 41) << babel.out;
    }
}

// A 10 Hz log with a 6 s gap, played at 2x with gaps of at most 0.5 s: every byte in
// order, each epoch on its own time.
TEST(ReplayCommand, PlaysAReceiverLogOnItsOwnClockWithGapsShortened)
{
    TempDir dir;
    const auto epochs = rtkLog(3600, 30, 9, 6.0);
    std::string text = "1,N,01324.7654321,E,4,12,0.6*3A\n" + joinEpochs(epochs, "\n");  // a cut first line
    writeFileBytes(dir / "log.nmea", text);
    const auto launched = std::chrono::steady_clock::now();
    PtyReplay replay({(dir / "log.nmea").string(), "--speed", "2x", "--max-gap", "0.5"});
    const std::string path = replay.firstLine();
    ASSERT_TRUE(replay.openReader(path));
    std::string received;
    const auto arrivals = replay.readTimed(received);
    EXPECT_EQ(replay.wait(), 0);
    EXPECT_EQ(received, text);
    // When each epoch had wholly arrived, and when it was due.
    std::vector<double> arrived, due;
    std::size_t end = 31;
    for (std::size_t i = 0; i < epochs.size(); ++i) {
        end += joinEpochs({epochs[i]}, "\n").size();
        const auto came =
            std::find_if(arrivals.begin(), arrivals.end(), [end](const auto& a) { return a.second >= end; });
        ASSERT_NE(came, arrivals.end());
        arrived.push_back(std::chrono::duration<double>(came->first - launched).count());
        due.push_back((i < 10 ? 0.1 * static_cast<double>(i) : 0.9 + 0.5 + 0.1 * static_cast<double>(i - 10)) / 2.0);
    }
    expectOnTime(arrived, due, 1.0);
}

// The stop signal reaches the event loop through a pipe; without the pipe a Ctrl-C was lost.
TEST(ReplayCommand, CtrlCStopsCleanly)
{
    TempDir dir;
    writeFileBytes(dir / "f.txt", crlfLines(fixLines(43200, 10, 20, false)));
    PtyReplay replay({(dir / "f.txt").string(), "--repeat", "--speed", "10x"});
    const std::string path = replay.firstLine();
    ASSERT_TRUE(replay.openReader(path));
    // Repeat plays on past the end of the file.
    EXPECT_GE(replay.read(3000).size(), 3000u);
    ::kill(replay.pid(), SIGINT);
    EXPECT_EQ(replay.wait(), 0);
}

}  // namespace
}  // namespace trajix::test

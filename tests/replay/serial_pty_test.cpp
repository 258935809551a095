// Real serial I/O: the Qt serial port adapter on the slave side of a pseudo-terminal
// pair, the test reading the master side as the far end.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "qtio/serial_port.hpp"
#include "replay/engine.hpp"
#include "replay_fixtures.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

// The far end of a pseudo-terminal: the test reads what the port sends from here.
class FarEnd {
public:
    FarEnd()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) == 0) slavePath_ = name;
    }
    explicit FarEnd(const std::string& path) { master_ = ::open(path.c_str(), O_RDWR | O_NOCTTY); }
    ~FarEnd() { closeNow(); }
    bool ok() const { return master_ >= 0; }
    const std::string& slavePath() const { return slavePath_; }
    void closeNow()
    {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    /// Everything that arrives until nothing more comes for quiet.
    std::string readAll(int quietMs = 100)
    {
        std::string text;
        pollfd p{master_, POLLIN, 0};
        while (::poll(&p, 1, quietMs) > 0 && (p.revents & POLLIN)) {
            char buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

// Runs the Qt event loop until the port's queue is empty.
void drain(SerialPort& port)
{
    QElapsedTimer waited;
    waited.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    } while (port.bytesQueued() > 0 && waited.elapsed() < 2000);
}

struct SerialRig {
    SerialRig() { qtApplication(); }
    FarEnd far;
    QtSerialPortAdapter port;
    FakeTimer timer;
    ScriptedPrompt prompt;
    RecordingView view;
    ReplayEngine engine{port, timer, prompt, view};
    TempDir dir;

    void load(const std::vector<std::string>& lines)
    {
        ASSERT_TRUE(far.ok());
        const auto path = dir / "replay.txt";
        writeFileBytes(path, crlfLines(lines));
        const auto scan = scanfile(path, false);
        ASSERT_TRUE(scan && scan->measured);
        engine.useReplayFile(path.string(), *scan);
        ASSERT_TRUE(engine.connect(far.slavePath(), 115200)) << port.errorText();
    }
    // steps ticks, then what the far end received.
    std::string play(int steps)
    {
        for (int i = 0; i < steps; ++i) {
            engine.step();
            drain(port);
        }
        return far.readAll();
    }
};

TEST(SerialReplay, LinesArriveInOrderWithCrLfAndTheVtgRules)
{
    const auto lines = fixLines(43259, 6, 20, true);
    {
        SerialRig rig;
        rig.load(lines);
        rig.engine.options().sendVtg = true;
        rig.engine.start(20, 1.0);
        EXPECT_EQ(rig.play(6), crlfLines(lines));
        EXPECT_TRUE(rig.prompt.messages.empty());
    }
    {
        SerialRig rig;
        rig.load(lines);
        rig.engine.start(20, 1.0);
        std::vector<std::string> ggaOnly;
        for (std::size_t i = 0; i < lines.size(); i += 2) ggaOnly.push_back(lines[i]);
        EXPECT_EQ(rig.play(6), crlfLines(ggaOnly));
    }
}

TEST(SerialReplay, PauseStopAndRepeatOverARealPort)
{
    SerialRig rig;
    const auto lines = fixLines(43200, 4, 20, false);
    rig.load(lines);
    rig.engine.options().repeat = true;
    rig.engine.start(20, 1.0);
    EXPECT_EQ(rig.play(2), lines[0] + "\r\n" + lines[1] + "\r\n");
    rig.engine.pause();
    rig.engine.start(20, 1.0);
    EXPECT_EQ(rig.play(1), lines[2] + "\r\n");
    rig.engine.stop();
    rig.engine.start(20, 1.0);
    EXPECT_EQ(rig.play(4), crlfLines(lines));
    EXPECT_EQ(rig.play(1), "");  // the end of the file: one step sends nothing
    EXPECT_EQ(rig.view.position, 0);
    EXPECT_EQ(rig.play(1), lines[0] + "\r\n");
}

TEST(SerialReplay, FarEndClosedGivesTheWriteError)
{
    SerialRig rig;
    rig.load(fixLines(43200, 400, 20, false));
    rig.engine.start(20, 1.0);
    EXPECT_FALSE(rig.play(2).empty());
    rig.far.closeNow();
    for (int i = 0; i < 50 && rig.prompt.messages.empty(); ++i) {
        rig.engine.step();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(rig.prompt.messages, std::vector<std::string>{"Cannot write to Com port"});
    EXPECT_FALSE(rig.timer.on);
    EXPECT_TRUE(rig.engine.state().replayFileOpen);
    EXPECT_FALSE(rig.port.errorText().empty());
}

TEST(SerialReplay, MissingDeviceCannotBeOpened)
{
    qtApplication();
    QtSerialPortAdapter port;
    FakeTimer timer;
    ScriptedPrompt prompt;
    RecordingView view;
    ReplayEngine engine(port, timer, prompt, view);
    EXPECT_FALSE(engine.connect("/dev/trajix-no-such-port", 9600));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"cannot open COM port"});
    EXPECT_NE(port.errorText().find("/dev/trajix-no-such-port"), std::string::npos);
    EXPECT_FALSE(port.write("x"));
}

TEST(SerialReplay, TimerPlaysAFileIntoAPseudoTerminal)
{
    qtApplication();
    TempDir dir;
    const auto lines = fixLines(43200, 40, 20, true);
    writeFileBytes(dir / "replay.txt", crlfLines(lines));
    const auto scan = scanfile(dir / "replay.txt", false);
    ASSERT_TRUE(scan && scan->measured);

    PtyPort port;
    QtTickDispatcher dispatcher(QCoreApplication::instance());
    HighPrecisionTimer timer(dispatcher);
    ScriptedPrompt prompt;
    RecordingView view;
    ReplayEngine engine(port, timer, prompt, view);
    engine.options().sendVtg = true;
    engine.useReplayFile((dir / "replay.txt").string(), *scan);
    timer.setHandler([&engine](const TimerTick&) { engine.step(); });
    ASSERT_TRUE(engine.connect(port.slavePath(), std::nullopt)) << port.errorText();

    FarEnd reader(port.slavePath());  // the reader opens the slave side
    ASSERT_TRUE(reader.ok());
    engine.start(20, 10.0);
    QElapsedTimer waited;
    waited.start();
    while (engine.playback() == ReplayView::Playback::Playing && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(engine.playback(), ReplayView::Playback::Idle);
    drain(port);
    EXPECT_EQ(reader.readAll(), crlfLines(lines));
    EXPECT_TRUE(prompt.messages.empty());
}

}  // namespace
}  // namespace trajix::test

// The "Serial Output" tab: picking and scanning the replay file, and playing it into
// the slave side of a pseudo-terminal pair while the test reads the master side.
#ifdef TRAJIX_WITH_QTSERIAL

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <deque>

#include "../replay/background.hpp"
#include "../replay/receiver_logs.hpp"
#include "../replay/replay_fixtures.hpp"
#include "app_fixture.hpp"

namespace trajix::test {
namespace {

using gui::MainWindow;

QString qpath(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

void processEventsFor(int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

/// The far end of the port: the master side of a pseudo-terminal.
class FarEnd {
public:
    FarEnd()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) == 0) slavePath_ = name;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~FarEnd() { closeNow(); }
    QString slavePath() const { return QString::fromStdString(slavePath_); }
    void closeNow()
    {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    /// What arrives while the window's events run, until nothing more comes for quietMs
    /// (long enough that a loaded machine's pause between two writes does not end it).
    std::string receive(int quietMs = 250)
    {
        std::string text;
        QElapsedTimer quiet;
        quiet.start();
        while (quiet.elapsed() < quietMs) {
            QApplication::processEvents(QEventLoop::AllEvents, 2);
            char buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) {
                text.append(buffer, static_cast<std::size_t>(n));
                quiet.restart();
            } else {
                ::usleep(1000);
            }
        }
        return text;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

class SerialTab : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        form = startWindow();
        form->setDialogs(&dialogs);
        form->setReplayTimer(&timer);
        form->PageControl1->setCurrentIndex(4);
    }
    void TearDown() override
    {
        form.reset();
        AppTest::TearDown();
    }

    std::filesystem::path writeLines(const char* name, const std::vector<std::string>& lines)
    {
        writeFileBytes(dir / name, crlfLines(lines));
        return dir / name;
    }
    void pick(const std::filesystem::path& file)
    {
        dialogs.answers = {qpath(file)};
        tab<gui::SerialTab>(*form)->pickReplayFile();
    }
    void connectPort()
    {
        ASSERT_FALSE(far.slavePath().isEmpty());
        control<QLineEdit>(*form, "ComPortEdit")->setText(far.slavePath());
        tab<gui::SerialTab>(*form)->toggleConnection();
        ASSERT_TRUE(form->replayState().comPortOpen) << (prompt.messages.empty() ? "" : prompt.messages.back());
    }
    /// steps ticks of the paced timer, then what the far end received.
    std::string play(int steps)
    {
        for (int i = 0; i < steps; ++i) {
            tab<gui::SerialTab>(*form)->playStep();
            QApplication::processEvents();
        }
        return far.receive();
    }

    std::unique_ptr<MainWindow> form;
    ScriptedDialogs dialogs;
    FakeTimer timer;
    FarEnd far;
};

TEST_F(SerialTab, ScanLabelsOfPickedFilesMatchTheCommandAndCancelKeepsThem)
{
    const auto ggaOnly = writeLines("gga.txt", fixLines(43200, 201, 20, false));
    pick(ggaOnly);
    EXPECT_EQ(dialogs.asked, QStringList{"open: Pick file for replay | *.txt"});
    EXPECT_EQ(replayFileName(*form), qpath(ggaOnly));
    EXPECT_EQ(control<QLabel>(*form, "replayFilenameEdit")->text(), "Replay file : " + qpath(ggaOnly));
    EXPECT_EQ(control<QLineEdit>(*form, "ReplayOutputRateEdit")->text(), qs("20"));
    EXPECT_EQ(control<QLabel>(*form, "ReplayFileLengthLabel")->text(), qs("File length : 10s"));
    EXPECT_EQ(control<QLabel>(*form, "ReplayFileTypeLabel")->text(), qs("File type : GGA only"));
    EXPECT_EQ(form->replayState().replaySentenceCount, 200);
    EXPECT_FALSE(form->replayState().replayHasExtraSentences);

    const auto withVtg = writeLines("vtg.txt", fixLines(43200, 102, 10, true));
    pick(withVtg);
    EXPECT_EQ(control<QLineEdit>(*form, "ReplayOutputRateEdit")->text(), qs("10"));
    EXPECT_EQ(control<QLabel>(*form, "ReplayFileLengthLabel")->text(), qs("File length : 10s"));
    EXPECT_EQ(control<QLabel>(*form, "ReplayFileTypeLabel")->text(), qs("File type : GGA and VTG"));
    EXPECT_EQ(form->replayState().replaySentenceCount, 100);
    EXPECT_TRUE(form->replayState().replayHasExtraSentences);

    // The window shows what the command prints for the same file.
    const CommandResult cli = runTrajix({"scan", withVtg.string()});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    EXPECT_EQ(cli.out, "Output rate (Hz) : " + control<QLineEdit>(*form, "ReplayOutputRateEdit")->text().toStdString() +
                           "\n" + control<QLabel>(*form, "ReplayFileLengthLabel")->text().toStdString() + "\n" +
                           control<QLabel>(*form, "ReplayFileTypeLabel")->text().toStdString() + "\nSteps : 100\n");

    // Cancelling the dialog, and a file with no measurable rate, change nothing.
    tab<gui::SerialTab>(*form)->pickReplayFile();
    pick(writeLines("one.txt", {"header", gga(43200)}));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("no output rate can be measured"), std::string::npos) << prompt.messages[0];
    EXPECT_EQ(replayFileName(*form), qpath(withVtg));
    EXPECT_EQ(control<QLabel>(*form, "replayFilenameEdit")->text(), "Replay file : " + qpath(withVtg));
    EXPECT_EQ(control<QLabel>(*form, "ReplayFileTypeLabel")->text(), qs("File type : GGA and VTG"));
    EXPECT_EQ(form->replayState().replaySentenceCount, 100);

    // "HDT and GLL only" with a GGA file: the warning, and the labels stay.
    control<QCheckBox>(*form, "HDTcheckbox")->setChecked(true);
    pick(ggaOnly);
    ASSERT_EQ(prompt.messages.size(), 2u);
    EXPECT_EQ(prompt.messages[1], noGllMessage);
    EXPECT_EQ(replayFileName(*form), qpath(withVtg));
}

TEST_F(SerialTab, ConnectLocksThePortAndDisconnectFreesIt)
{
    control<QLineEdit>(*form, "ComPortEdit")->setText("fast");
    tab<gui::SerialTab>(*form)->toggleConnection();
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("'fast'"), std::string::npos) << prompt.messages[0];
    control<QLineEdit>(*form, "ComPortEdit")->setText("/dev/trajix-no-such-port");
    tab<gui::SerialTab>(*form)->toggleConnection();
    ASSERT_EQ(prompt.messages.size(), 2u);
    // The message names the port and the reason the system gave.
    EXPECT_EQ(prompt.messages[1].rfind("cannot open COM port: /dev/trajix-no-such-port: ", 0), 0u)
        << prompt.messages[1];
    EXPECT_GT(prompt.messages[1].size(), std::string("cannot open COM port: /dev/trajix-no-such-port: ").size());
    EXPECT_EQ(control<QPushButton>(*form, "ComConnectButton")->text(), qs("Connect"));
    EXPECT_FALSE(form->replayState().comPortOpen);
    EXPECT_FALSE(control<QPushButton>(*form, "StartReplayButton")->isEnabled());

    connectPort();
    EXPECT_EQ(control<QPushButton>(*form, "ComConnectButton")->text(), qs("Disconnect"));
    EXPECT_FALSE(control<QPushButton>(*form, "ComConnectButton")->isEnabled())
        << "Connect comes back only after ComWaitTimer";
    EXPECT_TRUE(control<QTimer>(*form, "ComWaitTimer")->isActive());
    tab<gui::SerialTab>(*form)->enableConnectButton();
    EXPECT_TRUE(control<QPushButton>(*form, "ComConnectButton")->isEnabled());
    EXPECT_FALSE(control<QTimer>(*form, "ComWaitTimer")->isActive());
    EXPECT_FALSE(control<QLineEdit>(*form, "ComPortEdit")->isEnabled());
    EXPECT_FALSE(control<QComboBox>(*form, "BaudRateComboBox")->isEnabled());

    // Disconnect while playing: the next step says so once and playback stops.
    pick(writeLines("gga.txt", fixLines(43200, 10, 20, false)));
    tab<gui::SerialTab>(*form)->start();
    EXPECT_FALSE(play(1).empty());
    tab<gui::SerialTab>(*form)->toggleConnection();
    EXPECT_EQ(control<QPushButton>(*form, "ComConnectButton")->text(), qs("Connect"));
    EXPECT_TRUE(control<QLineEdit>(*form, "ComPortEdit")->isEnabled());
    EXPECT_TRUE(control<QComboBox>(*form, "BaudRateComboBox")->isEnabled());
    EXPECT_FALSE(control<QPushButton>(*form, "StartReplayButton")->isEnabled());
    EXPECT_FALSE(form->replayState().comPortOpen);
    EXPECT_TRUE(timer.on) << "Disconnect leaves the replay to its next step";
    play(1);
    EXPECT_EQ(prompt.messages.back(), "COM port not open");
    EXPECT_EQ(prompt.messages.size(), 3u);
    EXPECT_FALSE(timer.on);
}

TEST_F(SerialTab, StartPlaysLinesInOrderWithTheVtgRulesAndTheSpeeds)
{
    const auto lines = fixLines(43200, 6, 20, true);
    pick(writeLines("vtg.txt", lines));
    connectPort();

    control<QCheckBox>(*form, "VTGBox")->setChecked(true);
    tab<gui::SerialTab>(*form)->start();
    EXPECT_TRUE(timer.on);
    EXPECT_DOUBLE_EQ(timer.period, 0.05);
    EXPECT_TRUE(form->replayState().replayFileOpen);
    EXPECT_EQ(play(1), crlfLines({lines[0], lines[1]}));
    EXPECT_EQ(control<QPlainTextEdit>(*form, "OutputpreviewMemo")->toPlainText().toStdString(),
              lines[1] + "\n" + lines[0]);
    expectDrawnMonospaced(control<QPlainTextEdit>(*form, "OutputpreviewMemo"));
    EXPECT_EQ(play(2), crlfLines({lines[2], lines[3], lines[4], lines[5]}));
    EXPECT_EQ(control<QProgressBar>(*form, "ReplayProgress")->value(), 3);
    EXPECT_EQ(form->replayState().replayPosition, 3);

    // Without VTG each step sends a GGA line and skips the VTG before it.
    tab<gui::SerialTab>(*form)->stop();
    EXPECT_EQ(control<QProgressBar>(*form, "ReplayProgress")->value(), 0);
    control<QCheckBox>(*form, "VTGBox")->setChecked(false);
    tab<gui::SerialTab>(*form)->start();
    EXPECT_EQ(play(2), crlfLines({lines[0], lines[2]}));
    EXPECT_EQ(control<QPlainTextEdit>(*form, "OutputpreviewMemo")->toPlainText().toStdString(), lines[2]);

    // The period follows the file's rate and the chosen speed.
    tab<gui::SerialTab>(*form)->pause();
    EXPECT_FALSE(timer.on);
    control<QComboBox>(*form, "ReplaySpeedComboBox")->setCurrentIndex(7);
    tab<gui::SerialTab>(*form)->start();
    EXPECT_DOUBLE_EQ(timer.period, 0.005);
    control<QComboBox>(*form, "ReplaySpeedComboBox")->setCurrentIndex(0);
    tab<gui::SerialTab>(*form)->start();
    EXPECT_DOUBLE_EQ(timer.period, 0.5);
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SerialTab, PauseContinuesStopRestartsAndRepeatRewinds)
{
    const auto lines = fixLines(43200, 4, 20, false);
    pick(writeLines("gga.txt", lines));
    connectPort();
    control<QCheckBox>(*form, "RepeatReplayCheckBox")->setChecked(true);
    tab<gui::SerialTab>(*form)->start();
    EXPECT_EQ(play(2), crlfLines({lines[0], lines[1]}));
    tab<gui::SerialTab>(*form)->pause();
    EXPECT_FALSE(timer.on);
    tab<gui::SerialTab>(*form)->start();
    EXPECT_EQ(play(1), lines[2] + "\r\n");

    tab<gui::SerialTab>(*form)->stop();
    EXPECT_EQ(form->replayState().replayPosition, 0);
    EXPECT_TRUE(form->replayState().replayFileOpen);
    tab<gui::SerialTab>(*form)->start();
    EXPECT_EQ(play(4), crlfLines(lines));
    // The end of the file: one step sends nothing and the gauge drops to 0.
    EXPECT_EQ(play(1), "");
    EXPECT_EQ(control<QProgressBar>(*form, "ReplayProgress")->value(), 0);
    EXPECT_TRUE(timer.on);
    EXPECT_EQ(play(1), lines[0] + "\r\n");

    // Without Repeat the end of the file closes it and stops the timer.
    control<QCheckBox>(*form, "RepeatReplayCheckBox")->setChecked(false);
    EXPECT_EQ(play(4), crlfLines({lines[1], lines[2], lines[3]}));
    EXPECT_FALSE(timer.on);
    EXPECT_FALSE(form->replayState().replayFileOpen);
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SerialTab, StartRefusals)
{
    control<QLineEdit>(*form, "ComPortEdit")->setText(far.slavePath());
    tab<gui::SerialTab>(*form)->start();
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"No filename for replay file"});

    const auto file = writeLines("gga.txt", fixLines(43200, 4, 20, false));
    pick(file);
    control<QLineEdit>(*form, "ReplayOutputRateEdit")->setText("");
    tab<gui::SerialTab>(*form)->start();
    ASSERT_EQ(prompt.messages.size(), 2u);
    EXPECT_FALSE(timer.on);
    control<QLineEdit>(*form, "ReplayOutputRateEdit")->setText("0");
    tab<gui::SerialTab>(*form)->start();
    ASSERT_EQ(prompt.messages.size(), 3u);
    EXPECT_FALSE(timer.on);

    control<QLineEdit>(*form, "ReplayOutputRateEdit")->setText("20");
    std::filesystem::remove(file);
    tab<gui::SerialTab>(*form)->start();
    EXPECT_EQ(prompt.messages.back(), "Unable to open replay file");
    EXPECT_FALSE(timer.on);
    EXPECT_FALSE(form->replayState().replayFileOpen);
}

TEST_F(SerialTab, FarEndClosedMidPlayGivesTheWriteErrorAndStops)
{
    pick(writeLines("gga.txt", fixLines(43200, 400, 20, false)));
    connectPort();
    tab<gui::SerialTab>(*form)->start();
    EXPECT_FALSE(play(2).empty());
    far.closeNow();
    for (int i = 0; i < 100 && prompt.messages.empty(); ++i) {
        tab<gui::SerialTab>(*form)->playStep();
        processEventsFor(5);
    }
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Cannot write to Com port"});
    EXPECT_FALSE(timer.on);
    EXPECT_TRUE(form->replayState().replayFileOpen) << "a write error leaves playback as if paused";
}

TEST_F(SerialTab, BufferLabelWarnsWhileThePortIsBehind)
{
    pick(writeLines("gga.txt", fixLines(43200, 4000, 20, false)));
    connectPort();
    tab<gui::SerialTab>(*form)->start();
    // Nobody reads the far end: the port's queue grows until steps are skipped.
    int steps = 0;
    for (; steps < 3000 && control<QLabel>(*form, "BufferLabel")->text().isEmpty(); ++steps) {
        tab<gui::SerialTab>(*form)->playStep();
        QApplication::processEvents();
    }
    ASSERT_EQ(control<QLabel>(*form, "BufferLabel")->text(), qs("Output buffer full - playback rate too fast"));
    const long long position = form->replayState().replayPosition;
    tab<gui::SerialTab>(*form)->playStep();
    EXPECT_EQ(form->replayState().replayPosition, position) << "a skipped step sends nothing";

    // Once the far end has read, the next step sends and clears the warning.
    const std::string received = far.receive(200);
    EXPECT_EQ(received.substr(0, gga(43200).size() + 2), gga(43200) + "\r\n");
    tab<gui::SerialTab>(*form)->playStep();
    EXPECT_TRUE(control<QLabel>(*form, "BufferLabel")->text().isEmpty());
    EXPECT_EQ(form->replayState().replayPosition, position + 1);
}

TEST_F(SerialTab, TabChangeAndClosingEndPlayback)
{
    const auto lines = fixLines(43200, 4, 20, false);
    pick(writeLines("gga.txt", lines));
    connectPort();
    tab<gui::SerialTab>(*form)->start();
    EXPECT_EQ(play(2), crlfLines({lines[0], lines[1]}));
    form->PageControl1->setCurrentIndex(5);
    EXPECT_FALSE(timer.on);
    EXPECT_FALSE(form->replayState().replayFileOpen);
    EXPECT_EQ(form->replayState().replayPosition, 0);
    form->PageControl1->setCurrentIndex(4);
    tab<gui::SerialTab>(*form)->start();
    EXPECT_EQ(play(1), lines[0] + "\r\n") << "the file was closed: Start opens it again";

    form->closeDown();
    EXPECT_FALSE(timer.on);
    EXPECT_FALSE(form->replayState().comPortOpen);
    EXPECT_FALSE(form->replayState().replayFileOpen);
    processEventsFor(50);
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SerialTab, AFileNotMadeTheReplayFileLeavesTheTabDescribingTheReplayFile)
{
    const auto pairs = fixLines(43200, 4, 20, true);
    pick(writeLines("vtg.txt", pairs));
    // A written file handed over without becoming the replay file: the tab goes on
    // describing the file it plays, its rate included (another file's rate beside the
    // replay file's name once played it at that rate).
    form->handOverWrittenFile(qpath(writeLines("kelo.txt", fixLines(43200, 11, 10, false))), false);
    EXPECT_EQ(control<QLabel>(*form, "ReplayFileTypeLabel")->text(), qs("File type : GGA and VTG"));
    EXPECT_EQ(control<QLineEdit>(*form, "ReplayOutputRateEdit")->text(), qs("20"));
    EXPECT_TRUE(form->replayState().replayHasExtraSentences);
    connectPort();
    control<QCheckBox>(*form, "VTGBox")->setChecked(true);
    tab<gui::SerialTab>(*form)->start();
    EXPECT_EQ(play(1), crlfLines({pairs[0], pairs[1]}));

    // A writer's file made the replay file takes over, and a file being played ends.
    const auto route = writeLines("route.txt", fixLines(43200, 3, 20, false));
    form->handOverWrittenFile(qpath(route), true);
    EXPECT_EQ(replayFileName(*form), qpath(route));
    EXPECT_FALSE(form->replayState().replayHasExtraSentences);
    EXPECT_FALSE(form->replayState().replayFileOpen);
    EXPECT_FALSE(timer.on);
}

TEST_F(SerialTab, WindowSendsWhatTheReplayCommandSends)
{
    const auto file = writeLines("vtg.txt", fixLines(43200, 12, 20, true));
    for (const bool vtg : {true, false}) {
        FarEnd commandEnd;
        std::vector<std::string> arguments{"replay",  file.string(), "--port", commandEnd.slavePath().toStdString(),
                                           "--speed", "10x"};
        if (vtg) arguments.emplace_back("--vtg");
        const CommandResult cli = runTrajix(arguments);
        ASSERT_EQ(cli.exitCode, 0) << cli.err;
        const std::string commandBytes = commandEnd.receive();

        pick(file);
        if (!form->replayState().comPortOpen) connectPort();
        control<QCheckBox>(*form, "VTGBox")->setChecked(vtg);
        tab<gui::SerialTab>(*form)->stop();
        tab<gui::SerialTab>(*form)->start();
        EXPECT_EQ(play(13), commandBytes) << (vtg ? "with VTG" : "without VTG");
        EXPECT_FALSE(commandBytes.empty());
    }
}

// A receiver log: the labels the scan command prints, whole epochs per step whatever
// the VTG box, its gaps shortened by the tab's setting, a new speed taken at once.
TEST_F(SerialTab, ReceiverLogPlaysWholeEpochsOnItsOwnClock)
{
    const auto epochs = handheldLog(3600, 5);  // 0.5 Hz, proprietary sentences
    writeFileBytes(dir / "handheld.nmea", joinEpochs(epochs));
    pick(dir / "handheld.nmea");
    const CommandResult cli = runTrajix({"scan", (dir / "handheld.nmea").string()});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    EXPECT_EQ(cli.out, "Output rate (Hz) : " + control<QLineEdit>(*form, "ReplayOutputRateEdit")->text().toStdString() +
                           "\n" + control<QLabel>(*form, "ReplayFileLengthLabel")->text().toStdString() + "\n" +
                           control<QLabel>(*form, "ReplayFileTypeLabel")->text().toStdString() + "\nSteps : 5\n");
    EXPECT_EQ(control<QLineEdit>(*form, "ReplayOutputRateEdit")->text(), qs("0.5"));
    EXPECT_EQ(control<QLabel>(*form, "ReplayFileTypeLabel")->text(),
              qs("File type : Receiver log (RMC, GGA, GSA, PGRME, PGRMZ, PGRMM, BOD)"));

    connectPort();
    control<QLineEdit>(*form, "ReplayMaxGapEdit")->setText("1.5");
    tab<gui::SerialTab>(*form)->start();
    ASSERT_TRUE(prompt.messages.empty()) << prompt.messages.front();
    ASSERT_TRUE(timer.schedule);
    EXPECT_DOUBLE_EQ(timer.schedule(2), 1.5);  // the 2 s between fixes played as 1.5 s
    EXPECT_EQ(play(2), joinEpochs({epochs[0], epochs[1]}));
    control<QComboBox>(*form, "ReplaySpeedComboBox")->setCurrentIndex(7);
    EXPECT_DOUBLE_EQ(timer.rate, 10.0);

    control<QLineEdit>(*form, "ReplayMaxGapEdit")->setText("soon");
    tab<gui::SerialTab>(*form)->pause();
    tab<gui::SerialTab>(*form)->start();
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("'soon'"), std::string::npos) << prompt.messages[0];
}

// Start, Pause (Resume) and Stop as the user meets them in each state of the port and
// the playback; the end of the file leaves the bar full and saying so.
TEST_F(SerialTab, PlaybackButtonsFollowTheStateAndPauseToggles)
{
    auto* serial = tab<gui::SerialTab>(*form);
    auto* start = control<QPushButton>(*form, "StartReplayButton");
    auto* pause = control<QPushButton>(*form, "PauseReplayButton");
    auto* stop = control<QPushButton>(*form, "StopReplayButton");
    auto* bar = control<QProgressBar>(*form, "ReplayProgress");
    pick(writeLines("gga.txt", fixLines(43200, 4, 20, false)));

    const struct {
        const char* step;
        std::function<void()> act;
        bool start, pause, stop;
        const char* pauseCaption;
        bool playing;
    } states[] = {
        {"idle, not connected", [] {}, false, false, false, "Pause", false},
        {"connected", [&] { connectPort(); }, true, false, false, "Pause", false},
        {"playing", [&] { serial->start(); }, false, true, true, "Pause", true},
        {"paused", [&] { serial->pause(); }, false, true, true, "Resume", false},
        {"resumed", [&] { serial->pause(); }, false, true, true, "Pause", true},
        {"stopped", [&] { serial->stop(); }, true, false, false, "Pause", false},
        {"played to the end", [&] { serial->start(), play(5); }, true, false, false, "Pause", false},
        {"disconnected", [&] { serial->toggleConnection(); }, false, false, false, "Pause", false},
    };
    for (const auto& state : states) {
        state.act();
        EXPECT_EQ(start->isEnabled(), state.start) << state.step;
        EXPECT_EQ(pause->isEnabled(), state.pause) << state.step;
        EXPECT_EQ(stop->isEnabled(), state.stop) << state.step;
        EXPECT_EQ(pause->text(), qs(state.pauseCaption)) << state.step;
        EXPECT_EQ(timer.on, state.playing) << state.step;
        if (std::string_view(state.step) == "played to the end") {
            EXPECT_EQ(bar->value(), bar->maximum());
            EXPECT_EQ(bar->text(), qs("Finished"));
        }
    }
    EXPECT_TRUE(prompt.messages.empty()) << prompt.messages.front();
}

// The pseudo-terminal output, as `trajix replay --pty` offers it: a reader opens the
// path the tab shows.
TEST_F(SerialTab, PseudoTerminalOutputPlaysIntoThePathItShows)
{
    const auto lines = fixLines(43200, 3, 20, false);
    pick(writeLines("gga.txt", lines));
    auto* output = control<QComboBox>(*form, "ReplayOutputComboBox");
    output->setCurrentIndex(output->findText("Pseudo-terminal"));
    EXPECT_FALSE(control<QLineEdit>(*form, "ComPortEdit")->isVisibleTo(form.get()));
    EXPECT_FALSE(control<QLineEdit>(*form, "ReplayAddressEdit")->isVisibleTo(form.get()));
    form->show();
    QApplication::processEvents();
    auto* playBox = form->PageControl1->findChild<QWidget*>("PlaybackGroupBox");
    const int playTop = playBox->mapTo(form.get(), QPoint()).y();
    tab<gui::SerialTab>(*form)->toggleConnection();
    ASSERT_TRUE(form->replayState().comPortOpen) << (prompt.messages.empty() ? "" : prompt.messages.back());
    QApplication::processEvents();
    EXPECT_EQ(playBox->mapTo(form.get(), QPoint()).y(), playTop) << "the line about the output moved the controls";
    const QString shown = control<QLabel>(*form, "NetworkLabel")->text();
    ASSERT_TRUE(shown.startsWith("Playing into /dev/")) << shown.toStdString();
    const std::string path = shown.section(' ', 2, 2).chopped(1).toStdString();
    const int reader = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(reader, 0) << path;
    tab<gui::SerialTab>(*form)->start();
    for (int i = 0; i < 2; ++i) tab<gui::SerialTab>(*form)->playStep();
    processEventsFor(100);
    EXPECT_EQ(readUntilQuiet(reader, 100), crlfLines({lines[0], lines[1]}));
    ::close(reader);
    tab<gui::SerialTab>(*form)->toggleConnection();
    EXPECT_FALSE(form->replayState().comPortOpen);
}

// The output choice: a TCP server its clients connect to, then UDP datagrams.
TEST_F(SerialTab, TcpServerAndUdpOutputs)
{
    const auto lines = fixLines(43200, 4, 20, false);
    pick(writeLines("gga.txt", lines));
    auto* output = control<QComboBox>(*form, "ReplayOutputComboBox");
    auto* address = control<QLineEdit>(*form, "ReplayAddressEdit");
    output->setCurrentIndex(1);
    EXPECT_TRUE(address->isVisibleTo(form.get()));
    EXPECT_FALSE(control<QLineEdit>(*form, "ComPortEdit")->isVisibleTo(form.get()));
    EXPECT_EQ(address->text(), qs("10110")) << "not gpsd's 2947: gpsd must be able to run beside it";
    address->setText("127.0.0.1:0");
    tab<gui::SerialTab>(*form)->toggleConnection();
    ASSERT_TRUE(form->replayState().comPortOpen) << (prompt.messages.empty() ? "" : prompt.messages.back());
    const QString serving = control<QLabel>(*form, "NetworkLabel")->text();
    ASSERT_TRUE(serving.startsWith("Serving on tcp://127.0.0.1:")) << serving.toStdString();
    const int client = connectLoopback(serving.section(':', -1).toInt());
    ASSERT_GE(client, 0);
    processEventsFor(100);
    tab<gui::SerialTab>(*form)->start();
    for (int i = 0; i < 3; ++i) tab<gui::SerialTab>(*form)->playStep();
    processEventsFor(100);
    EXPECT_EQ(readUntilQuiet(client, 100), crlfLines({lines[0], lines[1], lines[2]}));
    ::close(client);

    tab<gui::SerialTab>(*form)->toggleConnection();  // Disconnect
    output->setCurrentIndex(2);
    EXPECT_EQ(control<QLabel>(*form, "ReplayAddressLabel")->text(), qs("UDP address (host:port)"));
    const int receiver = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof bound;
    ASSERT_EQ(::bind(receiver, reinterpret_cast<sockaddr*>(&bound), sizeof bound), 0);
    ASSERT_EQ(::getsockname(receiver, reinterpret_cast<sockaddr*>(&bound), &size), 0);
    address->setText(QString("127.0.0.1:%1").arg(ntohs(bound.sin_port)));
    tab<gui::SerialTab>(*form)->enableConnectButton();
    tab<gui::SerialTab>(*form)->toggleConnection();
    ASSERT_TRUE(form->replayState().comPortOpen) << (prompt.messages.empty() ? "" : prompt.messages.back());
    tab<gui::SerialTab>(*form)->stop();
    tab<gui::SerialTab>(*form)->start();
    tab<gui::SerialTab>(*form)->playStep();
    tab<gui::SerialTab>(*form)->playStep();
    char buffer[4096];
    std::vector<std::string> datagrams;
    for (int i = 0; i < 2; ++i) {
        pollfd p{receiver, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) break;
        const ssize_t n = ::recv(receiver, buffer, sizeof buffer, 0);
        if (n > 0) datagrams.emplace_back(buffer, static_cast<std::size_t>(n));
    }
    ::close(receiver);
    EXPECT_EQ(datagrams, (std::vector<std::string>{lines[0] + "\r\n", lines[1] + "\r\n"}));
}

// The real high-precision timer, its ticks posted to the window's thread.
class SerialTabTimer : public SerialTab {
protected:
    void SetUp() override
    {
        SerialTab::SetUp();
        form->setReplayTimer(nullptr);
    }
};

TEST_F(SerialTabTimer, PlaysAWholeFileAtTenTimesSpeed)
{
    const auto lines = fixLines(43200, 30, 20, true);
    pick(writeLines("vtg.txt", lines));
    connectPort();
    control<QCheckBox>(*form, "VTGBox")->setChecked(true);
    control<QComboBox>(*form, "ReplaySpeedComboBox")->setCurrentIndex(7);
    tab<gui::SerialTab>(*form)->start();
    std::string received;
    QElapsedTimer waited;
    waited.start();
    while (form->replayState().replayFileOpen && waited.elapsed() < 10000) received += far.receive(5);
    received += far.receive();
    EXPECT_EQ(received, crlfLines(lines));
    EXPECT_TRUE(prompt.messages.empty());
}

/// Keeps the window's events running while a message is up, as a modal box does.
class ModalPrompt final : public UserPrompt {
public:
    void information(std::string_view text) override
    {
        messages.emplace_back(text);
        processEventsFor(150);
    }
    bool askYesNo(std::string_view) override { return true; }
    std::vector<std::string> messages;
};

TEST_F(SerialTabTimer, ClosedPortMessageShownOnceWhileItsBoxIsOpen)
{
    ModalPrompt modal;
    form->setPrompt(&modal);
    pick(writeLines("gga.txt", fixLines(43200, 2000, 20, false)));
    connectPort();
    control<QComboBox>(*form, "ReplaySpeedComboBox")->setCurrentIndex(7);
    tab<gui::SerialTab>(*form)->start();
    processEventsFor(50);
    ASSERT_TRUE(form->replayState().replayFileOpen);
    tab<gui::SerialTab>(*form)->toggleConnection();  // Disconnect while playing
    // The next tick finds the port closed; on a loaded machine it may come late. Once the
    // message is up, more ticks must not bring another.
    QElapsedTimer waited;
    waited.start();
    while (modal.messages.empty() && waited.elapsed() < 10000) processEventsFor(10);
    processEventsFor(300);
    EXPECT_EQ(modal.messages, std::vector<std::string>{"COM port not open"});
    form->setPrompt(&prompt);
}

}  // namespace
}  // namespace trajix::test

#endif

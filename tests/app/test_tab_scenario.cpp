// Recordings in the window: DSF to BIN on its tab, dropouts and the almanac tools on
// the Settings tab, the almanac download and the scenario step after a written file.
#ifdef TRAJIX_WITH_SCENARIO

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cmath>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <optional>

#include "app/secondary_windows.hpp"
#include "app_fixture.hpp"
#include "common/platform.hpp"
#include "nmea/sentences.hpp"
#include "scenario/plenarch.hpp"
#include "scenario/recording.hpp"

namespace trajix::test {
namespace {

using gui::MainWindow;

constexpr std::size_t block = 2046000;

std::string patternBytes(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned state = seed;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return bytes;
}

QString qpath(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

class RecordingTabTest : public AppTest {
protected:
    std::unique_ptr<MainWindow> start(bool simulatorFeatures = true)
    {
        gui::StartOptions options;
        options.simulatorFeatures = simulatorFeatures;
        auto form = startWindow(options);
        form->setDialogs(&dialogs);
        return form;
    }

    TempDir home;
    ScopedEnv homeEnv{"HOME", home.path().string()};
    ScriptedDialogs dialogs;
};

TEST_F(RecordingTabTest, DsfToBinWritesTheBytesOfTheCommandAndDropsTheTrailingPart)
{
    auto form = start();
    const auto input = dir / "track.dsf";
    writeFileBytes(input, patternBytes(2 * block + 100, 7));
    // The output is asked for, the .bin beside the input suggested: a cancel (the dialog
    // asks before replacing a file) leaves an earlier conversion alone.
    writeFileBytes(dir / "track.bin", "an earlier conversion");
    dialogs.answers = {qpath(input), QString()};
    tab<gui::DsfTab>(*form)->pickAndConvert();
    EXPECT_EQ(readFileBytes(dir / "track.bin"), "an earlier conversion");
    dialogs.answers = {qpath(input), qpath(dir / "track.bin")};
    dialogs.asked.clear();
    dialogs.titles.clear();
    dialogs.patterns.clear();
    tab<gui::DsfTab>(*form)->pickAndConvert();

    EXPECT_EQ(dialogs.titles.at(0), qs("Pick .dsf file for conversion"));
    EXPECT_EQ(dialogs.patterns.at(0), qs("*.dsf"));
    EXPECT_EQ(dialogs.asked.at(1), "save: Enter name for the .bin recording | " + qpath(dir / "track.bin"));
    const auto viaCli = dir / "cli.bin";
    const auto result = runTrajix({"dsf2bin", input.string(), "-o", viaCli.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string written = readFileBytes(dir / "track.bin");
    EXPECT_EQ(written.size(), 2 * block);
    EXPECT_TRUE(written == readFileBytes(viaCli));
    EXPECT_EQ(control<QLabel>(*form, "Label17")->text(), "Conversion complete: " + qpath(dir / "track.bin"));
    EXPECT_EQ(control<QProgressBar>(*form, "progressbar2")->maximum(), 2);
    EXPECT_EQ(control<QProgressBar>(*form, "progressbar2")->value(), 2);
    EXPECT_EQ(form->PageControl1->currentIndex(), 3);
    EXPECT_TRUE(prompt.messages.empty());
    // The status bar names the file written and the part second left out.
    EXPECT_EQ(form->statusPanel(0), "Written: " + qpath(dir / "track.bin") +
                                        " (2 s of signal; the last 100 bytes, less than a second, were left out)");
}

// An input the conversion cannot use is refused as soon as it is picked: the user is
// not asked to name an output that will not be written.
TEST_F(RecordingTabTest, DsfInputIsCheckedBeforeTheOutputIsAsked)
{
    auto form = start();
    writeFileBytes(dir / "short.dsf", patternBytes(block - 1, 5));
    writeFileBytes(dir / "empty.dsf", "");
    std::filesystem::create_directory(dir / "folder.dsf");
    writeFileBytes(dir / "locked.dsf", patternBytes(block, 5));
    std::filesystem::permissions(dir / "locked.dsf", std::filesystem::perms::none);
    const bool rootReadsAnything = std::ifstream(dir / "locked.dsf").good();
    struct Case {
        const char* name;
        const char* said;
    };
    for (const Case& refused :
         {Case{"short.dsf", "less than one second"}, Case{"empty.dsf", "less than one second"},
          Case{"folder.dsf", "directory"}, Case{"absent.dsf", "absent.dsf"}, Case{"locked.dsf", "locked.dsf"}}) {
        if (rootReadsAnything && std::string(refused.name) == "locked.dsf") continue;
        SCOPED_TRACE(refused.name);
        prompt.messages.clear();
        dialogs.asked.clear();
        const auto input = dir / refused.name;
        dialogs.answers = {qpath(input), qpath(dir / "out.bin")};
        tab<gui::DsfTab>(*form)->pickAndConvert();
        EXPECT_EQ(dialogs.asked.size(), 1u) << "only the input is asked for";
        ASSERT_EQ(prompt.messages.size(), 1u);
        EXPECT_NE(prompt.messages[0].find(input.string()), std::string::npos) << prompt.messages[0];
        EXPECT_NE(prompt.messages[0].find(refused.said), std::string::npos) << prompt.messages[0];
        EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
        EXPECT_FALSE(control<QLabel>(*form, "Label17")->text().startsWith("Conversion complete"));
        EXPECT_FALSE(form->statusPanel(0).startsWith("Written"));
        auto* bar = control<QProgressBar>(*form, "progressbar2");
        EXPECT_LT(bar->minimum(), bar->maximum()) << "a bar from 0 to 0 spins for ever";
    }
    std::filesystem::permissions(dir / "locked.dsf", std::filesystem::perms::owner_all);
}

TEST_F(RecordingTabTest, TheFinishedBarsTextIsReadable)
{
    auto form = start();
    auto* bar = control<QProgressBar>(*form, "progressbar2");
    bar->resize(300, 24);
    bar->setValue(bar->maximum());
    const QImage picture = bar->grab().toImage();
    // The fill under the text, against the text's colour: WCAG contrast of 4.5 or more.
    const QColor fill = picture.pixelColor(6, picture.height() / 2);
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double a = luminance(fill), b = luminance(bar->palette().color(QPalette::Text));
    const double contrast = (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
    EXPECT_GE(contrast, 4.5) << fill.name().toStdString();
}

TEST_F(RecordingTabTest, DsfToBinRefusesWhatTheCommandRefusesAndWritesNothing)
{
    auto form = start();
    // A recording whose name ends in "bin" would be converted onto itself.
    const auto self = dir / "track.bin";
    const std::string original = patternBytes(block, 3);
    writeFileBytes(self, original);
    const auto missing = dir / "absent.dsf";
    dialogs.answers = {qpath(self), qpath(self), qpath(missing), QString()};

    tab<gui::DsfTab>(*form)->pickAndConvert();
    tab<gui::DsfTab>(*form)->pickAndConvert();
    tab<gui::DsfTab>(*form)->pickAndConvert();  // cancelled

    ASSERT_EQ(prompt.messages.size(), 2u);
    const auto cliSelf = runTrajix({"dsf2bin", self.string()});
    EXPECT_EQ(cliSelf.exitCode, 1);
    EXPECT_NE(cliSelf.err.find(prompt.messages[0]), std::string::npos) << prompt.messages[0];
    EXPECT_EQ(readFileBytes(self), original);
    EXPECT_NE(prompt.messages[1].find("absent.dsf"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "absent.bin"));
    EXPECT_NE(control<QLabel>(*form, "Label17")->text(), qs("Conversion complete"));
}

TEST_F(RecordingTabTest, DropoutsMatchTheCommandAndRefuseBadRangesBeforeWriting)
{
    auto form = start();
    const std::string recording = patternBytes(16 * block + 10, 11);
    const auto input = dir / "track.bin";
    writeFileBytes(input, recording);
    TempDir cliDir;
    writeFileBytes(cliDir / "track.bin", recording);

    control<QLineEdit>(*form, "Start1")->setText("10");
    control<QLineEdit>(*form, "Duration1")->setText("5");
    dialogs.answers = {qpath(input)};
    tab<gui::SettingsTab>(*form)->createDropouts();

    EXPECT_EQ(dialogs.titles.at(0), qs("Select .bin file"));
    EXPECT_EQ(dialogs.patterns.at(0), qs("*.bin"));
    const auto result = runTrajix({"dropout", (cliDir / "track.bin").string(), "--start", "10", "--duration", "5"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string written = readFileBytes(dir / "track_mod.bin");
    EXPECT_TRUE(written == readFileBytes(cliDir / "track_mod.bin"));
    ASSERT_EQ(written.size(), 16 * block);
    EXPECT_EQ(written.substr(10 * block, 6 * block), std::string(6 * block, '\0'));
    EXPECT_EQ(written.substr(0, 10 * block), recording.substr(0, 10 * block));
    EXPECT_EQ(control<QProgressBar>(*form, "progressGauge2")->maximum(), 16);
    EXPECT_EQ(control<QProgressBar>(*form, "progressGauge2")->value(), 16);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(prompt.questions.empty()) << "nothing to replace, nothing asked";
    EXPECT_EQ(form->statusPanel(0), "Written: " + qpath(dir / "track_mod.bin"));

    // Past the last block, and a Start that is no number: a message, and no output. The
    // earlier copy stays, and no question about it comes before the refusal.
    writeFileBytes(dir / "track_mod.bin", "an earlier copy");
    control<QLineEdit>(*form, "Start1")->setText("15");
    control<QLineEdit>(*form, "Duration1")->setText("1");
    dialogs.answers = {qpath(input)};
    tab<gui::SettingsTab>(*form)->createDropouts();
    control<QLineEdit>(*form, "Start1")->setText("1x");
    dialogs.answers = {qpath(input)};
    tab<gui::SettingsTab>(*form)->createDropouts();
    ASSERT_EQ(prompt.messages.size(), 2u);
    EXPECT_NE(prompt.messages[0].find("past the end"), std::string::npos) << prompt.messages[0];
    EXPECT_NE(prompt.messages[1].find("'1x'"), std::string::npos) << prompt.messages[1];
    EXPECT_NE(prompt.messages[1].find("Start"), std::string::npos) << prompt.messages[1];
    EXPECT_TRUE(prompt.questions.empty());
    EXPECT_EQ(readFileBytes(dir / "track_mod.bin"), "an earlier copy");
}

// An existing copy is replaced only when the user says so, and the status bar names
// the copy written.
TEST_F(RecordingTabTest, DropoutsAskBeforeReplacingAnEarlierCopy)
{
    auto form = start();
    const auto input = dir / "track.bin";
    const std::string recording = patternBytes(3 * block, 13);
    writeFileBytes(input, recording);
    const auto output = dir / "track_mod.bin";
    writeFileBytes(output, "an earlier copy");
    control<QLineEdit>(*form, "Start1")->setText("1");
    control<QLineEdit>(*form, "Duration1")->setText("0");

    prompt.answers = {false};
    dialogs.answers = {qpath(input)};
    tab<gui::SettingsTab>(*form)->createDropouts();
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_NE(prompt.questions[0].find(output.string() + " already exists"), std::string::npos) << prompt.questions[0];
    EXPECT_EQ(readFileBytes(output), "an earlier copy");
    EXPECT_FALSE(form->statusPanel(0).startsWith("Written"));

    prompt.answers = {true};
    dialogs.answers = {qpath(input)};
    tab<gui::SettingsTab>(*form)->createDropouts();
    EXPECT_EQ(prompt.questions.size(), 2u);
    const std::string written = readFileBytes(output);
    ASSERT_EQ(written.size(), 3 * block);
    EXPECT_TRUE(written.substr(block, block) == std::string(block, '\0'));
    EXPECT_TRUE(written.substr(2 * block) == recording.substr(2 * block));
    EXPECT_EQ(form->statusPanel(0), "Written: " + qpath(output));
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(RecordingTabTest, AlmanacBrowseStartsFromTheEditAndKeepsItOnCancel)
{
    auto form = start();
    control<QLineEdit>(*form, "AlmanacEdit")->setText("/data/old.alm");
    dialogs.answers = {QString(), qs("/data/new.alm")};
    tab<gui::SettingsTab>(*form)->browseAlmanac();
    EXPECT_EQ(control<QLineEdit>(*form, "AlmanacEdit")->text(), qs("/data/old.alm"));
    tab<gui::SettingsTab>(*form)->browseAlmanac();
    EXPECT_EQ(control<QLineEdit>(*form, "AlmanacEdit")->text(), qs("/data/new.alm"));
    EXPECT_EQ(dialogs.patterns.at(0), qs("/data/old.alm"));
}

// One-request HTTP server on loopback that answers every GET with body, and records
// the paths asked for.
class TinyHttpServer {
public:
    explicit TinyHttpServer(QByteArray body) : body_(std::move(body))
    {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                    const QByteArray request = socket->readAll();
                    paths.push_back(request.split(' ').value(1));
                    socket->write("HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body_.size()) +
                                  "\r\n\r\n" + body_);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + "/yuma/"; }
    std::vector<QByteArray> paths;

private:
    QByteArray body_;
    QTcpServer server_;
};

TEST_F(RecordingTabTest, OutputLabelDownloadsTheAlmanacOnceIntoTheHomeFolder)
{
    TinyHttpServer server("week:                        610\n");
    ScopedEnv url("TRAJIX_ALMANAC_URL", server.url());
    auto form = start();

    emit control<gui::ClickLabel>(*form, "Label21")->clicked();
    const auto local = home.path() / "trajixV2" / "almanacs" / "019-2012.alm";
    ASSERT_EQ(prompt.messages, std::vector<std::string>{"Download complete"});
    EXPECT_EQ(readFileBytes(local), "week:                        610\n");
    ASSERT_EQ(server.paths.size(), 1u);
    EXPECT_TRUE(server.paths[0].endsWith("019.alm")) << server.paths[0].toStdString();

    emit control<gui::ClickLabel>(*form, "Label21")->clicked();  // the file is there: nothing asked, nothing shown
    EXPECT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(server.paths.size(), 1u);
}

TEST_F(RecordingTabTest, FailedAlmanacDownloadLeavesNoFile)
{
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const auto port = closed.serverPort();
    closed.close();
    ScopedEnv url("TRAJIX_ALMANAC_URL", "http://127.0.0.1:" + std::to_string(port) + "/");
    auto form = start();
    emit control<gui::ClickLabel>(*form, "Label21")->clicked();
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Download failed"});
    EXPECT_FALSE(std::filesystem::exists(home.path() / "trajixV2" / "almanacs" / "019-2012.alm"));
}

// The scenario step with the stand-in generator built beside the trajix command.
class ScenarioStepTest : public RecordingTabTest {
protected:
    void SetUp() override
    {
        RecordingTabTest::SetUp();
        generators = executableDirectory().parent_path().parent_path() / "cli";
        if (!std::filesystem::exists(generators / "TrajixBinary")) GTEST_SKIP() << "no TrajixBinary in " << generators;
        std::filesystem::create_directory(tools);
        // A written file of three fixes at 20 Hz: the hand-over scans it for the Serial
        // Output tab before the scenario step, and the scan skips the first line.
        std::string fixes;
        for (int i = 0; i < 3; ++i)
            fixes += trajix::ggaSentence(32400 + 0.05L * i, 51.9988L, -0.9978L, trajix::fixedAltitude);
        writeFileBytes(nmea, fixes);
    }

    // Presses a button of the wait window once it is shown and the generator is done.
    void answerWaitWindow(MainWindow& form, bool pressContinue)
    {
        auto* timer = new QTimer(&form);
        QObject::connect(timer, &QTimer::timeout, [&form, timer, pressContinue] {
            if (!form.continueForm->isVisible()) return;
            if (pressContinue && form.scenarioGeneratorRunning()) return;
            timer->stop();
            (pressContinue ? form.continueForm->Button1 : form.continueForm->Button2)->click();
        });
        timer->start(20);
    }

    std::unique_ptr<MainWindow> startScenarioWindow(bool simulatorFeatures = true)
    {
        auto form = start(simulatorFeatures);
        control<QLineEdit>(*form, "AlmanacEdit")->setText(qpath(dataFile("scenario/week610.alm")));
        return form;
    }

    ScopedEnv display{"DISPLAY", std::nullopt};
    ScopedEnv wayland{"WAYLAND_DISPLAY", std::nullopt};
    std::filesystem::path generators;
    ScopedEnv generatorEnv{"TRAJIX_GENERATOR_DIR", std::nullopt};
    std::filesystem::path tools = home.path() / "GPStools";
    std::filesystem::path nmea = dir / "trip.nme";
};

TEST_F(ScenarioStepTest, HandOverMakesTheRecordingBesideTheNmeaFile)
{
    ScopedEnv folder("TRAJIX_GENERATOR_DIR", generators.string());
    auto form = startScenarioWindow();
    answerWaitWindow(*form, true);

    form->handOverWrittenFile(qpath(nmea), true);

    ASSERT_EQ(prompt.questions.size(), 2u);
    EXPECT_EQ(prompt.questions[0], std::string(scenarioQuestion));
    EXPECT_EQ(prompt.questions[1], weekQuestion("462", 610));
    const std::string bin = (dir / "trip.bin").string();
    EXPECT_EQ(prompt.messages,
              (std::vector<std::string>{"20/10/2002 day of year  = 293", "Output file " + bin + " created"}));
    EXPECT_EQ(control<QLineEdit>(*form, "WeekEdit")->text(), qs("610"));
    EXPECT_EQ(control<QLineEdit>(*form, "StartDayEdit")->text(), qs("1"));
    EXPECT_EQ(control<QLineEdit>(*form, "StartMonthEdit")->text(), qs("5"));
    EXPECT_EQ(control<QLineEdit>(*form, "StartYearEdit")->text(), qs("2011"));
    EXPECT_EQ(form->scenarioOutputName, QString::fromStdString(bin));
    EXPECT_EQ(form->statusPanel(1), qpath(tools / "profile.txt"));
    EXPECT_EQ(control<QLabel>(*form, "Label17")->text(), qs("Conversion complete"));

    // The recording is the generator's output.dsf in the .bin form, five seconds long.
    const auto reference = dir / "reference.bin";
    const auto result = runTrajix({"dsf2bin", (tools / "output.dsf").string(), "-o", reference.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string recording = readFileBytes(bin);
    EXPECT_EQ(recording.size(), 5 * block);
    EXPECT_TRUE(recording == readFileBytes(reference));
    EXPECT_EQ(readFileBytes(tools / "nmeaInput.txt"), readFileBytes(nmea));
}

TEST_F(ScenarioStepTest, DurationEditSetsTheRecordingsLengthAsTheCommandDoes)
{
    ScopedEnv folder("TRAJIX_GENERATOR_DIR", generators.string());
    auto form = startScenarioWindow();
    EXPECT_EQ(control<QLineEdit>(*form, "DurationEdit")->text(), qs("5"));
    control<QLineEdit>(*form, "DurationEdit")->setText("2");
    answerWaitWindow(*form, true);

    form->handOverWrittenFile(qpath(nmea), true);

    EXPECT_NE(readFileBytes(tools / "profile.txt").find("\r\nDuration_in_sec = 2\r\n"), std::string::npos);
    const std::string recording = readFileBytes(dir / "trip.bin");
    EXPECT_EQ(recording.size(), 2 * block);
    // The command line's scenario step, in a home of its own, makes the same recording.
    TempDir other;
    std::filesystem::create_directory(other / "GPStools");
    std::filesystem::copy_file(nmea, other / "trip.nme");
    ScopedEnv otherHome{"HOME", other.path().string()};
    const auto result = runTrajix({"scenario", (other / "trip.nme").string(), "--almanac",
                                   dataFile("scenario/week610.alm").string(), "--duration", "2", "--yes"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(readFileBytes(other / "trip.bin") == recording);
}

TEST_F(ScenarioStepTest, CancelKeepsTheToolFilesAndConvertsNothing)
{
    ScopedEnv folder("TRAJIX_GENERATOR_DIR", generators.string());
    auto form = startScenarioWindow();
    control<QLineEdit>(*form, "WeekEdit")->setText("612");  // within 3 weeks of the almanac: no week question
    answerWaitWindow(*form, false);

    form->handOverWrittenFile(qpath(nmea), true);

    EXPECT_EQ(prompt.questions.size(), 1u);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"20/10/2002 day of year  = 293"});
    for (const char* name : {"profile.txt", "nmeaInput.txt", "go.sh"})
        EXPECT_TRUE(std::filesystem::exists(tools / name)) << name;
    EXPECT_FALSE(std::filesystem::exists(dir / "trip.bin"));
    EXPECT_FALSE(form->continueForm->continueConfirmed);
    EXPECT_FALSE(form->scenarioGeneratorRunning());
}

TEST_F(ScenarioStepTest, RunsOnlyWithSimulatorFeaturesAndStopsOnNoOrAMissingAlmanac)
{
    {
        auto form = startScenarioWindow(false);
        form->handOverWrittenFile(qpath(nmea), true);
        EXPECT_TRUE(prompt.questions.empty());
        EXPECT_FALSE(std::filesystem::exists(tools / "profile.txt"));
        // Without the scenario step the hand-over says what was written.
        EXPECT_EQ(prompt.messages, std::vector<std::string>{nmea.string() + " created."});
        prompt.messages.clear();
    }
    {
        auto form = startScenarioWindow();
        prompt.answers = {false};
        form->handOverWrittenFile(qpath(nmea), true);
        EXPECT_EQ(prompt.questions.size(), 1u);
        EXPECT_TRUE(prompt.messages.empty());
        EXPECT_FALSE(std::filesystem::exists(tools / "profile.txt"));
    }
    {
        // A missing almanac: its message, the date edits as they were, nothing written.
        auto form = startScenarioWindow();
        control<QLineEdit>(*form, "AlmanacEdit")->setText(qpath(dir / "none.alm"));
        prompt.questions.clear();
        form->handOverWrittenFile(qpath(nmea), true);
        ASSERT_EQ(prompt.messages.size(), 1u);
        EXPECT_NE(prompt.messages[0].find("none.alm"), std::string::npos) << prompt.messages[0];
        EXPECT_EQ(control<QLineEdit>(*form, "StartYearEdit")->text(), qs("2008"));
        EXPECT_FALSE(std::filesystem::exists(tools / "profile.txt"));
    }
    {
        // A week that is no number stops the step after the date edits were set.
        auto form = startScenarioWindow();
        control<QLineEdit>(*form, "WeekEdit")->setText("46x");
        prompt.messages.clear();
        form->handOverWrittenFile(qpath(nmea), true);
        ASSERT_EQ(prompt.messages.size(), 2u);
        EXPECT_NE(prompt.messages[1].find("'46x'"), std::string::npos) << prompt.messages[1];
        EXPECT_EQ(control<QLineEdit>(*form, "StartYearEdit")->text(), qs("2011"));
        EXPECT_EQ(control<QLineEdit>(*form, "WeekEdit")->text(), qs("46x"));
        EXPECT_FALSE(std::filesystem::exists(tools / "profile.txt"));
    }
}

// A new user's first scenario: no ~/GPStools yet, and a generator that takes its time.
// The generator here is a script that writes half the recording, says so, and waits
// until the test has seen the wait window show it.
class FirstScenarioTest : public RecordingTabTest {
protected:
    void SetUp() override
    {
        RecordingTabTest::SetUp();
        std::filesystem::create_directory(generators);
        writeFileBytes(generators / "TrajixBinary",
                       "#!/bin/sh\n"
                       "echo 'TrajixBinary: writing 4 s of signal to output.dsf'\n"
                       "head -c 4092000 /dev/zero > .output.dsf.partial-test\n"
                       "echo 'TrajixBinary: 2 of 4 s written'\n"
                       "while [ ! -e release ]; do sleep 0.05; done\n"
                       "head -c 8184000 /dev/zero > .output.dsf.partial-test\n"
                       "mv .output.dsf.partial-test output.dsf\n"
                       "echo 'TrajixBinary: finished'\n");
        std::filesystem::permissions(generators / "TrajixBinary", std::filesystem::perms::owner_all);
        std::string fixes;
        for (int i = 0; i < 3; ++i)
            fixes += trajix::ggaSentence(32400 + 0.05L * i, 51.9988L, -0.9978L, trajix::fixedAltitude);
        writeFileBytes(nmea, fixes);
    }

    ScopedEnv display{"DISPLAY", std::nullopt};
    ScopedEnv wayland{"WAYLAND_DISPLAY", std::nullopt};
    std::filesystem::path generators = dir / "generator";
    ScopedEnv generatorEnv{"TRAJIX_GENERATOR_DIR", generators.string()};
    std::filesystem::path tools = home.path() / "GPStools";
    std::filesystem::path nmea = dir / "trip.nme";
};

TEST_F(FirstScenarioTest, MakesTheToolDirectoryAndTheWaitShowsTheGeneratorsProgress)
{
    ASSERT_FALSE(std::filesystem::exists(tools));
    auto form = startWindow([] {
        gui::StartOptions options;
        options.simulatorFeatures = true;
        return options;
    }());
    form->setDialogs(&dialogs);
    control<QLineEdit>(*form, "AlmanacEdit")->setText(qpath(dataFile("scenario/week610.alm")));
    control<QLineEdit>(*form, "WeekEdit")->setText("610");
    control<QLineEdit>(*form, "DurationEdit")->setText("4");

    // What the wait window showed while the generator was half way, and at its end.
    QString halfWayLine, endLine;
    int halfWayValue = -1, gaugeMaximum = -1;
    auto* timer = new QTimer(form.get());
    QObject::connect(timer, &QTimer::timeout, [&] {
        gui::RecordingWaitWindow& wait = *form->continueForm;
        if (!wait.isVisible()) return;
        if (halfWayLine.isEmpty()) {
            if (wait.GeneratorLabel->text() != qs("TrajixBinary: 2 of 4 s written")) return;
            halfWayLine = wait.GeneratorLabel->text();
            halfWayValue = wait.GeneratorGauge->value();
            gaugeMaximum = wait.GeneratorGauge->maximum();
            writeFileBytes(tools / "release", "");
            return;
        }
        if (form->scenarioGeneratorRunning()) return;
        wait.showGeneratorProgress();
        endLine = wait.GeneratorLabel->text();
        timer->stop();
        wait.Button1->click();
    });
    timer->start(20);
    // Should the window never show the progress, Cancel ends the wait and the checks fail.
    QTimer::singleShot(120000, form.get(), [&form] {
        if (form->continueForm->isVisible()) form->continueForm->Button2->click();
    });

    form->handOverWrittenFile(qpath(nmea), true);

    EXPECT_TRUE(std::filesystem::is_directory(tools));
    EXPECT_EQ(halfWayLine, qs("TrajixBinary: 2 of 4 s written"));
    EXPECT_EQ(halfWayValue, 2);
    EXPECT_EQ(gaugeMaximum, 4);
    EXPECT_EQ(endLine, qs("TrajixBinary: finished"));
    EXPECT_EQ(form->continueForm->GeneratorGauge->value(), 4);
    const std::string bin = (dir / "trip.bin").string();
    EXPECT_EQ(prompt.messages,
              (std::vector<std::string>{"20/10/2002 day of year  = 293", "Output file " + bin + " created"}));
    EXPECT_EQ(readFileBytes(bin), std::string(4 * block, '\0'));
}

}  // namespace
}  // namespace trajix::test

#endif

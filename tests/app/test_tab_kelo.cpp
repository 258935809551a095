// The "KELO import" tab and the Settings tab's text conversion and NMEA correction:
// the dialogs they ask, the files they write (the same bytes as the trajix command),
// the rate edits, the preview and the charts.
#ifdef TRAJIX_WITH_CONVERT

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <deque>
#include <string>

#include "app/secondary_windows.hpp"
#include "app_fixture.hpp"
#ifdef TRAJIX_WITH_QTSERIAL
#include "../replay/replay_fixtures.hpp"
#include "app/tab_serial.hpp"
#include "replay/scan.hpp"
#endif

namespace trajix::test {
namespace {

using gui::MainWindow;

QString qpath(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

/// The memo shows the preview with LF line ends.
std::string withoutCarriageReturns(std::string text)
{
    std::erase(text, '\r');
    return text;
}

int countOf(const std::string& text, std::string_view what)
{
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

class KeloTabTest : public AppTest {
protected:
    std::unique_ptr<MainWindow> start()
    {
        auto form = startWindow();
        form->setDialogs(&dialogs);
        return form;
    }

    ScriptedDialogs dialogs;
};

TEST_F(KeloTabTest, TenHertzLogSetsEveryRateEditAndWritesWhatTheCommandWrites)
{
    auto form = start();
    control<QLineEdit>(*form, "SampleRateEdit")->setText("20");
    control<QLineEdit>(*form, "OutputUpdateEdit1")->setText("20");
    control<QLineEdit>(*form, "outputUpdateEdit2")->setText("20");
    control<QCheckBox>(*form, "VTGBox")->setChecked(true);
    control<QLineEdit>(*form, "kelStationaryPeriodedit")->setText("3");
    control<QLineEdit>(*form, "kelstationaryPeriodEndEdit")->setText("2");
#ifdef TRAJIX_WITH_QTSERIAL
    const QString replayBefore = replayFileName(*form);
#endif

    // A name without a dot is used as entered: this writer adds no ".txt".
    const auto guiOutput = dir / "gui_output";
    dialogs.openAnswers = {qpath(dataFile("convert/log10hz.kel"))};
    dialogs.saveAnswers = {qpath(guiOutput)};
    tab<gui::KeloTab>(*form)->importLog();

    EXPECT_EQ(dialogs.asked.join('\n').toStdString(),
              "open: Pick KELO .kel file for conversion | *.kel\nsave: Enter name for NMEA output file | log10hz.txt");
    // The import says what it wrote and where.
    EXPECT_EQ(prompt.messages, std::vector<std::string>{guiOutput.string() + " created."});
    for (QLineEdit* edit : {control<QLineEdit>(*form, "SampleRateEdit"), control<QLineEdit>(*form, "OutputUpdateEdit1"),
                            control<QLineEdit>(*form, "outputUpdateEdit2")})
        EXPECT_EQ(edit->text(), qs("10")) << edit->objectName().toStdString();
    ASSERT_TRUE(std::filesystem::exists(guiOutput));
    EXPECT_FALSE(std::filesystem::exists(dir / "gui_output.txt"));
    EXPECT_EQ(form->output().outputFileName, guiOutput.string());
    EXPECT_DOUBLE_EQ(static_cast<double>(form->output().outputInterval), 0.1);
#ifdef TRAJIX_WITH_QTSERIAL
    EXPECT_NE(replayBefore, qpath(guiOutput));
    EXPECT_EQ(replayFileName(*form), qpath(guiOutput)) << "the import's file is the one the Serial Output tab plays";
#endif

    const auto cliOutput = dir / "cli_output";
    const auto cli = runTrajix({"kelo", dataFile("convert/log10hz.kel").string(), "-o", cliOutput.string(), "--vtg",
                                "--rate", "20", "--stationary-start", "3", "--stationary-end", "2", "--preview"});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    EXPECT_EQ(readFileBytes(guiOutput), readFileBytes(cliOutput));

    // The command prints the rate on its first line, then the same preview the memo shows.
    ASSERT_EQ(cli.out.substr(0, 3), "10\n");
    const std::string memo = control<QPlainTextEdit>(*form, "Memo2")->toPlainText().toStdString();
    EXPECT_EQ(memo, withoutCarriageReturns(cli.out.substr(3)));
    EXPECT_EQ(memo.substr(0, 26), "First 50 lines of output:\n");
    EXPECT_EQ(countOf(memo, "$GPGGA"), 50);
    EXPECT_EQ(countOf(memo, "$GPVTG"), 50);
    EXPECT_EQ(memo.find('\r'), std::string::npos);
    expectDrawnMonospaced(control<QPlainTextEdit>(*form, "Memo2"));

    // Every tenth row is charted; a second import replaces the first one's points (no
    // line joins the old log to the new one).
    const auto trackPoints = series(*form, "Series11")->count();
    const auto speedPoints = series(*form, "Series12")->count();
    EXPECT_GT(trackPoints, 0);
    EXPECT_GE(speedPoints, trackPoints);
    dialogs.openAnswers = {qpath(dataFile("convert/log10hz.kel"))};
    dialogs.saveAnswers = {qpath(guiOutput)};
    tab<gui::KeloTab>(*form)->importLog();
    EXPECT_EQ(series(*form, "Series11")->count(), trackPoints);
    EXPECT_EQ(series(*form, "Series12")->count(), speedPoints);
    EXPECT_EQ(control<QPlainTextEdit>(*form, "Memo2")->toPlainText().toStdString(), memo)
        << "the preview is replaced, not added to";
}

// A log that stands still: its preview and its one spot show before the user is asked
// for the output name; the charts put east right and north up.
TEST_F(KeloTabTest, StationaryLogPreviewsItsSpotBeforeAskingForTheName)
{
    auto form = start();
    std::string log =
        "KELO data logger\r\n[header]\r\nindex\r\ntime\r\nlat\r\nlon\r\nspeed\r\nheading\r\n"
        "[channel units]\r\n-\r\nhhmmss\r\nmin\r\nmin\r\nkm/h\r\ndeg\r\n[data]\r\n";
    for (int i = 0; i < 40; ++i)
        log += std::to_string(i) + " " + std::to_string(100000 + i / 10) + "." + std::to_string(i % 10) +
               "0 3090 15 0 0\r\n";
    writeFileBytes(dir / "still.kel", log);
    int previewLines = 0;
    qsizetype pointsAtAsking = 0;
    dialogs.onAsk = [&] {
        previewLines = countOf(control<QPlainTextEdit>(*form, "Memo2")->toPlainText().toStdString(), "$GPGGA");
        pointsAtAsking = series(*form, "Series11")->count();
    };
    dialogs.openAnswers = {qpath(dir / "still.kel")};
    dialogs.saveAnswers = {QString()};
    tab<gui::KeloTab>(*form)->importLog();
    EXPECT_GT(previewLines, 0) << "the preview shows before the name is asked";
    EXPECT_GT(pointsAtAsking, 0);
    EXPECT_TRUE(series(*form, "Series11")->pointsVisible()) << "one spot draws no line: its point is marked";
    const QPointF spot = series(*form, "Series11")->at(0);
    EXPECT_NEAR(spot.x(), -0.25, 1e-9) << "longitude along the horizontal axis";
    EXPECT_NEAR(spot.y(), 51.5, 1e-9);
    auto* chart = control<QChartView>(*form, "Chart6")->chart();
    EXPECT_EQ(chart->axes(Qt::Horizontal).at(0)->titleText(), qs("Longitude (°)"));

    // Periods that are no whole seconds are refused before any file is picked.
    dialogs.asked.clear();
    for (const char* bad : {"2.5", "-1", "soon"}) {
        control<QLineEdit>(*form, "kelStationaryPeriodedit")->setText(bad);
        prompt.messages.clear();
        tab<gui::KeloTab>(*form)->importLog();
        tab<gui::KeloTab>(*form)->convertTextList();
        ASSERT_EQ(prompt.messages.size(), 2u) << bad;
        EXPECT_NE(prompt.messages[0].find(std::string("'") + bad + "'"), std::string::npos) << prompt.messages[0];
    }
    EXPECT_TRUE(dialogs.asked.isEmpty());
}

TEST_F(KeloTabTest, ASkyThatMissesTheLogsDayOffersADayThatCoversItsTimes)
{
    auto form = start();
    // A log of 02:00:00 UTC; the VILL file covers 2018-06-18 about 21:00 to 2018-06-19
    // about 08:00.
    std::string log =
        "KELO data logger\r\n[header]\r\nindex\r\ntime\r\nlat\r\nlon\r\nspeed\r\nheading\r\n"
        "[channel units]\r\n-\r\nhhmmss\r\nmin\r\nmin\r\nkm/h\r\ndeg\r\n[data]\r\n";
    for (int i = 0; i < 40; ++i)
        log += std::to_string(i) + " " + std::to_string(20000 + i / 10) + "." + std::to_string(i % 10) +
               "0 2424 -234 0 0\r\n";
    writeFileBytes(dir / "night.kel", log);
    auto* date = control<QDateEdit>(*form, "keloDateEdit");
    dialogs.openAnswers = {qpath(dataFile("sky/VILL00ESP_R_20181700000_0000-0500_GPS.rnx"))};
    control<QPushButton>(*form, "SkyBrowseButton")->click();
    EXPECT_TRUE(date->isEnabled());
    EXPECT_EQ(control<QLabel>(*form, "keloSkyLabel")->text(), qs("Sky on: VILL00ESP_R_20181700000_0000-0500_GPS.rnx"));
    date->setDate(QDate(2018, 7, 1));

    // No: nothing is written, no name is asked.
    dialogs.asked.clear();
    dialogs.openAnswers = {qpath(dir / "night.kel")};
    prompt.answers = {false};
    tab<gui::KeloTab>(*form)->importLog();
    ASSERT_EQ(prompt.questions.size(), 1u);
    for (const char* part : {"2018-07-01 ", "covers 2018-06-18 ", " UTC to 2018-06-19 ", "date to 2018-06-19"})
        EXPECT_NE(prompt.questions[0].find(part), std::string::npos) << part << " in " << prompt.questions[0];
    EXPECT_EQ(dialogs.asked.size(), 1);
    EXPECT_EQ(date->date(), QDate(2018, 7, 1));

    // Yes: the date moves and the log is imported again, with its sky.
    dialogs.openAnswers = {qpath(dir / "night.kel")};
    dialogs.saveAnswers = {qpath(dir / "night.txt")};
    prompt.answers = {true};
    tab<gui::KeloTab>(*form)->importLog();
    ASSERT_EQ(prompt.questions.size(), 2u);
    EXPECT_EQ(date->date(), QDate(2018, 6, 19));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{(dir / "night.txt").string() + " created."});
    EXPECT_NE(readFileBytes(dir / "night.txt").find("$GPGSV,"), std::string::npos);

    // A log at a time of day no day of the file covers gets the refusal alone.
    std::string noon = log;
    for (std::size_t at = noon.find(" 2000"); at != std::string::npos; at = noon.find(" 2000", at + 1))
        noon.replace(at, 5, " 12000");
    writeFileBytes(dir / "noon.kel", noon);
    dialogs.openAnswers = {qpath(dir / "noon.kel")};
    prompt.messages.clear();
    tab<gui::KeloTab>(*form)->importLog();
    EXPECT_EQ(prompt.questions.size(), 2u);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find(" UTC to 2018-06-19 "), std::string::npos) << prompt.messages[0];
}

TEST_F(KeloTabTest, LongPeriodsStillPreviewFiftySamples)
{
    // 80 s at rest at 10 Hz: the preview stops at 50 samples of the 800.
    auto form = start();
    const auto output = dir / "long.txt";
    dialogs.openAnswers = {qpath(dataFile("convert/log10hz.kel"))};
    dialogs.saveAnswers = {qpath(output)};
    tab<gui::KeloTab>(*form)->importLog();
    ASSERT_EQ(prompt.messages, std::vector<std::string>{output.string() + " created."});
    const std::string memo = control<QPlainTextEdit>(*form, "Memo2")->toPlainText().toStdString();
    EXPECT_EQ(countOf(memo, "$GPGGA"), 50);
    EXPECT_EQ(countOf(memo, "$GPVTG"), 0) << "VTGBox is not ticked";
    EXPECT_GT(countOf(readFileBytes(output), "$GPGGA"), 800);
}

TEST_F(KeloTabTest, BadLogShowsItsMessageAndWritesNothing)
{
    auto form = start();
    control<QLineEdit>(*form, "SampleRateEdit")->setText("20");
    control<QPlainTextEdit>(*form, "Memo2")->setPlainText("earlier preview\n");
    const auto input = dir / "broken.kel";
    writeFileBytes(input,
                   "KELO data logger\r\n[header]\r\nindex\r\ntime\r\nlat\r\nlon\r\nspeed\r\nheading\r\n"
                   "[channel units]\r\n-\r\n0 95958.70 3000.0 60.0 0 0\r\n");
    const auto output = dir / "kept.txt";
    writeFileBytes(output, "an earlier result\r\n");

    dialogs.openAnswers = {qpath(input)};
    dialogs.saveAnswers = {qpath(output)};
    tab<gui::KeloTab>(*form)->importLog();

    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("[data]"), std::string::npos) << prompt.messages[0];
    EXPECT_EQ(dialogs.asked.size(), 1) << "a bad log is reported before the user is asked for a name";
    EXPECT_EQ(readFileBytes(output), "an earlier result\r\n");
    EXPECT_EQ(control<QLineEdit>(*form, "SampleRateEdit")->text(), qs("20"));
    EXPECT_TRUE(control<QPlainTextEdit>(*form, "Memo2")->toPlainText().isEmpty()) << "no preview of an earlier log";
    EXPECT_EQ(series(*form, "Series11")->count(), 0);
}

TEST_F(KeloTabTest, CancelledDialogsWriteNothing)
{
    auto form = start();
    control<QLineEdit>(*form, "SampleRateEdit")->setText("20");
    dialogs.openAnswers = {QString()};
    tab<gui::KeloTab>(*form)->importLog();
    EXPECT_EQ(dialogs.asked.size(), 1) << "no save dialog after a cancelled open";

    dialogs.openAnswers = {qpath(dataFile("convert/log10hz.kel"))};
    dialogs.saveAnswers = {QString()};
    tab<gui::KeloTab>(*form)->importLog();
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(control<QLineEdit>(*form, "SampleRateEdit")->text(), qs("20")) << "nothing written, no rate taken";
    EXPECT_FALSE(control<QPlainTextEdit>(*form, "Memo2")->toPlainText().isEmpty()) << "the preview came first";

    const std::function<void()> conversions[] = {[&] { tab<gui::KeloTab>(*form)->convertTextList(); },
                                                 [&] { tab<gui::SettingsTab>(*form)->correctNmeaFile(); }};
    for (const auto& click : conversions) {
        dialogs.asked.clear();
        click();
        EXPECT_EQ(dialogs.asked.size(), 1);
    }
    EXPECT_TRUE(control<QLabel>(*form, "FinishedLabel")->text().isEmpty());
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(KeloTabTest, CancelStopsTheImportAndTheTextConversionWithoutAMessage)
{
    auto form = start();
    // Inputs long enough that each run looks at Cancel before it ends.
    std::string log =
        "KELO data logger\r\n[header]\r\nindex\r\ntime\r\nlat\r\nlon\r\nspeed\r\nheading\r\n"
        "[channel units]\r\n-\r\nhhmmss\r\nmin\r\nmin\r\nkm/h\r\ndeg\r\n[data]\r\n";
    std::string list = "title\n";
    for (int i = 0; i < 6000; ++i) {
        log += std::to_string(i) + " " + std::to_string(100000 + i / 10) + "." + std::to_string(i % 10) +
               "0 3000 60 5 0\r\n";
        list += "51.5 -0.25\n";
    }
    writeFileBytes(dir / "long.kel", log);
    writeFileBytes(dir / "long.txt", list);
    writeFileBytes(dir / "out.txt", "kept");

    auto* cancel = form->ProgressForm->findChild<QPushButton*>("CancelButton");
    ASSERT_TRUE(cancel);
    gui::KeloTab* kelo = tab<gui::KeloTab>(*form);
    for (auto [click, input] : {std::pair{&gui::KeloTab::importLog, dir / "long.kel"},
                                std::pair{&gui::KeloTab::convertTextList, dir / "long.txt"}}) {
        // Cancel is pressed as soon as the run first lets the window's events through.
        QTimer::singleShot(0, cancel, [cancel] { cancel->click(); });
        dialogs.openAnswers = {qpath(input)};
        dialogs.saveAnswers = {qpath(dir / "out.txt")};
        dialogs.asked.clear();
        (kelo->*click)();
        EXPECT_EQ(dialogs.asked.size(), 1) << "nor asks for a name";
        EXPECT_TRUE(prompt.messages.empty()) << "a cancelled run needs no message";
        EXPECT_EQ(readFileBytes(dir / "out.txt"), "kept");
        EXPECT_FALSE(form->ProgressForm->isVisible());
    }
    EXPECT_EQ(control<QPlainTextEdit>(*form, "Memo2")->toPlainText(), QString());
}

#ifdef TRAJIX_WITH_QTSERIAL
// The Serial Output tab describes the file it plays and no other: after an import its
// name, rate, length and type are those of one file, the scan of the file it names, so
// Start plays that file at that file's rate. (A 20 Hz replay file once stayed beside the
// import's 10 Hz description and played at 10 Hz.)
TEST_F(KeloTabTest, AfterAnImportTheSerialTabDescribesTheFileItPlays)
{
    auto form = start();
    auto* serial = tab<gui::SerialTab>(*form);
    const auto expectDescribesTheReplayFile = [&](const char* when) {
        const QString played = replayFileName(*form);
        EXPECT_EQ(control<QLabel>(*form, "replayFilenameEdit")->text(), "Replay file : " + played) << when;
        const auto scan = scanfile(played.toStdString(), false);
        ASSERT_TRUE(scan && scan->measured) << when;
        EXPECT_EQ(control<QLineEdit>(*form, "ReplayOutputRateEdit")->text().toStdString(), scan->rateText) << when;
        EXPECT_EQ(control<QLabel>(*form, "ReplayFileLengthLabel")->text().toStdString(), scan->lengthText) << when;
        EXPECT_EQ(control<QLabel>(*form, "ReplayFileTypeLabel")->text().toStdString(), scan->typeText) << when;
        EXPECT_EQ(form->replayState().replaySentenceCount, scan->count) << when;
    };

    // A 20 Hz replay file first, then a 10 Hz log imported.
    const auto twenty = dir / "twenty.txt";
    writeFileBytes(twenty, crlfLines(fixLines(43200, 400, 20, false)));
    serial->adoptReplayFile(qpath(twenty));
    expectDescribesTheReplayFile("a file picked");
    ASSERT_EQ(control<QLineEdit>(*form, "ReplayOutputRateEdit")->text(), qs("20"));

    const auto imported = dir / "imported.txt";
    dialogs.openAnswers = {qpath(dataFile("convert/log10hz.kel"))};
    dialogs.saveAnswers = {qpath(imported)};
    tab<gui::KeloTab>(*form)->importLog();
    ASSERT_TRUE(std::filesystem::exists(imported));
    EXPECT_EQ(replayFileName(*form), qpath(imported));
    expectDescribesTheReplayFile("after the import");
    EXPECT_EQ(control<QLineEdit>(*form, "ReplayOutputRateEdit")->text(), qs("10"));

    // A text list's file is described and played the same way.
    const auto list = dir / "list.txt";
    writeFileBytes(list, "lat lon\r\n51.5 -0.25\r\n51.6 -0.25\r\n");
    dialogs.openAnswers = {qpath(list)};
    dialogs.saveAnswers = {qpath(dir / "list_out.txt")};
    tab<gui::KeloTab>(*form)->convertTextList();
    ASSERT_TRUE(std::filesystem::exists(dir / "list_out.txt"));
    EXPECT_EQ(replayFileName(*form), qpath(dir / "list_out.txt"));
    expectDescribesTheReplayFile("after a text list");

    // A file that cannot be read leaves no other file's rate beside its name.
    serial->adoptReplayFile(qpath(dir / "missing.txt"));
    EXPECT_EQ(replayFileName(*form), qpath(dir / "missing.txt"));
    EXPECT_EQ(control<QLineEdit>(*form, "ReplayOutputRateEdit")->text(), QString());
    EXPECT_EQ(control<QLabel>(*form, "ReplayFileLengthLabel")->text(), qs("File length"));
}
#endif

// The rate a log sets on every tab is said where the user looks: the status bar, the
// Settings tab beside its rate and the rate's tooltip; a rate typed afterwards ends the note.
TEST_F(KeloTabTest, TheRateALogSetsIsSaidInTheStatusBarAndBesideTheRate)
{
    auto form = start();
    control<QLineEdit>(*form, "SampleRateEdit")->setText("20");
    auto* note = control<QLabel>(*form, "SampleRateSourceLabel");
    EXPECT_TRUE(note->text().isEmpty());
    dialogs.openAnswers = {qpath(dataFile("convert/log10hz.kel"))};
    dialogs.saveAnswers = {qpath(dir / "imported.txt")};
    tab<gui::KeloTab>(*form)->importLog();
    ASSERT_TRUE(std::filesystem::exists(dir / "imported.txt"));
    EXPECT_EQ(form->statusPanel(1), qs("Output rate set to 10 Hz from the log log10hz.kel"));
    EXPECT_EQ(note->text(), qs("set from the log log10hz.kel"));
    EXPECT_NE(control<QLineEdit>(*form, "SampleRateEdit")->toolTip().indexOf("set to 10 Hz from the log log10hz.kel"),
              -1);
    for (const char* name : {"SampleRateEdit", "OutputUpdateEdit1", "outputUpdateEdit2"})
        EXPECT_EQ(control<QLineEdit>(*form, name)->text(), qs("10")) << name;
    // Beside the rate, on its row.
    form->show();
    form->PageControl1->setCurrentIndex(5);
    QApplication::processEvents();
    auto* rate = control<QLineEdit>(*form, "SampleRateEdit");
    const QRect noteBox(note->mapTo(form.get(), QPoint(0, 0)), note->size());
    const QRect rateBox(rate->mapTo(form.get(), QPoint(0, 0)), rate->size());
    EXPECT_TRUE(note->isVisible());
    EXPECT_NEAR(noteBox.center().y(), rateBox.center().y(), 4);
    EXPECT_GT(noteBox.left(), rateBox.right());

    // Leaving a rate edit unchanged keeps the note; typing another rate on any tab ends it.
    auto* routeRate = control<QLineEdit>(*form, "OutputUpdateEdit1");
    emit routeRate->editingFinished();
    EXPECT_EQ(note->text(), qs("set from the log log10hz.kel"));
    routeRate->selectAll();
    QTest::keyClicks(routeRate, "5");
    EXPECT_EQ(control<QLineEdit>(*form, "SampleRateEdit")->text(), qs("5"));
    EXPECT_TRUE(note->text().isEmpty());
    EXPECT_TRUE(form->statusPanel(1).isEmpty());
    EXPECT_EQ(control<QLineEdit>(*form, "SampleRateEdit")->toolTip().indexOf("from the log"), -1);
}

TEST_F(KeloTabTest, TextConversionUsesRateAndPeriodsAndAppendsToThePreview)
{
    auto form = start();
    control<QLineEdit>(*form, "SampleRateEdit")->setText("5");
    control<QLineEdit>(*form, "kelStationaryPeriodedit")->setText("1");
    control<QLineEdit>(*form, "kelstationaryPeriodEndEdit")->setText("1");
    control<QCheckBox>(*form, "VTGBox")->setChecked(true);  // the text conversion writes no VTG whatever the box says
    control<QPlainTextEdit>(*form, "Memo2")->setPlainText("kept line\n");

    // Five numbers a line pair across the lines; a zero latitude writes nothing.
    const auto input = dir / "list.txt";
    writeFileBytes(input, "lat lon speed heading time\r\n51.5 -0.25 3 4 5\r\n-33.5 51.25 0 7 8\r\n");
    const auto guiOutput = dir / "gui_list";
    dialogs.openAnswers = {qpath(input)};
    dialogs.saveAnswers = {qpath(guiOutput)};
    tab<gui::KeloTab>(*form)->convertTextList();

    EXPECT_EQ(dialogs.asked.join('\n').toStdString(),
              "open: Pick .txt file for conversion | *.txt\nsave: Enter name for NMEA output file | list.nmea.txt");
    ASSERT_TRUE(std::filesystem::exists(guiOutput));
    const auto cliOutput = dir / "cli_list";
    const auto cli = runTrajix({"txt2nmea", input.string(), "-o", cliOutput.string(), "--rate", "5",
                                "--stationary-start", "1", "--stationary-end", "1"});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    const std::string written = readFileBytes(guiOutput);
    EXPECT_EQ(written, readFileBytes(cliOutput));
    EXPECT_EQ(written.find("VTG"), std::string::npos);
    EXPECT_EQ(written.substr(0, 17), "$GPGGA,000000.00,");
    EXPECT_EQ(control<QLineEdit>(*form, "SampleRateEdit")->text(), qs("5")) << "a text list has no rate of its own";
    EXPECT_EQ(form->output().outputFileName, guiOutput.string());

    const std::string memo = control<QPlainTextEdit>(*form, "Memo2")->toPlainText().toStdString();
    EXPECT_EQ(memo.substr(0, 10), "kept line\n");
    EXPECT_EQ(memo.find('\r'), std::string::npos);
    // The run-out is never previewed, so the memo holds less than the file here.
    EXPECT_GT(countOf(memo, "$GPGGA"), 0);
    EXPECT_LT(countOf(memo, "$GPGGA"), countOf(written, "$GPGGA"));
    const std::string shownFile = withoutCarriageReturns(written);
    EXPECT_EQ(memo.substr(10), shownFile.substr(0, memo.size() - 10));
}

TEST_F(KeloTabTest, BadTextListsAreReportedBeforeTheUserIsAskedForAName)
{
    auto form = start();
    writeFileBytes(dir / "kept.txt", "an earlier result\r\n");
    // No fix, a latitude off the earth, a word among the numbers (a bad period is refused
    // before the list is picked: StationaryLogPreviewsItsSpotBeforeAskingForTheName).
    const std::vector<std::pair<std::string, std::string>> lists = {{"title\n0 1\n0 2\n", "nothing was written"},
                                                                    {"title\n51 1\n8541200 2\n", "line 3"},
                                                                    {"title\n51 1\nnorth 2\n", "north"}};
    for (const auto& [list, named] : lists) {
        writeFileBytes(dir / "list.txt", list);
        dialogs.asked.clear();
        prompt.messages.clear();
        dialogs.openAnswers = {qpath(dir / "list.txt")};
        dialogs.saveAnswers = {qpath(dir / "kept.txt")};
        tab<gui::KeloTab>(*form)->convertTextList();
        ASSERT_EQ(prompt.messages.size(), 1u) << list;
        EXPECT_NE(prompt.messages[0].find(named), std::string::npos) << prompt.messages[0];
        EXPECT_EQ(dialogs.asked, QStringList{"open: Pick .txt file for conversion | *.txt"}) << list;
        EXPECT_EQ(readFileBytes(dir / "kept.txt"), "an earlier result\r\n");
    }
}

TEST_F(KeloTabTest, CorrectionKeepsGgaLinesLikeTheCommandAndReportsTheName)
{
    auto form = start();
    const std::string nmea =
        "$GPGGA,100000.00,5130.00000000,N,00015.00000000,W,1,05,2.87,160.00,M,-21.3213,M,,*5C\r\n"
        "$GPVTG,0.00,T,,M,0.000,N,0.000,K,A*3D\n"
        "; a comment that mentions GGA\r\n"
        "$GPRMC,gga in lower case\r\n";
    TempDir cliDir;
    const auto guiInput = dir / "run.txt";
    const auto cliInput = cliDir / "run.txt";
    writeFileBytes(guiInput, nmea);
    writeFileBytes(cliInput, nmea);

    dialogs.openAnswers = {qpath(guiInput)};
    tab<gui::SettingsTab>(*form)->correctNmeaFile();
    EXPECT_EQ(dialogs.asked, (QStringList{"open: Pick nmea file for conversion | *.txt"}));
    const auto guiOutput = dir / "run_mod.txt";
    EXPECT_EQ(control<QLabel>(*form, "FinishedLabel")->text(), qs("Finished - output file:") + qpath(guiOutput));

    const auto cli = runTrajix({"correct", cliInput.string()});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    EXPECT_EQ(readFileBytes(guiOutput), readFileBytes(cliDir / "run_mod.txt"));
    EXPECT_EQ(readFileBytes(guiOutput),
              "$GPGGA,100000.00,5130.00000000,N,00015.00000000,W,1,05,2.87,160.00,M,-21.3213,M,,*5C\r\n"
              "; a comment that mentions GGA\r\n");
#ifdef TRAJIX_WITH_QTSERIAL
    EXPECT_EQ(replayFileName(*form), QString()) << "the correction hands nothing to the replay";
#endif

    // An input that cannot be read leaves the label as it was and says why.
    dialogs.openAnswers = {qpath(dir / "missing.txt")};
    tab<gui::SettingsTab>(*form)->correctNmeaFile();
    EXPECT_EQ(control<QLabel>(*form, "FinishedLabel")->text(), qs("Finished - output file:") + qpath(guiOutput));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("missing.txt"), std::string::npos) << prompt.messages[0];
}

TEST_F(KeloTabTest, TrackChartTitlesSayDegreesAsItsPointsAre)
{
    const auto form = start();
    auto* chart = control<QChartView>(*form, "Chart6")->chart();
    QStringList titles(chart->title());
    for (QAbstractAxis* axis : chart->axes()) titles << axis->titleText();
    for (const QString& title : titles) EXPECT_FALSE(title.contains("minute")) << title.toStdString();
    EXPECT_TRUE(chart->title().contains("degrees"));
}

}  // namespace
}  // namespace trajix::test

#endif  // TRAJIX_WITH_CONVERT

// "User commands": loading and saving scripts, preview and generation on the window.
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QValueAxis>

#include <algorithm>
#include <deque>
#include <filesystem>

#include "app/secondary_windows.hpp"
#include "app/widgets.hpp"
#include "app_fixture.hpp"

namespace trajix::test {
namespace {

using gui::MainWindow;

QString path(const std::filesystem::path& p)
{
    return QString::fromStdString(p.string());
}

std::vector<std::string> fileNames(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

// The GGA sentences of an NMEA text, without checksums and line ends.
std::vector<std::string> ggaFields(const std::string& text, int field)
{
    std::vector<std::string> values;
    std::size_t at = 0;
    while ((at = text.find("$GPGGA,", at)) != std::string::npos) {
        std::size_t begin = at;
        for (int i = 0; i < field; ++i) begin = text.find(',', begin) + 1;
        values.push_back(text.substr(begin, text.find(',', begin) - begin));
        at = begin;
    }
    return values;
}

// Speed up to 36 km/h, a right turn, a climb, a left turn and a descent.
constexpr const char* turnsAndClimbs =
    "lat=51.5\nlong=-0.12\ntime=43200\nheight=20\nvel=36@10s\nhdg=90@50m\nheight=40@20s\n"
    "hdg=-135@10s\nheight=25@200m\nvel=0@8s\nwait 2s\n.end";

class UserCommandsTab : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        form = startWindow();
        form->setDialogs(&dialogs);
    }
    void TearDown() override
    {
        for (const QString& pattern : dialogs.patterns) EXPECT_TRUE(pattern.endsWith(".txt")) << pattern.toStdString();
        form.reset();
        AppTest::TearDown();
    }

    std::unique_ptr<MainWindow> form;
    ScriptedDialogs dialogs;
};

TEST_F(UserCommandsTab, LoadReplacesTheMemoAndSaveStopsAtEnd)
{
    // The name without a dot is completed to ".txt", as the user would pick it.
    writeFileBytes(dir / "drive.txt", "Vel=50@100M\r\nwait 2s\n.END\r\n.end\r\nafter the end\r\n");
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText("old script\n.end");
    dialogs.answers = {path(dir / "drive")};
    tab<gui::UserCommandsTab>(*form)->loadScript();
    EXPECT_EQ(dialogs.titles.back(), QString("Pick user command file to load"));
    EXPECT_EQ(control<QPlainTextEdit>(*form, "Memo1")->toPlainText(),
              QString("Vel=50@100M\nwait 2s\n.END\n.end\nafter the end"));
    expectDrawnMonospaced(control<QPlainTextEdit>(*form, "Memo1"));
    EXPECT_EQ(tab<gui::UserCommandsTab>(*form)->commandFileName(), path(dir / "drive.txt"));

    // ".END" is not the end line: only the exact ".end" is, and nothing after it is kept.
    dialogs.answers = {path(dir / "copy")};
    tab<gui::UserCommandsTab>(*form)->saveScript();
    EXPECT_EQ(dialogs.titles.back(), QString("Enter name for user command file"));
    EXPECT_EQ(readFileBytes(dir / "copy.txt"), "Vel=50@100M\r\nwait 2s\r\n.END\r\n.end\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "copy"));

    // A name with a dot is used as it is; a memo without ".end" is saved whole.
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText("vel=10\nwait 1s\n");
    dialogs.answers = {path(dir / "route.cmd")};
    tab<gui::UserCommandsTab>(*form)->saveScript();
    EXPECT_EQ(readFileBytes(dir / "route.cmd"), "vel=10\r\nwait 1s\r\n");
    EXPECT_EQ(tab<gui::UserCommandsTab>(*form)->commandFileName(), path(dir / "route.cmd"));
}

TEST_F(UserCommandsTab, CancelledDialogsAndUnreadableFilesChangeNothing)
{
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText("vel=10\n.end");
    tab<gui::UserCommandsTab>(*form)->loadScript();
    tab<gui::UserCommandsTab>(*form)->saveScript();
    tab<gui::UserCommandsTab>(*form)->generate();
    EXPECT_EQ(dialogs.titles.size(), 3u);
    EXPECT_EQ(control<QPlainTextEdit>(*form, "Memo1")->toPlainText(), QString("vel=10\n.end"));
    EXPECT_TRUE(fileNames(dir.path()).empty());

    dialogs.answers = {path(dir / "missing.txt")};
    tab<gui::UserCommandsTab>(*form)->loadScript();
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("missing.txt"), std::string::npos) << prompt.messages[0];
    EXPECT_EQ(control<QPlainTextEdit>(*form, "Memo1")->toPlainText(), QString("vel=10\n.end"));

    dialogs.answers = {path(dir / "no folder" / "x.txt")};
    tab<gui::UserCommandsTab>(*form)->saveScript();
    EXPECT_EQ(prompt.messages.size(), 2u);
}

TEST_F(UserCommandsTab, PreviewFillsTheChartsAndWritesNothing)
{
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText(turnsAndClimbs);
    control<QLineEdit>(*form, "outputUpdateEdit2")->setText("");  // a preview has no use for the output rate
    tab<gui::UserCommandsTab>(*form)->preview();
    EXPECT_TRUE(prompt.messages.empty()) << prompt.messages.front();
    for (const std::string& name : fileNames(dir.path())) EXPECT_EQ(name, "trajix-gui.ini");
#ifdef TRAJIX_WITH_QTSERIAL
    EXPECT_TRUE(replayFileName(*form).isEmpty());
#endif

    // One point per 25 steps of 1 ms, the same number on each chart.
    const qsizetype points = series(*form, "Series4")->count();
    const double seconds = series(*form, "Series4")->at(points - 1).x();
    EXPECT_GT(seconds, 40);
    EXPECT_NEAR(points, seconds / 0.025, 2);
    EXPECT_EQ(series(*form, "Series9")->count(), points);
    EXPECT_EQ(series(*form, "Series13")->count(), points);
    double topSpeed = 0, topHeight = 0;
    for (const QPointF& p : series(*form, "Series4")->points()) topSpeed = std::max(topSpeed, p.y());
    for (const QPointF& p : series(*form, "Series13")->points()) topHeight = std::max(topHeight, p.y());
    EXPECT_NEAR(topSpeed, 36, 1e-3);
    EXPECT_NEAR(topHeight, 40, 1e-3);
    EXPECT_NEAR(series(*form, "Series13")->points().back().y(), 25, 1e-3);

    // The track's axes hold the whole track (one metre as long east as north on
    // screen: TheTrackChartShowsOneMetreAsLongEastAsNorth).
    auto* east = qobject_cast<QValueAxis*>(control<QChartView>(*form, "Chart5")->chart()->axes(Qt::Horizontal).first());
    auto* north = qobject_cast<QValueAxis*>(control<QChartView>(*form, "Chart5")->chart()->axes(Qt::Vertical).first());
    for (const QPointF& p : series(*form, "Series9")->points()) {
        EXPECT_GE(p.x(), east->min());
        EXPECT_LE(p.x(), east->max());
        EXPECT_GE(p.y(), north->min());
        EXPECT_LE(p.y(), north->max());
    }

    // A second preview starts its charts afresh.
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText("wait 1s\n.end");
    tab<gui::UserCommandsTab>(*form)->preview();
    EXPECT_EQ(series(*form, "Series4")->count(), 40);
    EXPECT_FALSE(form->ProgressForm2->isVisible());
    EXPECT_FALSE(form->ProgressForm->isVisible());
}

TEST_F(UserCommandsTab, LongRunReachesTheChartsWholeAndInBulk)
{
    // Long runs reach the charts in blocks while they go; no point is lost or doubled.
    // Points added one at a time redraw the chart each time and take seconds.
    int singlePoints = 0;
    for (QLineSeries* series : {series(*form, "Series4"), series(*form, "Series9"), series(*form, "Series13")})
        QObject::connect(series, &QLineSeries::pointAdded, [&singlePoints] { ++singlePoints; });
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText("height=-3\nwait 250s\nheight=7\nwait 1s\n.end");
    tab<gui::UserCommandsTab>(*form)->preview();
    EXPECT_EQ(singlePoints, 0);
    ASSERT_EQ(series(*form, "Series4")->count(), 10040);
    for (qsizetype i = 1; i < series(*form, "Series4")->count(); ++i)
        ASSERT_GT(series(*form, "Series4")->at(i).x(), series(*form, "Series4")->at(i - 1).x()) << i;
    auto* time = qobject_cast<QValueAxis*>(control<QChartView>(*form, "Chart7")->chart()->axes(Qt::Horizontal).first());
    auto* height = qobject_cast<QValueAxis*>(control<QChartView>(*form, "Chart7")->chart()->axes(Qt::Vertical).first());
    EXPECT_LE(time->min(), 0);
    EXPECT_GE(time->max(), 251);
    EXPECT_LE(height->min(), -3);
    EXPECT_GE(height->max(), 7);
}

TEST_F(UserCommandsTab, GenerateWritesTheSameBytesAsTheCommandLine)
{
    writeFileBytes(dir / "script.txt", std::string(turnsAndClimbs) + "\n");
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText(turnsAndClimbs);
    control<QLineEdit>(*form, "outputUpdateEdit2")->setText("10");
    control<QLineEdit>(*form, "userMaxJerkEdit")->setText("0.5");
    control<QLineEdit>(*form, "jerkEdit")->setText("1.5");

    // GGA, GLL with the time first, and GLL as NMEA 0183 lays it out.
    for (int layout : {0, 1, 2}) {
        const bool hdt = layout > 0, standard = layout == 2;
        SCOPED_TRACE(layout);
        control<QCheckBox>(*form, "HDTcheckbox")->setChecked(hdt);
        ASSERT_EQ(control<QCheckBox>(*form, "StandardGllBox")->isEnabled(), hdt);
        control<QCheckBox>(*form, "StandardGllBox")->setChecked(standard);
        const std::string name = standard ? "gui_gll" : hdt ? "gui_hdt" : "gui_gga";
        dialogs.answers = {path(dir / name)};
        tab<gui::UserCommandsTab>(*form)->generate();
        EXPECT_EQ(dialogs.titles.back(), QString("Enter name for NMEA output file"));
        const std::filesystem::path written = dir / (name + ".txt");
        ASSERT_TRUE(std::filesystem::exists(written));
#ifdef TRAJIX_WITH_QTSERIAL
        EXPECT_EQ(replayFileName(*form), path(written));
#endif
        EXPECT_EQ(control<QLabel>(*form, "replayFilenameEdit")->text(), "Replay file : " + path(written));

        std::vector<std::string> args = {"script",       (dir / "script.txt").string(),
                                         "-o",           (dir / "cli.txt").string(),
                                         "--rate",       "10",
                                         "--max-jerk",   "0.5",
                                         "--route-jerk", "1.5"};
        if (hdt) args.push_back("--hdt-gll");
        if (standard) args.push_back("--standard-gll");
        const CommandResult cli = runTrajix(args);
        ASSERT_EQ(cli.exitCode, 0) << cli.err;
        EXPECT_EQ(readFileBytes(written), readFileBytes(dir / "cli.txt"));
    }
    // Each run says what it wrote and where.
    ASSERT_EQ(prompt.messages.size(), 3u);
    for (const std::string& message : prompt.messages) EXPECT_NE(message.find(" created."), std::string::npos);
    EXPECT_EQ(prompt.messages.back(), (dir / "gui_gll.txt").string() + " created.");
    EXPECT_NE(readFileBytes(dir / "gui_gll.txt"), readFileBytes(dir / "gui_hdt.txt"));
    // Generating shows in the window with the search gauge, saving in the other one.
    EXPECT_EQ(form->ProgressForm2->windowTitle(), QString("Generating NMEA file"));
    EXPECT_EQ(form->ProgressForm->windowTitle(), QString("Saving NMEA file"));
    EXPECT_FALSE(form->ProgressForm2->isVisible());
    EXPECT_FALSE(form->ProgressForm->isVisible());
}

TEST_F(UserCommandsTab, SecondRunStartsWhereTheWrittenRunEnded)
{
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText("lat=10\nlong=20\nhdg=45\nvel=72\nwait 5s\n.end");
    dialogs.answers = {path(dir / "first.txt")};
    tab<gui::UserCommandsTab>(*form)->generate();
    // Waiting while moving is allowed, with a warning; then the file is reported.
    ASSERT_EQ(prompt.messages.size(), 2u);
    EXPECT_EQ(prompt.messages[1], (dir / "first.txt").string() + " created.");
    const std::string first = readFileBytes(dir / "first.txt");

    control<QPlainTextEdit>(*form, "Memo1")->setPlainText("vel=72\nwait 1s\n.end");
    dialogs.answers = {path(dir / "second.txt")};
    tab<gui::UserCommandsTab>(*form)->generate();
    const std::string second = readFileBytes(dir / "second.txt");

    // The first run's last fix (its run-out copies) is where the second one starts.
    EXPECT_EQ(ggaFields(second, 2).front(), ggaFields(first, 2).back());
    EXPECT_EQ(ggaFields(second, 4).front(), ggaFields(first, 4).back());
    EXPECT_NE(ggaFields(second, 2).front(), ggaFields(first, 2).front());
    // The clock is reset to 09:00:00 by every run.
    EXPECT_EQ(ggaFields(second, 1).front(), "090000.00");

    // A preview does not move the start point.
    tab<gui::UserCommandsTab>(*form)->preview();
    dialogs.answers = {path(dir / "third.txt")};
    tab<gui::UserCommandsTab>(*form)->generate();
    EXPECT_EQ(ggaFields(readFileBytes(dir / "third.txt"), 2).front(), ggaFields(second, 2).back());
}

TEST_F(UserCommandsTab, HeadingLineSetsTheStartAndMisspeltLinesAreListedInOneMessage)
{
    // "Heading=" as the command help documents it; misspelt commands run as free text.
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText("Heading=90\nVell=50@20s\nvel=36@5s\nwiat 1s\n.end");
    tab<gui::UserCommandsTab>(*form)->preview();
    const std::string listing = "2 lines match no command and had no effect:\nline 2: Vell=50@20s\nline 4: wiat 1s";
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0], listing);
    const QPointF end = series(*form, "Series9")->points().back();
    EXPECT_GT(end.x(), 10);  // driven east
    EXPECT_NEAR(end.y(), 0, 1e-3);

    // Generating lists them too, and still writes the file.
    dialogs.answers = {path(dir / "typo")};
    tab<gui::UserCommandsTab>(*form)->generate();
    EXPECT_TRUE(std::filesystem::exists(dir / "typo.txt"));
    EXPECT_EQ(std::count(prompt.messages.begin() + 1, prompt.messages.end(), listing), 1);
    EXPECT_FALSE(form->ProgressForm2->isVisible());
}

TEST_F(UserCommandsTab, FailedRunsLeaveTheOldFileAndTheReplayFile)
{
    writeFileBytes(dir / "out.txt", "old contents");
#ifdef TRAJIX_WITH_QTSERIAL
    form->replayState().replayFileName = "earlier.txt";
#endif

    // Unachievable: 0 to 100 km/h in 1 s at 0.1 g/s.
    control<QLineEdit>(*form, "userMaxJerkEdit")->setText("0.1");
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText("vel=100@1s\n.end");
    dialogs.answers = {path(dir / "out.txt")};
    tab<gui::UserCommandsTab>(*form)->generate();
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("not high enough to achieve an acceleration"), std::string::npos);

    // An edit that holds no number, and a refused script, are reported by name; the
    // edits are checked before the user is asked for a name.
    control<QLineEdit>(*form, "userMaxJerkEdit")->setText("fast");
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText("vel=10@5s\n.end");
    const qsizetype dialogsBefore = dialogs.asked.size();
    tab<gui::UserCommandsTab>(*form)->generate();
    ASSERT_EQ(prompt.messages.size(), 2u);
    EXPECT_NE(prompt.messages[1].find("'fast'"), std::string::npos) << prompt.messages[1];
    EXPECT_EQ(dialogs.asked.size(), dialogsBefore) << "no save dialog for a run that cannot start";

    control<QLineEdit>(*form, "userMaxJerkEdit")->setText("1");
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText("vel=10@0s\n.end");
    dialogs.answers = {path(dir / "out.txt")};
    tab<gui::UserCommandsTab>(*form)->generate();
    ASSERT_EQ(prompt.messages.size(), 3u);

    EXPECT_EQ(readFileBytes(dir / "out.txt"), "old contents");
#ifdef TRAJIX_WITH_QTSERIAL
    EXPECT_EQ(replayFileName(*form), QString("earlier.txt"));
#endif
    EXPECT_FALSE(form->ProgressForm2->isVisible());
    EXPECT_FALSE(tab<gui::UserCommandsTab>(*form)->scriptRunning());
}

TEST_F(UserCommandsTab, ABadOutputRateIsReportedBeforeTheNameIsAsked)
{
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText("vel=10@5s\nwait 2s\n.end");
    for (const char* rate : {"0", "-5", "20 Hz"}) {
        prompt.messages.clear();
        control<QLineEdit>(*form, "outputUpdateEdit2")->setText(rate);
        tab<gui::UserCommandsTab>(*form)->generate();
        EXPECT_TRUE(dialogs.asked.isEmpty()) << rate;
        ASSERT_EQ(prompt.messages.size(), 1u) << rate;
    }
    EXPECT_NE(prompt.messages[0].find("'20 Hz'"), std::string::npos) << prompt.messages[0];
}

// A refused script names the part that is wrong, and the editor, which numbers its
// lines, marks the line and puts the cursor there, as the user sees it drawn.
TEST_F(UserCommandsTab, ARefusedScriptNamesThePartAndTheEditorMarksItsLine)
{
    form->resize(1280, 800);
    form->show();
    form->PageControl1->setCurrentIndex(1);
    gui::CommandEditor* editor = tab<gui::UserCommandsTab>(*form)->Memo1;
    editor->setPlainText("lat=51\nvel=0\nwait 2s\nVel=fast@10s\nvel=0@10s\n.end");
    tab<gui::UserCommandsTab>(*form)->preview();
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0], "line 4: 'fast' is not a speed in km/h (in 'Vel=fast@10s')");
    EXPECT_EQ(series(*form, "Series4")->count(), 0);
    EXPECT_EQ(editor->faultyLine(), 4);
    EXPECT_EQ(editor->textCursor().blockNumber(), 3);
    EXPECT_EQ(editor->textCursor().positionInBlock(), 0);

    // Drawn: line 4's row is red across the text area, line 3's is not; the numbers
    // have a margin of their own left of the text.
    QApplication::processEvents();
    const QImage drawn = editor->grab().toImage();
    const auto rowY = [editor](int block) {
        QTextCursor cursor(editor->document()->findBlockByNumber(block));
        return editor->viewport()->mapTo(editor, editor->cursorRect(cursor).center()).y();
    };
    const int rightX = editor->viewport()->geometry().right() - 4;
    const QColor marked = drawn.pixelColor(rightX, rowY(3));
    EXPECT_GT(marked.red(), marked.green() + 40) << marked.name().toStdString();
    EXPECT_EQ(drawn.pixelColor(rightX, rowY(2)), editor->palette().color(QPalette::Base));
    ASSERT_TRUE(editor->lineNumberArea()->isVisible());
    EXPECT_GE(editor->viewport()->geometry().left(), editor->lineNumberArea()->geometry().right());
    EXPECT_GE(editor->lineNumberArea()->width(), editor->fontMetrics().horizontalAdvance("10"));

    // Mending the line takes the mark away; a run that goes through leaves none.
    QTextCursor mend(editor->document()->findBlockByNumber(3));
    mend.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    mend.insertText("vel=50@10s");
    EXPECT_EQ(editor->faultyLine(), 0);
    EXPECT_TRUE(editor->extraSelections().isEmpty());
    tab<gui::UserCommandsTab>(*form)->preview();
    EXPECT_EQ(prompt.messages.size(), 1u) << prompt.messages.back();
    EXPECT_GT(series(*form, "Series4")->count(), 0);
    EXPECT_EQ(editor->faultyLine(), 0);

    // A refusal of a command that reads well names its line too; one that names no line
    // (a bad edit) marks none.
    editor->setPlainText("vel=0\nwait 1s\nheight=5@10m\n.end");
    tab<gui::UserCommandsTab>(*form)->preview();
    ASSERT_EQ(prompt.messages.size(), 2u);
    EXPECT_EQ(prompt.messages[1].substr(0, 8), "line 3: ") << prompt.messages[1];
    EXPECT_EQ(editor->faultyLine(), 3);
    control<QLineEdit>(*form, "userMaxJerkEdit")->setText("soft");
    tab<gui::UserCommandsTab>(*form)->preview();
    ASSERT_EQ(prompt.messages.size(), 3u);
    EXPECT_EQ(editor->faultyLine(), 0) << prompt.messages[2];
}

TEST_F(UserCommandsTab, TheSkyIsCheckedAtPreviewAndBeforeTheNameWithAnOfferToStartInside)
{
    // A script without a time line starts at 9:00; the VILL file covers 2018-06-18
    // about 21:00 to 2018-06-19 about 08:00.
    auto* memo = control<QPlainTextEdit>(*form, "Memo1");
    auto* date = control<QDateEdit>(*form, "scriptDateEdit");
    memo->setPlainText("lat=40.4\nlong=-3.9\nvel=36@5s\nvel=0@5s\nwait 2s\n.end");
    control<QLineEdit>(*form, "SkyFileEdit")->setText(path(dataFile("sky/VILL00ESP_R_20181700000_0000-0500_GPS.rnx")));
    EXPECT_FALSE(date->isEnabled());
    EXPECT_EQ(control<QLabel>(*form, "scriptSkyLabel")->text(), qs("Sky off"));
    control<QCheckBox>(*form, "SkyBox")->setChecked(true);
    EXPECT_TRUE(date->isEnabled());
    date->setDate(QDate(2018, 7, 1));

    // Preview asks; No runs nothing.
    prompt.answers = {false};
    tab<gui::UserCommandsTab>(*form)->preview();
    ASSERT_EQ(prompt.questions.size(), 1u);
    for (const char* part : {"2018-07-01 09:00:00 UTC", "covers 2018-06-18 ", " UTC to 2018-06-19 ",
                             "Yes sets the first fix date and a first line \"time=\"."})
        EXPECT_NE(prompt.questions[0].find(part), std::string::npos) << part << " in " << prompt.questions[0];
    EXPECT_EQ(series(*form, "Series4")->count(), 0);
    EXPECT_TRUE(prompt.messages.empty());

    // Yes: the date moves and a time line starts the script inside the span.
    prompt.answers = {true};
    tab<gui::UserCommandsTab>(*form)->preview();
    ASSERT_EQ(prompt.questions.size(), 2u);
    const QString offered = QString::fromStdString(prompt.questions[1]);
    EXPECT_TRUE(offered.contains("Start at 2018-06-18 2")) << offered.toStdString();
    EXPECT_EQ(date->date(), QDate(2018, 6, 18));
    EXPECT_EQ(control<QDateEdit>(*form, "NmeaDateEdit")->date(), QDate(2018, 6, 18));
    const QStringList lines = memo->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 7);
    EXPECT_TRUE(lines[0].startsWith("time=")) << lines[0].toStdString();
    EXPECT_GT(series(*form, "Series4")->count(), 0);
    EXPECT_TRUE(prompt.messages.empty());

    // Generate asks before the output name, and Yes rewrites the script's own time line.
    date->setDate(QDate(2019, 1, 1));
    memo->setPlainText("lat=40.4\nlong=-3.9\ntime=43200\nvel=36@5s\nvel=0@5s\nwait 2s\ntime=50000\n.end");
    std::size_t questionsAtSave = 0;
    dialogs.onAsk = [&] { questionsAtSave = prompt.questions.size(); };
    dialogs.saveAnswers = {path(dir / "inside.txt")};
    tab<gui::UserCommandsTab>(*form)->generate();
    ASSERT_EQ(prompt.questions.size(), 3u);
    EXPECT_EQ(questionsAtSave, 3u) << "asked before the output name";
    EXPECT_NE(prompt.questions[2].find("the \"time=\" of line 7"), std::string::npos) << prompt.questions[2];
    const QStringList rewritten = memo->toPlainText().split('\n');
    ASSERT_EQ(rewritten.size(), 8);
    EXPECT_EQ(rewritten[2], qs("time=43200"));
    EXPECT_TRUE(rewritten[6].startsWith("time=")) << rewritten[6].toStdString();
    EXPECT_NE(rewritten[6], qs("time=50000"));
    const std::string bytes = readFileBytes(dir / "inside.txt");
    const auto times = ggaFields(bytes, 1);
    ASSERT_FALSE(times.empty());
    const long long start = rewritten[6].mid(5).toLongLong();
    EXPECT_EQ(times[0],
              QString::asprintf("%02lld%02lld%02lld.00", start / 3600, start / 60 % 60, start % 60).toStdString());
    EXPECT_NE(bytes.find("$GPGSA,"), std::string::npos);
}

TEST_F(UserCommandsTab, TheTrackChartShowsOneMetreAsLongEastAsNorth)
{
    form->resize(1280, 800);
    form->show();
    form->PageControl1->setCurrentIndex(1);
    // A drive north, then east: 1.6 times as far north as east.
    control<QPlainTextEdit>(*form, "Memo1")->setPlainText("hdg=0\nvel=36\nwait 16s\nhdg=90\nwait 10s\n.end");
    tab<gui::UserCommandsTab>(*form)->preview();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    auto* view = control<QChartView>(*form, "Chart5");
    auto* x = qobject_cast<QValueAxis*>(view->chart()->axes(Qt::Horizontal).first());
    auto* y = qobject_cast<QValueAxis*>(view->chart()->axes(Qt::Vertical).first());
    const QRectF plot = view->chart()->plotArea();
    ASSERT_GT(plot.width(), 10);
    ASSERT_GT(plot.height(), 10);
    const double xPerPixel = (x->max() - x->min()) / plot.width();
    EXPECT_NEAR(xPerPixel, (y->max() - y->min()) / plot.height(), xPerPixel * 1e-6);
    for (const QPointF& point : series(*form, "Series9")->points()) {
        EXPECT_GE(point.x(), x->min());
        EXPECT_LE(point.x(), x->max());
        EXPECT_GE(point.y(), y->min());
        EXPECT_LE(point.y(), y->max());
    }
}

}  // namespace
}  // namespace trajix::test

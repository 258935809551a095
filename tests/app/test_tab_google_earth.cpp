// The "Google Earth import" tab: its three buttons, charts, captions and written file.
#ifdef TRAJIX_WITH_ROUTE

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <set>
#include <utility>

#include "app/secondary_windows.hpp"
#include "app/sky_view.hpp"
#include "app_fixture.hpp"
#include "common/progress.hpp"
#include "route/route.hpp"

namespace trajix::test {
namespace {

using gui::MainWindow;

QString qpath(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

/// What the core itself sends for the chart when run on the same file and values.
struct CorePoints {
    QList<QPointF> raw, smoothed, speed;
    std::string distanceText, timeText, accelerationText;
};

CorePoints runCore(const std::filesystem::path& kml, const route::RouteParameters& parameters)
{
    CorePoints points;
    route::RouteCallbacks callbacks;
    callbacks.rawPoint = [&](double x, double y) { points.raw.append({x, y}); };
    callbacks.smoothedPoint = [&](double x, double y) { points.smoothed.append({x, y}); };
    callbacks.speedPoint = [&](double x, double y) { points.speed.append({x, y}); };
    NullProgress progress;
    ScriptedPrompt prompt;
    const auto state = route::LoadKML(kml, parameters, {}, progress, prompt, callbacks);
    points.distanceText = state.distanceText;
    points.timeText = state.timeText;
    points.accelerationText = state.accelerationText;
    return points;
}

QValueAxis* axis(QChartView* view, Qt::Orientation orientation)
{
    return qobject_cast<QValueAxis*>(view->chart()->axes(orientation).first());
}

class GoogleEarthTabTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        form = startWindow();
        form->setDialogs(&dialogs);
    }
    void TearDown() override
    {
        form.reset();
        AppTest::TearDown();
    }

    /// Files in the test directory other than the settings file.
    std::vector<std::string> writtenFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            if (entry.path() != configPath) names.push_back(entry.path().filename().string());
        return names;
    }

    void expectChartsEmpty() const
    {
        for (QLineSeries* series : {series(*form, "Series1"), series(*form, "Series2"), series(*form, "Series6"),
                                    series(*form, "Series8"), series(*form, "Series3")})
            EXPECT_EQ(series->count(), 0) << series->name().toStdString();
        EXPECT_EQ(control<QLabel>(*form, "DistanceLabel")->text(), QString());
        EXPECT_EQ(control<QLabel>(*form, "TotalTimeLabel")->text(), QString());
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> form;
};

TEST_F(GoogleEarthTabTest, LoadFillsChartsAndCaptionsAsTheCoreSendsThem)
{
    const auto kml = dataFile("route/corner.kml");
    dialogs.openAnswers.push_back(qpath(kml));
    form->resize(1200, 700);
    form->show();
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();

    EXPECT_EQ(dialogs.asked, QStringList{"open: Pick a path file (.kml, .kmz, .gpx) to drive | *.kml *.kmz *.gpx"});
    EXPECT_EQ(tab<gui::GoogleEarthTab>(*form)->kmlFileName(), qpath(kml));
    EXPECT_TRUE(prompt.messages.empty()) << prompt.messages.front();
    EXPECT_TRUE(writtenFiles().empty());

    const CorePoints core = runCore(kml, route::RouteParameters{});
    EXPECT_EQ(series(*form, "Series1")->points(), core.raw);
    EXPECT_EQ(series(*form, "Series8")->points(), core.smoothed);
    // The speed chart is the core's profile after the stationary start, at rest before
    // and after it.
    const QList<QPointF> chartSpeeds = series(*form, "Series3")->points();
    const double stationaryStart = route::RouteParameters{}.stationaryStart;
    ASSERT_EQ(chartSpeeds.size(), core.speed.size() + 2);
    EXPECT_EQ(chartSpeeds.front(), QPointF(0, 0));
    for (qsizetype i = 0; i < core.speed.size(); ++i)
        ASSERT_EQ(chartSpeeds[i + 1], QPointF(core.speed[i].x() + stationaryStart, core.speed[i].y())) << i;
    EXPECT_EQ(chartSpeeds.back().y(), 0);
    EXPECT_EQ(series(*form, "Series1")->points().size(), 4);
    EXPECT_GT(series(*form, "Series3")->count(), 100);
    EXPECT_EQ(series(*form, "Series2")->count(), 0);
    EXPECT_EQ(series(*form, "Series6")->count(), 0);
    EXPECT_EQ(series(*form, "Series1")->color(), QColor(Qt::red));
    EXPECT_EQ(control<QLabel>(*form, "DistanceLabel")->text().toStdString(), core.distanceText);
    EXPECT_EQ(control<QLabel>(*form, "TotalTimeLabel")->text().toStdString(), core.timeText);
    EXPECT_TRUE(control<QLabel>(*form, "DistanceLabel")->text().startsWith("Scenario distance = "));
    EXPECT_TRUE(control<QLabel>(*form, "TotalTimeLabel")->text().startsWith("Total time = "));
    // Under the speed chart: the highest accelerations reached, as the core measured them.
    EXPECT_EQ(control<QLabel>(*form, "AccelerationLabel")->text().toStdString(), core.accelerationText);
    EXPECT_TRUE(control<QLabel>(*form, "AccelerationLabel")->text().startsWith("Max lateral acceleration = "));

    // One scale for east and north: a metre is as long on screen either way, and the
    // view holds the square around the KML points.
    for (int round = 0; round < 5; ++round) QApplication::processEvents();  // the chart lays itself out
    QValueAxis* x = axis(control<QChartView>(*form, "Chart1"), Qt::Horizontal);
    QValueAxis* y = axis(control<QChartView>(*form, "Chart1"), Qt::Vertical);
    const QRectF plot = control<QChartView>(*form, "Chart1")->chart()->plotArea();
    ASSERT_GT(plot.width(), 10);
    ASSERT_GT(plot.height(), 10);
    const double xPerPixel = (x->max() - x->min()) / plot.width();
    EXPECT_NEAR(xPerPixel, (y->max() - y->min()) / plot.height(), xPerPixel * 1e-9);
    QRectF bounds;
    for (const QPointF& point : core.raw) {
        bounds |= QRectF(point, QSizeF(0, 0));
        EXPECT_GE(point.x(), x->min());
        EXPECT_LE(point.x(), x->max());
        EXPECT_GE(point.y(), y->min());
        EXPECT_LE(point.y(), y->max());
    }
    const double side = std::max(bounds.width(), bounds.height());
    EXPECT_GE(x->max() - x->min(), side - 1);
    EXPECT_GE(y->max() - y->min(), side - 1);
    // A tall window keeps the scale equal too.
    form->resize(700, 1000);
    QApplication::processEvents();
    QApplication::processEvents();
    const QRectF tall = control<QChartView>(*form, "Chart1")->chart()->plotArea();
    const double tallPerPixel = (x->max() - x->min()) / tall.width();
    EXPECT_NEAR(tallPerPixel, (y->max() - y->min()) / tall.height(), tallPerPixel * 1e-9);
    // The whole speed profile is in view.
    QValueAxis* time = axis(control<QChartView>(*form, "Chart3"), Qt::Horizontal);
    QValueAxis* speed = axis(control<QChartView>(*form, "Chart3"), Qt::Vertical);
    EXPECT_GE(time->max(), core.speed.last().x());
    for (const QPointF& point : core.speed) EXPECT_LE(point.y(), speed->max());

    for (QPushButton* button : {control<QPushButton>(*form, "BitBtn2"), control<QPushButton>(*form, "BitBtn5"),
                                control<QPushButton>(*form, "BitBtn7")})
        EXPECT_TRUE(button->isEnabled());

    const QString zoomHint =
        " \r\nZoom in by drawing a window from left to right with the left mouse button. \r\nZoom out by drawing "
        "any box from right to left. \r\nPan by using right mouse button.";
    EXPECT_EQ(control<QChartView>(*form, "Chart1")->toolTip(), "Graph showing output position in metres." + zoomHint);
    EXPECT_EQ(control<QChartView>(*form, "Chart3")->toolTip(), "Graph showing output speed in km/h." + zoomHint);
}

/// The labels an axis shows, printed as it prints them.
QStringList axisLabels(const QValueAxis* axis)
{
    QStringList labels;
    const auto label = [&](double value) { labels << QString::asprintf(axis->labelFormat().toLatin1(), value); };
    if (axis->tickType() == QValueAxis::TicksDynamic) {
        const double first = axis->tickAnchor() + std::ceil((axis->min() - axis->tickAnchor()) / axis->tickInterval()) *
                                                      axis->tickInterval();
        for (double value = first; value <= axis->max() + 1e-9; value += axis->tickInterval()) label(value);
    } else {
        for (int i = 0; i < axis->tickCount(); ++i)
            label(axis->min() + (axis->max() - axis->min()) * i / (axis->tickCount() - 1));
    }
    return labels;
}

TEST_F(GoogleEarthTabTest, ThePositionChartNeverRepeatsAnAxisLabel)
{
    // Its labels are whole metres: before any route, and for a route on one spot, the
    // grid must not fall on fractions that print as the same number.
    const auto check = [&](const char* when) {
        for (int round = 0; round < 5; ++round) QApplication::processEvents();  // the chart lays itself out
        for (auto orientation : {Qt::Horizontal, Qt::Vertical}) {
            const QStringList labels = axisLabels(axis(control<QChartView>(*form, "Chart1"), orientation));
            EXPECT_GE(labels.size(), 3) << when;
            EXPECT_EQ(QSet<QString>(labels.begin(), labels.end()).size(), labels.size())
                << when << ": " << labels.join(' ').toStdString();
        }
    };
    check("empty");
    writeFileBytes(dir / "spot.kml",
                   "<kml><Document><Placemark><LineString><coordinates>-1.5,52,0 -1.5000001,52.0000001,0 "
                   "-1.5000002,52,0</coordinates></LineString></Placemark></Document></kml>\n");
    dialogs.openAnswers.push_back(qpath(dir / "spot.kml"));
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    ASSERT_GT(series(*form, "Series1")->count(), 0) << (prompt.messages.empty() ? "" : prompt.messages[0]);
    check("one spot");
}

TEST_F(GoogleEarthTabTest, ThePositionGridNeverHoldsThousandsOfTicks)
{
    // The axes lay out one tick per step at every change: a 20 km route under the empty
    // chart's metre grid, even for a moment, froze the window for seconds.
    double most = 0;
    for (auto orientation : {Qt::Horizontal, Qt::Vertical}) {
        QValueAxis* valueAxis = axis(control<QChartView>(*form, "Chart1"), orientation);
        const auto measure = [&most, valueAxis] {
            if (valueAxis->tickType() == QValueAxis::TicksDynamic && valueAxis->tickInterval() > 0)
                most = std::max(most, (valueAxis->max() - valueAxis->min()) / valueAxis->tickInterval());
        };
        QObject::connect(valueAxis, &QValueAxis::rangeChanged, form.get(), measure);
        QObject::connect(valueAxis, &QValueAxis::tickIntervalChanged, form.get(), measure);
        QObject::connect(valueAxis, &QValueAxis::tickTypeChanged, form.get(), measure);
    }
    form->resize(1200, 700);
    form->show();
    writeFileBytes(dir / "long.kml",
                   "<kml><Document><Placemark><LineString><coordinates>-1.5,52,0 -1.2,52.1,0"
                   "</coordinates></LineString></Placemark></Document></kml>\n");
    writeFileBytes(dir / "short.kml",
                   "<kml><Document><Placemark><LineString><coordinates>-1.5,52,0 -1.5002,52.0001,0"
                   "</coordinates></LineString></Placemark></Document></kml>\n");
    for (const char* name : {"long.kml", "short.kml", "long.kml"}) {
        dialogs.openAnswers.push_back(qpath(dir / name));
        tab<gui::GoogleEarthTab>(*form)->pickPathFile();
        ASSERT_TRUE(prompt.messages.empty()) << prompt.messages[0];
        QApplication::processEvents();
        EXPECT_LT(most, 100) << "after " << name;
    }
}

TEST_F(GoogleEarthTabTest, CancellingTheOpenDialogLeavesChartsEmptyAndKeepsTheFile)
{
    const auto kml = dataFile("route/corner.kml");
    dialogs.openAnswers = {qpath(kml), QString()};
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    ASSERT_GT(series(*form, "Series3")->count(), 0);

    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    expectChartsEmpty();
    EXPECT_EQ(tab<gui::GoogleEarthTab>(*form)->kmlFileName(), qpath(kml));  // Preview still reruns the last file
    EXPECT_TRUE(prompt.messages.empty());

    tab<gui::GoogleEarthTab>(*form)->preview();
    EXPECT_GT(series(*form, "Series3")->count(), 0);
}

TEST_F(GoogleEarthTabTest, PreviewAndGenerateBeforeAnyFileSayWhy)
{
    tab<gui::GoogleEarthTab>(*form)->preview();
    tab<gui::GoogleEarthTab>(*form)->generate();
    EXPECT_TRUE(dialogs.asked.isEmpty());
    ASSERT_EQ(prompt.messages.size(), 2u);
    for (const std::string& message : prompt.messages)
        EXPECT_NE(message.find("Load path file"), std::string::npos) << message;
    expectChartsEmpty();
    EXPECT_TRUE(writtenFiles().empty());
}

// The chart covers the whole file, the time at rest included: it ends where
// "Total time" says the file ends, with or without stationary periods and at
// any rate.
TEST_F(GoogleEarthTabTest, SpeedChartEndsAtTheTotalTime)
{
    dialogs.openAnswers.push_back(qpath(dataFile("route/corner.kml")));
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    const struct {
        const char *start, *end, *rate;
    } cases[] = {{"80", "5", "20"}, {"0", "0", "20"}, {"3", "0", "10"}, {"0", "7", "1"}, {"12", "30", "5"}};
    for (const auto& c : cases) {
        control<QLineEdit>(*form, "StationaryPeriodEdit")->setText(c.start);
        control<QLineEdit>(*form, "stationaryperiodendedit")->setText(c.end);
        control<QLineEdit>(*form, "OutputUpdateEdit1")->setText(c.rate);
        tab<gui::GoogleEarthTab>(*form)->preview();
        const QString caption = control<QLabel>(*form, "TotalTimeLabel")->text();
        ASSERT_TRUE(caption.startsWith("Total time = ") && caption.endsWith("s")) << caption.toStdString();
        bool number = false;
        const double total = caption.mid(13, caption.size() - 14).trimmed().toDouble(&number);
        ASSERT_TRUE(number) << caption.toStdString();
        const QList<QPointF> speed = series(*form, "Series3")->points();
        ASSERT_FALSE(speed.isEmpty());
        EXPECT_NEAR(speed.back().x(), total, 0.005) << c.start << " s, " << c.end << " s, " << c.rate << " Hz";
        EXPECT_EQ(speed.front().x(), 0);
        double slowest = speed.front().y();
        for (const QPointF& point : speed) slowest = std::min(slowest, point.y());
        EXPECT_GE(slowest, 0);
        // At rest through the stationary start: the first moving point comes after it.
        for (const QPointF& point : speed)
            if (point.y() > 0.5) {
                EXPECT_GE(point.x(), std::atof(c.start));
                break;
            }
        QValueAxis* time = axis(control<QChartView>(*form, "Chart3"), Qt::Horizontal);
        EXPECT_GE(time->max(), total) << "the axis shows the whole file";
    }
    EXPECT_TRUE(prompt.messages.empty()) << prompt.messages.front();
}

TEST_F(GoogleEarthTabTest, PreviewRerunsWithChangedLimitsAndWritesNothing)
{
    const auto kml = dataFile("route/straight.kml");
    dialogs.openAnswers.push_back(qpath(kml));
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    double fastest = 0;
    for (const QPointF& point : series(*form, "Series3")->points()) fastest = std::max(fastest, point.y());
    ASSERT_GT(fastest, 40);

    control<QLineEdit>(*form, "SpeedEdit")->setText("30");
    control<QLineEdit>(*form, "posSmoothEdit")->setText("1");
    tab<gui::GoogleEarthTab>(*form)->preview();
    EXPECT_EQ(dialogs.asked.size(), 1);  // no save dialog, no second open dialog
    double slowed = 0;
    for (const QPointF& point : series(*form, "Series3")->points()) slowed = std::max(slowed, point.y());
    EXPECT_LE(slowed, 30.01);  // the 0.1 ms integrator may pass the peak by a step
    EXPECT_GT(slowed, 29);

    route::RouteParameters parameters;
    parameters.maxSpeedKmh = 30;
    parameters.smoothFactor = 1;
    EXPECT_EQ(series(*form, "Series8")->points(), runCore(kml, parameters).smoothed);
    EXPECT_TRUE(writtenFiles().empty());
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(GoogleEarthTabTest, GenerateWritesTheSameBytesAsTheCommandLine)
{
    const auto kml = dataFile("route/corner.kml");
    dialogs.openAnswers.push_back(qpath(kml));
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();

    // Values away from the defaults, so that every edit has to reach the file.
    control<QLineEdit>(*form, "OutputUpdateEdit1")->setText("10");
    control<QCheckBox>(*form, "VTGBox")->setChecked(true);
    control<QLineEdit>(*form, "SpeedEdit")->setText("70");
    control<QLineEdit>(*form, "lataccEdit")->setText("0.5");
    control<QLineEdit>(*form, "longaccEdit")->setText("0.3");
    control<QLineEdit>(*form, "jerkEdit")->setText("0.5");
    control<QLineEdit>(*form, "posSmoothEdit")->setText("20");
    control<QLineEdit>(*form, "StationaryPeriodEdit")->setText("3");
    control<QLineEdit>(*form, "stationaryperiodendedit")->setText("2");
    control<QLineEdit>(*form, "StartTimeEdit")->setText("86390");
    dialogs.saveAnswers.push_back(qpath(dir / "drive"));  // no extension: ".txt" is added
    tab<gui::GoogleEarthTab>(*form)->generate();

    const auto written = dir / "drive.txt";
    ASSERT_TRUE(std::filesystem::exists(written)) << (prompt.messages.empty() ? "" : prompt.messages.front());
    EXPECT_EQ(dialogs.asked.last(), qs("save: Enter name for NMEA output file | corner.txt"));
#ifdef TRAJIX_WITH_QTSERIAL
    EXPECT_EQ(replayFileName(*form), qpath(written));
#endif
    EXPECT_EQ(control<QLabel>(*form, "replayFilenameEdit")->text(), "Replay file : " + qpath(written));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{written.string() + " created."});

    const auto cliFile = dir / "cli.nmea";
    const auto cli = runTrajix({"route", kml.string(),       "-o",  cliFile.string(), "--rate", "10",
                                "--vtg", "--speed",          "70",  "--latacc",       "0.5",    "--longacc",
                                "0.3",   "--jerk",           "0.5", "--smooth",       "20",     "--stationary-start",
                                "3",     "--stationary-end", "2",   "--start-time",   "86390"});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    const std::string bytes = readFileBytes(written);
    EXPECT_EQ(bytes, readFileBytes(cliFile));
    EXPECT_NE(bytes.find("$GPVTG,"), std::string::npos);
    EXPECT_NE(bytes.find("$GPGGA,240000.00,"), std::string::npos);  // past midnight: hour 24
}

// The satellites of the first GSV group (PRN and whether the first GSA has it in use).
std::vector<std::pair<int, bool>> firstSky(const std::string& text)
{
    const auto fields = [](const std::string& sentence) {
        std::vector<std::string> out;
        std::size_t begin = 0;
        const std::size_t end = sentence.find('*');
        while (true) {
            const std::size_t comma = sentence.find(',', begin);
            if (comma == std::string::npos || comma > end) {
                out.push_back(sentence.substr(begin, end - begin));
                return out;
            }
            out.push_back(sentence.substr(begin, comma - begin));
            begin = comma + 1;
        }
    };
    const auto sentenceAt = [&](std::size_t at) { return text.substr(at, text.find('\r', at) - at); };
    std::set<int> used;
    const auto gsa = fields(sentenceAt(text.find("$GPGSA,")));
    for (std::size_t k = 3; k < 15; ++k)
        if (!gsa[k].empty()) used.insert(std::stoi(gsa[k]));
    std::vector<std::pair<int, bool>> satellites;
    std::size_t at = text.find("$GPGSV,");
    const int count = std::stoi(fields(sentenceAt(at))[1]);
    for (int n = 0; n < count; ++n, at = text.find("$GPGSV,", at + 1)) {
        const auto gsv = fields(sentenceAt(at));
        for (std::size_t k = 4; k < gsv.size(); k += 4)
            satellites.emplace_back(std::stoi(gsv[k]), used.count(std::stoi(gsv[k])) > 0);
    }
    return satellites;
}

TEST_F(GoogleEarthTabTest, TheSkyOfTheSettingsTabReachesTheFileAndThePlotShowsItsFirstFix)
{
    const auto kml = dataFile("route/corner.kml");
    const auto rinex = dataFile("sky/brdc1820_0000-0400.10n");
    dialogs.openAnswers.push_back(qpath(kml));
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    auto* plot = form->findChild<gui::SkyPlot*>("SkyPlot");
    ASSERT_NE(plot, nullptr);
    EXPECT_FALSE(plot->sky());
    EXPECT_EQ(plot->emptyText(), qs("Sky off"));

    control<QLineEdit>(*form, "OutputUpdateEdit1")->setText("5");
    control<QLineEdit>(*form, "StationaryPeriodEdit")->setText("2");
    control<QLineEdit>(*form, "stationaryperiodendedit")->setText("1");
    control<QLineEdit>(*form, "StartTimeEdit")->setText("7200");
    control<QCheckBox>(*form, "SkyBox")->setChecked(true);
    EXPECT_TRUE(control<QDateEdit>(*form, "NmeaDateEdit")->isEnabled());
    control<QDateEdit>(*form, "NmeaDateEdit")->setDate(QDate(2010, 7, 1));
    control<QLineEdit>(*form, "SkyMaskEdit")->setText("10");

    // A missing sky file is named before the save dialog, and nothing is written.
    const auto kept = dir / "drive.txt";
    writeFileBytes(kept, "keep me");
    control<QLineEdit>(*form, "SkyFileEdit")->setText(qpath(dir / "nowhere.10n"));
    const auto asked = dialogs.asked.size();
    dialogs.saveAnswers.push_back(qpath(kept));
    tab<gui::GoogleEarthTab>(*form)->generate();
    EXPECT_EQ(dialogs.asked.size(), asked);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("nowhere.10n"), std::string::npos) << prompt.messages[0];
    EXPECT_EQ(readFileBytes(kept), "keep me");
    EXPECT_FALSE(plot->sky());
    EXPECT_TRUE(plot->emptyText().startsWith("Sky on")) << plot->emptyText().toStdString();

    // A system the file does not hold is named before the save dialog too; so is none.
    control<QLineEdit>(*form, "SkyFileEdit")->setText(qpath(rinex));
    control<QCheckBox>(*form, "SkyBeidouBox")->setChecked(true);
    tab<gui::GoogleEarthTab>(*form)->generate();
    control<QCheckBox>(*form, "SkyBeidouBox")->setChecked(false);
    control<QCheckBox>(*form, "SkyGpsBox")->setChecked(false);
    tab<gui::GoogleEarthTab>(*form)->generate();
    control<QCheckBox>(*form, "SkyGpsBox")->setChecked(true);
    EXPECT_EQ(dialogs.asked.size(), asked);
    ASSERT_EQ(prompt.messages.size(), 3u);
    EXPECT_NE(prompt.messages[1].find("BeiDou"), std::string::npos) << prompt.messages[1];
    EXPECT_NE(prompt.messages[1].find("brdc1820_0000-0400.10n"), std::string::npos) << prompt.messages[1];
    EXPECT_NE(prompt.messages[2].find("tick at least one"), std::string::npos) << prompt.messages[2];
    EXPECT_EQ(readFileBytes(kept), "keep me");
    prompt.messages.resize(1);

    tab<gui::GoogleEarthTab>(*form)->generate();
    ASSERT_EQ(prompt.messages.size(), 2u);
    EXPECT_EQ(prompt.messages[1], kept.string() + " created.");
    const auto cliFile = dir / "cli.nmea";
    const auto cli = runTrajix({"route", kml.string(), "-o", cliFile.string(), "--rate", "5", "--stationary-start", "2",
                                "--stationary-end", "1", "--start-time", "7200", "--sky", rinex.string(), "--date",
                                "2010-07-01", "--mask", "10"});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    const std::string bytes = readFileBytes(kept);
    EXPECT_EQ(bytes, readFileBytes(cliFile));

    // The plot holds the satellites of the file's first GSV, in use as its first GSA says.
    ASSERT_TRUE(plot->sky());
    const auto expected = firstSky(bytes);
    ASSERT_GE(expected.size(), 4u);
    std::vector<std::pair<int, bool>> shown;
    for (const auto& satellite : plot->sky()->satellites) {
        shown.emplace_back(satellite.prn, satellite.used);
        EXPECT_GE(satellite.elevation, 10.0);
    }
    EXPECT_EQ(shown, expected);
    plot->grab();  // paints without trouble

    // Without a stationary start the file begins with the first moving sample.
    control<QLineEdit>(*form, "StationaryPeriodEdit")->setText("0");
    dialogs.saveAnswers.push_back(qpath(dir / "moving.txt"));
    tab<gui::GoogleEarthTab>(*form)->generate();
    ASSERT_TRUE(plot->sky());
    shown.clear();
    for (const auto& satellite : plot->sky()->satellites) shown.emplace_back(satellite.prn, satellite.used);
    EXPECT_EQ(shown, firstSky(readFileBytes(dir / "moving.txt")));

    // A preview shows it too; switching the sky off empties the plot and says so.
    control<QCheckBox>(*form, "SkyBox")->setChecked(false);
    EXPECT_FALSE(plot->sky());
    EXPECT_EQ(plot->emptyText(), qs("Sky off"));
    control<QCheckBox>(*form, "SkyBox")->setChecked(true);
    tab<gui::GoogleEarthTab>(*form)->preview();
    ASSERT_TRUE(plot->sky());
    EXPECT_EQ(plot->sky()->satellites.size(), expected.size());
}

TEST_F(GoogleEarthTabTest, ASkyThatMissesTheStartIsRefusedNamingItsSpanWithAnOfferToStartInside)
{
    const auto kml = dataFile("route/corner.kml");
    const auto rinex = dataFile("sky/brdc1820_0000-0400.10n");
    auto* startTime = control<QLineEdit>(*form, "StartTimeEdit");
    auto* date = control<QDateEdit>(*form, "NmeaDateEdit");
    auto* routeDate = control<QDateEdit>(*form, "routeDateEdit");
    auto* skyLabel = control<QLabel>(*form, "routeSkyLabel");
    auto* plot = form->findChild<gui::SkyPlot*>("SkyPlot");
    ASSERT_FALSE(control<QCheckBox>(*form, "SignalGeneratorBox")->isChecked());

    // Sky off: the start time belongs to the scenario controls, and "Sky off" says
    // where the sky is switched on.
    EXPECT_FALSE(startTime->isEnabled());
    EXPECT_FALSE(routeDate->isEnabled());
    EXPECT_EQ(skyLabel->text(), qs("Sky off"));
    for (const QString& tip : {skyLabel->toolTip(), plot->toolTip()}) {
        EXPECT_TRUE(tip.contains("Settings tab")) << tip.toStdString();
        EXPECT_TRUE(tip.contains("\"Satellites from\"")) << tip.toStdString();
    }

    // A sky file chosen switches the sky on; the time and date of the first fix, which
    // it must cover, become editable on this tab; its date is the Settings tab's.
    dialogs.openAnswers.push_back(qpath(rinex));
    control<QPushButton>(*form, "SkyBrowseButton")->click();
    EXPECT_TRUE(startTime->isEnabled());
    EXPECT_TRUE(routeDate->isEnabled());
    EXPECT_EQ(skyLabel->text(), qs("Sky on: brdc1820_0000-0400.10n"));
    routeDate->setDate(QDate(2021, 3, 4));
    EXPECT_EQ(date->date(), QDate(2021, 3, 4));
    date->setDate(QDate(2026, 12, 9));
    EXPECT_EQ(routeDate->date(), QDate(2026, 12, 9));

    // The file (2010-07-01, 00:00 to 04:00 with four hours' fit) misses the start: the
    // question names its span in UTC and the start inside it; No runs nothing.
    dialogs.openAnswers.push_back(qpath(kml));
    prompt.answers = {false};
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    ASSERT_EQ(prompt.questions.size(), 1u);
    const std::string question = prompt.questions[0];
    for (const char* part : {"brdc1820_0000-0400.10n", "2026-12-09 09:00:", "covers 2010-06-30 21:59:45 UTC to",
                             "2010-07-01 ", "Start at 2010-06-30 22:00:00 UTC"})
        EXPECT_NE(question.find(part), std::string::npos) << part << " in " << question;
    EXPECT_TRUE(prompt.messages.empty());
    expectChartsEmpty();
    EXPECT_FALSE(plot->sky());

    // Generate asks the same before the save dialog; Yes moves the date and the start
    // time and the file starts there, with its sky.
    std::size_t questionsAtSave = 0;
    dialogs.onAsk = [&] { questionsAtSave = prompt.questions.size(); };
    prompt.answers = {true};
    dialogs.saveAnswers.push_back(qpath(dir / "inside.txt"));
    tab<gui::GoogleEarthTab>(*form)->generate();
    EXPECT_EQ(prompt.questions.size(), 2u);
    EXPECT_EQ(questionsAtSave, 2u) << "asked before the output name";
    EXPECT_EQ(date->date(), QDate(2010, 6, 30));
    EXPECT_EQ(routeDate->date(), QDate(2010, 6, 30));
    EXPECT_EQ(startTime->text(), qs("79200"));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0], (dir / "inside.txt").string() + " created.");
    const std::string bytes = readFileBytes(dir / "inside.txt");
    EXPECT_EQ(bytes.find("$GPGGA,"), bytes.find("$GPGGA,220000.00,"));
    EXPECT_NE(bytes.find("$GPGSV,"), std::string::npos);
    ASSERT_TRUE(plot->sky());
    EXPECT_GE(plot->sky()->satellites.size(), 4u);

    // Covered now: no question.
    tab<gui::GoogleEarthTab>(*form)->preview();
    EXPECT_EQ(prompt.questions.size(), 2u);

    // Sky off again: the start time goes back to the scenario controls.
    control<QCheckBox>(*form, "SkyBox")->setChecked(false);
    EXPECT_FALSE(startTime->isEnabled());
    EXPECT_TRUE(startTime->toolTip().contains("Signal generator features")) << startTime->toolTip().toStdString();
}

TEST_F(GoogleEarthTabTest, TheSkyPlotGivesEachSystemItsColourAndALegend)
{
    gui::SkyPlot plot;
    plot.resize(520, 200);
    sky::SkyView view;
    const std::pair<sky::GnssSystem, QColor> systems[] = {{sky::GnssSystem::gps, QColor(0, 110, 200)},
                                                          {sky::GnssSystem::galileo, QColor(0, 158, 115)},
                                                          {sky::GnssSystem::beidou, QColor(213, 94, 0)},
                                                          {sky::GnssSystem::glonass, QColor(204, 150, 0)}};
    for (int k = 0; k < 4; ++k)
        view.satellites.push_back({systems[k].first, k + 1, 20.0 + 15 * k, 90.0 * k, 40, k % 2 == 0});
    plot.setSky(view);
    const QImage image = plot.grab().toImage();
    // Every system's colour on the plot, and in the legend's line at the top right.
    const auto count = [&](const QColor& colour, const QRect& area) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) n += image.pixelColor(x, y) == colour;
        return n;
    };
    const int legendHeight = QFontMetrics(plot.font()).height() + 2;
    for (const auto& [system, colour] : systems) {
        EXPECT_GE(count(colour, image.rect()), 20) << static_cast<int>(system);
        EXPECT_GE(count(colour, QRect(image.width() / 2, 0, image.width() / 2, legendHeight)), 4)
            << static_cast<int>(system);
    }
    // A sky of GPS alone names GPS alone.
    view.satellites.resize(1);
    plot.setSky(view);
    const QImage alone = plot.grab().toImage();
    int others = 0;
    for (int y = 0; y < alone.height(); ++y)
        for (int x = 0; x < alone.width(); ++x)
            others += alone.pixelColor(x, y) == systems[1].second || alone.pixelColor(x, y) == systems[3].second;
    EXPECT_EQ(others, 0);
}

TEST_F(GoogleEarthTabTest, PathsOfAFileAreListedToPickFromAndHeightsReachTheFile)
{
    // A GPX of a bike computer: two tracks, the second with heights on its points.
    const auto gpx = dir / "rides.gpx";
    writeFileBytes(gpx, R"(<?xml version="1.0"?>
<gpx version="1.1" xmlns="http://www.topografix.com/GPX/1/1"><trk><name>Warm-up</name><trkseg>
<trkpt lat="47.3" lon="8.5"/><trkpt lat="47.3" lon="8.5015"/><trkpt lat="47.3012" lon="8.5015"/></trkseg></trk>
<trk><name>Climb</name><trkseg><trkpt lat="47.3" lon="8.5"><ele>400</ele></trkpt>
<trkpt lat="47.3" lon="8.5015"><ele>420</ele></trkpt><trkpt lat="47.3012" lon="8.5015"><ele>450</ele></trkpt>
<trkpt lat="47.302" lon="8.503"><ele>455.5</ele></trkpt></trkseg></trk></gpx>
)");
    dialogs.openAnswers.push_back(qpath(gpx));
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    ASSERT_TRUE(prompt.messages.empty()) << prompt.messages.front();
    auto* box = control<QComboBox>(*form, "pathBox");
    ASSERT_EQ(box->count(), 2);
    EXPECT_TRUE(box->isEnabled());
    EXPECT_EQ(box->currentIndex(), 0);
    // Lengths as GeodSolve gives them: 113.444 + 133.412 m, and 144.150 m more.
    EXPECT_EQ(box->itemText(0), "1: Warm-up (3 points, 246.9 m)");
    EXPECT_EQ(box->itemText(1), "2: Climb (4 points, 391.0 m)");
    EXPECT_EQ(series(*form, "Series1")->count(), 3);

    // Picking the second previews it, as the core drives it.
    box->setCurrentIndex(1);
    tab<gui::GoogleEarthTab>(*form)->previewChosenPath(1);
    route::RouteParameters second;
    second.path = "2";
    EXPECT_EQ(series(*form, "Series1")->points(), runCore(gpx, second).raw);
    EXPECT_EQ(series(*form, "Series1")->count(), 4);

    // Generate with heights writes what the command line writes with --path 2 --heights.
    control<QCheckBox>(*form, "heightsBox")->setChecked(true);
    control<QLineEdit>(*form, "StationaryPeriodEdit")->setText("3");
    dialogs.saveAnswers.push_back(qpath(dir / "climb.txt"));
    tab<gui::GoogleEarthTab>(*form)->generate();
    ASSERT_TRUE(std::filesystem::exists(dir / "climb.txt")) << (prompt.messages.empty() ? "" : prompt.messages.front());
    const auto cli = runTrajix({"route", gpx.string(), "-o", (dir / "cli.txt").string(), "--path", "2", "--heights",
                                "--stationary-start", "3"});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    const std::string bytes = readFileBytes(dir / "climb.txt");
    EXPECT_EQ(bytes, readFileBytes(dir / "cli.txt"));
    EXPECT_NE(bytes.find(",400.00,M,"), std::string::npos);
    EXPECT_EQ(bytes.find(",160.00,M,"), std::string::npos);

    // A file of one path lists it, with nothing to pick.
    dialogs.openAnswers.push_back(qpath(dataFile("route/corner.kml")));
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    EXPECT_EQ(box->count(), 1);
    EXPECT_FALSE(box->isEnabled());
    // Heights from a file that has none are refused with a message naming it.
    tab<gui::GoogleEarthTab>(*form)->preview();
    ASSERT_FALSE(prompt.messages.empty());
    EXPECT_NE(prompt.messages.back().find("corner.kml: the path carries no heights"), std::string::npos)
        << prompt.messages.back();
}

TEST_F(GoogleEarthTabTest, CancellingTheSaveDialogWritesNothingButKeepsTheCharts)
{
    dialogs.openAnswers.push_back(qpath(dataFile("route/corner.kml")));
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    tab<gui::GoogleEarthTab>(*form)->generate();  // the save dialog answers with a cancel
    EXPECT_TRUE(writtenFiles().empty());
    EXPECT_GT(series(*form, "Series3")->count(), 0);
#ifdef TRAJIX_WITH_QTSERIAL
    EXPECT_EQ(replayFileName(*form), QString());
#endif
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(GoogleEarthTabTest, NoProgressWindowIsLeftBehindTheSaveDialog)
{
    dialogs.openAnswers.push_back(qpath(dataFile("route/corner.kml")));
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    bool progressShown = true;
    dialogs.onAsk = [&] { progressShown = form->ProgressForm->isVisible(); };
    dialogs.saveAnswers.push_back(qpath(dir / "drive.txt"));
    tab<gui::GoogleEarthTab>(*form)->generate();
    EXPECT_FALSE(progressShown) << "the progress window stayed up behind the save dialog";
    EXPECT_TRUE(std::filesystem::exists(dir / "drive.txt"));
    EXPECT_FALSE(form->ProgressForm->isVisible());
}

TEST_F(GoogleEarthTabTest, TheProgressWindowNamesItsStepAndCancelStopsTheRun)
{
    auto* window = form->ProgressForm;
    auto* step = window->findChild<QLabel*>("StepLabel");
    auto* cancel = window->findChild<QPushButton*>("CancelButton");
    ASSERT_TRUE(step && cancel);
    QStringList steps;
    // Cancel is pressed as soon as the run first lets the window's events through.
    QTimer::singleShot(0, cancel, [&] {
        steps << step->text();
        cancel->click();
    });
    dialogs.openAnswers.push_back(qpath(dataFile("route/corner.kml")));
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    ASSERT_EQ(steps.size(), 1);
    EXPECT_FALSE(steps[0].isEmpty()) << "the window says which step runs";
    EXPECT_TRUE(prompt.messages.empty()) << "a cancelled run needs no message";
    EXPECT_EQ(series(*form, "Series3")->count(), 0) << "the run stopped before the speed profile";
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(writtenFiles().empty());
}

TEST_F(GoogleEarthTabTest, BadInputIsReportedAndNothingIsWritten)
{
    const auto kept = dir / "drive.txt";
    writeFileBytes(kept, "keep me");

    // An edit that holds no number is named before any dialog opens.
    control<QLineEdit>(*form, "SpeedEdit")->setText("fast");
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    EXPECT_TRUE(dialogs.asked.isEmpty());
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("Max speed"), std::string::npos) << prompt.messages[0];
    EXPECT_NE(prompt.messages[0].find("fast"), std::string::npos) << prompt.messages[0];
    control<QLineEdit>(*form, "SpeedEdit")->setText("100");

    // A file without a path.
    const auto noPath = dir / "empty.kml";
    writeFileBytes(noPath, "<kml><Document><name>nothing</name></Document></kml>\n");
    dialogs.openAnswers.push_back(qpath(noPath));
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    ASSERT_EQ(prompt.messages.size(), 2u);
    EXPECT_NE(prompt.messages[1].find("empty.kml"), std::string::npos) << prompt.messages[1];
    expectChartsEmpty();

    // Stationary periods are written as whole seconds: a fraction is refused before
    // the save dialog, and the file of that name stays as it was.
    dialogs.saveAnswers.push_back(qpath(kept));
    dialogs.openAnswers.push_back(qpath(dataFile("route/corner.kml")));
    tab<gui::GoogleEarthTab>(*form)->pickPathFile();
    control<QLineEdit>(*form, "StationaryPeriodEdit")->setText("2.5");
    const auto asked = dialogs.asked.size();
    tab<gui::GoogleEarthTab>(*form)->generate();
    EXPECT_EQ(dialogs.asked.size(), asked);
    ASSERT_EQ(prompt.messages.size(), 3u);
    EXPECT_EQ(readFileBytes(kept), "keep me");

    for (QPushButton* button : {control<QPushButton>(*form, "BitBtn2"), control<QPushButton>(*form, "BitBtn5"),
                                control<QPushButton>(*form, "BitBtn7")})
        EXPECT_TRUE(button->isEnabled());
}

}  // namespace
}  // namespace trajix::test

#endif

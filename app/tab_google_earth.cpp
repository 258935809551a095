// "Google Earth import": a path drawn in Google Earth (KML or KMZ) or recorded as GPX
// becomes a driven route.
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "app/charts.hpp"
#include "app/controls.hpp"
#include "app/qt_progress.hpp"
#include "app/sky_start.hpp"
#include "app/sky_view.hpp"
#include "app/street_map.hpp"
#include "app/tab_google_earth.hpp"
#include "app/tab_host.hpp"
#include "app/widgets.hpp"
#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/units.hpp"
#ifdef TRAJIX_WITH_ROUTE
#include "route/path_file.hpp"
#include "route/route.hpp"
#include "street/street_model.hpp"
#endif

namespace trajix::gui {

namespace {
constexpr const char* noKmlMessage = "No path file is loaded: pick one with \"Load path file\" first.";
constexpr const char* chartHintTail =
    " \r\nZoom in by drawing a window from left to right with the left mouse button. \r\nZoom out by drawing any "
    "box from right to left. \r\nPan by using right mouse button.";

#ifdef TRAJIX_WITH_ROUTE
/// Chart points of one run, collected while the core works and handed to the series
/// in one call each.
struct ChartPoints {
    QList<QPointF> raw, smoothed, speed;
};

/// Switches a set of buttons off for its lifetime.
class ButtonsOff {
public:
    explicit ButtonsOff(std::initializer_list<QPushButton*> buttons) : buttons_(buttons)
    {
        for (QPushButton* button : buttons_) button->setEnabled(false);
    }
    ~ButtonsOff()
    {
        for (QPushButton* button : buttons_) button->setEnabled(true);
    }
    ButtonsOff(const ButtonsOff&) = delete;
    ButtonsOff& operator=(const ButtonsOff&) = delete;

private:
    std::vector<QPushButton*> buttons_;
};

std::filesystem::path localPath(const QString& name)
{
    return std::filesystem::path(QFile::encodeName(name).toStdString());
}

/// The run's values as the tab shows them. The one rate of the run is the tab's output
/// rate: the speed profile is sampled and the file written at it.
route::RouteParameters routeParameters(const GoogleEarthTab& form, const TabHost& host)
{
    route::RouteParameters parameters;
    parameters.outputRate = editNumber(form.OutputUpdateEdit1, "Output rate (Hz)");
    parameters.writeVtg = host.sentences().includeVtg;
    parameters.dates = host.sentences().dates();
    parameters.maxSpeedKmh = editNumber(form.SpeedEdit, "Max speed (km/h)");
    parameters.maxLatAccG = editNumber(form.lataccEdit, "Max latacc (g)");
    parameters.maxLongAccG = editNumber(form.longaccEdit, "Max longacc (g)");
    parameters.maxJerkGs = editNumber(form.jerkEdit, "Max jerk (g/s)");
    parameters.smoothFactor = editNumber(form.posSmoothEdit, "Position smoothing factor");
    parameters.stationaryStart = editNumber(form.StationaryPeriodEdit, "Stationary period (s)");
    parameters.stationaryEnd = editNumber(form.stationaryperiodendedit, "Stationary period end (s)");
    parameters.startTime = editNumber(form.StartTimeEdit, "GPS Start Time (s)");
    return parameters;
}

/// One item per path of the file; the first is picked. The box opens only when there
/// is a choice.
void listPaths(QComboBox* box, const std::vector<route::RoutePath>& paths)
{
    box->clear();
    for (std::size_t k = 0; k < paths.size(); ++k) {
        const auto& path = paths[k];
        box->addItem(QString::fromStdString(fmt::format("{}: {}{}({} points, {:.1f} m)", k + 1, path.name,
                                                        path.name.empty() ? "" : " ", path.points.size(),
                                                        route::pathLength(path))));
    }
    box->setEnabled(paths.size() > 1);
}

/// The street around the path in the route's frame: the footprints and covered ways
/// within 100 m of the path's bounding box, and the stretches where the fix is lost.
StreetMap streetAround(const street::StreetModel& model, const route::RouteState& state, const std::vector<bool>& lost)
{
    StreetMap map;
    if (state.sampleCount < 1) return map;
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    for (std::size_t n = 1; n <= state.rawCount; ++n) {
        minX = std::min<double>(minX, state.rawEast[n]), maxX = std::max<double>(maxX, state.rawEast[n]);
        minY = std::min<double>(minY, state.rawNorth[n]), maxY = std::max<double>(maxY, state.rawNorth[n]);
    }
    if (minX > maxX) return map;
    constexpr double margin = 100;
    minX -= margin, maxX += margin, minY -= margin, maxY += margin;
    // The box in the street's own frame, from its corners.
    double sMinX = 1e300, sMaxX = -1e300, sMinY = 1e300, sMaxY = -1e300;
    for (const auto& [x, y] :
         {std::pair{minX, minY}, std::pair{minX, maxY}, std::pair{maxX, minY}, std::pair{maxX, maxY}}) {
        const auto [lat, lon] = route::fromRouteFrame(state, x, y);
        const street::LocalPoint p = model.local(lat, lon);
        sMinX = std::min(sMinX, p.east), sMaxX = std::max(sMaxX, p.east);
        sMinY = std::min(sMinY, p.north), sMaxY = std::max(sMaxY, p.north);
    }
    const auto near = [&](const street::LocalPoint& p) {
        return p.east >= sMinX && p.east <= sMaxX && p.north >= sMinY && p.north <= sMaxY;
    };
    const auto toChart = [&](const street::LocalPoint& p) {
        const street::LonLat at = model.geographic(p);
        const route::FramePoint f = route::toRouteFrame(state, at.lat, at.lon);
        return QPointF(f.east, f.north);
    };
    for (const street::Footprint& footprint : model.footprints()) {
        const street::FootprintRings rings = model.rings(footprint);
        const street::FootprintRing outer = rings.front();
        if (std::none_of(outer.begin(), outer.end(), near)) continue;
        QPainterPath path;
        path.setFillRule(Qt::OddEvenFill);
        for (const street::FootprintRing ring : rings) {
            QPolygonF polygon;
            for (const auto& p : ring) polygon << toChart(p);
            path.addPolygon(polygon);
            path.closeSubpath();
        }
        map.buildings.append(path);
    }
    // Consecutive stretches of a covered way join into one line.
    for (const street::CoveredSegment& segment : model.coveredSegments()) {
        if (!near(segment.a) && !near(segment.b)) continue;
        const QPointF a = toChart(segment.a), b = toChart(segment.b);
        const double width = 2 * segment.halfWidth;
        if (!map.coveredWays.isEmpty() && map.coveredWays.back().back() == a && map.coveredWidths.back() == width) {
            map.coveredWays.back() << b;
        } else {
            map.coveredWays.append(QPolygonF{a, b});
            map.coveredWidths.append(width);
        }
    }
    for (const auto& area : model.coveredAreas()) {
        if (std::none_of(area.front().begin(), area.front().end(), near)) continue;
        QPolygonF polygon;
        for (const auto& p : area.front()) polygon << toChart(p);
        map.coveredAreas.append(polygon);
    }
    // The samples without a fix, joined to their neighbours so that a stretch covers
    // the way driven between them.
    for (std::size_t j = 1; j < lost.size(); ++j) {
        if (!lost[j]) continue;
        const QPointF at(state.sampleEast[j], state.sampleNorth[j]);
        if (j > 1 && lost[j - 1] && !map.lostFix.isEmpty())
            map.lostFix.back() << at;
        else
            map.lostFix.append(QPolygonF{at});
    }
    return map;
}

/// The street around the first fix for the sky plot: its skyline and how each
/// satellite of the sky arrives there.
SkyPlot::Street skyStreetOf(const street::StreetModel& model, const route::FirstFix& fix, const sky::SkyView& view)
{
    SkyPlot::Street out;
    const street::Place place = model.place(fix.latitude, fix.longitude, fix.course);
    out.step = 2;
    out.skyline = model.skyline(place, out.step);
    for (const sky::SatelliteView& satellite : view.satellites)
        out.reception.push_back(model.satellite(place, satellite.azimuth, satellite.elevation).reception);
    return out;
}

/// East and north share one scale: the smaller range is widened to the larger one.
void squarePositionChart(QChartView* view, const QList<QPointF>& points)
{
    if (points.isEmpty()) return;
    double minX = points.first().x(), maxX = minX, minY = points.first().y(), maxY = minY;
    for (const QPointF& point : points) {
        minX = std::min(minX, point.x());
        maxX = std::max(maxX, point.x());
        minY = std::min(minY, point.y());
        maxY = std::max(maxY, point.y());
    }
    route::squareChartRanges(minX, maxX, minY, maxY);
    // All points on one spot: three metres around it, so that the grid keeps whole
    // metres (its labels show no fractions, and half metres would repeat a label).
    if (maxX - minX < 1 && maxY - minY < 1) {
        minX -= 3, maxX += 3, minY -= 3, maxY += 3;
    }
    showEqualScale(view, minX, maxX, minY, maxY);
}

/// The speed chart of the whole file: the profile's samples (from time 0) shifted past
/// the stationary start, at rest from 0 before them and up to totalTime after them, so
/// that the chart ends where "Total time" says the file does.
QList<QPointF> wholeFileSpeeds(const QList<QPointF>& profile, double stationaryStart, double totalTime)
{
    QList<QPointF> speeds;
    speeds.reserve(profile.size() + 2);
    if (stationaryStart > 0) speeds.append(QPointF(0, 0));
    for (const QPointF& point : profile) speeds.append(QPointF(point.x() + stationaryStart, point.y()));
    if (speeds.isEmpty() || speeds.back().x() < totalTime) speeds.append(QPointF(totalTime, 0));
    return speeds;
}

/// Time from 0 to the last sample, speed from 0 to the highest, on round numbers.
void fitSpeedChart(QChartView* view, const QList<QPointF>& points)
{
    double maxTime = 1, maxSpeed = 1;
    for (const QPointF& point : points) {
        maxTime = std::max(maxTime, point.x());
        maxSpeed = std::max(maxSpeed, point.y());
    }
    for (auto [orientation, maximum] : {std::pair{Qt::Horizontal, maxTime}, std::pair{Qt::Vertical, maxSpeed}}) {
        if (QValueAxis* axis = valueAxis(view, orientation)) {
            axis->setRange(0, maximum);
            axis->applyNiceNumbers();
        }
    }
}
#endif
}  // namespace

GoogleEarthTab::GoogleEarthTab(TabHost& host, QWidget* parent) : QWidget(parent), host_(host)
{
    setObjectName("GoogleEarthTab");
    auto* page = this;

    BitBtn2 = makeButton(page, "BitBtn2", "Load path file");
    BitBtn2->setToolTip("A path drawn in Google Earth (.kml, .kmz) or recorded as GPX (.gpx)");
    connect(BitBtn2, &QPushButton::clicked, this, &GoogleEarthTab::pickPathFile);

    auto* rateRow = new QHBoxLayout;
    Label21 = new ClickLabel("Output rate (Hz)", page);
    Label21->setObjectName("Label21");
    // A click on the caption fetches the daily almanac of the fixed date into the almanac folder.
    connect(Label21, &ClickLabel::clicked, this, &GoogleEarthTab::almanacFetchRequested);
    OutputUpdateEdit1 = makeEdit(page, "OutputUpdateEdit1", "20", 60);
    rateRow->addWidget(Label21);
    rateRow->addWidget(OutputUpdateEdit1);
    rateRow->addStretch();

    auto* pathRow = new QHBoxLayout;
    pathBox = new QComboBox(page);
    pathBox->setObjectName("pathBox");
    pathBox->setEnabled(false);
    pathBox->setToolTip("The path of the file to drive, when it holds several");
    connect(pathBox, &QComboBox::activated, this, &GoogleEarthTab::previewChosenPath);
    pathRow->addWidget(makeLabel(page, "pathLabel", "Path"));
    pathRow->addWidget(pathBox, 1);
    heightsBox = new QCheckBox("Heights from file", page);
    heightsBox->setObjectName("heightsBox");
    heightsBox->setToolTip(
        "Write the file's altitudes (KML third numbers, GPX ele) along the path instead of the "
        "fixed height");

    OrvenaGroupBox = new QGroupBox("Orvena Scenario start time/date", page);
    OrvenaGroupBox->setObjectName("OrvenaGroupBox");
    auto* orvena = new QGridLayout(OrvenaGroupBox);
    orvLabel1 = makeLabel(OrvenaGroupBox, "orvLabel1", "GPS Week");
    WeekEdit = makeEdit(OrvenaGroupBox, "WeekEdit", "462");
    orvLabel2 = makeLabel(OrvenaGroupBox, "orvLabel2", "GPS Start Time");
    StartTimeEdit = makeEdit(OrvenaGroupBox, "StartTimeEdit", QString::number(nineOClockSeconds));
    durationLabel = makeLabel(OrvenaGroupBox, "durationLabel", "Duration");
    DurationEdit = makeEdit(OrvenaGroupBox, "DurationEdit", "5");
    orvLabel3 = makeLabel(OrvenaGroupBox, "orvLabel3", "Start Day");
    StartDayEdit = makeEdit(OrvenaGroupBox, "StartDayEdit", "30");
    orvLabel4 = makeLabel(OrvenaGroupBox, "orvLabel4", "Start Month");
    StartMonthEdit = makeEdit(OrvenaGroupBox, "StartMonthEdit", "6");
    orvLabel5 = makeLabel(OrvenaGroupBox, "orvLabel5", "Start Year");
    StartYearEdit = makeEdit(OrvenaGroupBox, "StartYearEdit", "2008");
    // Two columns, times beside the date, so that the tab fits a 600-pixel-high screen.
    const std::pair<QLabel*, QLineEdit*> orvenaRows[] = {{orvLabel1, WeekEdit},         {orvLabel3, StartDayEdit},
                                                         {orvLabel2, StartTimeEdit},    {orvLabel4, StartMonthEdit},
                                                         {durationLabel, DurationEdit}, {orvLabel5, StartYearEdit}};
    for (int k = 0; k < 6; ++k) {
        const auto [label, edit] = orvenaRows[k];
        const int row = k / 2, column = 3 * (k % 2);
        edit->setFixedWidth(64);
        label->setBuddy(edit);
        orvena->addWidget(label, row, column);
        orvena->addWidget(edit, row, column + 1);
        if (edit == StartTimeEdit || edit == DurationEdit)  // seconds (Duration: of signal the generator makes)
            orvena->addWidget(new QLabel("s", OrvenaGroupBox), row, column + 2);
    }
    orvena->setColumnMinimumWidth(2, 12);
    orvena->setColumnStretch(6, 1);

    DynamicGroupBox = new QGroupBox("Dynamic settings", page);
    DynamicGroupBox->setObjectName("DynamicGroupBox");
    auto* dynamic = new QGridLayout(DynamicGroupBox);
    longaccEdit = makeEdit(DynamicGroupBox, "longaccEdit", "1");
    jerkEdit = makeEdit(DynamicGroupBox, "jerkEdit", "2");
    lataccEdit = makeEdit(DynamicGroupBox, "lataccEdit", "1");
    SpeedEdit = makeEdit(DynamicGroupBox, "SpeedEdit", "100");
    StationaryPeriodEdit = makeEdit(DynamicGroupBox, "StationaryPeriodEdit", "80");
    stationaryperiodendedit = makeEdit(DynamicGroupBox, "stationaryperiodendedit", "5");
    posSmoothEdit = makeEdit(DynamicGroupBox, "posSmoothEdit", "100");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "longaccLabel", "Max longacc"), longaccEdit, "g");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "jerkLabel", "Max jerk"), jerkEdit, "g/s");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "lataccLabel", "Max latacc"), lataccEdit, "g");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "SpeedLabel", "Max speed"), SpeedEdit, "km/h");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "StationaryPeriodLabel", "Stationary period"), StationaryPeriodEdit,
               "s");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "stationaryperiodendLabel", "Stationary period end"),
               stationaryperiodendedit, "s");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "posSmoothLabel", "Position smoothing factor"), posSmoothEdit);
    dynamic->setColumnStretch(3, 1);

    // Each input says its unit and the values it takes.
    OutputUpdateEdit1->setToolTip(
        "Output rate in Hz (fixes per second), greater than 0; also the rate of the other tabs");
    WeekEdit->setToolTip("GPS week of the scenario start, a whole number, 0 or more");
    StartTimeEdit->setToolTip("Time of day of the first fix in seconds from midnight (32400 is 09:00:00)");
    StartDayEdit->setToolTip("Day of the month of the scenario start, 1 to 31");
    StartMonthEdit->setToolTip("Month of the scenario start, 1 to 12");
    StartYearEdit->setToolTip("Year of the scenario start, four digits, 1980 or later");
    DurationEdit->setToolTip("Seconds of signal the simulator records, a whole number greater than 0");
    longaccEdit->setToolTip("Largest acceleration and braking along the road in g (9.81 m/s²), greater than 0");
    jerkEdit->setToolTip("Largest jerk in g/s, greater than 0; command scripts use it as their route jerk");
    lataccEdit->setToolTip("Largest sideways acceleration in corners in g (9.81 m/s²), greater than 0");
    SpeedEdit->setToolTip("Highest speed in km/h, greater than 0");
    StationaryPeriodEdit->setToolTip("Seconds at rest before the drive, a whole number, 0 or more");
    stationaryperiodendedit->setToolTip("Seconds at rest after the drive, a whole number, 0 or more");
    posSmoothEdit->setToolTip("Position smoothing factor: points averaged, a whole number from 1 to 1000000000");

    BitBtn5 = makeButton(page, "BitBtn5", "Preview");
    connect(BitBtn5, &QPushButton::clicked, this, &GoogleEarthTab::preview);
    BitBtn7 = makeButton(page, "BitBtn7", "Generate NMEA file");
    connect(BitBtn7, &QPushButton::clicked, this, &GoogleEarthTab::generate);

    auto* runButtons = new QHBoxLayout;
    runButtons->addWidget(BitBtn5);
    runButtons->addWidget(BitBtn7);
    auto* controls = new QVBoxLayout;
    controls->addWidget(BitBtn2);
    controls->addLayout(pathRow);
    controls->addWidget(heightsBox);
    controls->addLayout(rateRow);
    dateRow = new FileDateRow("route", page);
    controls->addWidget(dateRow);
    controls->addWidget(OrvenaGroupBox);
    controls->addWidget(DynamicGroupBox);
    controls->addStretch();
    controls->addLayout(runButtons);

    Chart1 =
        makeLineChart("Position (x,y) metres", "East (m)", "North (m)", {&Series1, &Series2, &Series6, &Series8}, page);
    Chart1->setObjectName("Chart1");
    Chart1->setToolTip(QString("Graph showing output position in metres.") + chartHintTail);
    Series1->setName("Series1");
    Series1->setColor(Qt::red);
    Series1->setPointsVisible(true);  // the KML points themselves, under the smoothed path
    for (QAbstractAxis* axis : Chart1->chart()->axes())
        if (auto* valueAxis = qobject_cast<QValueAxis*>(axis)) valueAxis->setLabelFormat("%.0f");  // whole metres
    showEqualScale(Chart1, 0, 6, 0, 6);  // before any route too, on a grid of whole metres
    Series2->setName("Series2");
    Series6->setName("Series6");
    Series8->setName("Series8");
    Series8->setColor(Qt::darkGreen);
    Chart3 = makeLineChart("Speed profile", "Time (s)", "Speed km/h", {&Series3}, page);
    Chart3->setObjectName("Chart3");
    Chart3->setToolTip(QString("Graph showing output speed in km/h.") + chartHintTail);
    Series3->setName("Series3");
    Series3->setColor(Qt::blue);

    DistanceLabel = makeLabel(page, "DistanceLabel", QString());
    TotalTimeLabel = makeLabel(page, "TotalTimeLabel", QString());
    auto* captions = new QHBoxLayout;
    captions->addWidget(DistanceLabel);
    captions->addSpacing(40);
    captions->addWidget(TotalTimeLabel);
    captions->addStretch();

    // Under the speed chart: the highest lateral and longitudinal acceleration reached.
    AccelerationLabel = makeLabel(page, "AccelerationLabel", QString());
    AccelerationLabel->setWordWrap(true);  // its two figures take two lines where the column is narrow
    // A change of any value the charts were drawn with takes the old charts away: they
    // would show a run these values no longer make. Preview draws them again.
    for (QLineEdit* edit : {OutputUpdateEdit1, longaccEdit, jerkEdit, lataccEdit, SpeedEdit, StationaryPeriodEdit,
                            stationaryperiodendedit, posSmoothEdit, StartTimeEdit})
        connect(edit, &QLineEdit::textChanged, this, &GoogleEarthTab::clearCharts);
    connect(heightsBox, &QCheckBox::toggled, this, &GoogleEarthTab::clearCharts);
    auto* speedColumn = new QVBoxLayout;
    speedColumn->addWidget(Chart3, 1);
    speedColumn->addWidget(AccelerationLabel);

    auto* charts = new QHBoxLayout;
    charts->addWidget(Chart1, 1);
    charts->addLayout(speedColumn, 1);
    skyPlot = new SkyPlot(page);
    auto* right = new QVBoxLayout;
    right->addLayout(charts, 1);
    right->addLayout(captions);
    right->addWidget(skyPlot);

    auto* layout = new QHBoxLayout(page);
    layout->addLayout(controls);
    layout->addLayout(right, 1);
}

void GoogleEarthTab::pickPathFile()
{
    LoadKML(true, false);
}

void GoogleEarthTab::preview()
{
    if (kmlFileName_.isEmpty())
        host_.prompt().information(noKmlMessage);
    else
        LoadKML(false, false);
}

void GoogleEarthTab::generate()
{
    if (kmlFileName_.isEmpty())
        host_.prompt().information(noKmlMessage);
    else
        LoadKML(false, true);
}

void GoogleEarthTab::previewChosenPath(int /*index*/)
{
    if (!kmlFileName_.isEmpty()) LoadKML(false, false);
}

#ifdef TRAJIX_WITH_ROUTE
void GoogleEarthTab::openPathFile(const QString& fileName)
{
    kmlFileName_ = fileName;
    pathBox->clear();
    pathBox->setEnabled(false);
    LoadKML(false, false);
}

void GoogleEarthTab::LoadKML(bool askForFile, bool writeOutput)
{
    // The progress window is not modal: the buttons stay off until the run is over so
    // that a second click cannot start a run inside this one.
    const ButtonsOff buttonsOff({BitBtn2, BitBtn5, BitBtn7});

    // Every run starts clean: a run that fails shows no charts of the one before.
    clearCharts();
    route::RouteParameters parameters;
    try {
        parameters = routeParameters(*this, host_);
    } catch (const Error& error) {
        host_.showError(error.what());
        return;
    }

    if (askForFile) {
        const QString chosen =
            host_.dialogs().openFile(this, "Pick a path file (.kml, .kmz, .gpx) to drive", "*.kml *.kmz *.gpx");
        if (chosen.isEmpty()) return;
        kmlFileName_ = chosen;
        pathBox->clear();
        pathBox->setEnabled(false);
    }

    // The sky file must cover the first fix: refused before the route runs, with the
    // offer to start inside what it covers.
    try {
        const SkyStartCheck sky = checkSkyStart(host_.prompt(), parameters.dates, parameters.startTime,
                                                "the first fix date and the GPS Start Time");
        if (!sky.go) return;
        if (sky.moveTo) {
            host_.setFileDate(sky.moveTo->date);
            StartTimeEdit->setText(QString::number(sky.moveTo->secondOfDay));
            parameters = routeParameters(*this, host_);
        }
    } catch (const Error& error) {
        host_.showError(error.what());
        return;
    }

    QtProgress progress(host_.progressWindow());
    try {
        route::RouteState state;
        route::applyParameters(state, parameters, writeOutput);
        const std::filesystem::path kmlPath = localPath(kmlFileName_);
        const std::string source = kmlPath.string();
        const auto paths = route::readRoutePathFile(kmlPath);
        // A new file, or one that changed since it was listed, is listed afresh.
        if (pathBox->count() != static_cast<int>(paths.size())) listPaths(pathBox, paths);
        if (pathBox->currentIndex() > 0) parameters.path = std::to_string(pathBox->currentIndex() + 1);
        parameters.heights = heightsBox->isChecked();
        const auto& coordinates = route::choosePath(paths, parameters.path, source).points;

        ChartPoints points;
        route::RouteCallbacks callbacks;
        callbacks.rawPoint = [&points](double east, double north) { points.raw.append(QPointF(east, north)); };
        callbacks.smoothedPoint = [&points](double east, double north) {
            points.smoothed.append(QPointF(east, north));
        };
        // One long straight stretch is driven without a progress step: the samples it
        // takes keep the window alive instead.
        QElapsedTimer sinceEvents;
        sinceEvents.start();
        callbacks.speedPoint = [&points, &sinceEvents](double time, double kmh) {
            points.speed.append(QPointF(time, kmh));
            if ((points.speed.size() & 1023) == 0 && sinceEvents.elapsed() > 100) {
                QApplication::processEvents();
                sinceEvents.restart();
            }
        };

        progress.start("Loading KML file", static_cast<long long>(coordinates.size()));
        route::loadRawPoints(state, coordinates, callbacks);
        if (parameters.heights) route::loadRawHeights(state, coordinates, source);
        Series1->replace(points.raw);
        squarePositionChart(Chart1, points.raw);
        QApplication::processEvents();

        route::densifyPath(state, progress);
        route::smoothPath(state, progress, callbacks);
        Series8->replace(points.smoothed);
        QApplication::processEvents();

        route::calculateDistances(state, progress);
        route::calculateDeflections(state, progress);
        route::findCorners(state, progress);
        route::makeCornersFeasible(state);
        route::holdLateralLimit(state, progress);
        route::runProfilePass(state, parameters, progress, callbacks, host_.prompt());
        // Every change of an axis lays the whole series out again: the axes are set while
        // the series is empty, and the profile's points laid out once.
        Series3->clear();
        const QList<QPointF> speed = wholeFileSpeeds(points.speed, parameters.stationaryStart, state.totalTime);
        fitSpeedChart(Chart3, speed);
        Series3->replace(speed);
        DistanceLabel->setText(QString::fromStdString(state.distanceText));
        TotalTimeLabel->setText(QString::fromStdString(state.timeText));
        route::calculatePositions(state);
        route::measureAccelerations(state);
        AccelerationLabel->setText(QString::fromStdString(state.accelerationText));
        // The sky the file will report at its first fix, from the Settings tab's file;
        // with a street, the buildings and tunnels under the path and the fix they take.
        if (parameters.dates.sky) {
            auto view = route::firstFixSky(state, parameters);
            std::optional<SkyPlot::Street> street;
            if (parameters.dates.street && view)
                street = skyStreetOf(*parameters.dates.street, route::firstFix(state, parameters), *view);
            skyPlot->setSky(std::move(view), std::move(street));
        }
        if (parameters.dates.street) {
            showStreetMap(Chart1,
                          streetAround(*parameters.dates.street, state, route::lostFixSamples(state, parameters)));
            QApplication::processEvents();
        }

        // The progress window closes before the save dialog opens: nothing is left
        // behind the dialog at 100 %.
        progress.finish();
        if (!writeOutput) return;
        const QString chosen = host_.dialogs().saveFile(this, "Enter name for NMEA output file",
                                                        QFileInfo(kmlFileName_).completeBaseName() + ".txt");
        if (chosen.isEmpty()) return;
        const QString outputName = withTxtExtension(chosen);
        route::saveNMEA(state, parameters, localPath(outputName), progress);
        progress.finish();
        host_.output().outputFileName = outputName.toStdString();
        host_.output().outputInterval = outputIntervalForRate(parameters.outputRate);
        host_.handOverWrittenFile(outputName, true);
    } catch (const Cancelled&) {
        progress.finish();  // the user asked: no message, the charts show how far it came
    } catch (const Error& error) {
        progress.finish();
        host_.showError(error.what());
    } catch (const std::bad_alloc&) {
        progress.finish();
        host_.showError("Not enough memory for this route: " + kmlFileName_.toStdString());
    }
}
#else
void GoogleEarthTab::LoadKML(bool /*askForFile*/, bool /*writeOutput*/)
{
    host_.prompt().information("This build of Trajix has no Google Earth routes.");
}
#endif

void GoogleEarthTab::clearCharts()
{
    for (QLineSeries* series : {Series1, Series2, Series6, Series8, Series3}) series->clear();
    showStreetMap(Chart1, {});
    DistanceLabel->clear();
    TotalTimeLabel->clear();
    AccelerationLabel->clear();
    skyPlot->setSky(std::nullopt);
}

void GoogleEarthTab::showSkyChoice()
{
    skyPlot->setSky(std::nullopt);
    if (host_.sentences().sky)
        skyPlot->setEmptyText("Sky on: Preview or Generate shows the satellites of the first fix",
                              "The sky is on (the Settings tab, \"Satellites from\"): Preview or Generate shows the "
                              "satellites of the route's first fix here");
    else
        skyPlot->setEmptyText("Sky off", skyOffHint);
}

}  // namespace trajix::gui

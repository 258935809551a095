// "User commands": a script of motion commands becomes a trajectory.
#include <QChartView>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <QValueAxis>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "app/charts.hpp"
#include "app/controls.hpp"
#include "app/qt_progress.hpp"
#include "app/secondary_windows.hpp"
#include "app/sky_start.hpp"
#include "app/tab_host.hpp"
#include "app/tab_user_commands.hpp"
#include "app/widgets.hpp"
#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/output.hpp"
#include "common/units.hpp"
#include "script/script.hpp"

namespace trajix::gui {

namespace {

// The memo's lines as the script sees them. A final line break opens no extra line.
std::vector<std::string> memoLines(const QPlainTextEdit* memo)
{
    const QString text = memo->toPlainText();
    std::vector<std::string> lines;
    if (text.isEmpty()) return lines;
    QStringList parts = text.split('\n');
    if (parts.size() > 1 && parts.back().isEmpty()) parts.removeLast();
    lines.reserve(static_cast<std::size_t>(parts.size()));
    for (const QString& part : parts) lines.push_back(part.toStdString());
    return lines;
}

// The script line a refusal names: its messages start "line N: ". 0 for a message that
// names none (a bad edit, a script without motion).
int lineNamed(const char* message)
{
    static const QRegularExpression pattern("^line (\\d+):");
    const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(message));
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

// The lowest and highest value seen, for an axis that fits its data.
struct Extent {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    void add(double value)
    {
        low = std::min(low, value);
        high = std::max(high, value);
    }
    // A flat line sits in the middle of a one-unit range rather than on a collapsed axis.
    trajix::AxisRange range() const
    {
        if (!(low <= high)) return {0, 1};
        if (high - low < 1e-9) return {low - 0.5, high + 0.5};
        return {low, high};
    }
};

// Gathers the thinned chart points of a run and hands them to the series in blocks,
// so that a long run shows its progress and short ones are drawn once.
class ScriptChartSeries final : public trajix::ScriptCharts {
public:
    ScriptChartSeries(QChartView* trackChart, QLineSeries* track, QChartView* speedChart, QLineSeries* speed,
                      QChartView* heightChart, QLineSeries* height)
        : trackChart_(trackChart),
          track_(track),
          speedChart_(speedChart),
          speed_(speed),
          heightChart_(heightChart),
          height_(height)
    {
    }

    void clear() override
    {
        trackPoints_.clear();
        speedPoints_.clear();
        heightPoints_.clear();
        track_->clear();
        speed_->clear();
        height_->clear();
        east_ = north_ = time_ = speedKmh_ = heightM_ = Extent{};
        time_.add(0);  // time runs from the start of the run
        cleared_ = true;
    }

    void addPoint(const trajix::ScriptChartPoint& p) override
    {
        trackPoints_.append(QPointF(p.east, p.north));
        speedPoints_.append(QPointF(p.time, p.speedKmh));
        heightPoints_.append(QPointF(p.time, p.height));
        east_.add(p.east);
        north_.add(p.north);
        time_.add(p.time);
        speedKmh_.add(p.speedKmh);
        heightM_.add(p.height);
        // A long run shows its points as it goes, but lays the charts out again at most
        // every showInterval: each time costs as much as all the points so far.
        if (trackPoints_.size() >= pointsPerBlock &&
            (!sinceShown_.isValid() || sinceShown_.elapsed() >= showIntervalMs))
            show();
    }

    /// Puts the points gathered since the last call on the charts and fits the axes
    /// (nothing when the run never began).
    void show()
    {
        if (!cleared_) return;
        // Every change of an axis lays the series out again, so the axes are fitted before
        // the new points arrive; replace() then redraws once (append() of a list adds the
        // points one at a time).
        fitProfileAxes(speedChart_, time_, speedKmh_);
        fitProfileAxes(heightChart_, time_, heightM_);
        fitTrackAxes();
        track_->replace(track_->points() + trackPoints_);
        speed_->replace(speed_->points() + speedPoints_);
        height_->replace(height_->points() + heightPoints_);
        trackPoints_.clear();
        speedPoints_.clear();
        heightPoints_.clear();
        sinceShown_.start();
    }

private:
    static constexpr qsizetype pointsPerBlock = 4000;  // 100 s of script time
    static constexpr qint64 showIntervalMs = 500;

    static QValueAxis* axis(QChartView* view, Qt::Orientation orientation)
    {
        const auto axes = view->chart()->axes(orientation);
        return axes.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(axes.first());
    }

    static void setRange(QValueAxis* axis, const trajix::AxisRange& range, bool nice)
    {
        if (!axis) return;
        axis->setRange(range.minimum, range.maximum);
        if (nice) axis->applyNiceNumbers();
    }

    static void fitProfileAxes(QChartView* view, const Extent& time, const Extent& value)
    {
        setRange(axis(view, Qt::Horizontal), time.range(), true);
        setRange(axis(view, Qt::Vertical), value.range(), true);
    }

    // One metre is as long on screen east as north, so that turns keep their shape.
    void fitTrackAxes()
    {
        const trajix::AxisRange east = east_.range(), north = north_.range();
        showEqualScale(trackChart_, east.minimum, east.maximum, north.minimum, north.maximum);
    }

    QChartView* trackChart_;
    QLineSeries* track_;
    QChartView* speedChart_;
    QLineSeries* speed_;
    QChartView* heightChart_;
    QLineSeries* height_;
    QList<QPointF> trackPoints_, speedPoints_, heightPoints_;  // not yet on the charts
    Extent east_, north_, time_, speedKmh_, heightM_;
    bool cleared_ = false;
    QElapsedTimer sinceShown_;
};

}  // namespace

UserCommandsTab::UserCommandsTab(TabHost& host, QWidget* parent) : QWidget(parent), host_(host)
{
    setObjectName("UserCommandsTab");
    auto* page = this;

    Memo1 = new CommandEditor(".end", page);
    Memo1->setObjectName("Memo1");
    Memo1->setFont(monospacedFont());
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setMinimumWidth(300);

    auto* edits = new QGridLayout;
    userMaxJerkEdit = makeEdit(page, "userMaxJerkEdit", "1", 60);
    outputUpdateEdit2 = makeEdit(page, "outputUpdateEdit2", "20", 60);
    addEditRow(edits, makeLabel(page, "userMaxJerkLabel", "Max jerk"), userMaxJerkEdit, "g/s");
    addEditRow(edits, makeLabel(page, "outputUpdateLabel2", "Output rate (Hz)"), outputUpdateEdit2);
    edits->setColumnStretch(3, 1);
    userMaxJerkEdit->setToolTip("Jerk of every speed change in g/s, greater than 0");
    outputUpdateEdit2->setToolTip(
        "Output rate in Hz (fixes per second), greater than 0; also the rate of the other tabs");

    BitBtn1 = makeButton(page, "BitBtn1", "Load file");
    BitBtn4 = makeButton(page, "BitBtn4", "Save file");
    BitBtn6 = makeButton(page, "BitBtn6", "Help");
    previewButton = makeButton(page, "previewButton", "Preview");
    GenerateNMEAfilebutton = makeButton(page, "GenerateNMEAfilebutton", "Generate NMEA file");
    connect(BitBtn1, &QPushButton::clicked, this, &UserCommandsTab::loadScript);
    connect(BitBtn4, &QPushButton::clicked, this, &UserCommandsTab::saveScript);
    connect(BitBtn6, &QPushButton::clicked, this, &UserCommandsTab::helpRequested);
    connect(previewButton, &QPushButton::clicked, this, &UserCommandsTab::preview);
    connect(GenerateNMEAfilebutton, &QPushButton::clicked, this, &UserCommandsTab::generate);

    auto* fileButtons = new QHBoxLayout;
    fileButtons->addWidget(BitBtn1);
    fileButtons->addWidget(BitBtn4);
    fileButtons->addWidget(BitBtn6);
    auto* runButtons = new QHBoxLayout;
    runButtons->addWidget(previewButton);
    runButtons->addWidget(GenerateNMEAfilebutton);

    auto* left = new QVBoxLayout;
    left->addWidget(Memo1, 1);
    left->addLayout(fileButtons);
    left->addLayout(edits);
    dateRow = new FileDateRow("script", page);
    left->addWidget(dateRow);
    left->addLayout(runButtons);

    Chart5 = makeLineChart("Position (x,y) metres", "East (m)", "North (m)", {&Series9}, page);
    Chart5->setObjectName("Chart5");
    Series9->setName("Series9");
    Chart2 = makeLineChart("Velocity", "Time (s)", "Speed km/h", {&Series4}, page);
    Chart2->setObjectName("Chart2");
    Series4->setName("Series4");
    Series4->setColor(Qt::blue);
    Chart7 = makeLineChart("Height", "Time (s)", "Height (m)", {&Series13}, page);
    Chart7->setObjectName("Chart7");
    Series13->setName("Series13");
    Series13->setColor(Qt::darkGreen);

    auto* profiles = new QVBoxLayout;
    profiles->addWidget(Chart2, 1);
    profiles->addWidget(Chart7, 1);

    auto* layout = new QHBoxLayout(page);
    layout->addLayout(left, 2);
    layout->addWidget(Chart5, 3);
    layout->addLayout(profiles, 3);
}

void UserCommandsTab::loadScript()
{
    QString name = host_.dialogs().openFile(this, "Pick user command file to load", "*.txt");
    if (name.isEmpty()) return;
    name = withTxtExtension(name);
    try {
        const std::string text = trajix::readFile(name.toStdString());
        QStringList lines;
        for (const std::string& line : trajix::splitScriptLines(text)) lines.append(QString::fromStdString(line));
        Memo1->setPlainText(lines.join('\n'));
        commandFileName_ = name;
    } catch (const std::exception& error) {
        host_.showError(error.what());
    }
}

void UserCommandsTab::saveScript()
{
    QString name = host_.dialogs().saveFile(this, "Enter name for user command file", suggestedName(".txt"));
    if (name.isEmpty()) return;
    name = withTxtExtension(name);
    std::string text;
    for (const std::string& line : memoLines(Memo1)) {
        text += line;
        text += "\r\n";
        if (line == ".end") break;
    }
    try {
        trajix::writeFileAtomically(name.toStdString(), text);
        commandFileName_ = name;
    } catch (const std::exception& error) {
        host_.showError(error.what());
    }
}

QString UserCommandsTab::suggestedName(const char* ending) const
{
    const QString base =
        commandFileName_.isEmpty() ? QString("commands") : QFileInfo(commandFileName_).completeBaseName();
    return base + ending;
}

void UserCommandsTab::preview()
{
    if (startInsideSky()) runCommandScript(QString());
}

bool UserCommandsTab::startInsideSky()
{
    trajix::DateSentences dates;
    trajix::ParsedScript script;
    try {
        dates = host_.sentences().dates();
        script = trajix::parseScript(memoLines(Memo1));
    } catch (const trajix::Error&) {
        return true;  // the run names what is wrong
    }
    // The writer starts at the last time the script sets (9:00 without one).
    long double clock = nineOClockSeconds;
    int timeLine = 0;
    for (const trajix::ScriptCommand& command : script.commands)
        if (command.kind == trajix::ScriptCommand::Kind::Set && command.name == trajix::ScriptCommand::Name::Time) {
            clock = command.value;
            timeLine = command.line;
        }
    const SkyStartCheck sky =
        checkSkyStart(host_.prompt(), dates, clock,
                      timeLine > 0 ? QString("the first fix date and the \"time=\" of line %1").arg(timeLine)
                                   : QString("the first fix date and a first line \"time=\""));
    if (!sky.go) return false;
    if (sky.moveTo) {
        host_.setFileDate(sky.moveTo->date);
        const QString line = QString("time=%1").arg(sky.moveTo->secondOfDay);
        QStringList lines = Memo1->toPlainText().split('\n');
        if (timeLine > 0 && timeLine <= lines.size())
            lines[timeLine - 1] = line;
        else
            lines.prepend(line);
        Memo1->setPlainText(lines.join('\n'));
    }
    return true;
}

void UserCommandsTab::generate()
{
    // The edits are checked before the user is asked for a name.
    try {
        scriptOptions(true);
    } catch (const trajix::Error& error) {
        host_.showError(error.what());
        return;
    }
    if (!startInsideSky()) return;
    const QString name = host_.dialogs().saveFile(this, "Enter name for NMEA output file", suggestedName(".nmea.txt"));
    if (name.isEmpty()) return;
    const QString target = withTxtExtension(name);
    // A run that writes nothing (refused, unachievable, no motion) leaves the replay
    // file as it was: there is no new file to hand over.
    if (runCommandScript(target)) host_.handOverWrittenFile(target, true);
}

bool UserCommandsTab::runCommandScript(const QString& target)
{
    // The progress windows let window messages through; a second run started from
    // them would reuse the working data of this one.
    if (scriptRunning_) return false;
    scriptRunning_ = true;
    // Generating shows in the window with the search gauge, saving in the other one.
    QtProgress generating(host_.searchProgressWindow());
    QtProgress saving(host_.progressWindow());
    const auto closeProgress = [&] {
        generating.finish();
        saving.finish();
    };
    ScriptChartSeries charts(Chart5, Series9, Chart2, Series4, Chart7, Series13);
    trajix::ScriptResult result;
    try {
        const trajix::ScriptOptions options = scriptOptions(!target.isEmpty());
        const std::string path = target.isEmpty() ? std::string("preview") : target.toStdString();
        result = trajix::ConvertCmdFile(scriptState_, memoLines(Memo1), path, options, generating, saving,
                                        host_.prompt(), charts);
    } catch (const std::exception& error) {
        closeProgress();
        scriptRunning_ = false;
        // A run the user cancelled ends without a message and shows how far it came; a
        // run that failed shows no chart, neither its own part nor the last run's.
        if (dynamic_cast<const trajix::Cancelled*>(&error) != nullptr) {
            charts.show();
        } else {
            charts.clear();
            // The line the message names is marked first, so that it shows behind the message.
            Memo1->markFaultyLine(lineNamed(error.what()));
            host_.showError(error.what());
        }
        return false;
    }
    closeProgress();
    charts.show();
    scriptRunning_ = false;
    Memo1->markFaultyLine(0);
    // Free text was always allowed; a misspelt command among it gets one message.
    if (!result.unmatchedLines.empty())
        host_.prompt().information(trajix::unmatchedLinesMessage(result.unmatchedLines));
    return result.outcome == trajix::ScriptOutcome::Written;
}

trajix::ScriptOptions UserCommandsTab::scriptOptions(bool writing) const
{
    trajix::ScriptOptions options;
    // Only a written run uses the output rate.
    if (writing) {
        options.outputRate = editNumber(outputUpdateEdit2, "Output rate (Hz)");
        (void)trajix::outputIntervalForRate(options.outputRate);  // throws for a rate of 0 or less
    }
    options.userMaxJerk = editNumber(userMaxJerkEdit, "Max jerk (User commands)");
    options.routeJerk = editNumber(host_.routeJerkEdit(), "Max jerk (Google Earth import)");
    options.hdtAndGll = host_.sentences().hdtAndGll;
    options.standardGll = options.hdtAndGll && host_.sentences().standardGll;
    options.dates = host_.sentences().dates();
    return options;
}

}  // namespace trajix::gui

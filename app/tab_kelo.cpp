// "KELO import": a file recorded by a KELO GPS data logger becomes an NMEA file. The
// Settings tab's text-list conversion lives here too: it shares this tab's stationary
// periods and preview.
#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "app/controls.hpp"
#include "app/qt_progress.hpp"
#include "app/sky_start.hpp"
#include "app/tab_host.hpp"
#include "app/tab_kelo.hpp"
#include "app/widgets.hpp"
#include "common/atomic_file.hpp"
#include "common/error.hpp"
#ifdef TRAJIX_WITH_CONVERT
#include "convert/kelo_import.hpp"
#include "convert/sample_writer.hpp"
#include "convert/text_conversion.hpp"
#endif

namespace trajix::gui {

KeloTab::KeloTab(TabHost& host, QWidget* parent) : QWidget(parent), host_(host)
{
    setObjectName("KeloTab");
    auto* page = this;

    BitBtn3 = makeButton(page, "BitBtn3", "Load .kel file");
    BitBtn3->setToolTip("Load Corvalith GPS datalogger KELO '.kel' file for conversion to NMEA file");
    connect(BitBtn3, &QPushButton::clicked, this, &KeloTab::importLog);

    auto* edits = new QGridLayout;
    kelStationaryPeriodedit = makeEdit(page, "kelStationaryPeriodedit", "80", 60);
    kelStationaryPeriodedit->setToolTip(
        "Enter stationary period at start of test to get satellite lock: whole seconds, 0 or more");
    kelstationaryPeriodEndEdit = makeEdit(page, "kelstationaryPeriodEndEdit", "5", 60);
    kelstationaryPeriodEndEdit->setToolTip(
        "Enter stationary period to avoid spikes at the end of test: whole seconds, 0 or more");
    addEditRow(edits, makeLabel(page, "kelStationaryPeriodLabel", "Stationary period"), kelStationaryPeriodedit, "s");
    addEditRow(edits, makeLabel(page, "kelstationaryPeriodEndLabel", "Stationary period end"),
               kelstationaryPeriodEndEdit, "s");
    edits->setColumnStretch(3, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(BitBtn3, 0, Qt::AlignTop);
    top->addSpacing(20);
    top->addLayout(edits);
    top->addStretch();

    Memo2 = new QPlainTextEdit(page);
    Memo2->setObjectName("Memo2");
    Memo2->setReadOnly(true);
    Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo2->setFont(monospacedFont());
    Memo2->setToolTip("First 50 lines of NMEA output shown here");
    Memo2->setMinimumHeight(100);

    // East to the right and north up, as the other tabs' position charts.
    Chart6 = makeLineChart("Position (degrees)", "Longitude (°)", "Latitude (°)", {&Series11}, page);
    Chart6->setObjectName("Chart6");
    Series11->setName("Series11");
    Series11->setColor(Qt::red);
    Chart4 = makeLineChart("Speed profile", "Time (s)", "Speed km/h", {&Series12}, page);
    Chart4->setObjectName("Chart4");
    Series12->setName("Series12");
    Series12->setColor(Qt::blue);

    auto* charts = new QHBoxLayout;
    charts->addWidget(Chart6, 1);
    charts->addWidget(Chart4, 1);

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    dateRow = new FileDateRow("kelo", page);
    layout->addWidget(dateRow);
    layout->addLayout(charts, 3);
    layout->addWidget(Memo2, 2);
}

#ifdef TRAJIX_WITH_CONVERT
namespace {

std::string localPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

/// The memo shows line ends as LF only; the files keep CR LF.
QString memoText(const std::string& text)
{
    QString shown = QString::fromStdString(text);
    shown.remove(QLatin1Char('\r'));
    return shown;
}

/// Asks for the name of the NMEA file, suggesting the input's name with ending, and
/// copies the import's scratch file there. The chosen name, or an empty one when the
/// user cancelled or the copy failed (the failure is reported).
QString saveScratchFileAs(TabHost& host, QWidget* parent, const QString& input, const char* ending,
                          const std::string& scratchFile)
{
    // The name is used exactly as entered: these writers add no extension.
    const QString chosen = host.dialogs().saveFile(parent, "Enter name for NMEA output file",
                                                   QFileInfo(input).completeBaseName() + ending);
    if (chosen.isEmpty()) return {};
    try {
        whileWindowAlive([target = localPath(chosen), scratchFile] {
            trajix::writeFileAtomically(target, trajix::readFile(scratchFile));
        });
    } catch (const trajix::Error& error) {
        host.showError(error.what());
        return {};
    }
    return chosen;
}

/// Shows the points of one log in place of the previous log's, in one go, and fits
/// both axes around them. swapAxes puts the points' y on the horizontal axis.
void showPoints(QLineSeries* series, const std::vector<trajix::convert::ChartPoint>& points, bool swapAxes = false)
{
    QList<QPointF> all;
    all.reserve(static_cast<qsizetype>(points.size()));
    for (const auto& point : points) all.append(swapAxes ? QPointF(point.y, point.x) : QPointF(point.x, point.y));
    series->replace(all);
    if (all.isEmpty()) return;

    double minX = all.front().x(), maxX = minX, minY = all.front().y(), maxY = minY;
    for (const QPointF& point : all) {
        minX = std::min(minX, point.x());
        maxX = std::max(maxX, point.x());
        minY = std::min(minY, point.y());
        maxY = std::max(maxY, point.y());
    }
    // A log at rest draws one spot: its points are marked, or nothing would show.
    series->setPointsVisible(minX == maxX && minY == maxY);
    // A flat line (a log at rest) still gets a visible range around it, with the line in
    // the middle rather than on the axis.
    const auto widen = [](double& low, double& high) {
        if (!(high > low)) {
            const double margin = std::max(std::abs(low) * 0.001, 0.5);
            low -= margin;
            high += margin;
            return;
        }
        const double margin = (high - low) * 0.05;
        // Times and speeds start at 0: the margin does not push the axis below it.
        low = low >= 0 ? std::max(0.0, low - margin) : low - margin;
        high += margin;
    };
    widen(minX, maxX);
    widen(minY, maxY);
    for (QAbstractAxis* axis : series->attachedAxes()) {
        auto* values = qobject_cast<QValueAxis*>(axis);
        if (values == nullptr) continue;
        if (axis->orientation() == Qt::Horizontal)
            values->setRange(minX, maxX);
        else
            values->setRange(minY, maxY);
        values->applyNiceNumbers();  // round tick values instead of the data's own ends
    }
}

// The Settings tab's date and sky sentences; false, after the message, when the sky
// file or the mask cannot be used (nothing is written then).
bool readDates(TabHost& host, trajix::DateSentences& dates)
{
    try {
        dates = host.sentences().dates();
        return true;
    } catch (const trajix::Error& error) {
        host.showError(error.what());
        return false;
    }
}

}  // namespace

void KeloTab::clearResults()
{
    Memo2->clear();
    for (QLineSeries* series : {Series11, Series12}) series->clear();
}

void KeloTab::importLog()
{
    // The stationary periods are checked before the user picks the log.
    try {
        checkPeriods();
    } catch (const trajix::Error& error) {
        host_.showError(error.what());
        return;
    }
    const QString input = host_.dialogs().openFile(this, "Pick KELO .kel file for conversion", "*.kel");
    if (input.isEmpty()) return;
    importLogFile(input, true);
}

void KeloTab::importLogFile(const QString& input, bool offerDate)
{
    // A log that fails leaves no chart of the one before.
    clearResults();

    // The log and the edits are checked before the user is asked for a name: the import
    // runs into a scratch file first, which becomes the chosen file when it is named.
    const QTemporaryDir scratch;
    if (!scratch.isValid()) {
        host_.prompt().information("Cannot make a scratch folder for the import: " +
                                   scratch.errorString().toStdString());
        return;
    }
    trajix::convert::KeloParameters parameters;
    parameters.inputFileName = localPath(input);
    parameters.outputFileName = localPath(scratch.filePath("import.txt"));
    parameters.sampleRateText = host_.rateText().toStdString();
    parameters.vtg = host_.sentences().includeVtg;
    if (!readDates(host_, parameters.dates)) return;
    parameters.stationaryPeriodText = kelStationaryPeriodedit->text().toStdString();
    parameters.stationaryPeriodEndText = kelstationaryPeriodEndEdit->text().toStdString();

    trajix::convert::KeloResult result;
    try {
        QtProgress progress(host_.progressWindow());
        result = trajix::convert::loadKelFile(parameters, host_.prompt(), progress);
    } catch (const trajix::Cancelled&) {
        return;  // the user knows
    } catch (const sky::SkyNotCovered& error) {
        // The log's times of day stay; the date can move into the file's span.
        const auto date = trajix::dateCoveringTimeOfDay(error.coverage(), error.time());
        if (!offerDate || !date) {
            host_.showError(error.what());
        } else if (host_.prompt().askYesNo(startOnDateQuestion(error, *date).toStdString())) {
            host_.setFileDate(*date);
            importLogFile(input, false);
        }
        return;
    } catch (const trajix::Error& error) {
        host_.showError(error.what());
        return;
    }

    // The preview and the charts show before the user names the output.
    Memo2->setPlainText(memoText(result.previewText));
    showPoints(Series11, result.trackPoints, true);
    showPoints(Series12, result.speedPoints);
    QApplication::processEvents();

    const QString chosen = saveScratchFileAs(host_, this, input, ".txt", parameters.outputFileName);
    if (chosen.isEmpty()) return;
    result.outputFileName = localPath(chosen);

    if (result.rateDetected) {
        // The log's own rate becomes the output rate of every writer; the status bar and
        // the Settings tab say so, or the next route would come out at a rate nobody chose.
        host_.shareRate(QString::fromStdString(result.sampleRateText), nullptr, QFileInfo(input).fileName());
    }

    host_.output().outputInterval = trajix::convert::sampleIntervalFromRateText(result.sampleRateText);
    host_.output().outputFileName = result.outputFileName;
    // The Serial Output tab shows the written file's rate, length and type, so it plays
    // that file too: the description and the file played always belong together.
    host_.handOverWrittenFile(chosen, true);
}

void KeloTab::convertTextList()
{
    try {
        checkPeriods();
    } catch (const trajix::Error& error) {
        host_.showError(error.what());
        return;
    }
    const QString input = host_.dialogs().openFile(this, "Pick .txt file for conversion", "*.txt");
    if (input.isEmpty()) return;

    // The list and the edits are checked before the user is asked for a name, as for
    // the logger import: the conversion runs into a scratch file first.
    const QTemporaryDir scratch;
    if (!scratch.isValid()) {
        host_.prompt().information("Cannot make a scratch folder for the conversion: " +
                                   scratch.errorString().toStdString());
        return;
    }
    trajix::convert::TextConversionParameters parameters;
    if (!readDates(host_, parameters.dates)) return;
    parameters.inputFileName = localPath(input);
    parameters.outputFileName = localPath(scratch.filePath("conversion.txt"));
    parameters.sampleRateText = host_.rateText().toStdString();
    parameters.stationaryPeriodText = kelStationaryPeriodedit->text().toStdString();
    parameters.stationaryPeriodEndText = kelstationaryPeriodEndEdit->text().toStdString();

    trajix::convert::TextConversionResult result;
    try {
        QtProgress progress(host_.progressWindow());
        result = trajix::convert::convertTextFile(parameters, host_.prompt(), progress);
    } catch (const trajix::Cancelled&) {
        return;  // the user knows
    } catch (const trajix::Error& error) {
        host_.showError(error.what());
        return;
    }
    const QString chosen = saveScratchFileAs(host_, this, input, ".nmea.txt", parameters.outputFileName);
    if (chosen.isEmpty()) return;

    // The preview keeps what it held and gets these samples after it.
    QTextCursor end(Memo2->document());
    end.movePosition(QTextCursor::End);
    end.insertText(memoText(result.previewText));

    host_.output().outputInterval = trajix::convert::sampleIntervalFromRateText(parameters.sampleRateText);
    host_.output().outputFileName = localPath(chosen);
    host_.handOverWrittenFile(chosen, true);  // described and played, as the logger import's file
}

#else  // a build without the recorded-data pipeline: the buttons do nothing

void KeloTab::clearResults() {}

void KeloTab::importLog() {}
void KeloTab::convertTextList() {}

#endif

void KeloTab::checkPeriods() const
{
    for (const auto& [edit, caption] : {std::pair{kelStationaryPeriodedit, "Stationary period (s)"},
                                        std::pair{kelstationaryPeriodEndEdit, "Stationary period end (s)"}})
        if (editInteger(edit, caption) < 0)
            throw trajix::Error(
                fmt::format("'{}' is not 0 or more whole seconds ({})", edit->text().toStdString(), caption));
}

}  // namespace trajix::gui

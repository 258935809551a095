// "Convert .dsf to .bin": a simulator recording gets the bit order of the RF simulator.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include <fmt/format.h>

#include "app/controls.hpp"
#include "app/secondary_windows.hpp"
#include "app/tab_dsf.hpp"
#include "app/tab_host.hpp"
#include "app/widgets.hpp"
#include "common/error.hpp"
#include "common/platform.hpp"

#ifdef TRAJIX_WITH_SCENARIO
#include "scenario/recording.hpp"
#endif

namespace trajix::gui {

namespace {

[[maybe_unused]] QString fromStd(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

[[maybe_unused]] int gaugeValue(long long value)
{
    return static_cast<int>(std::clamp(value, 0LL, static_cast<long long>(INT_MAX)));
}

}  // namespace

DsfTab::DsfTab(TabHost& host, QWidget* parent) : QWidget(parent), host_(host)
{
    setObjectName("DsfTab");
    auto* page = this;

    Button1 = makeButton(page, "Button1", "Load .dsf file");
    connect(Button1, &QPushButton::clicked, this, &DsfTab::pickAndConvert);
    progressbar2 = makeGauge(page, "progressbar2");
    progressbar2->setValue(0);
    progressbar2->setMinimumWidth(500);
    Label17 = new ElidedLabel(QString(), page);
    Label17->setObjectName("Label17");

    auto* row = new QHBoxLayout;
    row->addWidget(Button1);
    row->addSpacing(20);
    row->addWidget(progressbar2);
    row->addStretch();

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(row);
    layout->addWidget(Label17);
    layout->addStretch();
}

void DsfTab::pickAndConvert()
{
    progressbar2->setValue(0);
    const QString input = host_.dialogs().openFile(this, "Pick .dsf file for conversion", "*.dsf");
    if (input.isEmpty()) return;
#ifdef TRAJIX_WITH_SCENARIO
    // What keeps the conversion from making a recording is said before the user names
    // the output.
    if (!checkInput(input)) return;
    // The output is named by the user, the .bin beside the input suggested; the save
    // dialog asks before it replaces a file that is there.
    const QString suggested = fromStd(trajix::binNameFor(input.toStdString()));
    const QString output = host_.dialogs().saveFile(this, "Enter name for the .bin recording", suggested);
    if (output.isEmpty()) return;
    convertRecording(input, output);
#endif
}

bool DsfTab::checkInput(const QString& input)
{
#ifdef TRAJIX_WITH_SCENARIO
    std::int64_t blocks = 0;
    try {
        blocks = trajix::checkRecordingInput(QFile::encodeName(input).toStdString());
    } catch (const trajix::Error& error) {
        Label17->clear();
        host_.showError(error.what());
        return false;
    }
    // Less than one block is less than a second of signal: there is nothing to convert,
    // and the command's empty result would only be an empty file.
    if (blocks == 0) {
        Label17->clear();
        host_.prompt().information(
            fmt::format("{} holds less than one second of signal ({} bytes, one second is {}); nothing was written.",
                        input.toStdString(), trajix::BigFileSize(QFile::encodeName(input).toStdString()),
                        trajix::recordingBlockSize));
        return false;
    }
    return true;
#else
    (void)input;
    return false;
#endif
}

bool DsfTab::convertRecording(const QString& input, const QString& output)
{
#ifdef TRAJIX_WITH_SCENARIO
    host_.showTab(this);
    QApplication::processEvents();
    if (!checkInput(input)) return false;
    RecordingProgress progress(*this, host_, RecordingProgress::Step::Conversion);
    try {
        const std::uint64_t size = trajix::BigFileSize(QFile::encodeName(input).toStdString());
        const std::int64_t blocks = trajix::convertDSF(input.toStdString(), output.toStdString(), progress);
        Label17->setText("Conversion complete: " + output);
        // The status bar names the file, and says when a part second at the end was left out.
        const std::uint64_t dropped = size - static_cast<std::uint64_t>(blocks) * trajix::recordingBlockSize;
        QString written = "Written: " + QDir::toNativeSeparators(output) +
                          QString(" (%1 s of signal").arg(static_cast<qlonglong>(blocks));
        if (dropped > 0)
            written +=
                QString("; the last %1 bytes, less than a second, were left out").arg(static_cast<qulonglong>(dropped));
        host_.setStatusPanel(0, written + ")");
        return true;
    } catch (const trajix::Error& error) {
        host_.progressWindow()->close();
        host_.showError(error.what());
        return false;
    }
#else
    (void)input;
    (void)output;
    return false;
#endif
}

#ifdef TRAJIX_WITH_SCENARIO
void RecordingProgress::start(std::string_view caption, long long maximum)
{
    ProgressWindow* window = host_.progressWindow();
    if (step_ == Step::Conversion) {
        host_.showTab(&tab_);
        tab_.Label17->setText(fromStd(caption));
        tab_.progressbar2->setRange(0, std::max(1, gaugeValue(maximum)));  // 0 to 0 would spin for ever
        tab_.progressbar2->setValue(0);
    } else {
        window->setWindowTitle(fromStd(caption));
    }
    window->Gauge1->setRange(0, gaugeValue(maximum));
    window->Gauge1->setValue(0);
    keepAlive(true);
}

void RecordingProgress::position(long long position)
{
    if (step_ == Step::Conversion) tab_.progressbar2->setValue(gaugeValue(position));
    host_.progressWindow()->Gauge1->setValue(gaugeValue(position));
    keepAlive(false);
}

void RecordingProgress::finish()
{
    if (step_ == Step::Conversion) tab_.Label17->setText("Conversion complete");
    host_.progressWindow()->close();
    keepAlive(true);
}

void RecordingProgress::keepAlive(bool force)
{
    if (!force && sinceRepaint_.isValid() && sinceRepaint_.elapsed() < 50) return;
    QApplication::processEvents();
    sinceRepaint_.start();
}
#else
void RecordingProgress::start(std::string_view, long long) {}
void RecordingProgress::position(long long) {}
void RecordingProgress::finish() {}
void RecordingProgress::keepAlive(bool) {}
#endif

}  // namespace trajix::gui

// "Convert .dsf to .bin": a simulator recording gets the bit order of the RF simulator.
// The scenario step that produces recordings from written NMEA files lives here too.
#include <QApplication>
#include <QElapsedTimer>
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

#include "app/controls.hpp"
#include "app/main_window.hpp"
#include "app/secondary_windows.hpp"
#include "common/error.hpp"
#include "common/platform.hpp"

#ifdef TRAJIX_WITH_SCENARIO
#include "scenario/plenarch.hpp"
#include "scenario/recording.hpp"
#endif

namespace trajix::gui {

namespace {

constexpr int dsfTabIndex = 3;
constexpr const char* convertingCaption = "Converting file";

QString fromStd(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int gaugeValue(long long value)
{
    return static_cast<int>(std::clamp(value, 0LL, static_cast<long long>(INT_MAX)));
}

#ifdef TRAJIX_WITH_SCENARIO

// A conversion moves the tab's gauge and the progress window's gauge together, the
// window itself stays as the caller left it; other steps (the scenario step's "Processing
// dsf file") only prepare and close the progress window.
class RecordingProgress final : public trajix::ProgressSink {
public:
    explicit RecordingProgress(TForm1& form) : form_(form) {}

    void start(std::string_view caption, long long maximum) override
    {
        converting_ = caption == convertingCaption;
        if (converting_) {
            form_.PageControl1->setCurrentIndex(dsfTabIndex);
            form_.Label17->setText(convertingCaption);
            form_.progressbar2->setRange(0, gaugeValue(maximum));
            form_.progressbar2->setValue(0);
        } else {
            form_.ProgressForm->setWindowTitle(fromStd(caption));
        }
        form_.ProgressForm->Gauge1->setRange(0, gaugeValue(maximum));
        form_.ProgressForm->Gauge1->setValue(0);
        keepAlive(true);
    }

    void position(long long position) override
    {
        if (converting_) form_.progressbar2->setValue(gaugeValue(position));
        form_.ProgressForm->Gauge1->setValue(gaugeValue(position));
        keepAlive(false);
    }

    void finish() override
    {
        if (converting_) form_.Label17->setText("Conversion complete");
        form_.ProgressForm->close();
        keepAlive(true);
    }

private:
    // Window messages run between blocks, but not more often than every 50 ms.
    void keepAlive(bool force)
    {
        if (!force && sinceRepaint_.isValid() && sinceRepaint_.elapsed() < 50) return;
        QApplication::processEvents();
        sinceRepaint_.start();
    }

    TForm1& form_;
    bool converting_ = false;
    QElapsedTimer sinceRepaint_;
};

bool hasGenerator(const std::filesystem::path& folder)
{
    std::error_code ec;
    return !folder.empty() && std::filesystem::is_regular_file(folder / "TrajixBinary", ec);
}

// The folder of the trajix executables, where the stand-in generator is installed:
// TRAJIX_GENERATOR_DIR when set, else this program's folder, else (in a build tree,
// where the window program is built apart from the command) the command's folder.
// go.sh looks there last, after the tool directory and PATH.
std::filesystem::path generatorFolder()
{
    if (const char* folder = std::getenv("TRAJIX_GENERATOR_DIR"); folder && *folder) return folder;
    const std::filesystem::path own = trajix::executableDirectory();
    if (hasGenerator(own)) return own;
    const std::filesystem::path beside = own.parent_path() / "cli";
    if (hasGenerator(beside)) return beside;
    return own;
}

#endif

}  // namespace

QWidget* TForm1::buildDsfTab()
{
    auto* page = new QWidget;
    page->setObjectName("DsfTab");

    Button1 = makeButton(page, "Button1", "Load .dsf file");
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    progressbar2 = makeGauge(page, "progressbar2");
    progressbar2->setValue(0);
    progressbar2->setMinimumWidth(500);
    Label17 = makeLabel(page, "Label17", QString());

    auto* row = new QHBoxLayout;
    row->addWidget(Button1);
    row->addSpacing(20);
    row->addWidget(progressbar2);
    row->addStretch();

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(row);
    layout->addWidget(Label17);
    layout->addStretch();
    return page;
}

void TForm1::Button1Click()
{
    progressbar2->setValue(0);
    const QString input = dialogs().openFile(this, "Pick .dsf file for conversion", "*.dsf");
    if (input.isEmpty()) return;
#ifdef TRAJIX_WITH_SCENARIO
    convertRecording(input, fromStd(trajix::binNameFor(input.toStdString())));
#endif
}

bool TForm1::convertRecording(const QString& input, const QString& output)
{
#ifdef TRAJIX_WITH_SCENARIO
    PageControl1->setCurrentIndex(dsfTabIndex);
    QApplication::processEvents();
    RecordingProgress progress(*this);
    try {
        trajix::convertDSF(input.toStdString(), output.toStdString(), progress);
        return true;
    } catch (const trajix::Error& error) {
        ProgressForm->close();
        prompt().information(error.what());
        return false;
    }
#else
    (void)input;
    (void)output;
    return false;
#endif
}

bool TForm1::scenarioGeneratorRunning()
{
#ifdef TRAJIX_WITH_SCENARIO
    return scenarioGenerator_ != nullptr && scenarioGenerator_->running();
#else
    return false;
#endif
}

void TForm1::runPlenarch(const QString& nmeaFileName)
{
#ifdef TRAJIX_WITH_SCENARIO
    trajix::ScenarioState state;
    state.edits.week = WeekEdit->text().toStdString();
    state.edits.startTime = StartTimeEdit->text().toStdString();
    state.edits.startDay = StartDayEdit->text().toStdString();
    state.edits.startMonth = StartMonthEdit->text().toStdString();
    state.edits.startYear = StartYearEdit->text().toStdString();
    state.edits.almanac = AlmanacEdit->text().toStdString();
    state.scenarioOutputName = scenarioOutputName.toStdString();

    trajix::ScenarioEnvironment environment = trajix::defaultScenarioEnvironment();
    if (!startDrive.isEmpty()) environment.startDrive = startDrive.toStdString();
    environment.generatorFolder = generatorFolder();
    environment.statusText = [this](std::string_view text) {
        setStatusPanel(1, fromStd(text));
        QApplication::processEvents();
    };

    // The date edits (and perhaps the week) change even when a later step fails.
    auto showEdits = [this, &state] {
        WeekEdit->setText(fromStd(state.edits.week));
        StartDayEdit->setText(fromStd(state.edits.startDay));
        StartMonthEdit->setText(fromStd(state.edits.startMonth));
        StartYearEdit->setText(fromStd(state.edits.startYear));
        scenarioOutputName = fromStd(state.scenarioOutputName);
    };

    // The wait window is the confirmation: the user says when the generator is done.
    trajix::TerminalGeneratorRunner runner([this, &showEdits] {
        showEdits();
        continueForm->continueConfirmed = false;
        continueForm->exec();
        QApplication::processEvents();
        activateWindow();
        return continueForm->continueConfirmed;
    });
    scenarioGenerator_ = &runner.process();
    RecordingProgress progress(*this);
    try {
        trajix::runPlenarch(state, nmeaFileName.toStdString(), environment, prompt(), runner, progress);
        showEdits();
    } catch (const trajix::Error& error) {
        showEdits();
        ProgressForm->close();
        prompt().information(error.what());
    }
    // A generator that still runs when the step ends (Cancel, a failure) is ended with it.
    scenarioGenerator_ = nullptr;
#else
    (void)nmeaFileName;
#endif
}

}  // namespace trajix::gui

// The scenario step: a written NMEA file becomes a simulator profile, the simulator
// makes its recording, and the recording is converted on the "Convert .dsf to .bin" tab.
// The window runs it: it reads the scenario start edits of the Google Earth tab and the
// almanac of the Settings tab, and shows the conversion on the .dsf tab.
#include <QApplication>
#include <QLineEdit>

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "app/main_window.hpp"
#include "app/secondary_windows.hpp"
#include "app/tab_dsf.hpp"
#include "app/tab_google_earth.hpp"
#include "app/tab_settings.hpp"
#include "common/error.hpp"
#include "common/platform.hpp"

#ifdef TRAJIX_WITH_SCENARIO
#include "common/numbers.hpp"
#include "scenario/plenarch.hpp"
#include "scenario/recording.hpp"
#endif

namespace trajix::gui {

#ifdef TRAJIX_WITH_SCENARIO
namespace {

QString fromStd(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

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

}  // namespace
#endif

bool MainWindow::scenarioGeneratorRunning()
{
#ifdef TRAJIX_WITH_SCENARIO
    return scenarioGenerator_ != nullptr && scenarioGenerator_->running();
#else
    return false;
#endif
}

void MainWindow::runPlenarch(const QString& nmeaFileName)
{
#ifdef TRAJIX_WITH_SCENARIO
    trajix::ScenarioState state;
    state.edits.week = googleEarth_->WeekEdit->text().toStdString();
    state.edits.startTime = googleEarth_->StartTimeEdit->text().toStdString();
    state.edits.duration = googleEarth_->DurationEdit->text().toStdString();
    state.edits.startDay = googleEarth_->StartDayEdit->text().toStdString();
    state.edits.startMonth = googleEarth_->StartMonthEdit->text().toStdString();
    state.edits.startYear = googleEarth_->StartYearEdit->text().toStdString();
    state.edits.almanac = settings_->AlmanacEdit->text().toStdString();
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
        googleEarth_->WeekEdit->setText(fromStd(state.edits.week));
        googleEarth_->StartDayEdit->setText(fromStd(state.edits.startDay));
        googleEarth_->StartMonthEdit->setText(fromStd(state.edits.startMonth));
        googleEarth_->StartYearEdit->setText(fromStd(state.edits.startYear));
        scenarioOutputName = fromStd(state.scenarioOutputName);
    };

    // The wait window is the confirmation: the user says when the generator is done.
    // Meanwhile it shows how far the generator has come: the seconds of the recording
    // written, and its last message when its output goes to go.log rather than a terminal.
    trajix::TerminalGeneratorRunner* started = nullptr;
    trajix::TerminalGeneratorRunner runner([this, &showEdits, &state, &environment, &started] {
        showEdits();
        const std::filesystem::path tools = trajix::scenarioToolDirectory(environment.startDrive);
        RecordingWaitWindow::GeneratorRun run;
        run.toolFolder = QString::fromStdString(tools.string());
        if (!trajix::tryParseDouble(state.edits.duration, run.seconds)) run.seconds = 0;
        run.bytesPerSecond = trajix::recordingBlockSize;  // the profile's 16368 kHz, one bit per sample
        if (started && !started->inTerminal()) run.logFile = QString::fromStdString((tools / "go.log").string());
        continueForm->watchGenerator(run);
        continueForm->continueConfirmed = false;
        continueForm->exec();
        QApplication::processEvents();
        activateWindow();
        return continueForm->continueConfirmed;
    });
    started = &runner;
    scenarioGenerator_ = &runner.process();
    RecordingProgress progress(*dsf_, *this, RecordingProgress::Step::ScenarioStep);
    RecordingProgress conversion(*dsf_, *this, RecordingProgress::Step::Conversion);
    try {
        trajix::runPlenarch(state, nmeaFileName.toStdString(), environment, prompt(), runner, progress, conversion);
        showEdits();
    } catch (const trajix::Error& error) {
        showEdits();
        ProgressForm->close();
        showError(error.what());
    }
    // A generator that still runs when the step ends (Cancel, a failure) is ended with it.
    scenarioGenerator_ = nullptr;
#else
    (void)nmeaFileName;
#endif
}

}  // namespace trajix::gui

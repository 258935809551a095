#pragma once
// The scenario step: after a writer has finished an NMEA file, write the generator's
// profile, a copy of the NMEA file and go.sh into the tool directory, run the signal
// generator, wait for the user's confirmation and convert its output.dsf into a .bin
// recording beside the NMEA file.
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/progress.hpp"
#include "common/prompt.hpp"
#include "common/units.hpp"
#include "scenario/generator_process.hpp"
#include "scenario/gps_week.hpp"

namespace trajix {

/// The texts of the scenario edits, copied into the profile as they stand.
struct ScenarioEdits {
    std::string week = "462";                                   ///< WeekEdit, a 10-bit GPS week
    std::string startTime = std::to_string(nineOClockSeconds);  ///< StartTimeEdit, seconds into the week
    std::string duration = "5";                                 ///< DurationEdit, seconds of signal to generate
    std::string startDay = "30";                                ///< StartDayEdit, set from the almanac week
    std::string startMonth = "6";                               ///< StartMonthEdit
    std::string startYear = "2008";                             ///< StartYearEdit
    std::string almanac = "\\gpstools\\179.alm";                ///< AlmanacEdit, a Windows or POSIX path text
};

/// The step's state that outlives one run.
struct ScenarioState {
    ScenarioEdits edits;
    std::string scenarioOutputName;  ///< the .bin recording the last run makes
    bool continueConfirmed = false;
};

/// Where and when the step runs.
struct ScenarioEnvironment {
    std::string startDrive;                 ///< the home directory; the tool directory is startDrive + "/GPStools"
    std::filesystem::path generatorFolder;  ///< folder of the trajix executables (the stand-in generator)
    CalendarDate today;                     ///< dates almanac weeks after the rollovers
    std::chrono::milliseconds settleDelay{1000};       ///< pause after the generator was closed
    std::function<void(std::string_view)> statusText;  ///< the status bar's second panel, optional
};

/// The environment of this machine: home directory, executable folder, today's date.
ScenarioEnvironment defaultScenarioEnvironment();

/// How the external generator runs: the GUI starts go.sh in a terminal window and waits
/// on its wait window; the CLI runs it in the background and waits for it to end.
class GeneratorRunner {
public:
    virtual ~GeneratorRunner() = default;
    /// Starts the script (go.sh) in folder; returns at once.
    virtual void start(const std::filesystem::path& script, const std::filesystem::path& folder) = 0;
    /// Waits until the user says the generator has finished: true for Continue, false
    /// for Cancel.
    virtual bool waitForContinue() = 0;
    /// Ends the generator run this runner started, if it still goes on.
    virtual void closeGenerator() = 0;
};

/// Runs go.sh with "/bin/sh" as a child process (standard input /dev/null, output to
/// logFile when given). waitForContinue() calls confirm with the process; without a
/// confirm function it waits for the run to end and answers Continue.
class ProcessGeneratorRunner final : public GeneratorRunner {
public:
    using Confirm = std::function<bool(GeneratorProcess& process)>;
    explicit ProcessGeneratorRunner(Confirm confirm = {}, std::optional<std::filesystem::path> logFile = {})
        : confirm_(std::move(confirm)), logFile_(std::move(logFile))
    {
    }
    void start(const std::filesystem::path& script, const std::filesystem::path& folder) override;
    bool waitForContinue() override;
    void closeGenerator() override;
    GeneratorProcess& process() { return process_; }

private:
    Confirm confirm_;
    std::optional<std::filesystem::path> logFile_;
    GeneratorProcess process_;
};

/// A terminal emulator to show go.sh in: x-terminal-emulator or xterm from PATH, and
/// only when a display ($DISPLAY or $WAYLAND_DISPLAY) is set. Empty when there is none.
std::optional<std::filesystem::path> findTerminalEmulator();

/// The desktop's way: go.sh runs in a terminal window ("-T TrajixBinary -e /bin/sh
/// go.sh") when one is available, so that the user sees the generator and its closing
/// prompt; otherwise in the background with its output in go.log in the tool
/// directory. waitForContinue() asks confirm (the wait window).
class TerminalGeneratorRunner final : public GeneratorRunner {
public:
    using Confirm = std::function<bool()>;
    explicit TerminalGeneratorRunner(Confirm confirm) : confirm_(std::move(confirm)) {}
    void start(const std::filesystem::path& script, const std::filesystem::path& folder) override;
    bool waitForContinue() override { return confirm_(); }
    void closeGenerator() override { process_.terminate(); }
    GeneratorProcess& process() { return process_; }
    /// True when the last start() used a terminal window.
    bool inTerminal() const { return inTerminal_; }

private:
    Confirm confirm_;
    GeneratorProcess process_;
    bool inTerminal_ = false;
};

/// The tool directory: startDrive + "/GPStools".
std::filesystem::path scenarioToolDirectory(const std::string& startDrive);

/// The profile.txt text (CR LF line ends, one after the last line too).
std::string scenarioProfileText(const ScenarioEdits& edits, const std::string& startDrive);

/// The go.sh text: change to the tool directory, remove output.dsf, run
/// "TrajixBinary profile.txt" with the tool directory first on PATH and generatorFolder
/// last, wait for Enter when run on a terminal.
std::string goScriptText(const std::string& startDrive, const std::filesystem::path& generatorFolder);

/// Copies a whole file; the destination appears only complete. Throws Error naming
/// the file that cannot be read or written.
void FileCopy(const std::filesystem::path& source, const std::filesystem::path& destination);

/// The recording's name: the NMEA file's name without its last three characters,
/// followed by "bin" (route.nme gives route.bin).
std::string scenarioOutputNameFor(const std::string& nmeaFileName);

/// The week question, asked when the week differs from the almanac's by more than 3.
std::string weekQuestion(std::string_view weekText, long long almanacWeek);

/// True when |almanacWeek - week| > 3.
bool weekNeedsQuestion(long long week, long long almanacWeek);

inline constexpr std::string_view scenarioQuestion = "Process NMEA file and create an Orvena Binary file?";

/// The scenario step for nmeaFileName. Returns true when the .bin recording was made,
/// false when the user said No or cancelled the wait. Throws Error when a file cannot
/// be read or written, or an edit is not an integer. progress shows the step's own
/// work, conversion the conversion of the recording ("Converting file").
bool runPlenarch(ScenarioState& state, const std::string& nmeaFileName, const ScenarioEnvironment& environment,
                 UserPrompt& prompt, GeneratorRunner& runner, ProgressSink& progress, ProgressSink& conversion);
/// The same with one progress for every step.
inline bool runPlenarch(ScenarioState& state, const std::string& nmeaFileName, const ScenarioEnvironment& environment,
                        UserPrompt& prompt, GeneratorRunner& runner, ProgressSink& progress)
{
    return runPlenarch(state, nmeaFileName, environment, prompt, runner, progress, progress);
}

}  // namespace trajix

#include "scenario/plenarch.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/platform.hpp"
#include "scenario/almanac.hpp"
#include "scenario/recording.hpp"

namespace trajix {

namespace {

// A text as one single-quoted shell word.
std::string shellQuote(std::string_view text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

void showStatus(const ScenarioEnvironment& environment, std::string_view text)
{
    if (environment.statusText) environment.statusText(text);
}

}  // namespace

ScenarioEnvironment defaultScenarioEnvironment()
{
    ScenarioEnvironment environment;
    environment.startDrive = startDrive();
    environment.generatorFolder = executableDirectory();
    environment.today = todayUtc();
    return environment;
}

void ProcessGeneratorRunner::start(const std::filesystem::path& script, const std::filesystem::path& folder)
{
    process_.start("/bin/sh", {script.string()}, folder, logFile_);
}

bool ProcessGeneratorRunner::waitForContinue()
{
    if (confirm_) return confirm_(process_);
    process_.wait();
    return true;
}

void ProcessGeneratorRunner::closeGenerator()
{
    process_.terminate();
}

std::optional<std::filesystem::path> findTerminalEmulator()
{
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!(display && *display) && !(wayland && *wayland)) return std::nullopt;
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "/usr/bin:/bin";
    for (const char* name : {"x-terminal-emulator", "xterm"}) {
        std::size_t start = 0;
        while (start <= folders.size()) {
            const std::size_t colon = folders.find(':', start);
            const std::string folder =
                folders.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
            const std::filesystem::path candidate = std::filesystem::path(folder.empty() ? "." : folder) / name;
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
            if (colon == std::string::npos) break;
            start = colon + 1;
        }
    }
    return std::nullopt;
}

void TerminalGeneratorRunner::start(const std::filesystem::path& script, const std::filesystem::path& folder)
{
    if (const auto terminal = findTerminalEmulator()) {
        inTerminal_ = true;
        process_.start(terminal->string(), {"-T", "TrajixBinary", "-e", "/bin/sh", script.string()}, folder);
    } else {
        inTerminal_ = false;
        process_.start("/bin/sh", {script.string()}, folder, folder / "go.log");
    }
}

std::filesystem::path scenarioToolDirectory(const std::string& startDrive)
{
    return std::filesystem::path(startDrive + std::string(toolDir));
}

std::string scenarioProfileText(const ScenarioEdits& edits, const std::string& startDrive)
{
    const std::string tools = startDrive + std::string(toolDir);
    const std::vector<std::string> lines{
        "[Receiver Dynamics]",
        "Static=0",
        "Latitude_in_deg=51.99888",
        "Longitude_in_deg=-0.997777",
        "Altitude_in_m=-160",
        "GPS_Week=" + edits.week,
        "GPS_Start_Time_in_sec=" + edits.startTime,
        "Duration_in_sec = " + edits.duration,
        "",
        "Source_NMEA_file=" + tools + "/nmeaInput.txt",
        "Simulation_Day=" + edits.startDay,
        "Simulation_Mon=" + edits.startMonth,
        "Simulation_Year=" + edits.startYear,
        "",
        "[GPS_Sattelites Profile]",
        "Almanac_File=" + edits.almanac,
        "Mask_in_deg=5",
        "",
        "[Receiver Signal and Hardware Profile]",
        "NoiseFigure_in_dB = 0",
        "IFFreq_in_Hz = 4092000",
        "SampleRate_in_KHz = 16368",
        "IQ_format=I",
        "bitPerSample = 1",
        "",
        "[Simulation Output]",
        "IF_IQ_File=" + tools + "/output.dsf",
        "NMEA_File=nmea.txt",
    };
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return text;
}

std::string goScriptText(const std::string& startDrive, const std::filesystem::path& generatorFolder)
{
    const std::string tools = startDrive + std::string(toolDir);
    std::string text;
    text += "#!/bin/sh\n";
    text += "# Runs the signal generator on profile.txt in the tool directory.\n";
    text += "cd " + shellQuote(tools) + " || exit 1\n";
    text += "rm -f output.dsf\n";
    text += "if [ -t 1 ]; then clear; fi\n";
    text += "\n";
    // A generator in the tool directory or on the user's PATH wins over the stand-in.
    text += "PATH=" + shellQuote(tools) + ":\"$PATH\":" + shellQuote(generatorFolder.string()) + "\n";
    text += "export PATH\n";
    text += "TrajixBinary profile.txt\n";
    text += "status=$?\n";
    text += "if [ -t 0 ]; then\n";
    text += "  printf 'Press Enter to continue . . . '\n";
    text += "  read answer\n";
    text += "fi\n";
    text += "exit $status\n";
    return text;
}

void FileCopy(const std::filesystem::path& source, const std::filesystem::path& destination)
{
    std::error_code ec;
    if (std::filesystem::is_directory(source, ec))
        throw Error(fmt::format("cannot copy '{}': it is a directory", source.string()));
    std::ifstream in(source, std::ios::binary);
    if (!in) throw Error(fmt::format("cannot open '{}': {}", source.string(), std::strerror(errno)));
    AtomicFile out(destination);
    std::vector<char> buffer(1 << 20);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = in.gcount();
        if (got > 0) out.write(buffer.data(), static_cast<std::size_t>(got));
    }
    if (in.bad()) throw Error(fmt::format("cannot read '{}'", source.string()));
    out.commit();
}

std::string scenarioOutputNameFor(const std::string& nmeaFileName)
{
    return (nmeaFileName.size() >= 3 ? nmeaFileName.substr(0, nmeaFileName.size() - 3) : std::string()) + "bin";
}

std::string weekQuestion(std::string_view weekText, long long almanacWeek)
{
    return fmt::format("User requested GPS week {} more than 3 weeks from Almanac week {}, set to same value?",
                       weekText, almanacWeek);
}

bool weekNeedsQuestion(long long week, long long almanacWeek)
{
    const long long difference = almanacWeek > week ? almanacWeek - week : week - almanacWeek;
    return difference > 3;
}

bool runPlenarch(ScenarioState& state, const std::string& nmeaFileName, const ScenarioEnvironment& environment,
                 UserPrompt& prompt, GeneratorRunner& runner, ProgressSink& progress, ProgressSink& conversion)
{
    if (!prompt.askYesNo(scenarioQuestion)) return false;
    const std::filesystem::path tools = scenarioToolDirectory(environment.startDrive);

    // The almanac's week dates the scenario; nothing is written before it is read.
    const std::filesystem::path almanacFile = resolveWindowsPath(state.edits.almanac, environment.startDrive);
    const long long almanacWeek = readAlmanacWeek(almanacFile);
    const long long rollover = rolloverCountFor(almanacWeek, environment.today);
    const GpsWeekDate start =
        gpsWeekToDate(static_cast<long double>(rollover), static_cast<long double>(almanacWeek), 0);
    prompt.information(fmt::format("20/10/2002 day of year  = {}", dayOfYear({2002, 10, 20})));
    state.edits.startDay = std::to_string(start.date.day);
    state.edits.startMonth = std::to_string(start.date.month);
    state.edits.startYear = std::to_string(start.date.year);

    long long week = 0;
    if (!tryParseInteger(state.edits.week, week))
        throw Error(fmt::format("'{}' is not a valid integer (GPS Week)", state.edits.week));
    if (weekNeedsQuestion(week, almanacWeek) && prompt.askYesNo(weekQuestion(state.edits.week, almanacWeek)))
        state.edits.week = std::to_string(almanacWeek);

    // An NMEA file whose name ends in "bin" would be overwritten by its own recording.
    const std::string outputName = scenarioOutputNameFor(nmeaFileName);
    {
        std::error_code ec;
        if (outputName == nmeaFileName || std::filesystem::equivalent(outputName, nmeaFileName, ec))
            throw Error(
                fmt::format("the recording name '{}' is the NMEA file itself; rename the NMEA file", outputName));
    }

    const std::string profile = scenarioProfileText(state.edits, environment.startDrive);
    const std::filesystem::path profileFile = tools / "profile.txt";
    showStatus(environment, profileFile.string());
    // A first run finds no tool directory yet: it is made, with the home folder if need be.
    {
        std::error_code ec;
        if (!std::filesystem::is_directory(tools, ec)) {
            std::filesystem::create_directories(tools, ec);
            if (ec || !std::filesystem::is_directory(tools))
                throw Error(fmt::format("cannot write '{}': the tool directory '{}' cannot be created: {}",
                                        profileFile.string(), tools.string(),
                                        ec ? ec.message() : std::string("a file of that name is in the way")));
        }
    }
    writeFileAtomically(profileFile, profile);
    FileCopy(nmeaFileName, tools / "nmeaInput.txt");
    const std::filesystem::path script = tools / "go.sh";
    writeFileAtomically(script, goScriptText(environment.startDrive, environment.generatorFolder));
    ::chmod(script.c_str(), 0755);

    progress.finish();
    runner.start(script, tools);
    state.scenarioOutputName = outputName;

    state.continueConfirmed = false;
    state.continueConfirmed = runner.waitForContinue();
    if (!state.continueConfirmed) return false;

    progress.start("Processing dsf file", 10);
    progress.position(0);
    progress.finish();
    runner.closeGenerator();
    if (environment.settleDelay.count() > 0) std::this_thread::sleep_for(environment.settleDelay);
    convertDSF(tools / "output.dsf", state.scenarioOutputName, conversion);
    prompt.information("Output file " + state.scenarioOutputName + " created");
    return true;
}

}  // namespace trajix

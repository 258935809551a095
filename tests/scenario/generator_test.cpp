// The generator run for real: go.sh, the stand-in TrajixBinary, and the trajix command.
#include <chrono>
#include <cstdlib>
#include <optional>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "scenario/plenarch.hpp"
#include "scenario/recording.hpp"
#include "test_support.hpp"

using namespace trajix;
using trajix::test::dataFile;
using trajix::test::readFileBytes;
using trajix::test::runProgram;
using trajix::test::runTrajix;
using trajix::test::ScopedEnv;
using trajix::test::ScriptedPrompt;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

constexpr std::size_t block = static_cast<std::size_t>(recordingBlockSize);
const std::filesystem::path generatorFolder = std::filesystem::path(TRAJIX_BINARY_DIR) / "cli";
const std::string standIn = (generatorFolder / "TrajixBinary").string();

std::string convertedBytes(std::string input)
{
    const auto table = bitReversalTable();
    reverseWordBits(reinterpret_cast<std::uint8_t*>(input.data()), input.size(), table);
    return input;
}

void makeExecutable(const std::filesystem::path& path, const std::string& text)
{
    writeFileBytes(path, text);
    ::chmod(path.c_str(), 0755);
}

std::string standInProfile(const std::filesystem::path& folder, const std::string& duration)
{
    ScenarioEdits edits;
    std::string text = scenarioProfileText(edits, folder.parent_path().string());
    return text.replace(text.find("Duration_in_sec = 5"), 19, "Duration_in_sec = " + duration);
}

}  // namespace

TEST(Generator, NoiseOnlyWritesWholeSecondsOfADeterministicSignal)
{
    TempDir dir;
    const auto tools = dir / "GPStools";
    std::filesystem::create_directories(tools);
    writeFileBytes(tools / "nmeaInput.txt", "$GPGGA\r\n");
    writeFileBytes(tools / "profile.txt", standInProfile(tools, "2"));
    auto result = runProgram(standIn, {"--noise-only", (tools / "profile.txt").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string first = readFileBytes(tools / "output.dsf");
    ASSERT_EQ(first.size(), 2 * block);
    EXPECT_NE(first.substr(0, block), first.substr(block));
    // The profile key of our own does the same.
    writeFileBytes(tools / "profile.txt", standInProfile(tools, "2") + "Noise_Only = 1\r\n");
    ASSERT_EQ(runProgram(standIn, {(tools / "profile.txt").string()}).exitCode, 0);
    EXPECT_EQ(readFileBytes(tools / "output.dsf"), first);
}

TEST(Generator, SignalIsReproducibleAndTheSeedChangesTheNoise)
{
    TempDir dir;
    const auto tools = dir / "GPStools";
    std::filesystem::create_directories(tools);
    std::filesystem::copy_file(dataFile("scenario/trip.nme"), tools / "nmeaInput.txt");
    std::filesystem::copy_file(dataFile("scenario/week314.alm"), dir / "a.alm");
    std::string profile = standInProfile(tools, "1");
    profile.replace(profile.find("\\gpstools\\179.alm"), 17, (dir / "a.alm").string());
    profile.replace(profile.find("GPS_Week=462"), 12, "GPS_Week=314");
    profile.replace(profile.find("Simulation_Year=2008"), 20, "Simulation_Year=2025");
    writeFileBytes(tools / "profile.txt", profile);
    auto result = runProgram(standIn, {(tools / "profile.txt").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("satellites above the mask:"), std::string::npos) << result.out;
    const std::string first = readFileBytes(tools / "output.dsf");
    ASSERT_EQ(first.size(), block);
    ASSERT_EQ(runProgram(standIn, {(tools / "profile.txt").string()}).exitCode, 0);
    EXPECT_EQ(readFileBytes(tools / "output.dsf"), first);
    ASSERT_EQ(runProgram(standIn, {"--seed", "7", (tools / "profile.txt").string()}).exitCode, 0);
    const std::string seeded = readFileBytes(tools / "output.dsf");
    EXPECT_NE(seeded, first);
    // One-bit samples of a signal well under the noise: about half the bits are set.
    std::size_t ones = 0;
    for (const char c : seeded) ones += static_cast<std::size_t>(__builtin_popcount(static_cast<unsigned char>(c)));
    EXPECT_NEAR(static_cast<double>(ones) / (8.0 * static_cast<double>(block)), 0.5, 0.01);
}

TEST(StandInGenerator, BadProfilesFailWithAMessageAndWriteNothing)
{
    TempDir dir;
    const auto tools = dir / "GPStools";
    std::filesystem::create_directories(tools);
    std::filesystem::copy_file(dataFile("scenario/trip.nme"), tools / "nmeaInput.txt");
    std::filesystem::copy_file(dataFile("scenario/week314.alm"), dir / "a.alm");
    std::string good = standInProfile(tools, "1");
    good.replace(good.find("\\gpstools\\179.alm"), 17, (dir / "a.alm").string());
    const std::vector<std::pair<std::string, std::string>> faults{
        {"Duration_in_sec = 1", "Duration_in_sec = 0"},
        {"Duration_in_sec = 1", "Duration_in_sec = x"},
        {"GPS_Week=462", "GPS_Week="},
        {"SampleRate_in_KHz = 16368", "SampleRate_in_KHz = 8000"},
        {"Simulation_Mon=6", "Simulation_Mon=13"},
        {"IF_IQ_File=", "Output="},
        {"nmeaInput.txt", "missing.txt"},
        {"[Simulation Output]", "Simulation Output"},
        {"IQ_format=I", "IQ_format=IQ"},
        {"IFFreq_in_Hz = 4092000", "IFFreq_in_Hz = 9000000"},
        {"bitPerSample = 1", "bitPerSample = 2"},
        {"Mask_in_deg=5", "Mask_in_deg=five"},
        {"a.alm", "no-such.alm"},
    };
    for (const auto& [from, to] : faults) {
        std::string profile = good;
        ASSERT_NE(profile.find(from), std::string::npos) << from;
        profile.replace(profile.find(from), from.size(), to);
        writeFileBytes(tools / "profile.txt", profile);
        const auto result = runProgram(standIn, {(tools / "profile.txt").string()});
        EXPECT_EQ(result.exitCode, 1) << to;
        EXPECT_NE(result.err.find("TrajixBinary: error:"), std::string::npos) << to;
        EXPECT_FALSE(std::filesystem::exists(tools / "output.dsf")) << to;
    }
    EXPECT_EQ(runProgram(standIn, {(tools / "none.txt").string()}).exitCode, 1);
    EXPECT_EQ(runProgram(standIn, {}).exitCode, 2);
}

TEST(GeneratorRun, ToolDirectoryGeneratorWinsAndQuotedPathsHold)
{
    TempDir dir;
    const auto home = dir / "it's a home";
    const auto tools = home / "GPStools";
    std::filesystem::create_directories(tools);
    writeFileBytes(tools / "output.dsf", "stale recording of an earlier run");
    // A generator of its own in the tool directory: records how it was called.
    makeExecutable(tools / "TrajixBinary",
                   "#!/bin/sh\n"
                   "test -e output.dsf && echo stale > seen.txt\n"
                   "echo \"$PWD|$*\" > called.txt\n"
                   "echo to stdout\nexit 3\n");
    writeFileBytes(tools / "go.sh", goScriptText(home.string(), generatorFolder));
    ProcessGeneratorRunner runner;
    runner.start(tools / "go.sh", dir.path());
    EXPECT_TRUE(runner.waitForContinue());
    EXPECT_EQ(runner.process().exitStatus(), 3);
    EXPECT_EQ(readFileBytes(tools / "called.txt"), tools.string() + "|profile.txt\n");
    EXPECT_FALSE(std::filesystem::exists(tools / "output.dsf"));
    EXPECT_FALSE(std::filesystem::exists(tools / "seen.txt"));
}

TEST(GeneratorRun, ClosingEndsAGeneratorThatStillRuns)
{
    TempDir dir;
    GeneratorProcess process;
    process.start("/bin/sh", {"-c", "sleep 30"}, dir.path(), dir / "log.txt");
    EXPECT_TRUE(process.running());
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(process.terminate());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    EXPECT_FALSE(process.running());
    EXPECT_EQ(process.exitStatus(), 128 + 15);
    EXPECT_FALSE(process.terminate());
    EXPECT_THROW(process.start("/nonexistent/program", {}, dir.path()), Error);
    EXPECT_THROW(process.start("/bin/sh", {}, dir / "no-such-folder"), Error);
}

TEST(GeneratorRun, StepEndToEndWithTheStandInGenerator)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "GPStools");
    std::filesystem::copy_file(dataFile("scenario/week314.alm"), dir / "almanac.alm");
    std::filesystem::copy_file(dataFile("scenario/trip.nme"), dir / "trip.nme");
    ScenarioEnvironment environment;
    environment.startDrive = dir.path().string();
    environment.generatorFolder = generatorFolder;
    environment.today = {2026, 12, 8};
    environment.settleDelay = std::chrono::milliseconds(0);
    ScenarioState state;
    state.edits.almanac = (dir / "almanac.alm").string();
    ScriptedPrompt prompt;
    prompt.answers = {true, true};
    ProcessGeneratorRunner runner({}, dir / "GPStools" / "go.log");
    NullProgress progress;
    ASSERT_TRUE(runPlenarch(state, (dir / "trip.nme").string(), environment, prompt, runner, progress));
    EXPECT_EQ(state.edits.week, "314");
    EXPECT_EQ(state.edits.startYear, "2025");
    const std::string recording = readFileBytes(dir / "GPStools" / "output.dsf");
    EXPECT_EQ(recording.size(), 5 * block);
    EXPECT_EQ(readFileBytes(dir / "trip.bin"), convertedBytes(recording));
    // The log says how far the run has come, a line per second, before it says it is done.
    const std::string log = readFileBytes(dir / "GPStools" / "go.log");
    std::size_t at = 0;
    for (const char* line :
         {"TrajixBinary: 1 of 5 s written\n", "TrajixBinary: 2 of 5 s written\n", "TrajixBinary: 3 of 5 s written\n",
          "TrajixBinary: 4 of 5 s written\n", "TrajixBinary: 5 of 5 s written\n", "TrajixBinary: finished\n"}) {
        at = log.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << " in order in:\n" << log;
    }
}

TEST(ScenarioCommand, EndToEndInATemporaryHome)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "GPStools");
    std::filesystem::copy_file(dataFile("scenario/week610.alm"), dir / "GPStools" / "179.alm");
    std::filesystem::copy_file(dataFile("scenario/trip.nme"), dir / "trip.nme");
    ScopedEnv home("HOME", dir.path().string());
    auto result = runTrajix({"scenario", (dir / "trip.nme").string(), "--almanac", "\\gpstools\\179.alm", "--week",
                             "600", "--today", "2026-12-08", "--yes"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, (dir / "trip.bin").string() + "\n");
    EXPECT_NE(result.err.find(weekQuestion("600", 610)), std::string::npos);
    EXPECT_NE(result.err.find("Output file " + (dir / "trip.bin").string() + " created"), std::string::npos);
    const std::string profile = readFileBytes(dir / "GPStools" / "profile.txt");
    EXPECT_NE(profile.find("\r\nGPS_Week=610\r\nGPS_Start_Time_in_sec=32400\r\n"), std::string::npos);
    EXPECT_NE(profile.find("\r\nSimulation_Day=1\r\nSimulation_Mon=5\r\nSimulation_Year=2011\r\n"), std::string::npos);
    EXPECT_NE(profile.find("\r\nAlmanac_File=\\gpstools\\179.alm\r\n"), std::string::npos);
    EXPECT_EQ(readFileBytes(dir / "trip.bin"), convertedBytes(readFileBytes(dir / "GPStools" / "output.dsf")));
}

TEST(ScenarioCommand, AnswersFromTheTerminal)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "GPStools");
    std::filesystem::copy_file(dataFile("scenario/week610.alm"), dir / "a.alm");
    std::filesystem::copy_file(dataFile("scenario/trip.nme"), dir / "trip.nme");
    ScopedEnv home("HOME", dir.path().string());
    const std::vector<std::string> args{
        "scenario",  (dir / "trip.nme").string(), "--almanac", (dir / "a.alm").string(), "--week", "610", "--today",
        "2026-12-08"};
    auto result = runTrajix(args, "n\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "GPStools" / "profile.txt"));
    // Yes, then the end of input at the wait: cancelled, the three files stay.
    result = runTrajix(args, "y\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Please WAIT until TrajixBinary has completely finished"), std::string::npos);
    for (const char* name : {"profile.txt", "nmeaInput.txt", "go.sh"})
        EXPECT_TRUE(std::filesystem::exists(dir / "GPStools" / name)) << name;
    EXPECT_FALSE(std::filesystem::exists(dir / "trip.bin"));
    result = runTrajix({"scenario", (dir / "trip.nme").string(), "--almanac", (dir / "none.alm").string(), "--yes"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("none.alm"), std::string::npos);
    EXPECT_EQ(runTrajix({"scenario", (dir / "trip.nme").string()}).exitCode, 2);
}

TEST(RecordingCommands, GpsWeekDsfToBinAndDropout)
{
    EXPECT_EQ(runTrajix({"gpsweek", "610"}).out, "2011-05-01\n");
    EXPECT_EQ(runTrajix({"gpsweek", "1023", "--rollover", "0"}).out, "1999-08-15\n");
    EXPECT_EQ(runTrajix({"gpsweek", "0", "--rollover", "0", "--seconds", "86400"}).out, "1980-01-07\n");
    EXPECT_EQ(runTrajix({"gpsweek", "x"}).exitCode, 1);
    EXPECT_EQ(runTrajix({"gpsweek", "-3"}).exitCode, 1);
    EXPECT_EQ(runTrajix({"gpsweek"}).exitCode, 2);

    TempDir dir;
    const std::string input =
        std::string(block, '\x01') + std::string(block, '\x02') + std::string(block, '\x03') + "tail";
    writeFileBytes(dir / "rec.dsf", input);
    auto result = runTrajix({"dsf2bin", (dir / "rec.dsf").string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Conversion complete\n");
    EXPECT_EQ(readFileBytes(dir / "rec.bin"), convertedBytes(input.substr(0, 3 * block)));
    result = runTrajix({"dsf2bin", (dir / "rec.bin").string()});  // would map onto itself
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("rec.bin"), std::string::npos);
    EXPECT_EQ(runTrajix({"dsf2bin", (dir / "missing.dsf").string()}).exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.bin"));

    result = runTrajix({"dropout", (dir / "rec.bin").string(), "--start", "1", "--duration", "1"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, (dir / "rec_mod.bin").string() + "\n");
    EXPECT_EQ(readFileBytes(dir / "rec_mod.bin"),
              readFileBytes(dir / "rec.bin").substr(0, block) + std::string(2 * block, '\0'));
    std::filesystem::remove(dir / "rec_mod.bin");
    result = runTrajix({"dropout", (dir / "rec.bin").string(), "--start", "2", "--duration", "1"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("past the end"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "rec_mod.bin"));
    EXPECT_EQ(runTrajix({"dropout", (dir / "rec.bin").string(), "--start", "two"}).exitCode, 1);
}

TEST(GeneratorRun, DesktopRunUsesATerminalWindowOnlyWithADisplay)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "bin");
    makeExecutable(dir / "bin" / "xterm", "#!/bin/sh\necho \"$*\" > \"" + (dir / "xterm-args.txt").string() + "\"\n");
    writeFileBytes(dir / "go.sh", "echo from go.sh\n");
    ScopedEnv path("PATH", (dir / "bin").string());
    ScopedEnv wayland("WAYLAND_DISPLAY", std::nullopt);
    {
        ScopedEnv display("DISPLAY", ":99");
        EXPECT_EQ(findTerminalEmulator(), dir / "bin" / "xterm");
        TerminalGeneratorRunner runner([] { return true; });
        runner.start(dir / "go.sh", dir.path());
        EXPECT_TRUE(runner.inTerminal());
        EXPECT_EQ(runner.process().wait(), 0);
        EXPECT_EQ(readFileBytes(dir / "xterm-args.txt"),
                  "-T TrajixBinary -e /bin/sh " + (dir / "go.sh").string() + "\n");
    }
    ScopedEnv display("DISPLAY", std::nullopt);
    EXPECT_FALSE(findTerminalEmulator());
    TerminalGeneratorRunner runner([] { return false; });
    runner.start(dir / "go.sh", dir.path());
    EXPECT_FALSE(runner.inTerminal());
    EXPECT_EQ(runner.process().wait(), 0);
    EXPECT_EQ(readFileBytes(dir / "go.log"), "from go.sh\n");
    EXPECT_FALSE(runner.waitForContinue());
}

namespace {

// A one-second profile of the test almanac's week; with keys appended.
std::filesystem::path formatProfile(const TempDir& dir, const std::string& keys = {})
{
    const auto tools = dir / "GPStools";
    std::filesystem::create_directories(tools);
    if (!std::filesystem::exists(tools / "nmeaInput.txt"))
        std::filesystem::copy_file(dataFile("scenario/trip.nme"), tools / "nmeaInput.txt");
    if (!std::filesystem::exists(dir / "a.alm"))
        std::filesystem::copy_file(dataFile("scenario/week314.alm"), dir / "a.alm");
    std::string profile = standInProfile(tools, "1");
    profile.replace(profile.find("\\gpstools\\179.alm"), 17, (dir / "a.alm").string());
    profile.replace(profile.find("GPS_Week=462"), 12, "GPS_Week=314");
    profile.replace(profile.find("Simulation_Year=2008"), 20, "Simulation_Year=2025");
    for (const std::string key : {"IQ_format", "bitPerSample", "SampleRate_in_KHz", "IFFreq_in_Hz"})
        if (keys.find(key) != std::string::npos) {
            const auto at = profile.find(key);
            profile.erase(at, profile.find("\r\n", at) + 2 - at);
        }
    writeFileBytes(tools / "profile.txt", profile + keys);
    return tools / "profile.txt";
}

}  // namespace

TEST(Generator, ProfileFormatKeysAndTheirOptionsMakeTheSameIqRecording)
{
    TempDir dir;
    const auto profile =
        formatProfile(dir, "IQ_format=IQ\r\nbitPerSample = 8\r\nSampleRate_in_KHz = 2600\r\nIFFreq_in_Hz = 0\r\n");
    ASSERT_EQ(runProgram(standIn, {"--threads", "2", profile.string()}).exitCode, 0);
    const std::string fromKeys = readFileBytes(dir / "GPStools" / "output.dsf");
    EXPECT_EQ(fromKeys.size(), 2600u * 1000u * 2u);
    // The scenario step's profile with the options instead, streamed to standard output:
    // only samples there, the messages on standard error.
    const auto streamed = runProgram(standIn, {"--iq-format", "IQ", "--bits-per-sample", "8", "--sample-rate-khz",
                                               "2600", "--if-hz", "0", "--output", "-", formatProfile(dir).string()});
    ASSERT_EQ(streamed.exitCode, 0) << streamed.err;
    EXPECT_TRUE(streamed.out == fromKeys);
    EXPECT_NE(streamed.err.find("satellites above the mask:"), std::string::npos);
    EXPECT_NE(streamed.err.find("TrajixBinary: finished"), std::string::npos);
}

TEST(Generator, FormatsItCannotMakeAreRefusedNamingTheKeyAndValue)
{
    TempDir dir;
    const auto profile = formatProfile(dir);
    const auto output = dir / "GPStools" / "output.dsf";
    writeFileBytes(output, "an earlier recording");
    const std::vector<std::pair<std::vector<std::string>, std::string>> refusals{
        {{"--iq-format", "IQ"}, "bitPerSample = 1"},
        {{"--bits-per-sample", "12"}, "bitPerSample = 12"},
        {{"--bits-per-sample", "8", "--sample-rate-khz", "4000", "--if-hz", "1000000"}, "SampleRate_in_KHz = 4000"},
        {{"--iq-format", "IQ", "--bits-per-sample", "8", "--sample-rate-khz", "2000", "--if-hz", "0"},
         "SampleRate_in_KHz = 2000"},
        {{"--sample-rate-khz", "100002"}, "SampleRate_in_KHz = 100002"},
        {{"--sample-rate-khz", "8183", "--if-hz", "2000000"}, "SampleRate_in_KHz = 8183"},
        {{"--iq-format", "IQ", "--bits-per-sample", "16", "--sample-rate-khz", "2600", "--if-hz", "300000"},
         "IFFreq_in_Hz = 300000"},
        {{"--bits-per-sample", "16", "--sample-rate-khz", "8000", "--if-hz", "4000000"}, "IFFreq_in_Hz = 4000000"},
        {{"--if-hz", "0"}, "IFFreq_in_Hz = 0"},
    };
    for (const auto& [options, named] : refusals) {
        std::vector<std::string> arguments = options;
        arguments.push_back(profile.string());
        const auto result = runProgram(standIn, arguments);
        EXPECT_EQ(result.exitCode, 1) << named;
        EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
        EXPECT_EQ(readFileBytes(output), "an earlier recording") << named;
    }
    // In the profile too, with its line.
    const auto fromKey = runProgram(standIn, {formatProfile(dir, "IQ_format=Q\r\n").string()});
    EXPECT_EQ(fromKey.exitCode, 1);
    EXPECT_NE(fromKey.err.find("IQ_format = 'Q' (line"), std::string::npos) << fromKey.err;
    EXPECT_EQ(runProgram(standIn, {"--iq-format", "Q", profile.string()}).exitCode, 2);
    EXPECT_EQ(readFileBytes(output), "an earlier recording");
}

namespace {

// A one-second profile on the 2010 day of the ephemeris file, the path of trip.nme.
std::string rinexProfile(const std::filesystem::path& tools)
{
    std::filesystem::copy_file(dataFile("scenario/trip.nme"), tools / "nmeaInput.txt",
                               std::filesystem::copy_options::overwrite_existing);
    ScenarioEdits edits;
    edits.week = "566";
    edits.startTime = "381490";
    edits.duration = "1";
    edits.startDay = "1";
    edits.startMonth = "7";
    edits.startYear = "2010";
    return scenarioProfileText(edits, tools.parent_path().string());
}

const std::string day2010 = "scenario/rinex/brdc1820_0814.10n";

}  // namespace

TEST(Generator, BroadcastEphemeridesWithEachAtmosphereModelSwitchable)
{
    TempDir dir;
    const auto tools = dir / "GPStools";
    std::filesystem::create_directories(tools);
    const std::string profile = rinexProfile(tools);
    const auto run = [&](const std::string& extraKeys, std::vector<std::string> options) {
        writeFileBytes(tools / "profile.txt", profile + extraKeys);
        options.push_back((tools / "profile.txt").string());
        const auto result = runProgram(standIn, options);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return std::make_pair(readFileBytes(tools / "output.dsf"), result);
    };
    const std::string file = dataFile(day2010).string();
    const auto [both, result] = run("", {"--ephemeris", file});
    // PRN 1 and PRN 25 are unhealthy all day in the file.
    EXPECT_NE(result.err.find("note: PRN 1 has no valid ephemeris during the run"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("note: PRN 25 has no valid ephemeris"), std::string::npos) << result.err;
    EXPECT_NE(result.out.find("satellites above the mask: "), std::string::npos);
    EXPECT_EQ(both.size(), block);
    // The profile key does what the option does; each model changes the signal.
    EXPECT_EQ(run("Ephemeris_File = " + file + "\r\n", {}).first, both);
    const std::string noIono = run("", {"--ephemeris", file, "--no-iono"}).first;
    const std::string noTropo = run("", {"--ephemeris", file, "--no-tropo"}).first;
    const std::string neither = run("Ionosphere = 0\r\nTroposphere = 0\r\n", {"--ephemeris", file}).first;
    EXPECT_NE(noIono, both);
    EXPECT_NE(noTropo, both);
    EXPECT_NE(neither, noIono);
    EXPECT_NE(neither, noTropo);
    EXPECT_EQ(run("Ionosphere = 0\r\n", {"--ephemeris", file}).first, noIono);
    EXPECT_EQ(run("Troposphere = 0\r\n", {"--ephemeris", file, "--no-iono"}).first, neither);
}

TEST(Generator, AnEphemerisFileNeedsNoAlmanacFile)
{
    TempDir dir;
    const auto tools = dir / "GPStools";
    std::filesystem::create_directories(tools);
    const std::string file = dataFile(day2010).string();
    // The profile names an almanac that does not exist: it is not read.
    const std::string named = rinexProfile(tools);
    const std::string almanacLine = "Almanac_File=\\gpstools\\179.alm\r\n";
    ASSERT_NE(named.find(almanacLine), std::string::npos);
    std::string none = named;
    none.erase(none.find(almanacLine), almanacLine.size());
    const auto run = [&](const std::string& profile, std::vector<std::string> options) {
        std::filesystem::remove(tools / "output.dsf");
        writeFileBytes(tools / "profile.txt", profile);
        options.push_back((tools / "profile.txt").string());
        return runProgram(standIn, options);
    };
    const std::string ephemerisLine = "Ephemeris_File = " + file + "\r\n";
    auto result = run(named + ephemerisLine, {});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string recording = readFileBytes(tools / "output.dsf");
    ASSERT_EQ(recording.size(), block);
    for (const std::string& profile : {none + ephemerisLine, none + "Almanac_File =\r\n" + ephemerisLine}) {
        result = run(profile, {});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(readFileBytes(tools / "output.dsf"), recording);
    }
    result = run(none, {"--ephemeris", file});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFileBytes(tools / "output.dsf"), recording);
    // Neither file: refused, naming the key, nothing written.
    for (const std::string& profile : {none, none + "Ephemeris_File =\r\n", none + "Almanac_File = \r\n"}) {
        result = run(profile, {});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find("has no value for Almanac_File"), std::string::npos) << result.err;
        EXPECT_FALSE(std::filesystem::exists(tools / "output.dsf"));
    }
}

TEST(Generator, UnusableEphemerisFilesAndStartsOutsideTheSetsFailWithAMessageAndWriteNothing)
{
    TempDir dir;
    const auto tools = dir / "GPStools";
    std::filesystem::create_directories(tools);
    const std::string profile = rinexProfile(tools);
    const std::string good = readFileBytes(dataFile(day2010));
    const auto lineStart = [&](int line) {
        std::size_t at = 0;
        for (int k = 1; k < line; ++k) at = good.find('\n', at) + 1;
        return at;
    };
    struct Fault {
        std::string rinex;    // the file's text
        std::string keys;     // profile lines added
        std::string message;  // what the error must say
    };
    std::string notANumber = good;
    notANumber.replace(lineStart(10) + 4, 5, "0.x63");
    // Only the records of PRN 1, unhealthy all day.
    std::string unhealthy = good.substr(0, lineStart(9));
    for (int line = 9; line < 9 + 8 * 102; line += 8)
        if (good.compare(lineStart(line), 3, " 1 ") == 0)
            unhealthy += good.substr(lineStart(line), lineStart(line + 8) - lineStart(line));
    const std::vector<Fault> faults{
        {"not a navigation file\n", "", "is not a RINEX file"},
        {good.substr(0, lineStart(12)), "", "line 9: the record is cut short"},
        {notANumber, "", "line 10: IODE '0.x63"},
        {good, "GPS_Start_Time_in_sec = 200000\r\n", "GPS_Start_Time_in_sec 200000) lies outside every set"},
        {unhealthy, "", "GPS_Start_Time_in_sec 381490) finds no healthy set"},
        {good, "Ionosphere = 2\r\n", "Ionosphere = '2'"},
        {good, "Troposphere = on\r\n", "Troposphere = 'on'"},
    };
    for (const Fault& fault : faults) {
        writeFileBytes(dir / "day.10n", fault.rinex);
        writeFileBytes(tools / "profile.txt",
                       profile + "Ephemeris_File = " + (dir / "day.10n").string() + "\r\n" + fault.keys);
        writeFileBytes(tools / "output.dsf", "an earlier recording");
        const auto result = runProgram(standIn, {(tools / "profile.txt").string()});
        EXPECT_EQ(result.exitCode, 1) << fault.message;
        EXPECT_NE(result.err.find("TrajixBinary: error:"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(fault.message), std::string::npos) << result.err;
        EXPECT_EQ(readFileBytes(tools / "output.dsf"), "an earlier recording") << fault.message;
    }
    // A missing file named by the option.
    std::filesystem::remove(tools / "output.dsf");
    writeFileBytes(tools / "profile.txt", profile);
    const auto missing =
        runProgram(standIn, {"--ephemeris", (dir / "none.rnx").string(), (tools / "profile.txt").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("none.rnx"), std::string::npos) << missing.err;
    EXPECT_FALSE(std::filesystem::exists(tools / "output.dsf"));
}

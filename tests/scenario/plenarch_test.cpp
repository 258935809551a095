#include <chrono>
#include <cstdlib>

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "scenario/plenarch.hpp"
#include "scenario/recording.hpp"
#include "test_support.hpp"

using namespace trajix;
using trajix::test::dataFile;
using trajix::test::readFileBytes;
using trajix::test::RecordingProgress;
using trajix::test::ScriptedPrompt;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

constexpr std::size_t block = static_cast<std::size_t>(recordingBlockSize);
const std::string dayOfYearMessage = "20/10/2002 day of year  = 293";

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Stands in for the terminal and the wait window: records the calls, and runs a
// generator function in place of go.sh.
class FakeRunner final : public GeneratorRunner {
public:
    void start(const std::filesystem::path& script, const std::filesystem::path& folder) override
    {
        calls.push_back("start " + script.filename().string());
        if (generator) generator(folder);
    }
    bool waitForContinue() override
    {
        calls.push_back("wait");
        return answer;
    }
    void closeGenerator() override { calls.push_back("close"); }

    std::function<void(const std::filesystem::path&)> generator;
    bool answer = true;
    std::vector<std::string> calls;
};

// A home directory with GPStools/179.alm (almanac week 610) and an NMEA file.
class ScenarioStep : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(home() / "GPStools");
        std::filesystem::copy_file(dataFile("scenario/week610.alm"), home() / "GPStools" / "179.alm");
        std::filesystem::create_directories(dir_ / "data");
        std::filesystem::copy_file(dataFile("scenario/trip.nme"), nmea());
        environment.startDrive = home().string();
        environment.generatorFolder = "/nonexistent";
        environment.today = {2026, 12, 8};
        environment.settleDelay = std::chrono::milliseconds(0);
        recording = std::string(block, '\x01') + std::string(block, '\x80');
        runner.generator = [this](const std::filesystem::path& folder) {
            writeFileBytes(folder / "output.dsf", recording);
        };
    }
    std::filesystem::path home() const { return dir_ / "home"; }
    std::filesystem::path tools() const { return home() / "GPStools"; }
    std::string nmea() const { return (dir_ / "data" / "trip.nme").string(); }
    std::string bin() const { return (dir_ / "data" / "trip.bin").string(); }
    bool run() { return runPlenarch(state, nmea(), environment, prompt, runner, progress); }

    TempDir dir_;
    ScenarioEnvironment environment;
    ScenarioState state;
    ScriptedPrompt prompt;
    FakeRunner runner;
    RecordingProgress progress;
    std::string recording;
};

}  // namespace

TEST(ScenarioProfile, TextIsExactForAHomeDirectory)
{
    ScenarioEdits edits;
    edits.week = "610";
    edits.startDay = "1";
    edits.startMonth = "5";
    edits.startYear = "2011";
    EXPECT_EQ(scenarioProfileText(edits, "/home/ann"), readFileBytes(dataFile("scenario/profile_home_ann.txt")));
    // Edit texts are copied as they stand.
    edits.startTime = " 32400.5 ";
    EXPECT_NE(scenarioProfileText(edits, "/home/ann").find("\r\nGPS_Start_Time_in_sec= 32400.5 \r\n"),
              std::string::npos);
}

TEST(ScenarioNames, OutputNameLosesExactlyThreeCharacters)
{
    EXPECT_EQ(scenarioOutputNameFor("C:\\data\\trip.nme"), "C:\\data\\trip.bin");
    EXPECT_EQ(scenarioOutputNameFor("/data/route.nmea"), "/data/route.nbin");
    EXPECT_EQ(scenarioOutputNameFor("/data/r.tx"), "/data/rbin");
    EXPECT_EQ(scenarioOutputNameFor("ab"), "bin");
}

TEST(ScenarioNames, WeekQuestionAboveThreeWeeks)
{
    EXPECT_FALSE(weekNeedsQuestion(613, 610));
    EXPECT_TRUE(weekNeedsQuestion(614, 610));
    EXPECT_FALSE(weekNeedsQuestion(607, 610));
    EXPECT_TRUE(weekNeedsQuestion(606, 610));
    EXPECT_EQ(weekQuestion("614", 610),
              "User requested GPS week 614 more than 3 weeks from Almanac week 610, set to same value?");
}

TEST_F(ScenarioStep, ContinueConvertsTheGeneratorOutputBesideTheNmeaFile)
{
    state.edits.week = "610";
    std::vector<std::string> status;
    environment.statusText = [&](std::string_view text) { status.emplace_back(text); };
    ASSERT_TRUE(run());
    const std::string expectedProfile =
        replaceAll(readFileBytes(dataFile("scenario/profile_home_ann.txt")), "/home/ann", home().string());
    const std::string almanacLine = "Almanac_File=\\gpstools\\179.alm";  // the edit's text, not the file found
    EXPECT_EQ(readFileBytes(tools() / "profile.txt"), expectedProfile);
    EXPECT_NE(expectedProfile.find(almanacLine), std::string::npos);
    EXPECT_EQ(readFileBytes(tools() / "nmeaInput.txt"), readFileBytes(dataFile("scenario/trip.nme")));
    EXPECT_EQ(readFileBytes(tools() / "go.sh"), goScriptText(home().string(), "/nonexistent"));
    EXPECT_EQ(status, std::vector<std::string>{(tools() / "profile.txt").string()});
    EXPECT_EQ(prompt.questions, std::vector<std::string>{std::string(scenarioQuestion)});
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{dayOfYearMessage, "Output file " + bin() + " created"}));
    EXPECT_EQ(runner.calls, (std::vector<std::string>{"start go.sh", "wait", "close"}));
    EXPECT_EQ(progress.captions, (std::vector<std::string>{"Processing dsf file", "Converting file"}));
    EXPECT_EQ(readFileBytes(bin()), std::string(block, '\x80') + std::string(block, '\x01'));
    EXPECT_EQ(state.scenarioOutputName, bin());
    EXPECT_TRUE(state.continueConfirmed);
    EXPECT_EQ(state.edits.startDay + "/" + state.edits.startMonth + "/" + state.edits.startYear, "1/5/2011");
}

TEST_F(ScenarioStep, WeekQuestionAtDifferenceFourOnly)
{
    state.edits.week = "613";
    ASSERT_TRUE(run());
    EXPECT_EQ(prompt.questions.size(), 1u);
    EXPECT_EQ(state.edits.week, "613");

    state.edits.week = "614";
    prompt = ScriptedPrompt{};
    prompt.answers = {true, false};
    ASSERT_TRUE(run());
    EXPECT_EQ(prompt.questions.at(1), weekQuestion("614", 610));
    EXPECT_EQ(state.edits.week, "614");
    EXPECT_NE(readFileBytes(tools() / "profile.txt").find("\r\nGPS_Week=614\r\n"), std::string::npos);

    prompt = ScriptedPrompt{};
    ASSERT_TRUE(run());
    EXPECT_EQ(state.edits.week, "610");
    EXPECT_NE(readFileBytes(tools() / "profile.txt").find("\r\nGPS_Week=610\r\n"), std::string::npos);
}

TEST_F(ScenarioStep, NoAtTheFirstQuestionDoesNothing)
{
    prompt.answers = {false};
    EXPECT_FALSE(run());
    EXPECT_TRUE(runner.calls.empty());
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(state.edits.startYear, "2008");
    EXPECT_FALSE(std::filesystem::exists(tools() / "profile.txt"));
}

TEST_F(ScenarioStep, CancelLeavesTheThreeFilesAndConvertsNothing)
{
    runner.answer = false;
    EXPECT_FALSE(run());
    for (const char* name : {"profile.txt", "nmeaInput.txt", "go.sh", "output.dsf"})
        EXPECT_TRUE(std::filesystem::exists(tools() / name)) << name;
    EXPECT_FALSE(std::filesystem::exists(bin()));
    EXPECT_EQ(runner.calls, (std::vector<std::string>{"start go.sh", "wait"}));
    EXPECT_EQ(prompt.messages, std::vector<std::string>{dayOfYearMessage});
    EXPECT_FALSE(state.continueConfirmed);
}

TEST_F(ScenarioStep, AlmanacFaultsStopBeforeAnythingIsWritten)
{
    for (const std::string& almanac : {std::string("\\gpstools\\none.alm"), std::string("/nonexistent/179.alm")}) {
        state.edits.almanac = almanac;
        EXPECT_THROW(run(), Error) << almanac;
    }
    writeFileBytes(tools() / "179.alm", "no week here\n");
    state.edits.almanac = (tools() / "179.alm").string();
    EXPECT_THROW(run(), Error);
    EXPECT_EQ(state.edits.startDay + "/" + state.edits.startMonth + "/" + state.edits.startYear, "30/6/2008");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tools()), {}), 1);
    EXPECT_TRUE(runner.calls.empty());
}

TEST_F(ScenarioStep, WeekThatIsNoIntegerStopsAfterTheDates)
{
    state.edits.week = "61O";
    try {
        run();
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("'61O'"), std::string::npos);
    }
    EXPECT_EQ(state.edits.startYear, "2011");
    EXPECT_FALSE(std::filesystem::exists(tools() / "profile.txt"));
}

// A first run on a new account: neither the tool directory nor (a home given by a
// path that is not there yet) its parent exists; both are made and the step runs.
TEST_F(ScenarioStep, MissingToolDirectoryIsMade)
{
    state.edits.almanac = (dir_ / "179.alm").string();
    std::filesystem::copy_file(dataFile("scenario/week610.alm"), state.edits.almanac);
    std::filesystem::remove_all(home());
    EXPECT_TRUE(run());
    EXPECT_EQ(readFileBytes(tools() / "nmeaInput.txt"), readFileBytes(nmea()));
    EXPECT_TRUE(std::filesystem::exists(tools() / "profile.txt"));
    EXPECT_TRUE(std::filesystem::exists(tools() / "go.sh"));
    EXPECT_EQ(readFileBytes(bin()).size(), 2 * block);
}

// What stands in the way of the tool directory is named, and nothing runs.
TEST_F(ScenarioStep, ToolDirectoryThatCannotBeMadeIsReported)
{
    state.edits.almanac = (dir_ / "179.alm").string();
    std::filesystem::copy_file(dataFile("scenario/week610.alm"), state.edits.almanac);
    for (const bool fileAsHome : {false, true}) {
        std::filesystem::remove_all(home());
        if (fileAsHome) {
            writeFileBytes(home(), "a file where the home folder should be");
        } else {
            std::filesystem::create_directories(home());
            writeFileBytes(tools(), "a file named like the tool directory");
        }
        try {
            run();
            ADD_FAILURE() << "no error with " << (fileAsHome ? "a file as home" : "a file as GPStools");
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("the tool directory '" + tools().string() + "' cannot be created"),
                      std::string::npos)
                << e.what();
        }
        EXPECT_TRUE(runner.calls.empty());
        EXPECT_FALSE(std::filesystem::exists(bin()));
    }
}

// An NMEA file whose name ends in "bin" would be replaced by its own recording.
TEST_F(ScenarioStep, NmeaFileNamedLikeItsRecordingIsNotOverwritten)
{
    std::filesystem::rename(nmea(), bin());
    EXPECT_THROW(runPlenarch(state, bin(), environment, prompt, runner, progress), Error);
    EXPECT_EQ(readFileBytes(bin()), readFileBytes(dataFile("scenario/trip.nme")));
    EXPECT_TRUE(runner.calls.empty());
}

TEST_F(ScenarioStep, MissingGeneratorOutputIsReportedByTheConversion)
{
    runner.generator = nullptr;
    try {
        run();
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("output.dsf"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(bin()));
}

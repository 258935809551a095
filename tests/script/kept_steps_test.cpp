// A written run keeps only the steps the writer reads; the file must not change for it.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include "script_fixture.hpp"

namespace trajix::test {
namespace {

// Writes the run of a preview (which keeps every step) with the writer.
std::string writeFromEveryStep(const std::string& script, const ScriptOptions& options, const std::filesystem::path& to)
{
    ScriptRun r;
    r.options = options;
    EXPECT_EQ(r.run(script).outcome, ScriptOutcome::Preview);
    EXPECT_EQ(r.state.sampleHeading.size(), static_cast<std::size_t>(r.state.sampleCount));
    r.state.output.outputFileName = to.string();
    saveNMEA(r.state, options, r.progress);
    return readFileBytes(to);
}

TEST(ScriptKeptSteps, WrittenRunKeepsEveryStrideThStepAndWritesTheSameBytes)
{
    const std::string drive = readFileBytes(dataFile("script/drive.txt"));
    const std::string turns = readFileBytes(dataFile("script/turns.txt"));
    TempDir dir;
    struct Case {
        const std::string* script;
        double rate;
        bool hdt;
    };
    // Strides 50, 333 and 1, and a step count that is not a multiple of the stride.
    for (const Case c : {Case{&drive, 20, false}, Case{&turns, 3, false}, Case{&turns, 5, true},
                         Case{&turns, 1000, false}, Case{&turns, 7, true}}) {
        ScriptOptions options;
        options.outputRate = c.rate;
        options.hdtAndGll = c.hdt;
        const auto every = dir / fmt::format("every_{}.nmea", c.rate);
        const auto kept = dir / fmt::format("kept_{}.nmea", c.rate);
        const std::string expected = writeFromEveryStep(*c.script, options, every);

        ScriptRun r;
        r.options = options;
        ASSERT_EQ(r.run(*c.script, kept.string()).outcome, ScriptOutcome::Written);
        EXPECT_EQ(readFileBytes(kept), expected) << c.rate << " Hz";
        const std::int64_t stride = sampleStrideForRate(c.rate);
        const auto written = static_cast<std::size_t>((r.state.sampleCount - 2) / stride + 1);
        EXPECT_GE(r.state.sampleHeading.size(), written) << c.rate << " Hz";
        EXPECT_LE(r.state.sampleHeading.size(), written + 1) << c.rate << " Hz";
        EXPECT_LE(r.state.sampleEast.size(), written + 2) << c.rate << " Hz";
    }
}

}  // namespace
}  // namespace trajix::test

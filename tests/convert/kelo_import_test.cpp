#include "convert/kelo_import.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "common/error.hpp"
#include "convert_test_helpers.hpp"

namespace trajix::test {
namespace {

using convert::KeloParameters;
using convert::loadKelFile;

struct KeloRun {
    TempDir dir;
    KeloParameters parameters;
    ScriptedPrompt prompt;
    RecordingProgress progress;

    explicit KeloRun(const std::string& kel)
    {
        writeFileBytes(dir / "log.kel", kel);
        parameters.inputFileName = (dir / "log.kel").string();
        parameters.outputFileName = (dir / "out.nmea").string();
    }
    convert::KeloResult run() { return loadKelFile(parameters, prompt, progress); }
    std::string output() const { return readFileBytes(dir / "out.nmea"); }
    bool outputExists() const { return std::filesystem::exists(dir / "out.nmea"); }
};

// A 10 Hz log: the whole-second row 095959.00 follows 095958.90, so the rate is
// detected; the run crosses the hour, has a row without a fix and ends east of Greenwich.
const std::vector<std::string> tenHzRows = {
    "0 95958.70 3000.0 60.0 0 0 10",   // discarded
    "1 95958.80 3000.0 60.0 0 0 10",   // detection
    "2 95958.90 3000.0 60.0 0 0 10",   // detection
    "3 95959.00 3000.0 60.0 0 0 10",   // whole second: start time, no output
    "4 95959.10 3000.0 60.0 0 10 10",  // first fix: the start period
    "5 95959.20 3000.01 60.01 12.5 10 10",
    "6 95959.30 3000.02 60.02 25 359.999 10",
    "7 95959.40 0 0 30 20 10",  // no fix
    "8 95959.50 3000.03 -0.5 36.2 180 10",
    "9\t95959.60   -2010 90 100.004 271.5 10",
};

TEST(KeloImport, TenHertzLogMatchesGoldenFile)
{
    // log10hz.kel holds the rows of tenHzRows.
    EXPECT_EQ(readFileBytes(dataFile("convert/log10hz.kel")), kelText(tenHzRows));
    KeloRun run(readFileBytes(dataFile("convert/log10hz.kel")));
    run.parameters.vtg = true;
    run.parameters.stationaryPeriodText = "1";
    run.parameters.stationaryPeriodEndText = "1";
    const auto result = run.run();
    EXPECT_EQ(result.sampleRateText, "10");
    EXPECT_TRUE(result.rateDetected);
    expectGolden(run.output(), "log10hz_vtg.nmea");

    // Independent check: one GGA and one VTG per sample, 0.1 s apart from the log's
    // whole second, ending on a whole second.
    const auto sentences = parseNmeaFile(run.output());
    const auto gga = onlyType(sentences, "GGA");
    ASSERT_EQ(sentences.size(), 2 * gga.size());
    // 10 start samples, 4 moving rows, 10 end samples up to 100001.30, run-out to 100002.00.
    ASSERT_EQ(gga.size(), 10u + 4u + 10u + 7u);
    EXPECT_EQ(gga.front().fields[0], "095959.00");
    for (std::size_t i = 0; i < gga.size(); ++i)
        EXPECT_NEAR(nmeaSeconds(gga[i].fields[0]), 35999.0 + 0.1 * static_cast<double>(i), 1e-6) << i;
    EXPECT_EQ(gga.back().fields[0], "100002.00");
    EXPECT_EQ(result.samplesWritten, static_cast<std::int64_t>(gga.size()));
}

TEST(KeloImport, SouthWestFieldsAndFixlessRowsKeepTheClock)
{
    KeloRun run(kelText(tenHzRows));
    run.parameters.stationaryPeriodText = "0";
    run.parameters.stationaryPeriodEndText = "0";
    run.run();
    const auto gga = onlyType(parseNmeaFile(run.output()), "GGA");
    // Row 4 has the first fix and, with no start period, writes nothing; rows 5, 6, 8, 9
    // write one sample each, back to back although row 7 lies between them.
    ASSERT_GE(gga.size(), 4u);
    EXPECT_EQ(gga[0].fields[0], "095959.00");
    EXPECT_EQ(gga[1].fields[0], "095959.10");
    EXPECT_EQ(gga[2].fields[0], "095959.20");
    EXPECT_EQ(gga[3].fields[0], "095959.30");
    EXPECT_EQ(gga[3].fields[1], "3330.00000000");
    EXPECT_EQ(gga[3].fields[2], "S");
    EXPECT_EQ(gga[3].fields[3], "00130.00000000");
    EXPECT_EQ(gga[3].fields[4], "W");
    EXPECT_EQ(gga[2].fields[3], "00000.50000000");
    EXPECT_EQ(gga[2].fields[4], "E");
    // The run-out pads to the next whole second and nothing more.
    EXPECT_EQ(gga.back().fields[0], "100000.00");
}

TEST(KeloImport, RateStaysWhenDetectionRowsStraddleAMinute)
{
    // 123500.00 - 123459.90 = 40.1: no band, the rate field keeps its text.
    KeloRun run(kelText({"0 123459.70 3000 60 0 0 0", "1 123459.90 3000 60 0 0 0", "2 123500.00 3000 60 0 0 0",
                         "3 123500.10 3000 60 5 0 0", "4 123500.20 3000 60 5 0 0"}));
    run.parameters.sampleRateText = "25";
    run.parameters.stationaryPeriodText = "0";
    run.parameters.stationaryPeriodEndText = "0";
    const auto result = run.run();
    EXPECT_EQ(result.sampleRateText, "25");
    EXPECT_FALSE(result.rateDetected);
    const auto gga = onlyType(parseNmeaFile(run.output()), "GGA");
    ASSERT_GE(gga.size(), 2u);
    EXPECT_EQ(gga[0].fields[0], "123500.00");
    EXPECT_EQ(gga[1].fields[0], "123500.04");  // the rows follow the rate field, not the log
}

TEST(KeloImport, FirstNumericRowAtWholeSecondIsMeasuredFromZero)
{
    KeloRun run(kelText({"discarded", "1 123500.00 3000 60 0 0 0", "2 123500.10 3000 60 5 0 0"}));
    run.parameters.sampleRateText = "20";
    const auto result = run.run();
    EXPECT_EQ(result.sampleRateText, "20");
    EXPECT_FALSE(result.rateDetected);
}

TEST(KeloImport, RateBandsAreExclusive)
{
    const auto detect = [](const std::string& before, const std::string& whole) {
        KeloRun run(
            kelText({"x", "1 " + before + " 3000 60 0 0 0", "2 " + whole + " 3000 60 0 0 0", "3 10.5 3000 60 0 0 0"}));
        run.parameters.sampleRateText = "1";
        return run.run().sampleRateText;
    };
    EXPECT_EQ(detect("9.8", "10"), "5");
    EXPECT_EQ(detect("9.95", "10"), "20");
    EXPECT_EQ(detect("9.99", "10"), "100");
    EXPECT_EQ(detect("9.79", "10"), "1");  // 0.21: above the 5 Hz band
    EXPECT_EQ(detect("9.93", "10"), "1");  // 0.07: between bands
}

TEST(KeloImport, StationaryCountsUseDoubleQuotient)
{
    // 80 s at 20 Hz: 1600 samples at rest before the first moving one, 5 s: 100 after.
    KeloRun run(kelText({"x", "1 123459.90 3000 60 0 0 0", "2 123500.00 3000 60 0 0 0", "3 123500.05 3000 60 0 7 0",
                         "4 123500.10 3000 60 50 7 0", "5 123500.15 3000 60 50 8 0"}));
    const auto result = run.run();
    EXPECT_EQ(result.sampleRateText, "20");
    const auto all = parseNmeaFile(run.output());
    const auto gga = onlyType(all, "GGA");
    EXPECT_TRUE(onlyType(all, "VTG").empty());  // VTG off
    // 1600 + 2 moving + 100 end samples, the last at 123625.05; run-out to 123626.
    ASSERT_EQ(gga.size(), 1600u + 2u + 100u + 19u);
    EXPECT_EQ(gga[1599].fields[0], "123619.95");
    EXPECT_EQ(gga[1600].fields[0], "123620.00");
    EXPECT_EQ(gga.back().fields[0], "123626.00");
}

TEST(KeloImport, PreviewHoldsFiftySamplesAndNeverTheRunOut)
{
    KeloRun run(kelText(tenHzRows));
    run.parameters.vtg = true;
    run.parameters.stationaryPeriodText = "0";
    run.parameters.stationaryPeriodEndText = "10";
    const auto result = run.run();
    ASSERT_EQ(result.previewText.rfind("First 50 lines of output:\r\n", 0), 0u);
    const auto preview = parseNmeaFile(result.previewText.substr(27));
    EXPECT_EQ(onlyType(preview, "GGA").size(), 50u);
    EXPECT_EQ(onlyType(preview, "VTG").size(), 50u);
    // The preview is the start of the file.
    EXPECT_EQ(run.output().substr(0, result.previewText.size() - 27), result.previewText.substr(27));

    KeloRun shortRun(kelText(tenHzRows));
    shortRun.parameters.stationaryPeriodText = "0";
    shortRun.parameters.stationaryPeriodEndText = "0";
    const auto shortResult = shortRun.run();
    // 4 moving samples previewed; the 7 run-out samples are not.
    EXPECT_EQ(onlyType(parseNmeaFile(shortResult.previewText.substr(27)), "GGA").size(), 4u);
    EXPECT_EQ(onlyType(parseNmeaFile(shortRun.output()), "GGA").size(), 11u);
}

TEST(KeloImport, TrailingLineBreaksMakeNoPhantomRow)
{
    std::string kel = kelText({"x", "1 123459.90 3000 60 0 0 0", "2 123500.00 3000 60 0 0 0",
                               "3 123500.10 3000 60 9 45 0", "4 123500.20 3000 60 9 123.4 0"});
    kel += "\r\n  \t\r\n\r\n";
    KeloRun run(kel);
    run.parameters.vtg = true;
    run.parameters.stationaryPeriodText = "0";
    run.run();
    const auto vtg = onlyType(parseNmeaFile(run.output()), "VTG");
    ASSERT_FALSE(vtg.empty());
    // The end period keeps the heading of the last real row, not 0.
    EXPECT_EQ(vtg.back().fields[0], "123.40");
    EXPECT_EQ(vtg.back().fields[4], "0.000");
    EXPECT_TRUE(run.prompt.messages.empty());
}

TEST(KeloImport, RowsContinueAcrossLineBreaks)
{
    // The data is a stream of numbers: a row split over two lines reads the same.
    KeloRun split(
        kelText({"x", "1 123459.90 3000 60", " 0 0 0", "2 123500.00 3000 60 0 0 0 3 123500.10 3000 60 9 45 0"}));
    KeloRun whole(
        kelText({"x", "1 123459.90 3000 60 0 0 0", "2 123500.00 3000 60 0 0 0", "3 123500.10 3000 60 9 45 0"}));
    split.run();
    whole.run();
    EXPECT_EQ(split.output(), whole.output());
}

TEST(KeloImport, ChartsEveryTenthRowTrackOnlyWithFix)
{
    std::vector<std::string> rows = {"x", "1 123500.90 3000 60 0 0 0", "2 123501.00 3000 60 0 0 0"};
    for (int i = 1; i <= 21; ++i) {
        const bool fix = i != 11;
        rows.push_back(fmt::format("{} {:.2f} {} 60 {} 0 0", i + 2, 123501.0 + i * 0.1, fix ? "3000" : "0", i));
    }
    KeloRun run(kelText(rows));
    const auto result = run.run();
    // Rows 1, 11 and 21 of the main loop are charted; row 11 has no fix.
    ASSERT_EQ(result.speedPoints.size(), 3u);
    EXPECT_DOUBLE_EQ(result.speedPoints[1].y, 11);
    EXPECT_NEAR(result.speedPoints[0].x, 0.1, 1e-12);  // 10 Hz detected
    EXPECT_NEAR(result.speedPoints[2].x, 2.1, 1e-9);
    ASSERT_EQ(result.trackPoints.size(), 2u);
    EXPECT_DOUBLE_EQ(result.trackPoints[0].x, 50);
    EXPECT_DOUBLE_EQ(result.trackPoints[0].y, -1);
}

// ---- Bad input: a clear message, nothing written, an existing output untouched.

void expectRefused(const std::string& kel, const std::string& expectedPart)
{
    KeloRun run(kel);
    writeFileBytes(run.dir / "out.nmea", "keep me");
    try {
        run.run();
        ADD_FAILURE() << "accepted, expected: " << expectedPart;
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(expectedPart), std::string::npos) << e.what();
    }
    EXPECT_EQ(run.output(), "keep me");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(run.dir.path()), {}), 2) << "temporary file left";
}

TEST(KeloImportBadInput, MissingSectionsAreNamed)
{
    const std::string good = kelText({"x", "1 123459.90 3000 60 0 0 0", "2 123500.00 3000 60 0 0 0"});
    auto without = [&](const std::string& line) {
        std::string text = good;
        text.erase(text.find(line), line.size() + 2);
        return text;
    };
    expectRefused(without("[header]"), "no \"[header]\" line");
    std::string noEnd = without("[channel units]");
    noEnd.erase(noEnd.find("[comments]"), 12);
    expectRefused(noEnd, "\"[column names]\" line after \"[header]\"");
    expectRefused(without("[data]"), "no \"[data]\" line");
    expectRefused("", "no \"[header]\" line");
    expectRefused("[header]", "\"[comments]\"");
}

TEST(KeloImportBadInput, TooFewChannels)
{
    expectRefused(kelText({"x", "1 123500 3000 60 0 0"}, 5), "lists 5 channel names; at least 6");
}

TEST(KeloImportBadInput, NonNumberNamesRowAndLine)
{
    const auto kel =
        kelText({"x", "1 123459.90 3000 60 0 0 0", "2 123500.00 3000 60 0 0 0", "3 123500.10 30O0 60 0 0 0"});
    // Header block: title, [header], 7 names, [channel units], 7 units, [comments], 1, [data] = 20 lines.
    expectRefused(kel, "'30O0' in data row 4 (line 24 of");
}

TEST(KeloImportBadInput, NoFixWritesNothing)
{
    expectRefused(kelText({"x", "1 123459.90 0 0 0 0 0", "2 123500.00 0 0 0 0 0", "3 123500.10 0 0 5 0 0"}),
                  "no data row with a fix");
    expectRefused(kelText({}), "no data row with a fix");
    expectRefused(kelText({"x"}), "no data row with a fix");
    // Fixes only before the start time do not count.
    expectRefused(kelText({"x", "1 123459.90 3000 60 0 0 0", "2 123500.00 3000 60 0 0 0"}), "no data row with a fix");
}

TEST(KeloImportBadInput, NoWholeSecondEndsAtEndOfFile)
{
    expectRefused(kelText({"x", "1 123459.90 3000 60 0 0 0", "2 123459.95 3000 60 0 0 0"}), "whole second");
}

TEST(KeloImportBadInput, BadStartTimeAndPeriods)
{
    expectRefused(kelText({"x", "1 -5 3000 60 0 0 0", "2 1 3000 60 0 0 0"}), "time -5 in data row 2");
    expectRefused(kelText({"x", "1 1234567 3000 60 0 0 0", "2 1 3000 60 0 0 0"}), "not a time of day");

    KeloRun run(kelText({"x", "1 123500 3000 60 0 0 0", "2 123500.1 3000 60 0 0 0"}));
    run.parameters.stationaryPeriodText = "8.5";
    EXPECT_THROW(run.run(), Error);
    run.parameters.stationaryPeriodText = "80";
    run.parameters.sampleRateText = "0";
    EXPECT_THROW(run.run(), Error);
    EXPECT_FALSE(run.outputExists());
}

TEST(KeloImportBadInput, IncompleteLastRowIsIgnoredWithNotice)
{
    KeloRun run(kelText({"x", "1 123459.90 3000 60 0 0 0", "2 123500.00 3000 60 0 0 0", "3 123500.10 3000 60 9 45 0",
                         "4 123500.20 3100 60"}));
    run.parameters.vtg = true;
    run.parameters.stationaryPeriodText = "0";
    run.run();
    ASSERT_EQ(run.prompt.messages.size(), 1u);
    EXPECT_EQ(run.prompt.messages[0], "The last data row (row 5, line 25) holds 4 of 7 numbers and was ignored.");
    for (const auto& s : onlyType(parseNmeaFile(run.output()), "GGA")) EXPECT_EQ(s.fields[1], "5000.00000000");
}

TEST(KeloImportBadInput, MissingInputFile)
{
    TempDir dir;
    KeloParameters parameters;
    parameters.inputFileName = (dir / "absent.kel").string();
    parameters.outputFileName = (dir / "out.nmea").string();
    ScriptedPrompt prompt;
    NullProgress progress;
    try {
        loadKelFile(parameters, prompt, progress);
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("absent.kel"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out.nmea"));
}

}  // namespace
}  // namespace trajix::test

namespace trajix::test {
namespace {

TEST(KeloImport, EndPeriodTakesHeadingOfLastRowReadEvenWithoutFix)
{
    KeloRun run(kelText({"x", "1 123459.90 3000 60 0 0 0", "2 123500.00 3000 60 0 0 0", "3 123500.10 3000 60 9 45 0",
                         "4 123500.20 3001 60 9 46 0", "5 123500.30 0 0 9 200 0"}));
    run.parameters.vtg = true;
    run.parameters.stationaryPeriodText = "0";
    run.parameters.stationaryPeriodEndText = "1";
    run.run();
    const auto all = parseNmeaFile(run.output());
    const auto gga = onlyType(all, "GGA");
    const auto vtg = onlyType(all, "VTG");
    ASSERT_EQ(vtg.size(), 1u + 20u + 20u);  // one moving sample, 20 end, 20 run-out at 20 Hz
    EXPECT_EQ(vtg[0].fields[0], "46.00");
    EXPECT_EQ(vtg[1].fields[0], "200.00");
    EXPECT_EQ(gga[1].fields[1], "5001.00000000");  // position of the last fix
}

TEST(KeloImport, CancelLeavesNoFile)
{
    std::vector<std::string> rows = {"x", "1 123500.90 3000 60 0 0 0", "2 123501.00 3000 60 0 0 0"};
    for (int i = 1; i <= 5000; ++i) rows.push_back(fmt::format("{} {:.2f} 3000 60 5 0 0", i + 2, 123501.0 + i * 0.1));
    KeloRun run(kelText(rows));
    run.progress.cancelAfter = 1;
    EXPECT_THROW(run.run(), Cancelled);
    EXPECT_FALSE(run.outputExists());
    // An existing file of the name is kept as it was.
    writeFileBytes(run.dir / "out.nmea", "kept");
    run.progress = RecordingProgress{};
    run.progress.cancelAfter = 1;
    EXPECT_THROW(run.run(), Cancelled);
    EXPECT_EQ(readFileBytes(run.dir / "out.nmea"), "kept");
    EXPECT_EQ(run.progress.finished, 1);
    EXPECT_EQ(run.progress.captions, std::vector<std::string>{"Converting KELO file"});
}

}  // namespace
}  // namespace trajix::test

#include "convert/text_conversion.hpp"

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "convert_test_helpers.hpp"

namespace trajix::test {
namespace {

using convert::convertTextFile;
using convert::TextConversionParameters;

struct TextRun {
    TempDir dir;
    TextConversionParameters parameters;
    ScriptedPrompt prompt;
    RecordingProgress progress;

    explicit TextRun(const std::string& text)
    {
        writeFileBytes(dir / "list.txt", text);
        parameters.inputFileName = (dir / "list.txt").string();
        parameters.outputFileName = (dir / "out.nmea").string();
    }
    convert::TextConversionResult run() { return convertTextFile(parameters, prompt, progress); }
    std::string output() const { return readFileBytes(dir / "out.nmea"); }
};

TEST(TextConversion, DefaultPeriodsAtTwentyHertz)
{
    TextRun run("UTC time Latitude Longitude\n51.5 -0.25\n51.5 -0.25\n51.5 -0.25\n51.5 -0.25\n");
    const auto result = run.run();
    const auto all = parseNmeaFile(run.output());
    const auto gga = onlyType(all, "GGA");
    ASSERT_EQ(all.size(), gga.size()) << "no VTG is ever written";
    // 1600 for the first pair, 3 for the others, 100 at the end up to 000125.10, run-out to 000126.
    ASSERT_EQ(gga.size(), 1600u + 3u + 100u + 18u);
    EXPECT_EQ(result.samplesWritten, 1721);
    EXPECT_EQ(gga.front().fields[0], "000000.00");
    EXPECT_EQ(gga[1600].fields[0], "000120.00");
    EXPECT_EQ(gga[1602].fields[0], "000120.10");
    EXPECT_EQ(gga.back().fields[0], "000126.00");
    for (std::size_t i = 0; i < gga.size(); ++i) {
        EXPECT_NEAR(nmeaSeconds(gga[i].fields[0]), 0.05 * static_cast<double>(i), 1e-6);
        ASSERT_EQ(gga[i].fields[1] + gga[i].fields[2] + gga[i].fields[3] + gga[i].fields[4],
                  "5130.00000000N00015.00000000W");
    }
}

TEST(TextConversion, PairsRunAcrossLinesAndZeroLatitudeWritesNothing)
{
    // Read as (51,-1) (10,90) (0,52) (-2,20) (89,1): the pairing ignores the lines. With
    // no start period the first pair writes nothing at all.
    TextRun run("title\n51 -1 10 90 0\n52 -2 20 89 1\n");
    run.parameters.stationaryPeriodText = "0";
    run.parameters.stationaryPeriodEndText = "0";
    run.run();
    const auto gga = onlyType(parseNmeaFile(run.output()), "GGA");
    ASSERT_GE(gga.size(), 3u);
    const auto position = [](const ParsedSentence& s) { return s.fields[1] + s.fields[2] + s.fields[3] + s.fields[4]; };
    EXPECT_EQ(position(gga[0]), "1000.00000000N09000.00000000E");
    EXPECT_EQ(position(gga[1]), "0200.00000000S02000.00000000E");
    EXPECT_EQ(gga[1].fields[0], "000000.05");  // the pair with latitude 0 did not move the clock
    EXPECT_EQ(position(gga[2]), "8900.00000000N00100.00000000E");
    EXPECT_EQ(gga.back().fields[0], "000001.00");
}

TEST(TextConversion, SouthEastFields)
{
    TextRun run("title\r\n-33.5 151.25\r\n");
    run.parameters.stationaryPeriodText = "1";
    run.parameters.stationaryPeriodEndText = "0";
    run.run();
    EXPECT_EQ(readFileBytes(run.dir / "out.nmea").substr(0, 86),
              "$GPGGA,000000.00,3330.00000000,S,15115.00000000,E,1,05,2.87,160.00,M,-21.3213,M,,*61\r\n");
}

TEST(TextConversion, PreviewCountsStartAndPairsButNotTheEndPeriod)
{
    // 20 start samples and 4 pair samples are counted (24 < 50), so all 100 end-period
    // samples still join the preview without being counted; the run-out never does.
    TextRun run("t\n1 1\n1 1\n1 1\n1 1\n1 1\n");
    run.parameters.stationaryPeriodText = "1";
    const auto result = run.run();
    EXPECT_EQ(parseNmeaFile(result.previewText).size(), 124u);
    EXPECT_EQ(run.output().substr(0, result.previewText.size()), result.previewText);

    TextRun full("t\n1 1\n1 1\n");
    full.parameters.stationaryPeriodText = "5";  // 100 counted samples: the preview is full
    EXPECT_EQ(parseNmeaFile(full.run().previewText).size(), 50u);
}

TEST(TextConversion, TrailingBlankLinesMakeNoPhantomPair)
{
    TextRun plain("t\n10 10\n20 20");
    TextRun trailing("t\n10 10\n20 20\n\n \t \n\n");
    plain.run();
    trailing.run();
    EXPECT_EQ(plain.output(), trailing.output());
    EXPECT_TRUE(trailing.prompt.messages.empty());
}

TEST(TextConversionBadInput, NonNumberNamesItsLine)
{
    TextRun run("title\n51.5 -0.25\n51.5 x\n");
    try {
        run.run();
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("'x' on line 3 of"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(run.dir / "out.nmea"));
}

TEST(TextConversionBadInput, CoordinatesOffTheEarthAreRefusedNamingLineAndFile)
{
    // A time-first row of four numbers is not the timed layout (five numbers): read as
    // pairs, the time would be 85412 degrees of latitude.
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"UTC time Latitude Longitude Speed\n085412.00 51.5 -0.25 50\n", "'085412.00' on line 2 of '"},
        {"t\n51.5 -0.25\n51.5 -0.25\n-90.0001 0\n", "'-90.0001' on line 4 of '"},
        {"t\n51.5 -0.25\n\n51.5\n180.5\n", "'180.5' on line 5 of '"},
        {"t\n0 -181\n51.5 -0.25\n", "'-181' on line 2 of '"},  // a pair without a fix too
    };
    for (const auto& c : cases) {
        TextRun run(c.text);
        writeFileBytes(run.dir / "out.nmea", "keep me");
        try {
            run.run();
            ADD_FAILURE() << c.text;
        } catch (const Error& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(std::string(c.expected) + run.parameters.inputFileName + "'"), std::string::npos)
                << message;
            EXPECT_NE(message.find("nothing was written"), std::string::npos) << message;
        }
        EXPECT_EQ(run.output(), "keep me") << c.text;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(run.dir.path()), {}), 2) << c.text;
    }

    TextRun edges("t\n90 180\n-90 -180\n");  // the poles and the date line are on the earth
    edges.parameters.stationaryPeriodText = "0";
    edges.parameters.stationaryPeriodEndText = "0";
    edges.run();
    const auto gga = onlyType(parseNmeaFile(edges.output()), "GGA");
    ASSERT_FALSE(gga.empty());
    EXPECT_EQ(gga[0].fields[1] + gga[0].fields[2] + gga[0].fields[3] + gga[0].fields[4],
              "9000.00000000S18000.00000000W");
}

TEST(TextConversionBadInput, NoFixWritesNothing)
{
    for (const char* text : {"", "title only\n", "title\n0 5\n0 6\n", "title\n\n\n"}) {
        TextRun run(text);
        writeFileBytes(run.dir / "out.nmea", "keep me");
        EXPECT_THROW(run.run(), Error) << text;
        EXPECT_EQ(run.output(), "keep me");
    }
}

TEST(TextConversionBadInput, UnpairedLastNumberIgnoredWithNotice)
{
    TextRun run("t\n10 10\n20\n");
    run.parameters.stationaryPeriodText = "1";
    run.run();
    ASSERT_EQ(run.prompt.messages.size(), 1u);
    EXPECT_EQ(run.prompt.messages[0], "The last number ('20' on line 3) has no longitude and was ignored.");
    for (const auto& s : onlyType(parseNmeaFile(run.output()), "GGA")) EXPECT_EQ(s.fields[1], "1000.00000000");
}

TEST(TextConversion, CancelKeepsTheExistingFile)
{
    std::string text = "title\n";
    for (int i = 0; i < 20000; ++i) text += "51.5 -0.25\n";
    TextRun run(text);
    writeFileBytes(run.dir / "out.nmea", "kept");
    run.progress.cancelAfter = 1;
    EXPECT_THROW(run.run(), Cancelled);
    EXPECT_EQ(run.output(), "kept");
    EXPECT_EQ(run.progress.finished, 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(run.dir.path()), {}), 2) << "no scratch file left";
}

}  // namespace
}  // namespace trajix::test

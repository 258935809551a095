// The three subcommands run as a user runs them.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "convert_test_helpers.hpp"

namespace trajix::test {
namespace {

TEST(ConvertCli, KeloWritesSameBytesAsCoreAndPrintsRateThenPreview)
{
    TempDir dir;
    const std::string out = (dir / "out.nmea").string();
    const std::vector<std::string> args = {"kelo",  dataFile("convert/log10hz.kel").string(),
                                           "-o",    out,
                                           "--vtg", "--stationary-start",
                                           "1",     "--stationary-end",
                                           " 1"};
    auto result = runTrajix(args);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "10\n");
    EXPECT_EQ(readFileBytes(out), readFileBytes(dataFile("convert/log10hz_vtg.nmea")));

    auto withPreview = args;
    withPreview.push_back("--preview");
    result = runTrajix(withPreview);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string file = readFileBytes(out);
    // 10 start + 4 moving + 10 end samples of two lines each; the run-out is not previewed.
    std::size_t cut = 0;
    for (int line = 0; line < 48; ++line) cut = file.find("\r\n", cut) + 2;
    EXPECT_EQ(result.out, "10\nFirst 50 lines of output:\r\n" + file.substr(0, cut));
}

TEST(ConvertCli, KeloRefusalsExitOneAndWriteNothing)
{
    TempDir dir;
    std::string kel = kelText({"x", "1 123459.90 3000 60 0 0 0"});
    kel.erase(kel.find("[data]"), 6);
    writeFileBytes(dir / "bad.kel", kel);
    auto result = runTrajix({"kelo", (dir / "bad.kel").string(), "-o", (dir / "out.nmea").string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("trajix: error: "), std::string::npos);
    EXPECT_NE(result.err.find("no \"[data]\" line"), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.nmea"));

    writeFileBytes(dir / "nofix.kel",
                   kelText({"x", "1 123459.90 0 0 0 0 0", "2 123500.00 0 0 0 0 0", "3 123500.1 0 0 0 0 0"}));
    result = runTrajix({"kelo", (dir / "nofix.kel").string(), "-o", (dir / "out.nmea").string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("no data row with a fix"), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.nmea"));

    EXPECT_EQ(runTrajix({"kelo", (dir / "nofix.kel").string()}).exitCode, 2);
}

TEST(ConvertCli, Txt2NmeaUsesRateAndPeriods)
{
    TempDir dir;
    writeFileBytes(dir / "list.txt", "lat lon\n51.5 -0.25\n51.6 -0.25\n");
    const auto result = runTrajix({"txt2nmea", (dir / "list.txt").string(), "-o", (dir / "out.nmea").string(), "--rate",
                                   "10", "--stationary-start", "2", "--stationary-end", "0"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "");
    const auto gga = onlyType(parseNmeaFile(readFileBytes(dir / "out.nmea")), "GGA");
    ASSERT_EQ(gga.size(), 20u + 1u + 10u);  // run-out 000002.10 to 000003.00
    EXPECT_EQ(gga[20].fields[0], "000002.00");
    EXPECT_EQ(gga[20].fields[1], "5136.00000000");

    writeFileBytes(dir / "bad.txt", "lat lon\n51.5 -0.25\n51.6 -O.25\n");
    const auto bad = runTrajix({"txt2nmea", (dir / "bad.txt").string(), "-o", (dir / "bad.nmea").string()});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("'-O.25' on line 3"), std::string::npos) << bad.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.nmea"));

}

// Timed rows that break their layout, and a rate too fast for the time field: refused
// naming the value, line and file; an existing output stays as it was.
TEST(ConvertCli, Txt2NmeaRefusesBadTimedRowsAndLeavesTheOutput)
{
    TempDir dir;
    const std::string header = "UTC time Latitude Longitude Speed Heading\n";
    const std::string good = "085412.00 51.5 -0.25 50 90\n";
    struct Case {
        std::string rows, rate, expected;
    };
    const Case cases[] = {
        {good + "085413.00 51.5 -0.25 50\n", "20", "line 3 of '{}' holds 4 values"},
        {good + "085413.00 51.5 -0.25 50 400\n", "20", "'400' on line 3 of '{}' is not a heading"},
        {good + "085411.00 51.5 -0.25 50 90\n", "20", "time '085411.00' on line 3 of '{}' does not come after"},
        {good + "086013.00 51.5 -0.25 50 90\n", "20", "'086013.00' on line 3 of '{}' is not a time of day"},
        {good + "085413.00 91 -0.25 50 90\n", "20", "'91' on line 3 of '{}' is not a latitude"},
        {good, "20000", "output rate 20000 Hz is too high for the time field"},
        {good + "230000.00 51.5 -0.25 50 90\n090000.00 51.5 -0.25 50 90\n", "20",
         "the rows of '{}' span a day or more (to line 4)"},
    };
    for (const Case& c : cases) {
        const auto input = dir / "rows.txt";
        writeFileBytes(input, header + c.rows);
        writeFileBytes(dir / "out.nmea", "keep");
        const auto result =
            runTrajix({"txt2nmea", input.string(), "-o", (dir / "out.nmea").string(), "--rate", c.rate});
        EXPECT_EQ(result.exitCode, 1) << c.rows;
        const auto named = fmt::format(fmt::runtime(c.expected), input.string());
        EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
        EXPECT_EQ(readFileBytes(dir / "out.nmea"), "keep") << c.rows;
    }
}

TEST(ConvertCli, CorrectPrintsFinishedWithTheDerivedName)
{
    TempDir dir;
    const std::string input = (dir / "run.txt").string();
    writeFileBytes(input, "$GPVTG,x*00\n$GPGGA,y*00\n");
    auto result = runTrajix({"correct", input});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Finished - output file:" + (dir / "run_mod.txt").string() + "\n");
    EXPECT_EQ(readFileBytes(dir / "run_mod.txt"), "$GPGGA,y*00\r\n");

    // The whole extension goes, however long.
    writeFileBytes(dir / "log.nmea", "$GPGGA,z*00\n");
    result = runTrajix({"correct", (dir / "log.nmea").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Finished - output file:" + (dir / "log_mod.txt").string() + "\n");
    EXPECT_EQ(readFileBytes(dir / "log_mod.txt"), "$GPGGA,z*00\r\n");

    result = runTrajix({"correct", (dir / "absent.txt").string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("absent.txt"), std::string::npos);
    EXPECT_EQ(result.out, "");
}

}  // namespace
}  // namespace trajix::test

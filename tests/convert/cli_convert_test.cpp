// The three subcommands run as a user runs them.
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

    // The time-first layout pairs a time with the latitude: refused, not written.
    writeFileBytes(dir / "timed.txt", "UTC time Latitude Longitude Speed Heading\n085412.00 51.5 -0.25 50 90\n");
    const auto timed = runTrajix({"txt2nmea", (dir / "timed.txt").string(), "-o", (dir / "timed.nmea").string()});
    EXPECT_EQ(timed.exitCode, 1);
    EXPECT_NE(timed.err.find("trajix: error: '085412.00' on line 2 of '" + (dir / "timed.txt").string() +
                             "' is not a latitude"),
              std::string::npos)
        << timed.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "timed.nmea"));
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

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "replay/scan.hpp"
#include "replay_fixtures.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

ScanResult scanText(const TempDir& dir, std::string_view text, bool hdtGll = false)
{
    const auto path = dir / "scan.txt";
    writeFileBytes(path, text);
    const auto result = scanfile(path, hdtGll);
    EXPECT_TRUE(result.has_value());
    return result.value_or(ScanResult{});
}

TEST(ReplayScan, GgaOnlyFileGivesRateLengthTypeAndCount)
{
    TempDir dir;
    // 1201 lines at 20 Hz: the first line is passed over, so 1200 steps of 0.05 s.
    const auto scan = scanText(dir, crlfLines(fixLines(43200, 1201, 20, false)));
    ASSERT_TRUE(scan.measured) << scan.message;
    EXPECT_EQ(scan.rateText, "20");
    EXPECT_EQ(scan.lengthText, "File length : 60s");
    EXPECT_EQ(scan.typeText, "File type : GGA only");
    EXPECT_EQ(scan.count, 1200);
    EXPECT_FALSE(scan.replayHasExtraSentences);

    // The same lines with LF only, and without a line end after the last, count alike.
    std::string lf;
    for (const auto& line : fixLines(43200, 1201, 20, false)) lf += line + "\n";
    lf.pop_back();
    const auto scanLf = scanText(dir, lf);
    EXPECT_EQ(scanLf.count, 1200);
    EXPECT_EQ(scanLf.lengthText, "File length : 60s");
}

TEST(ReplayScan, GgaAndVtgPairsTakeTheIntervalFromLinesThreeAndFive)
{
    TempDir dir;
    auto lines = fixLines(43200, 50, 10, true);
    // Line 1 is never looked at: a first time far away must not change the interval.
    lines[0] = gga(1000);
    const auto scan = scanText(dir, crlfLines(lines));
    ASSERT_TRUE(scan.measured) << scan.message;
    EXPECT_TRUE(scan.replayHasExtraSentences);
    EXPECT_EQ(scan.typeText, "File type : GGA and VTG");
    EXPECT_EQ(scan.rateText, "10");
    // 100 lines: 2 found + 95 after line 5, halved.
    EXPECT_EQ(scan.count, 48);
    EXPECT_EQ(scan.lengthText, "File length : 4.8s");
}

TEST(ReplayScan, GllAndHdtFile)
{
    TempDir dir;
    std::vector<std::string> lines{"# header"};
    for (int i = 0; i < 40; ++i) {
        lines.push_back(gll(3600 + i * 0.2L));
        lines.push_back(hdt(i));
    }
    const auto scan = scanText(dir, crlfLines(lines), true);
    ASSERT_TRUE(scan.measured) << scan.message;
    EXPECT_EQ(scan.typeText, "File type : GLL and HDT");
    EXPECT_EQ(scan.rateText, "5");
    EXPECT_EQ(scan.count, 39);  // (2 + 77 lines after the second GLL) / 2
    EXPECT_EQ(scan.lengthText, "File length : 7.8s");
}

TEST(ReplayScan, GgaFileInGllModeWarnsAfterTenLines)
{
    TempDir dir;
    const auto scan = scanText(dir, crlfLines(fixLines(43200, 30, 20, false)), true);
    EXPECT_FALSE(scan.measured);
    EXPECT_EQ(scan.message, noGllMessage);
    // A GLL pair found after the tenth line is too late.
    auto lines = fixLines(43200, 11, 20, false);
    lines.push_back(gll(43300));
    lines.push_back(gll(43300.2L));
    EXPECT_EQ(scanText(dir, crlfLines(lines), true).message, noGllMessage);
}

TEST(ReplayScan, IntervalAcrossMinuteAndHourBoundaries)
{
    TempDir dir;
    // First fixes at 12:00:59.95 and 12:01:00.00; read as plain numbers they are 40.05 apart.
    const auto scan = scanText(dir, crlfLines(fixLines(43259.9L, 200, 20, false)));
    ASSERT_TRUE(scan.measured) << scan.message;
    EXPECT_EQ(scan.rateText, "20");
    EXPECT_NEAR(scan.interval, 0.05, 1e-9);

    EXPECT_NEAR(timeDifference(95959.95, 100000.00), 0.05, 1e-9);
    EXPECT_NEAR(timeDifference(95900.0, 100100.0), 120.0, 1e-9);
    // Within one minute the difference is the plain one, to the bit.
    for (double t : {123456.10, 101.25, 235958.0}) EXPECT_EQ(timeDifference(t, t + 0.95), (t + 0.95) - t);
}

TEST(ReplayScan, IntervalAcrossMidnightIsPositive)
{
    TempDir dir;
    // Logger files start the day again at 000000.00.
    std::vector<std::string> lines{"$GPGGA,235959.80,x", "$GPGGA,235959.90,x", "$GPGGA,000000.00,x",
                                   "$GPGGA,000000.10,x"};
    const auto scan = scanText(dir, crlfLines(lines));
    ASSERT_TRUE(scan.measured) << scan.message;
    EXPECT_EQ(scan.rateText, "10");
    EXPECT_NEAR(scan.interval, 0.1, 1e-9);
}

TEST(ReplayScan, NoRateMeasurableLeavesTextsEmptyWithAMessage)
{
    TempDir dir;
    const std::vector<std::string> cases[] = {
        {},                                                       // empty file
        {"header"},                                               // no sentence
        {"header", gga(100)},                                     // one GGA
        {"header", gga(100), gga(100), gga(100.05L)},             // equal times
        {"header", "$GPGGA,000000.00,x", gga(0.05L), gga(0.1L)},  // first time 000000.00
        {"header", "$GPVTG,a", "$GPVTG,b"},                       // no GGA at all
    };
    for (const auto& lines : cases) {
        const auto scan = scanText(dir, crlfLines(lines));
        EXPECT_FALSE(scan.measured) << crlfLines(lines);
        EXPECT_FALSE(scan.message.empty());
        EXPECT_TRUE(scan.rateText.empty());
        EXPECT_TRUE(scan.lengthText.empty());
        EXPECT_TRUE(scan.typeText.empty());
    }
}

TEST(ReplayScan, BadInputFailsWithTheTextAndLine)
{
    TempDir dir;
    writeFileBytes(dir / "bad.txt", "header\r\n$GPGGA,12x000.00,4807\r\n$GPGGA,120000.05\r\n");
    try {
        scanfile(dir / "bad.txt", false);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("'12x000.00'"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
    }
    // A GGA line without fields has an empty time.
    writeFileBytes(dir / "nofield.txt", "header\nGGA\nGGA\n");
    EXPECT_THROW(scanfile(dir / "nofield.txt", false), Error);

    EXPECT_FALSE(scanfile(dir / "missing.txt", false).has_value());
    EXPECT_FALSE(scanfile("", false).has_value());
    // A folder in place of a file, and binary noise, end with an error or no rate, never a crash.
    try {
        const auto folder = scanfile(dir.path(), false);
        if (folder) {
            EXPECT_FALSE(folder->measured);
        }
    } catch (const Error&) {
    }
    std::string noise;
    for (int i = 0; i < 5000; ++i) noise += static_cast<char>((i * 7919) % 256);
    writeFileBytes(dir / "noise.bin", noise);
    try {
        const auto scan = scanfile(dir / "noise.bin", false);
        ASSERT_TRUE(scan.has_value());
        EXPECT_FALSE(scan->measured);
    } catch (const Error&) {
    }
}

}  // namespace
}  // namespace trajix::test

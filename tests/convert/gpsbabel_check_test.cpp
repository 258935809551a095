// gpsbabel, an independent NMEA reader, decodes the written files to the positions,
// speeds, courses and times that went in.
#include <algorithm>
#include <cmath>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>

#include "convert/kelo_import.hpp"
#include "convert/text_conversion.hpp"
#include "convert_test_helpers.hpp"

namespace trajix::test {
namespace {

constexpr const char* gpsbabel = "/usr/bin/gpsbabel";

struct Fix {
    double latitude = 0, longitude = 0, speedMetresPerSecond = 0, course = 0, seconds = 0;
};

std::vector<std::string> splitCsv(std::string line)
{
    if (!line.empty() && line.back() == '\r') line.pop_back();  // unicsv ends lines with CR LF
    std::vector<std::string> cells;
    std::stringstream stream(line);
    std::string cell;
    while (std::getline(stream, cell, ',')) cells.push_back(cell);
    return cells;
}

// Reads a file through "gpsbabel -t -i nmea -o unicsv"; the columns present depend on
// the sentences, so they are found by their names.
std::vector<Fix> readWithGpsbabel(const std::filesystem::path& nmea)
{
    const auto result =
        runProgram(gpsbabel, {"-t", "-i", "nmea,date=20240101", "-f", nmea.string(), "-o", "unicsv,utc=0", "-F", "-"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::vector<Fix> fixes;
    std::istringstream lines(result.out);
    std::string line;
    std::getline(lines, line);
    const auto names = splitCsv(line);
    const auto column = [&](const std::string& name) {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) return static_cast<int>(i);
        return -1;
    };
    const int latitude = column("Latitude"), longitude = column("Longitude"), speed = column("Speed"),
              course = column("Course"), time = column("Time");
    EXPECT_TRUE(latitude >= 0 && longitude >= 0 && time >= 0) << line;
    while (std::getline(lines, line)) {
        const auto cells = splitCsv(line);
        if (cells.size() != names.size()) {
            ADD_FAILURE() << "unexpected gpsbabel line: " << line;
            continue;
        }
        Fix fix;
        fix.latitude = std::stod(cells[latitude]);
        fix.longitude = std::stod(cells[longitude]);
        if (speed >= 0) fix.speedMetresPerSecond = std::stod(cells[speed]);
        if (course >= 0) fix.course = std::stod(cells[course]);
        const std::string& clock = cells[time];
        fix.seconds =
            std::stoi(clock.substr(0, 2)) * 3600.0 + std::stoi(clock.substr(3, 2)) * 60.0 + std::stod(clock.substr(6));
        fixes.push_back(fix);
    }
    return fixes;
}

TEST(IndependentNmeaCheck, LoggerOutputDecodesToTheLog)
{
    TRAJIX_REQUIRE_TOOLS(gpsbabel);
    TempDir dir;
    convert::KeloParameters parameters;
    parameters.inputFileName = dataFile("convert/log10hz.kel").string();
    parameters.outputFileName = (dir / "out.nmea").string();
    parameters.vtg = true;
    parameters.stationaryPeriodText = "1";
    parameters.stationaryPeriodEndText = "1";
    ScriptedPrompt prompt;
    NullProgress progress;
    convert::loadKelFile(parameters, prompt, progress);

    const auto fixes = readWithGpsbabel(dir / "out.nmea");
    ASSERT_EQ(fixes.size(), 31u);
    struct Expected {
        double latitude, longitude, kmh, course;
    };
    // Rows 5, 6, 8 and 9 of the log: minutes / 60, west positive in the log.
    const Expected moving[] = {{3000.01 / 60, -60.01 / 60, 12.5, 10},
                               {3000.02 / 60, -60.02 / 60, 25, 0},
                               {3000.03 / 60, 0.5 / 60, 36.2, 180},
                               {-33.5, -1.5, 100.004, 271.5}};
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        Expected expected{50, -1, 0, 10};
        if (i >= 10 && i < 14) expected = moving[i - 10];
        if (i >= 14) expected = {-33.5, -1.5, 0, 271.5};
        const double toleranceDegrees = 1e-6;  // gpsbabel prints six decimals
        EXPECT_NEAR(fixes[i].latitude, expected.latitude, toleranceDegrees) << i;
        EXPECT_NEAR(fixes[i].longitude, expected.longitude, toleranceDegrees) << i;
        EXPECT_NEAR(fixes[i].speedMetresPerSecond, expected.kmh / 3.6, 0.006) << i;
        EXPECT_NEAR(fixes[i].course, expected.course, 0.051) << i;
        EXPECT_NEAR(fixes[i].seconds, 35999 + 0.1 * static_cast<double>(i), 1e-3) << i;
    }
}

TEST(IndependentNmeaCheck, TextOutputDecodesToThePairs)
{
    TRAJIX_REQUIRE_TOOLS(gpsbabel);
    TempDir dir;
    writeFileBytes(dir / "list.txt", "UTC time Latitude Longitude Speed Heading\n51.5 -0.25\n-12.345678 130.987654\n");
    convert::TextConversionParameters parameters;
    parameters.inputFileName = (dir / "list.txt").string();
    parameters.outputFileName = (dir / "out.nmea").string();
    parameters.stationaryPeriodText = "1";
    parameters.stationaryPeriodEndText = "0";
    ScriptedPrompt prompt;
    NullProgress progress;
    convert::convertTextFile(parameters, prompt, progress);

    const auto fixes = readWithGpsbabel(dir / "out.nmea");
    ASSERT_EQ(fixes.size(), 20u + 1u + 20u);
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        const bool first = i < 20;
        EXPECT_NEAR(fixes[i].latitude, first ? 51.5 : -12.345678, 1e-6) << i;
        EXPECT_NEAR(fixes[i].longitude, first ? -0.25 : 130.987654, 1e-6) << i;
        EXPECT_NEAR(fixes[i].seconds, 0.05 * static_cast<double>(i), 1e-3) << i;
    }
}

// The layout the Settings tab promises: time, latitude, longitude, speed, heading. Rows
// are written at their own times, resampled between them, their speed and heading in VTG.
TEST(IndependentNmeaCheck, TimedRowsDecodeToTheRowsAtTheirTimes)
{
    TRAJIX_REQUIRE_TOOLS(gpsbabel);
    TempDir dir;
    // The heading turns through north between the last two rows; the clock passes a minute.
    writeFileBytes(dir / "rows.txt",
                   "UTC time Latitude Longitude Speed Heading\r\n"
                   "120059.00 -33.500000 151.250000 30.0 350.0\r\n"
                   "120100.00 -33.500100 151.250200 40.0 10.0\r\n\r\n"
                   "120101.50 -33.500400 151.250500 10.0 20.0\r\n");
    convert::TextConversionParameters parameters;
    parameters.inputFileName = (dir / "rows.txt").string();
    parameters.outputFileName = (dir / "out.nmea").string();
    parameters.sampleRateText = "4";
    parameters.stationaryPeriodText = "1";
    parameters.stationaryPeriodEndText = "0";
    ScriptedPrompt prompt;
    NullProgress progress;
    convert::convertTextFile(parameters, prompt, progress);

    const auto fixes = readWithGpsbabel(dir / "out.nmea");
    // One second at rest before the first row, rows from 12:00:59.00 to 12:01:01.50 every
    // 0.25 s, then the run-out to 12:01:02.
    ASSERT_EQ(fixes.size(), 4u + 11u + 2u);
    struct Row {
        double seconds, latitude, longitude, kmh, heading;
    };
    const Row rows[] = {{43259, -33.5, 151.25, 30, 350}, {43260, -33.5001, 151.2502, 40, 10},
                        {43261.5, -33.5004, 151.2505, 10, 20}};
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        const double t = 43258 + 0.25 * static_cast<double>(i);
        EXPECT_NEAR(fixes[i].seconds, t, 1e-3) << i;
        const std::size_t k = t < 43260 ? 0 : 1;
        const double f = std::clamp((t - rows[k].seconds) / (rows[k + 1].seconds - rows[k].seconds), 0.0, 1.0);
        EXPECT_NEAR(fixes[i].latitude, rows[k].latitude + f * (rows[k + 1].latitude - rows[k].latitude), 1e-6) << i;
        EXPECT_NEAR(fixes[i].longitude, rows[k].longitude + f * (rows[k + 1].longitude - rows[k].longitude), 1e-6)
            << i;
        const bool moving = t >= 43259 && t <= 43261.5;
        const double kmh = moving ? rows[k].kmh + f * (rows[k + 1].kmh - rows[k].kmh) : 0;
        EXPECT_NEAR(fixes[i].speedMetresPerSecond, kmh / 3.6, 0.006) << i;
        // Headings go the short way round: 350 to 10 passes 0, never 180.
        const double turn = k == 0 ? 20 : 10;
        const double heading = std::fmod(rows[k].heading + f * turn + 360, 360);
        const double off = std::fabs(std::remainder(fixes[i].course - heading, 360.0));
        if (i >= 4) {
            EXPECT_LT(off, 0.051) << i << " course " << fixes[i].course;
        }
    }
}

// With RMC and ZDA the file carries its own date: gpsbabel reads it without being told.
TEST(IndependentNmeaCheck, LoggerAndTextOutputsCarryTheGivenDate)
{
    TRAJIX_REQUIRE_TOOLS(gpsbabel);
    TempDir dir;
    convert::KeloParameters logger;
    logger.inputFileName = dataFile("convert/log10hz.kel").string();
    logger.outputFileName = (dir / "log.nmea").string();
    logger.vtg = true;
    logger.stationaryPeriodText = "1";
    logger.stationaryPeriodEndText = "1";
    logger.dates = {true, true, CalendarDate{2025, 6, 30}};
    ScriptedPrompt prompt;
    NullProgress progress;
    convert::loadKelFile(logger, prompt, progress);

    writeFileBytes(dir / "list.txt", "title\n51.5 -0.25\n-12.345678 130.987654\n");
    convert::TextConversionParameters text;
    text.inputFileName = (dir / "list.txt").string();
    text.outputFileName = (dir / "list.nmea").string();
    text.stationaryPeriodText = "1";
    text.stationaryPeriodEndText = "0";
    text.dates = {true, false, CalendarDate{2099, 12, 31}};
    convert::convertTextFile(text, prompt, progress);

    for (const auto& [file, date, count] :
         {std::tuple{"log.nmea", "2025/06/30", 31}, {"list.nmea", "2099/12/31", 41}}) {
        const auto result =
            runProgram(gpsbabel, {"-t", "-i", "nmea", "-f", (dir / file).string(), "-o", "unicsv,utc=0", "-F", "-"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        std::istringstream lines(result.out);
        std::string line;
        std::getline(lines, line);
        const auto names = splitCsv(line);
        const auto dateColumn = static_cast<std::size_t>(std::find(names.begin(), names.end(), "Date") - names.begin());
        ASSERT_LT(dateColumn, names.size()) << file << ": " << line;
        int rows = 0;
        while (std::getline(lines, line)) {
            EXPECT_EQ(splitCsv(line).at(dateColumn), date) << file << ": " << line;
            ++rows;
        }
        EXPECT_EQ(rows, count) << file;
    }
    // The logger's RMC carries VTG's speed and course; the text list's carries rest.
    const std::string log = readFileBytes(dir / "log.nmea");
    EXPECT_NE(log.find("$GPRMC,100000.00,A,5000.01000000,N,00100.01000000,W,6.749,10.00,300625,,,A*"),
              std::string::npos);
    EXPECT_NE(log.find("$GPVTG,10.00,T,,M,6.749,N,12.500,K,A*"), std::string::npos);
    EXPECT_NE(readFileBytes(dir / "list.nmea")
                  .find("$GPRMC,000000.00,A,5130.00000000,N,00015.00000000,W,0.000,0.00,311299,,,A*"),
              std::string::npos);
}

}  // namespace
}  // namespace trajix::test

// Route files with RMC and ZDA: the golden file, and two independent readers (gpsbabel's
// NMEA reader and gpsd through a pseudo-terminal) that read back the samples' times on
// the given date, and VTG's speeds and courses.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <fmt/format.h>

#include "route/route.hpp"
#include "test_support.hpp"

using namespace trajix;
using namespace trajix::route;
using trajix::test::dataFile;
using trajix::test::readFileBytes;
using trajix::test::runProgram;
using trajix::test::runTrajix;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator)) parts.push_back(part);
    return parts;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::string line : split(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// One sample of a written file: its sentences' fields, and what it should carry.
struct Sample {
    std::vector<std::string> gga, rmc, vtg;
    std::string isoTime;  ///< expected UTC instant, "YYYY-MM-DDThh:mm:ss.cc"
};

// The samples of the dated corner route: 20 Hz from 23:59:50 on 31 December 2026.
constexpr double rate = 20;
constexpr double startTime = 86390;

RouteParameters datedCorner()
{
    RouteParameters p;
    p.outputRate = rate;
    p.stationaryStart = 1;
    p.stationaryEnd = 1;
    p.maxSpeedKmh = 60;
    p.startTime = startTime;
    p.writeVtg = true;
    p.dates = {true, true, CalendarDate{2026, 12, 31}};
    return p;
}

// The expected instant of sample k, counted in whole centiseconds from the start.
std::string expectedInstant(std::size_t k)
{
    const long long centiseconds = std::llround(startTime * 100) + static_cast<long long>(k) * 100 / 20;
    const long long ofDay = centiseconds % 8640000;
    const std::string day = centiseconds < 8640000 ? "2026-12-31" : "2027-01-01";
    return fmt::format("{}T{:02}:{:02}:{:02}.{:02}", day, ofDay / 360000, ofDay / 6000 % 60, ofDay / 100 % 60,
                       ofDay % 100);
}

std::vector<Sample> samplesOf(const std::string& nmea)
{
    std::vector<Sample> samples;
    for (const std::string& line : linesOf(nmea)) {
        const auto fields = split(line.substr(0, line.find('*')), ',');
        if (fields.empty()) continue;
        if (fields[0] == "$GPGGA") {
            samples.emplace_back();
            samples.back().gga = fields;
            samples.back().isoTime = expectedInstant(samples.size() - 1);
        } else if (fields[0] == "$GPRMC") {
            samples.back().rmc = fields;
        } else if (fields[0] == "$GPVTG") {
            samples.back().vtg = fields;
        }
    }
    return samples;
}

std::string writeDatedCorner(const TempDir& dir)
{
    NullProgress progress;
    trajix::test::ScriptedPrompt prompt;
    LoadKML(dataFile("route/corner.kml"), datedCorner(), dir / "dated.nmea", progress, prompt);
    return readFileBytes(dir / "dated.nmea");
}

}  // namespace

TEST(DatedRoute, GoldenFileAt20HzAcrossMidnightAndTheYearEnd)
{
    TempDir dir;
    const std::string written = writeDatedCorner(dir);
    const auto expectedPath = dataFile("route/corner_dated_20hz.nmea");
    if (std::getenv("TRAJIX_REGENERATE_GOLDEN")) writeFileBytes(expectedPath, written);
    EXPECT_TRUE(written == readFileBytes(expectedPath)) << "corner_dated_20hz.nmea differs";

    // Fixed order per sample: GGA, RMC, VTG, then ZDA on the first sample of a second.
    const auto lines = linesOf(written);
    std::size_t zdas = 0;
    for (std::size_t i = 0; i < lines.size();) {
        ASSERT_EQ(lines[i].substr(0, 6), "$GPGGA") << i;
        ASSERT_EQ(lines[i + 1].substr(0, 6), "$GPRMC") << i;
        ASSERT_EQ(lines[i + 2].substr(0, 6), "$GPVTG") << i;
        const std::string time = lines[i].substr(7, 9);
        i += 3;
        if (time.substr(7) == "00") {
            ASSERT_EQ(lines.at(i).substr(0, 16), "$GPZDA," + time) << i;
            ++zdas;
            ++i;
        }
    }
    EXPECT_EQ(zdas, 28u);  // 23:59:50 to 00:00:17: at rest, driving, at rest, the run-out
}

TEST(DatedRoute, ADateAloneOnlyWrapsTheTimes)
{
    TempDir dir;
    RouteParameters p = datedCorner();
    p.writeVtg = false;
    p.dates = {false, false, CalendarDate{2026, 12, 31}};
    p.outputRate = 5;
    NullProgress progress;
    trajix::test::ScriptedPrompt prompt;
    LoadKML(dataFile("route/corner.kml"), p, dir / "a.nmea", progress, prompt);
    p.dates = {};
    LoadKML(dataFile("route/corner.kml"), p, dir / "b.nmea", progress, prompt);
    const auto dated = linesOf(readFileBytes(dir / "a.nmea"));
    const auto undated = linesOf(readFileBytes(dir / "b.nmea"));
    ASSERT_EQ(dated.size(), undated.size());
    int wrapped = 0;
    for (std::size_t i = 0; i < dated.size(); ++i) {
        if (dated[i] == undated[i]) continue;
        // Only the hours differ, by 24, and the checksum with them.
        ASSERT_EQ(undated[i].substr(7, 2), "24") << undated[i];
        EXPECT_EQ(dated[i].substr(7, 2), "00") << dated[i];
        EXPECT_EQ(dated[i].substr(9, dated[i].find('*') - 9), undated[i].substr(9, undated[i].find('*') - 9));
        ++wrapped;
    }
    EXPECT_GT(wrapped, 50);
}

TEST(DatedRoute, GpsbabelReadsTheDatesTimesSpeedsAndCourses)
{
    const std::string gpsbabel = "/usr/bin/gpsbabel";
    TRAJIX_REQUIRE_TOOLS(gpsbabel);
    TempDir dir;
    const auto samples = samplesOf(writeDatedCorner(dir));
    // No date option: the dates come from the file's RMC sentences.
    const auto result = runProgram(
        gpsbabel, {"-t", "-i", "nmea", "-f", (dir / "dated.nmea").string(), "-o", "unicsv,utc=0", "-F", "-"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto lines = linesOf(result.out);
    const auto names = split(lines.at(0), ',');
    std::map<std::string, std::size_t> column;
    for (std::size_t i = 0; i < names.size(); ++i) column[names[i]] = i;
    ASSERT_TRUE(column.count("Date") && column.count("Time") && column.count("Speed") && column.count("Course"))
        << lines[0];
    ASSERT_EQ(lines.size() - 1, samples.size());
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const auto cells = split(lines[k + 1], ',');
        // gpsbabel prints 2026/12/31 and 23:59:50.050, dropping a fraction of zero.
        std::string date = cells[column["Date"]];
        std::replace(date.begin(), date.end(), '/', '-');
        std::string time = cells[column["Time"]];
        if (time.size() == 8) time += ".000";
        const std::string& expected = samples[k].isoTime;
        EXPECT_EQ(date + "T" + time.substr(0, 11), expected) << k;
        EXPECT_EQ(time.substr(11), "0") << k;
        const double vtgKnots = std::stod(samples[k].vtg[5]);
        EXPECT_NEAR(std::stod(cells[column["Speed"]]), vtgKnots * 1852 / 3600, 0.0051) << k;
        EXPECT_NEAR(std::stod(cells[column["Course"]]), std::stod(samples[k].vtg[1]), 0.051) << k;
    }
}

TEST(DatedRoute, GpsdThroughAPseudoTerminalReportsTheDateTimeSpeedAndCourse)
{
    TRAJIX_REQUIRE_TOOLS("/usr/sbin/gpsd", "/usr/bin/gpspipe", "/usr/bin/socat");
    TempDir dir;
    const auto samples = samplesOf(writeDatedCorner(dir));
    std::map<std::string, const Sample*> byInstant;
    for (const Sample& s : samples) byInstant[s.isoTime] = &s;

    const auto result = runProgram(
        "/bin/sh", {dataFile("../support/gpsd_read.sh").string(), (dir / "dated.nmea").string(), dir.path().string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::size_t reports = 0;
    for (const std::string& line : linesOf(result.out)) {
        if (line.find("\"class\":\"TPV\"") == std::string::npos) continue;
        const auto value = [&](const std::string& key) {
            const auto at = line.find("\"" + key + "\":");
            if (at == std::string::npos) return std::string();
            const auto start = at + key.size() + 3;
            return line.substr(start, line.find_first_of(",}", start) - start);
        };
        std::string time = value("time");
        if (time.empty()) continue;           // the first GGA, before any RMC has given the year
        ASSERT_EQ(time.size(), 26u) << line;  // "2026-12-31T23:59:50.050Z"
        const std::string instant = time.substr(1, 22);
        ASSERT_TRUE(byInstant.count(instant)) << line;
        const Sample& sample = *byInstant[instant];
        EXPECT_EQ(time.substr(23, 1), "0") << line;
        EXPECT_NEAR(std::stod(value("speed")), std::stod(sample.vtg[5]) * 1852 / 3600, 0.0006) << line;
        EXPECT_NEAR(std::stod(value("track")), std::stod(sample.vtg[1]), 0.0001) << line;
        ++reports;
    }
    // Every sample reported with its time once gpsd had a date (all but the first).
    EXPECT_GE(reports, samples.size() - 1);
}

TEST(DatedRoute, CommandLineDatesAndRefusals)
{
    TempDir dir;
    const std::string kml = dataFile("route/corner.kml").string();
    const auto out = dir / "out.nmea";
    const std::vector<std::string> base{"route", kml, "-o", out.string(), "--stationary-start", "1", "--speed", "60"};
    const auto with = [&](std::vector<std::string> extra) {
        auto args = base;
        args.insert(args.end(), extra.begin(), extra.end());
        return runTrajix(args);
    };

    // The default date is today's UTC date.
    const auto today = [] {
        const auto now = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
        const std::chrono::year_month_day ymd{now};
        return fmt::format("{:02}{:02}{:02}", static_cast<unsigned>(ymd.day()), static_cast<unsigned>(ymd.month()),
                           static_cast<int>(ymd.year()) % 100);
    };
    const std::string before = today();
    auto r = with({"--rmc"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto rmc = split(linesOf(readFileBytes(out)).at(1), ',');
    ASSERT_EQ(rmc.at(0), "$GPRMC");
    EXPECT_TRUE(rmc.at(9) == before || rmc.at(9) == today()) << rmc.at(9);

    // Refused before anything is written: the existing file stays as it was.
    writeFileBytes(out, "keep me");
    for (const auto& [date, message] :
         std::vector<std::pair<std::string, std::string>>{{"2026-02-29", "date '2026-02-29' is not a calendar date"},
                                                          {"1980-01-05", "date 1980-01-05 lies before 1980-01-06"},
                                                          {"2100-01-01", "date 2100-01-01 lies after 2099"},
                                                          {"31.12.2026", "date '31.12.2026' is not"}}) {
        r = with({"--zda", "--date", date});
        EXPECT_EQ(r.exitCode, 1) << date;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(readFileBytes(out), "keep me") << date;
    }
    // A date without RMC or ZDA is a usage error.
    r = with({"--date", "2026-12-31"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--rmc, --zda or --sky"), std::string::npos) << r.err;
    EXPECT_EQ(readFileBytes(out), "keep me");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no stray temporaries
}

// The replay takes a file with RMC and ZDA as a receiver log and plays it by epoch: one
// step per sample, whatever number of sentences the sample holds.
TEST(DatedRoute, TheReplayPlaysADatedFileByEpoch)
{
    for (const auto& [file, rate, steps] :
         {std::tuple{"route/corner_dated_20hz.nmea", "20", "541"}, {"script/turns_3hz_dated.nmea", "3.03", "61"}}) {
        const auto r = runTrajix({"scan", dataFile(file).string()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find(std::string("Output rate (Hz) : ") + rate + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("RMC"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(std::string("Steps : ") + steps + "\n"), std::string::npos) << r.out;
    }
}

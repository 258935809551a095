#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "common/error.hpp"
#include "nmea/sentences.hpp"
#include "script_fixture.hpp"

namespace trajix::test {
namespace {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find("\r\n", begin);
        EXPECT_NE(end, std::string::npos) << "every sentence ends with CR LF";
        if (end == std::string::npos) break;
        result.push_back(text.substr(begin, end - begin));
        begin = end + 2;
    }
    return result;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

constexpr auto fields = test::nmeaFields;

struct Written {
    std::vector<std::string> sentences;
    ScriptRun run;
};

void writeScript(Written& w, std::string_view script, double rate = 20, bool hdt = false)
{
    TempDir dir;
    w.run.options.outputRate = rate;
    w.run.options.hdtAndGll = hdt;
    const auto result = w.run.run(script, (dir / "out.nmea").string());
    ASSERT_EQ(result.outcome, ScriptOutcome::Written);
    w.sentences = lines(readFileBytes(dir / "out.nmea"));
    EXPECT_EQ(result.sentences, static_cast<std::int64_t>(w.sentences.size()));
}

std::vector<std::string> times(const std::vector<std::string>& sentences)
{
    std::vector<std::string> result;
    for (const auto& s : sentences) result.push_back(fields(s).at(1));
    return result;
}

TEST(ScriptWriter, EveryFiftiethStepAt20HzFromTheStartPoint)
{
    Written w;
    writeScript(w, "lat=51.5\nlong=-0.1\nvel=36\nwait 2s\n.end\n");
    ASSERT_EQ(w.sentences.size(), 41u);  // 40 samples and one run-out copy
    EXPECT_EQ(w.sentences[0], "$GPGGA,090000.00,5130.00000000,N,00006.00000000,W,1,05,2.87,.00,M,-21.3213,M,,*53");
    EXPECT_EQ(fields(w.sentences[39]).at(1), "090001.95");
    EXPECT_EQ(fields(w.sentences[40]).at(1), "090002.00");
    EXPECT_EQ(fields(w.sentences[40]).at(2), fields(w.sentences[39]).at(2));  // a copy of the last fix
    // The second fix lies 50 steps (0.5 m) north of the first.
    GeoState geo;
    setLocalOrigin(geo, 51.5L, -0.1L, 0);
    ENUtoECEF(geo, 0, 0.5f, 0);
    ECEFToLatLong(geo, geo.ecefX, geo.ecefY, geo.ecefZ);
    EXPECT_EQ(fields(w.sentences[1]).at(2), formatNmeaLatitude(geo.geoLatitude).text);
}

TEST(ScriptWriter, ThreeHertzUsesTheRoundedStrideAndTheExactClock)
{
    Written w;
    writeScript(w, "vel=36\nwait 2s\n.end\n", 3);
    EXPECT_EQ(times(w.sentences),
              (std::vector<std::string>{"090000.00", "090000.33", "090000.67", "090001.00", "090001.33", "090001.67",
                                        "090002.00", "090002.33", "090002.67", "090003.00"}));
    // Positions step by 333 ms: sample 7 is 1998 steps (19.98 m) north.
    GeoState geo;
    setLocalOrigin(geo, 0, 0, 0);
    ENUtoECEF(geo, 0, static_cast<float>(19.98), 0);
    ECEFToLatLong(geo, geo.ecefX, geo.ecefY, geo.ecefZ);
    EXPECT_EQ(fields(w.sentences[6]).at(2), formatNmeaLatitude(geo.geoLatitude).text);
    EXPECT_EQ(sampleStrideForRate(3), 333);
    EXPECT_EQ(sampleStrideForRate(20), 50);
    EXPECT_EQ(sampleStrideForRate(1000), 1);
    EXPECT_THROW(sampleStrideForRate(2001), Error);
    // A rate so low that its stride would overflow is refused, not cast.
    for (const double rate : {1e-20, 1e-300, 5e-324}) EXPECT_THROW(sampleStrideForRate(rate), Error) << rate;
    EXPECT_GT(sampleStrideForRate(1e-9), 0);
}

TEST(ScriptWriter, RunOutEndsOffTheGridAndOnlyInGgaMode)
{
    Written offGrid;
    writeScript(offGrid, "time=100.01\nwait 1s\n.end\n");
    ASSERT_EQ(offGrid.sentences.size(), 21u);
    EXPECT_EQ(fields(offGrid.sentences[19]).at(1), "000140.96");
    EXPECT_EQ(fields(offGrid.sentences[20]).at(1), "000141.01");

    Written hdt;
    writeScript(hdt, "hdg=-90@9s\nwait 0.5s\n.end\n", 20, true);
    ASSERT_EQ(hdt.sentences.size(), 2u * 190);
    EXPECT_EQ(hdt.sentences[0].rfind("$GPGLL,090000.00,", 0), 0u);
    EXPECT_EQ(hdt.sentences.back() + "\r\n", finishSentence("$GPHDT,270.000,T*"));
    EXPECT_EQ(fields(hdt.sentences[hdt.sentences.size() - 2]).at(1), "090009.45");
}

TEST(ScriptWriter, HeightPictureDropsTheZeroIntegerAndKeepsTheSign)
{
    auto altitude = [](std::string_view script) {
        Written w;
        writeScript(w, script);
        return fields(w.sentences.at(0)).at(9);
    };
    EXPECT_EQ(altitude("height=0.5\nwait 1s\n"), ".50");
    EXPECT_EQ(altitude("height=-5\nwait 1s\n"), "-5.00");
    EXPECT_EQ(altitude("height=-0.001\nwait 1s\n"), ".00");
    EXPECT_EQ(altitude("height=1234.567\nwait 1s\n"), "1234.57");
}

TEST(ScriptWriter, NextRunStartsWhereTheLastWrittenSampleLay)
{
    Written first;
    writeScript(first, "lat=10\nlong=20\nhdg=45\nvel=72\nwait 10s\n.end\n");
    ScriptRun& r = first.run;
    // The second run sets no start point: it starts at the last written fix.
    Written second;
    second.run.state = r.state;
    writeScript(second, "wait 1s\n.end\n");
    const auto last = fields(first.sentences.back());
    const auto start = fields(second.sentences.front());
    EXPECT_EQ(start.at(1), "090000.00");
    EXPECT_EQ(start.at(2), last.at(2));
    EXPECT_EQ(start.at(4), last.at(4));
    EXPECT_NE(start.at(2), "1000.00000000");
}

// Golden files: tests/data/script/<script> run through the command line. Set
// TRAJIX_REGENERATE_GOLDEN=1 to rewrite the expected files.
void expectGolden(const std::string& script, const std::string& expected, const std::vector<std::string>& flags)
{
    TempDir dir;
    std::vector<std::string> args{"script", dataFile("script/" + script).string(), "-o", (dir / "out.nmea").string()};
    args.insert(args.end(), flags.begin(), flags.end());
    const auto result = runTrajix(args);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string written = readFileBytes(dir / "out.nmea");
    if (std::getenv("TRAJIX_REGENERATE_GOLDEN")) writeFileBytes(dataFile("script/" + expected), written);
    EXPECT_TRUE(written == readFileBytes(dataFile("script/" + expected))) << expected << " differs";
}

TEST(ScriptGolden, DriveAt20Hz)
{
    expectGolden("drive.txt", "drive_20hz.nmea", {});
}
TEST(ScriptGolden, TurnsAt3HzAcrossMidnight)
{
    expectGolden("turns.txt", "turns_3hz.nmea", {"--rate", "3"});
}
TEST(ScriptGolden, TurnsAt3HzWithRmcAndZdaAcrossMidnight)
{
    expectGolden("turns.txt", "turns_3hz_dated.nmea", {"--rate", "3", "--rmc", "--zda", "--date", "2026-12-31"});
}
TEST(ScriptGolden, TurnsAsGllAndHdtAt5Hz)
{
    expectGolden("turns.txt", "turns_hdt_5hz.nmea", {"--rate", "5", "--hdt-gll"});
}

// Read back by gpsbabel's NMEA reader: the samples' times on the given date, the date
// advancing at midnight, and the script's speed; GLL mode gets RMC after GLL and HDT.
TEST(ScriptDates, GpsbabelReadsTheDatesOfA3HzFileAndGllModeKeepsItsOrder)
{
    TempDir dir;
    const auto out = (dir / "out.nmea").string();
    auto result = runTrajix({"script", dataFile("script/turns.txt").string(), "-o", out, "--rate", "3", "--rmc",
                             "--zda", "--date", "2024-02-28"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string gpsbabel = "/usr/bin/gpsbabel";
    TRAJIX_REQUIRE_TOOLS(gpsbabel);
    {
        result = runProgram(gpsbabel, {"-t", "-i", "nmea", "-f", out, "-o", "unicsv,utc=0", "-F", "-"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const auto rows = lines(result.out);
        std::vector<std::vector<std::string>> rmcs;
        for (const auto& sentence : lines(readFileBytes(out)))
            if (sentence.rfind("$GPRMC", 0) == 0) rmcs.push_back(fields(sentence));
        ASSERT_EQ(rows.size(), 1 + rmcs.size());
        ASSERT_EQ(rmcs.size(), 61u);
        const auto names = fields(rows[0]);
        const auto column = [&](const std::string& name) {
            return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
        };
        // The clock starts at 23:59:59 (time=86399) and the samples are 1/3 s apart.
        for (std::size_t k = 0; k < rmcs.size(); ++k) {
            const auto cells = fields(rows[k + 1]);
            const long long centiseconds = 8639900 + std::llround(static_cast<double>(k) * 100 / 3);
            EXPECT_EQ(cells.at(column("Date")), centiseconds < 8640000 ? "2024/02/28" : "2024/02/29") << k;
            const std::string time = cells.at(column("Time"));
            const double seconds =
                std::stoi(time.substr(0, 2)) * 3600.0 + std::stoi(time.substr(3, 2)) * 60.0 + std::stod(time.substr(6));
            EXPECT_NEAR(seconds, static_cast<double>(centiseconds % 8640000) / 100, 1e-6) << k << " " << time;
            EXPECT_NEAR(std::stod(cells.at(column("Speed"))), std::stod(rmcs[k][7]) * 1852 / 3600, 0.0051) << k;
        }
        EXPECT_EQ(rmcs.front()[7], "019.438");  // 36 km/h
        EXPECT_EQ(rmcs.back()[7], "000.000");   // the run-out is at rest
    }

    result = runTrajix({"script", dataFile("script/turns.txt").string(), "-o", out, "--rate", "5", "--hdt-gll", "--rmc",
                        "--zda", "--date", "2026-12-31"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto sentences = lines(readFileBytes(out));
    std::size_t i = 0, samples = 0;
    while (i < sentences.size()) {
        ASSERT_EQ(sentences[i].substr(0, 6), "$GPGLL") << i;
        ASSERT_EQ(sentences[i + 1].substr(0, 6), "$GPHDT") << i;
        ASSERT_EQ(sentences[i + 2].substr(0, 6), "$GPRMC") << i;
        const auto gll = fields(sentences[i]), hdt = fields(sentences[i + 1]), rmc = fields(sentences[i + 2]);
        EXPECT_EQ(rmc[1], gll[1]);
        EXPECT_EQ(rmc[3] + rmc[4] + rmc[5] + rmc[6], gll[2] + gll[3] + gll[4] + gll[5]);
        EXPECT_NEAR(std::stod(rmc[8]), std::stod(hdt[1]), 0.0051) << sentences[i + 2];
        i += 3;
        if (gll[1].substr(7) == "00") {
            ASSERT_EQ(sentences.at(i).substr(0, 16), "$GPZDA," + gll[1]);
            ++i;
        }
        ++samples;
    }
    EXPECT_EQ(samples, 96u);  // as many as without the options: no run-out in this mode
}

// gpsd, an independent reader, takes the positions and times of standard-layout GLL
// sentences (the time-first layout it would read as a latitude).
TEST(ScriptDates, GpsdReadsStandardGllPositionsAndTimes)
{
    TRAJIX_REQUIRE_TOOLS("/usr/sbin/gpsd", "/usr/bin/gpspipe", "/usr/bin/socat");
    TempDir dir;
    const auto out = (dir / "gll.nmea").string();
    writeFileBytes(dir / "drive.txt", "lat=-33.9\nlong=151.2\nvel=36\nhdg=90@2s\n.end\n");
    const auto written = runTrajix({"script", (dir / "drive.txt").string(), "-o", out, "--rate", "5", "--hdt-gll",
                                    "--standard-gll", "--zda", "--date", "2026-12-09"});
    ASSERT_EQ(written.exitCode, 0) << written.err;
    std::map<std::string, std::vector<std::string>> byTime;  // "09:00:00.20" -> GLL fields
    for (const auto& sentence : lines(readFileBytes(out))) {
        if (sentence.rfind("$GPGLL", 0) != 0) continue;
        const auto gll = fields(sentence);
        ASSERT_EQ(gll.size(), 8u) << sentence;
        EXPECT_EQ(gll[6] + gll[7], "AA") << sentence;
        const std::string& t = gll[5];
        byTime[t.substr(0, 2) + ":" + t.substr(2, 2) + ":" + t.substr(4)] = gll;
    }
    const auto gpsd = runProgram("/bin/sh", {dataFile("../support/gpsd_read.sh").string(), out, dir.path().string()});
    ASSERT_EQ(gpsd.exitCode, 0) << gpsd.err;
    std::size_t reports = 0;
    for (const std::string& report : lines(replaceAll(gpsd.out, "\n", "\r\n"))) {
        if (report.find("\"class\":\"TPV\"") == std::string::npos) continue;
        const auto value = [&](const std::string& key) {
            const auto at = report.find("\"" + key + "\":");
            if (at == std::string::npos) return std::string();
            const auto start = at + key.size() + 3;
            return report.substr(start, report.find_first_of(",}", start) - start);
        };
        const std::string time = value("time");  // "2026-12-09T09:00:00.200Z"
        if (time.empty()) continue;              // before the first ZDA has given the date
        ASSERT_EQ(time.substr(1, 11), "2026-12-09T") << report;
        const auto gll = byTime.find(time.substr(12, 11));
        ASSERT_NE(gll, byTime.end()) << report;
        const auto degrees = [](const std::string& text, int width, const std::string& hemisphere) {
            const double value = std::stod(text.substr(0, width)) + std::stod(text.substr(width)) / 60;
            return hemisphere == "S" || hemisphere == "W" ? -value : value;
        };
        EXPECT_NEAR(std::stod(value("lat")), degrees(gll->second[1], 2, gll->second[2]), 1e-8) << report;
        EXPECT_NEAR(std::stod(value("lon")), degrees(gll->second[3], 3, gll->second[4]), 1e-8) << report;
        ++reports;
    }
    EXPECT_GE(reports + 2, byTime.size());  // every sample once gpsd had the date
}

TEST(ScriptCommandLine, ExitStatusesAndMessages)
{
    TempDir dir;
    writeFileBytes(dir / "bad.txt", "vel=36\nhdg=90@0s\n.end\n");
    auto refused = runTrajix({"script", (dir / "bad.txt").string(), "-o", (dir / "out.nmea").string()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("trajix: error: line 2: a time of 0 s"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.nmea"));

    writeFileBytes(dir / "fast.txt", "vel=100@0.05s\n.end\n");
    auto unachievable =
        runTrajix({"script", (dir / "fast.txt").string(), "-o", (dir / "out.nmea").string(), "--max-jerk", "1000"});
    EXPECT_EQ(unachievable.exitCode, 1);
    EXPECT_NE(unachievable.err.find("Max jerk rate of 1000.0 g/s"), std::string::npos) << unachievable.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.nmea"));

    writeFileBytes(dir / "still.txt", "lat=1\n.end\n");
    auto still = runTrajix({"script", (dir / "still.txt").string(), "-o", (dir / "out.nmea").string()});
    EXPECT_EQ(still.exitCode, 1);
    EXPECT_NE(still.err.find("no motion"), std::string::npos);

    EXPECT_EQ(runTrajix({"script", (dir / "still.txt").string()}).exitCode, 2);
    EXPECT_EQ(runTrajix({"script", (dir / "still.txt").string(), "-o", "x", "--rate", "fast"}).exitCode, 2);
    auto missing = runTrajix({"script", (dir / "none.txt").string(), "-o", (dir / "out.nmea").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("none.txt"), std::string::npos);
    auto zeroJerk = runTrajix({"script", (dir / "still.txt").string(), "-o", "x", "--max-jerk", "0"});
    EXPECT_EQ(zeroJerk.exitCode, 1);

    // "Heading=" sets the heading (the HDT sentences show it); a misspelt command runs
    // as free text did, and is listed on stderr after the run with its line number.
    writeFileBytes(dir / "typo.txt", "Heading=120\nVell=50@20s\nwait 1s\n.end\n");
    auto typo = runTrajix({"script", (dir / "typo.txt").string(), "-o", (dir / "typo.nmea").string(), "--hdt-gll"});
    EXPECT_EQ(typo.exitCode, 0);
    EXPECT_EQ(typo.err, "trajix: 1 line matches no command and had no effect:\nline 2: Vell=50@20s\n");
    EXPECT_EQ(typo.out, "");
    const auto written = lines(readFileBytes(dir / "typo.nmea"));
    ASSERT_EQ(written.size(), 40u);
    EXPECT_EQ(written[1].substr(0, 17), "$GPHDT,120.000,T*") << written[1];
    EXPECT_EQ(written.back().substr(0, 17), "$GPHDT,120.000,T*") << written.back();
    std::filesystem::remove(dir / "typo.txt");
    std::filesystem::remove(dir / "typo.nmea");

    writeFileBytes(dir / "walk.txt", "vel=3.6\nwait 0.1s\n.end\n");
    auto preview = runTrajix({"script", (dir / "walk.txt").string(), "--preview"});
    EXPECT_EQ(preview.exitCode, 0);
    EXPECT_EQ(preview.out.rfind("time_s,east_m,north_m,height_m,speed_kmh\n0.002,0.000,0.001,0.00,3.600\n", 0), 0u)
        << preview.out;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
}

// Reads the file as an independent receiver would: checksums, field counts, times,
// and the distance and azimuth between fixes measured with GeographicLib's GeodSolve.
TEST(ScriptIndependentCheck, FixesAreWellFormedAndLieWhereTheScriptDrove)
{
    TempDir dir;
    writeFileBytes(dir / "line.txt", "lat=51.5\nlong=-0.1\nhdg=45\nvel=72\nwait 30s\n.end\n");
    const auto result = runTrajix({"script", (dir / "line.txt").string(), "-o", (dir / "out.nmea").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto sentences = lines(readFileBytes(dir / "out.nmea"));
    ASSERT_EQ(sentences.size(), 601u);
    auto degrees = [](const std::string& text, char letter, int degreeDigits) {
        const double value = std::stod(text.substr(0, static_cast<std::size_t>(degreeDigits))) +
                             std::stod(text.substr(static_cast<std::size_t>(degreeDigits))) / 60;
        return letter == 'S' || letter == 'W' ? -value : value;
    };
    double previousTime = -1;
    for (const auto& s : sentences) {
        ASSERT_EQ(s.rfind("$GPGGA,", 0), 0u);
        const std::size_t star = s.find('*');
        ASSERT_EQ(star, s.size() - 3) << s;
        unsigned sum = 0;
        for (std::size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(s[i]);
        EXPECT_EQ(std::stoul(s.substr(star + 1), nullptr, 16), sum) << s;
        const auto f = fields(s);
        ASSERT_EQ(f.size(), 15u) << s;
        const double t =
            std::stod(f[1].substr(0, 2)) * 3600 + std::stod(f[1].substr(2, 2)) * 60 + std::stod(f[1].substr(4));
        EXPECT_GT(t, previousTime);
        previousTime = t;
    }
    const auto first = fields(sentences.front());
    const auto last = fields(sentences[599]);
    const std::string query = fmt::format("{:.10f} {:.10f} {:.10f} {:.10f}\n", degrees(first[2], first[3][0], 2),
                                          degrees(first[4], first[5][0], 3), degrees(last[2], last[3][0], 2),
                                          degrees(last[4], last[5][0], 3));
    const std::filesystem::path geodSolve = "/usr/bin/GeodSolve";
    TRAJIX_REQUIRE_TOOLS(geodSolve.string());
    const auto geod = runProgram(geodSolve.string(), {"-i", "-p", "4"}, query);
    ASSERT_EQ(geod.exitCode, 0) << geod.err;
    std::istringstream answer(geod.out);
    double azimuth1 = 0, azimuth2 = 0, distance = 0;
    answer >> azimuth1 >> azimuth2 >> distance;
    EXPECT_NEAR(distance, 20 * 29.95, 0.01);  // the last sample lies 29 950 steps on
    EXPECT_NEAR(azimuth1, 45, 0.05);
}

}  // namespace
}  // namespace trajix::test

// --sky as a user runs it: refusals that write nothing, the replay scan of a sky file,
// gpsd reading one through a pseudo-terminal, and the signal generator's log of the
// same scenario.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

using trajix::test::dataFile;
using trajix::test::readFileBytes;
using trajix::test::runProgram;
using trajix::test::runTrajix;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

const std::string rinex2 = "sky/brdc1820_0000-0400.10n";

std::vector<std::string> fieldsOf(const std::string& sentence)
{
    std::vector<std::string> fields;
    std::stringstream stream(sentence.substr(0, sentence.find('*')));
    for (std::string f; std::getline(stream, f, ',');) fields.push_back(f);
    return fields;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string satelliteItem(int prn, int elevation, int azimuth, int snr, bool used)
{
    return std::to_string(prn) + " " + std::to_string(elevation) + " " + std::to_string(azimuth) + " " +
           std::to_string(snr) + (used ? " used" : "");
}

// A short route on the corner path with the sky of the RINEX 2 file, 1 Hz.
std::filesystem::path writeSkyRoute(const TempDir& dir, const std::vector<std::string>& extra = {})
{
    const auto out = dir / "sky.nmea";
    std::vector<std::string> args{"route",
                                  dataFile("route/corner.kml").string(),
                                  "-o",
                                  out.string(),
                                  "--sky",
                                  dataFile(rinex2).string(),
                                  "--date",
                                  "2010-07-01",
                                  "--start-time",
                                  "7200",
                                  "--rate",
                                  "1",
                                  "--stationary-start",
                                  "2",
                                  "--rmc",
                                  "--vtg"};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto r = runTrajix(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return out;
}

}  // namespace

TEST(SkyCommandLine, BadSatelliteFilesAndDatesFailAndWriteNothing)
{
    TempDir dir;
    const std::string two = readFileBytes(dataFile(rinex2));
    writeFileBytes(dir / "cut.10n", two.substr(0, two.size() - 300));
    writeFileBytes(dir / "letters.10n", std::string(two).replace(two.find("0.630000000000D+02"), 4, "0.6x"));
    writeFileBytes(dir / "empty.alm", "");
    struct Case {
        std::vector<std::string> options;
        int exitCode;
        std::vector<std::string> named;  // texts the message must hold
    };
    const std::string dataDir = dataFile("sky").string();
    const std::vector<Case> cases{
        {{"--sky", (dir / "cut.10n").string(), "--date", "2010-07-01"}, 1, {"cut.10n", "line 849", "cut short"}},
        {{"--sky", (dir / "letters.10n").string(), "--date", "2010-07-01"}, 1, {"letters.10n", "line 10", "IODE"}},
        {{"--sky", (dir / "empty.alm").string(), "--date", "2010-07-01"}, 1, {"empty.alm"}},
        {{"--sky", (dir / "missing.alm").string(), "--date", "2010-07-01"}, 1, {"missing.alm"}},
        // Outside the file's sets: both dates named.
        {{"--sky", dataFile(rinex2).string(), "--date", "2011-07-01"}, 1, {"2011-07-01", "2010-07-01"}},
        {{"--sky", dataFile("scenario/week314.alm").string(), "--date", "2026-06-01"}, 1, {"2026-06-01", "2025-04-17"}},
        {{"--sky", dataFile(rinex2).string(), "--date", "2010-07-01", "--mask", "90"}, 1, {"mask 90"}},
        {{"--mask", "10"}, 2, {"--mask", "needs --sky"}},
        // The systems and the count in use: refused before the file is read, or naming it.
        {{"--systems", "galileo"}, 2, {"--systems", "needs --sky"}},
        {{"--max-used", "20"}, 2, {"--max-used", "needs --sky"}},
        {{"--sky", dataFile(rinex2).string(), "--date", "2010-07-01", "--systems", "gps,qzss"}, 1, {"'qzss'"}},
        {{"--sky", dataFile(rinex2).string(), "--date", "2010-07-01", "--systems", ""}, 1, {"no satellite system"}},
        {{"--sky", dataFile(rinex2).string(), "--date", "2010-07-01", "--max-used", "0"}, 1, {"--max-used 0"}},
        {{"--sky", dataFile(rinex2).string(), "--date", "2010-07-01", "--max-used", "100"}, 1, {"--max-used 100"}},
        {{"--sky", dataFile(rinex2).string(), "--date", "2010-07-01", "--systems", "gps,glonass"},
         1,
         {"brdc1820_0000-0400.10n", "GLONASS"}},
    };
    for (const Case& c : cases) {
        const auto out = dir / "out.nmea";
        writeFileBytes(out, "keep me");
        std::vector<std::string> args{
            "route", dataFile("route/corner.kml").string(), "-o", out.string(), "--start-time", "7200"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto r = runTrajix(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        for (const std::string& text : c.named) EXPECT_NE(r.err.find(text), std::string::npos) << text << ": " << r.err;
        EXPECT_EQ(readFileBytes(out), "keep me") << r.err;
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
        EXPECT_EQ(entries, 4u) << "a stray temporary after: " << r.err;
    }
}

TEST(SkyCommandLine, GpsChosenAloneWritesTheFilesAsAlways)
{
    TempDir dir;
    const std::string plain = readFileBytes(writeSkyRoute(dir));
    EXPECT_EQ(readFileBytes(writeSkyRoute(dir, {"--systems", "gps"})), plain);
    EXPECT_EQ(readFileBytes(writeSkyRoute(dir, {"--systems", " GPS ", "--max-used", "12"})), plain);
    // A tighter count in use changes GGA's count, GSA and the DOPs, nothing else.
    const auto fewer = linesOf(readFileBytes(writeSkyRoute(dir, {"--max-used", "5"})));
    const auto lines = linesOf(plain);
    ASSERT_EQ(fewer.size(), lines.size());
    bool changed = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto a = fieldsOf(lines[i]), b = fieldsOf(fewer[i]);
        if (a[0] == "$GPGSA") {
            EXPECT_EQ(std::count_if(b.begin() + 3, b.begin() + 15, [](const auto& f) { return !f.empty(); }), 5);
            changed = changed || lines[i] != fewer[i];
        } else if (a[0] == "$GPGGA") {
            EXPECT_EQ(b[7], "05");
        } else {
            EXPECT_EQ(lines[i], fewer[i]);
        }
    }
    EXPECT_TRUE(changed);
}

TEST(SkyCommandLine, SkyFilesScanAsReceiverLogsWithTheirSentences)
{
    TempDir dir;
    const auto file = writeSkyRoute(dir);
    const auto r = runTrajix({"scan", file.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Output rate (Hz) : 1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("File type : Receiver log (GGA, GSA, RMC, VTG, GSV)"), std::string::npos) << r.out;
    std::size_t fixes = 0;
    for (const std::string& line : linesOf(readFileBytes(file))) fixes += line.rfind("$GPGGA", 0) == 0;
    EXPECT_NE(r.out.find("Steps : " + std::to_string(fixes) + "\n"), std::string::npos) << r.out;
}

TEST(SkyCommandLine, GpsdReportsTheSameSatellitesUsedFlagsAndDops)
{
    for (const char* program : {"/usr/sbin/gpsd", "/usr/bin/gpspipe", "/usr/bin/socat"})
        if (!std::filesystem::exists(program)) GTEST_SKIP() << program << " is not installed (scripts/setup.sh)";
    TempDir dir;
    const auto file = writeSkyRoute(dir);
    // Every epoch's sky as the file gives it: "PRN el az ss used" items and the DOPs.
    std::set<std::string> fileSkies;
    std::vector<std::string> items;
    std::string dops;
    std::set<int> used;
    const auto lines = linesOf(readFileBytes(file));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto f = fieldsOf(lines[i]);
        if (f[0] == "$GPGSA") {
            used.clear();
            for (std::size_t k = 3; k < 15; ++k)
                if (!f[k].empty()) used.insert(std::stoi(f[k]));
            dops = f[15] + " " + f[16] + " " + f[17];
        } else if (f[0] == "$GPGSV") {
            for (std::size_t k = 4; k + 3 < f.size(); k += 4)
                items.push_back(satelliteItem(std::stoi(f[k]), std::stoi(f[k + 1]), std::stoi(f[k + 2]),
                                              std::stoi(f[k + 3]), used.count(std::stoi(f[k])) > 0));
            if (f[1] == f[2]) {
                std::string sky = dops;
                for (const auto& item : items) sky += "|" + item;
                fileSkies.insert(sky);
                items.clear();
            }
        }
    }
    ASSERT_FALSE(fileSkies.empty());

    const auto result =
        runProgram("/bin/sh", {dataFile("../support/gpsd_read.sh").string(), file.string(), dir.path().string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::regex satellite(R"(\{"PRN":(\d+),"el":([-\d.]+),"az":([\d.]+),"ss":([\d.]+),"used":(true|false))");
    const auto number = [](const std::string& line, const std::string& key) {
        const auto at = line.find("\"" + key + "\":");
        return at == std::string::npos ? -1.0 : std::stod(line.substr(at + key.size() + 3));
    };
    int reports = 0;
    for (const std::string& line : linesOf(result.out)) {
        if (line.find("\"class\":\"SKY\"") == std::string::npos || line.find("\"satellites\"") == std::string::npos)
            continue;
        std::string items;
        for (std::sregex_iterator m(line.begin(), line.end(), satellite), end; m != end; ++m)
            items += "|" + satelliteItem(std::stoi((*m)[1]), static_cast<int>(std::stod((*m)[2])),
                                         static_cast<int>(std::stod((*m)[3])), static_cast<int>(std::stod((*m)[4])),
                                         (*m)[5] == "true");
        // The same satellites, angles, SNR and used flags as one of the file's epochs,
        // and DOPs gpsd computed itself within 1 % of that epoch's GSA.
        bool matched = false;
        for (const std::string& sky : fileSkies) {
            const auto bar = sky.find('|');
            if (sky.substr(bar) != items) continue;
            std::stringstream d(sky.substr(0, bar));
            double pdop, hdop, vdop;
            d >> pdop >> hdop >> vdop;
            matched = std::abs(number(line, "pdop") - pdop) <= 0.01 * pdop + 0.006 &&
                      std::abs(number(line, "hdop") - hdop) <= 0.01 * hdop + 0.006 &&
                      std::abs(number(line, "vdop") - vdop) <= 0.01 * vdop + 0.006;
            if (matched) break;
        }
        EXPECT_TRUE(matched) << line;
        ++reports;
    }
    EXPECT_GE(reports, 10);
}

TEST(SkyCommandLine, GeneratorLogNamesTheSatellitesAndElevationsOfTheFile)
{
    const auto generator = std::filesystem::path(TRAJIX_BINARY_DIR) / "cli" / "TrajixBinary";
    if (!std::filesystem::exists(generator)) GTEST_SKIP() << "no signal generator built";
    TempDir dir;
    // 2025-04-17 is day 4 of GPS week 2362 (10-bit 314): 08:59:42 UTC is 09:00:00 GPS.
    const auto file = dir / "sky.nmea";
    const auto r = runTrajix({"route", dataFile("route/corner.kml").string(), "-o", file.string(), "--sky",
                              dataFile("scenario/week314.alm").string(), "--date", "2025-04-17", "--start-time",
                              "32382", "--stationary-start", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    writeFileBytes(dir / "profile.txt",
                   "[Settings]\nGPS_Week=314\nGPS_Start_Time_in_sec=378000\nDuration_in_sec=1\nSimulation_Day=17\n"
                   "Simulation_Mon=4\nSimulation_Year=2025\nSampleRate_in_KHz=16368\nbitPerSample=1\nIQ_format=I\n"
                   "IFFreq_in_Hz=4092000\nMask_in_deg=5\nNoiseFigure_in_dB=0\nMax_Satellites=32\nAlmanac_File=" +
                       dataFile("scenario/week314.alm").string() + "\nSource_NMEA_file=" + file.string() +
                       "\nIF_IQ_File=" + (dir / "out.dsf").string() + "\n");
    const auto run = runProgram(generator.string(), {(dir / "profile.txt").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::map<int, std::pair<double, double>> logged;  // PRN: elevation, C/N0
    const std::regex entry(R"(PRN +(\d+) elevation +([\d.]+) deg, C/N0 +([\d.]+) dB-Hz)");
    for (std::sregex_iterator m(run.out.begin(), run.out.end(), entry), end; m != end; ++m)
        logged[std::stoi((*m)[1])] = {std::stod((*m)[2]), std::stod((*m)[3])};
    std::map<int, std::pair<int, int>> reported;  // the first GSV: elevation, SNR
    for (const std::string& line : linesOf(readFileBytes(file))) {
        const auto f = fieldsOf(line);
        if (f[0] != "$GPGSV") continue;
        for (std::size_t k = 4; k + 3 < f.size(); k += 4)
            reported[std::stoi(f[k])] = {std::stoi(f[k + 1]), std::stoi(f[k + 3])};
        if (f[1] == f[2]) break;
    }
    ASSERT_GE(logged.size(), 4u) << run.out;
    ASSERT_EQ(logged.size(), reported.size()) << run.out;
    for (const auto& [prn, values] : logged) {
        ASSERT_TRUE(reported.count(prn)) << "PRN " << prn;
        // The log prints one decimal, GSV whole degrees and dB-Hz.
        EXPECT_LE(std::abs(reported[prn].first - values.first), 0.55) << "PRN " << prn;
        EXPECT_LE(std::abs(reported[prn].second - values.second), 0.55) << "PRN " << prn;
    }
}

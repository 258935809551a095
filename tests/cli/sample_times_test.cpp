// Every writer at every rate: each sample's sentences carry one time, the samples'
// times strictly increase one interval apart, and the time field has as many decimals
// as the interval needs (two at 100 Hz and below). The replay scan reads such files.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "test_support.hpp"

namespace trajix::test {
namespace {

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

double secondsOfDay(const std::string& time)
{
    return std::stod(time.substr(0, 2)) * 3600 + std::stod(time.substr(2, 2)) * 60 + std::stod(time.substr(4));
}

// The time field of a sentence, wherever its layout puts it.
std::string timeOf(const std::vector<std::string>& fields)
{
    if (fields[0] == "$GPGLL") return fields.size() > 6 ? fields[5] : fields[1];
    return fields[1];
}

struct Writer {
    std::string name;
    std::vector<std::string> arguments;  // before -o and --rate
    std::string sampleStart;             // the sentence each sample begins with
};

TEST(SampleTimes, EveryWriterAtEveryRateTimesEachSampleOnce)
{
    TempDir dir;
    writeFileBytes(dir / "short.txt", "lat=51.5\nlong=-0.25\nvel=20\nhdg=90@1s\nwait 1s\n.end\n");
    writeFileBytes(dir / "rows.txt", "UTC time Latitude Longitude Speed Heading\n235959.00 51.5 -0.25 20 90\n"
                                     "000000.50 51.5 -0.2498 20 90\n");
    const std::vector<std::string> dated{"--rmc", "--zda", "--date", "2026-12-09"};
    std::vector<Writer> writers{
        {"route", {"route", dataFile("route/straight.kml").string(), "--vtg", "--stationary-start", "1",
                   "--stationary-end", "1"}, "$GPGGA"},
        {"script", {"script", (dir / "short.txt").string()}, "$GPGGA"},
        {"script GLL", {"script", (dir / "short.txt").string(), "--hdt-gll", "--standard-gll"}, "$GPGLL"},
        {"text rows", {"txt2nmea", (dir / "rows.txt").string(), "--stationary-start", "1", "--stationary-end", "1"},
         "$GPGGA"},
    };
    for (const double rate : {1.0, 20.0, 100.0, 200.0, 500.0, 1000.0}) {
        const std::size_t decimals = rate <= 100 ? 2 : 3;
        for (const Writer& writer : writers) {
            const auto out = dir / "out.nmea";
            auto arguments = writer.arguments;
            arguments.insert(arguments.end(), {"-o", out.string(), "--rate", fmt::format("{}", rate)});
            arguments.insert(arguments.end(), dated.begin(), dated.end());
            const auto result = runTrajix(arguments);
            ASSERT_EQ(result.exitCode, 0) << writer.name << " at " << rate << " Hz: " << result.err;

            const std::string where = fmt::format("{} at {} Hz", writer.name, rate);
            std::string sampleTime;
            double previous = -1;
            double day = 0;
            long long samples = 0;
            for (std::string line : split(readFileBytes(out), '\n')) {
                if (line.empty()) continue;
                const auto fields = split(line.substr(0, line.find('*')), ',');
                if (fields[0] == "$GPVTG" || fields[0] == "$GPHDT") continue;
                const std::string time = timeOf(fields);
                ASSERT_EQ(time.size(), 7 + decimals) << where << ": " << line;
                if (fields[0] == writer.sampleStart) {
                    double t = secondsOfDay(time) + day;
                    if (t < previous - 43200) {
                        day += 86400;  // midnight
                        t += 86400;
                    }
                    if (previous >= 0) {
                        ASSERT_GT(t, previous) << where << ": " << line;
                        // The script writer's positions fall on whole milliseconds; its
                        // clock, like every other writer's, steps one interval.
                        EXPECT_NEAR(t - previous, 1 / rate, std::pow(10.0, -static_cast<double>(decimals)) + 1e-9)
                            << where << ": " << line;
                    }
                    previous = t;
                    sampleTime = time;
                    ++samples;
                } else {
                    ASSERT_EQ(time, sampleTime) << where << ": " << line;
                }
            }
            EXPECT_GE(samples, 2 * rate) << where;
        }
    }
}

// Files above 100 Hz scan at their own rate, one step per sample, in both GLL layouts.
TEST(SampleTimes, FilesAbove100HzScanAtTheirRate)
{
    TempDir dir;
    writeFileBytes(dir / "short.txt", "lat=51.5\nlong=-0.25\nvel=20\nhdg=90@1s\nwait 1s\n.end\n");
    struct Case {
        std::vector<std::string> writer, scan;
    };
    const auto out = (dir / "out.nmea").string();
    const Case cases[] = {
        {{"route", dataFile("route/straight.kml").string(), "--vtg"}, {}},
        {{"script", (dir / "short.txt").string(), "--hdt-gll"}, {"--hdt-gll"}},
        {{"script", (dir / "short.txt").string(), "--hdt-gll", "--standard-gll"}, {"--hdt-gll"}},
    };
    for (const Case& c : cases) {
        auto arguments = c.writer;
        arguments.insert(arguments.end(), {"-o", out, "--rate", "200"});
        const auto written = runTrajix(arguments);
        ASSERT_EQ(written.exitCode, 0) << written.err;
        const std::string text = readFileBytes(out);
        const auto samples = std::count(text.begin(), text.end(), '\n') / 2;
        auto scanArguments = std::vector<std::string>{"scan", out};
        scanArguments.insert(scanArguments.end(), c.scan.begin(), c.scan.end());
        const auto scan = runTrajix(scanArguments);
        ASSERT_EQ(scan.exitCode, 0) << scan.err;
        const auto lines = split(scan.out, '\n');
        EXPECT_EQ(lines.at(0), "Output rate (Hz) : 200") << c.writer.back();
        // One step per sample; the count leaves out the first line's sample as at 20 Hz.
        const long long steps = std::stoll(lines.at(3).substr(8));
        EXPECT_TRUE(steps >= samples - 2 && steps <= samples) << lines.at(3) << " for " << samples;
    }
}

}  // namespace
}  // namespace trajix::test

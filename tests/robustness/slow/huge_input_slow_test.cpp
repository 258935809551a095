// Inputs far beyond anything real: a gigabyte of garbage, a KML of ten million points,
// a script of ten thousand lines of long waits. Each ends with a clear message or a
// correct result, without a crash or a hang, in bounded memory.
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "../readers.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

/// Peak resident memory of the largest child run so far, bytes.
long long childPeakBytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<long long>(usage.ru_maxrss) * 1024;
}

constexpr long long gigabyte = 1LL << 30;

TEST(HugeInput, GigabyteOfGarbageIsRefusedByEveryReader)
{
    TempDir dir;
    const auto input = dir / "huge.bin";
    {
        // A random head and then a hole: a gigabyte that reads as bytes without taking
        // a gigabyte of disk.
        std::mt19937 random(7);
        std::string head(1 << 20, '\0');
        for (char& c : head) c = static_cast<char>(random());
        writeFileBytes(input, head);
        ASSERT_EQ(::truncate(input.c_str(), gigabyte), 0);
    }
    for (const auto& reader : readerCommands()) {
        if (reader.name == "correct" || reader.rawRecording) continue;  // an empty file, which is correct
        const auto result = runTrajix(reader.arguments(input.string(), (dir / "out.nmea").string()));
        EXPECT_EQ(result.exitCode, 1) << reader.name << ": " << result.err;
        EXPECT_FALSE(result.err.empty()) << reader.name;
        EXPECT_FALSE(std::filesystem::exists(dir / "out.nmea")) << reader.name;
        RecordProperty(reader.name + "_peak_mb", std::to_string(childPeakBytes() >> 20));
    }
    // Whole-file readers hold the file and at most a copy of it.
    EXPECT_LT(childPeakBytes(), 3 * gigabyte);
}

TEST(HugeInput, KmlOfTenMillionPointsIsRefusedWithoutHoldingEveryTupleAsText)
{
    // Points 100 m apart, to and fro along the equator between 0 and 180 degrees: a
    // million km of path, densified every metre, would need far more than the 4 GiB allowed.
    TempDir dir;
    const auto kml = dir / "long.kml";
    {
        std::ofstream out(kml, std::ios::binary);
        out << "<kml><Placemark><LineString><coordinates>\n";
        std::string chunk;
        for (int i = 0; i < 10'000'000; ++i) {
            const int k = i % 400'000;
            fmt::format_to(std::back_inserter(chunk), "{:.6f},0.000000,0 ", (k < 200'000 ? k : 400'000 - k) * 0.0009);
            if (chunk.size() > (1 << 20)) out << chunk, chunk.clear();
        }
        out << chunk << "\n</coordinates></LineString></Placemark></kml>\n";
    }
    const auto result = runTrajix({"route", kml.string(), "-o", (dir / "long.nmea").string()});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find("more than the 4 GiB allowed"), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "long.nmea"));
    RecordProperty("route_peak_mb", std::to_string(childPeakBytes() >> 20));
    // The text (220 MB), the points and their local floats; the refusal comes before
    // any path array is made.
    EXPECT_LT(childPeakBytes(), gigabyte);
}

TEST(HugeInput, ScriptOfTenThousandLongWaitsIsRefusedBeforeItRuns)
{
    TempDir dir;
    std::string script = "lat=51\nlong=0\nvel=0\n";
    for (int i = 0; i < 9996; ++i) script += "wait 100000s\n";
    script += ".end\n";
    writeFileBytes(dir / "waits.txt", script);
    const auto result = runTrajix({"script", (dir / "waits.txt").string(), "-o", (dir / "waits.nmea").string()});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find("at most 4 GiB can be used"), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "waits.nmea"));
}

TEST(HugeInput, ScriptOfTenThousandWaitsWithinTheLimitIsWrittenWhole)
{
    // 9996 waits of 3 s standing: 29988 s of script time, one GGA a second.
    TempDir dir;
    std::string script = "lat=51\nlong=0\nvel=0\ntime=0\n";
    for (int i = 0; i < 9995; ++i) script += "wait 3s\n";
    script += ".end\n";
    writeFileBytes(dir / "waits.txt", script);
    const auto result = runTrajix(
        {"script", (dir / "waits.txt").string(), "-o", (dir / "waits.nmea").string(), "--rate", "1"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string nmea = readFileBytes(dir / "waits.nmea");
    const auto lines = std::count(nmea.begin(), nmea.end(), '\n');
    EXPECT_NEAR(static_cast<double>(lines), 29985.0, 2.0);
    EXPECT_NE(nmea.find("$GPGGA,081945.00,"), std::string::npos) << "the last whole second of the waits";
}

}  // namespace
}  // namespace trajix::test

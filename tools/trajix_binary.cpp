// TrajixBinary PROFILE: the stand-in signal generator. Reads the scenario profile,
// checks the keys it needs, and writes IF_IQ_File (output.dsf) holding
// Duration_in_sec whole seconds of a deterministic one-bit signal: blocks of 2046000
// bytes (16368 kHz, one bit per sample). Exits 1 with a message on a bad profile.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"

namespace {

constexpr std::size_t blockSize = 2046000;
constexpr long long longestDuration = 86400;

// Set by SIGTERM or SIGINT: the run stops between seconds and leaves no partial file.
volatile std::sig_atomic_t stopRequested = 0;
void requestStop(int)
{
    stopRequested = 1;
}

struct Entry {
    std::string value;
    long long line = 0;
};

std::map<std::string, Entry> readProfile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw trajix::Error(fmt::format("cannot open the profile '{}'", path.string()));
    std::map<std::string, Entry> entries;
    std::string line;
    long long number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string_view text = trajix::trimBlanks(line);
        if (text.empty() || text.front() == '[') continue;
        const auto equals = text.find('=');
        if (equals == std::string_view::npos)
            throw trajix::Error(
                fmt::format("line {} of '{}' is neither a section nor key=value: '{}'", number, path.string(), line));
        const std::string key(trajix::trimBlanks(text.substr(0, equals)));
        entries[key] = Entry{std::string(trajix::trimBlanks(text.substr(equals + 1))), number};
    }
    return entries;
}

struct Profile {
    const std::map<std::string, Entry>& entries;
    std::filesystem::path path;

    const Entry& entry(const std::string& key) const
    {
        const auto found = entries.find(key);
        if (found == entries.end() || found->second.value.empty())
            throw trajix::Error(fmt::format("the profile '{}' has no value for {}", path.string(), key));
        return found->second;
    }
    long long integer(const std::string& key, long long low, long long high) const
    {
        const Entry& e = entry(key);
        long long value = 0;
        if (!trajix::tryParseInteger(e.value, value) || value < low || value > high)
            throw trajix::Error(fmt::format("{} = '{}' (line {} of '{}') is not an integer from {} to {}", key, e.value,
                                            e.line, path.string(), low, high));
        return value;
    }
    double number(const std::string& key, double low, double high) const
    {
        const Entry& e = entry(key);
        double value = 0;
        if (!trajix::tryParseDouble(e.value, value) || value < low || value >= high)
            throw trajix::Error(fmt::format("{} = '{}' (line {} of '{}') is not a number from {} up to {}", key,
                                            e.value, e.line, path.string(), low, high));
        return value;
    }
};

// Deterministic pseudo-random samples; each second has its own seed so that seconds
// differ and a recording can be checked block by block.
void fillSecond(std::vector<std::uint8_t>& block, std::uint64_t second)
{
    std::uint64_t state = 0x9E3779B97F4A7C15ull ^ (second * 0xBF58476D1CE4E5B9ull + 1);
    for (std::size_t i = 0; i < block.size(); i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        for (std::size_t k = 0; k < 8 && i + k < block.size(); ++k)
            block[i + k] = static_cast<std::uint8_t>(state >> (8 * k));
    }
}

int run(const std::filesystem::path& profilePath)
{
    const auto entries = readProfile(profilePath);
    const Profile profile{entries, profilePath};
    profile.integer("GPS_Week", 0, 1000000);
    profile.number("GPS_Start_Time_in_sec", 0, 604800);
    const long long duration = profile.integer("Duration_in_sec", 1, longestDuration);
    profile.integer("Simulation_Day", 1, 31);
    profile.integer("Simulation_Mon", 1, 12);
    profile.integer("Simulation_Year", 1980, 9999);
    profile.integer("SampleRate_in_KHz", 16368, 16368);
    profile.integer("bitPerSample", 1, 1);
    profile.entry("Almanac_File");
    const std::filesystem::path source = profile.entry("Source_NMEA_file").value;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(source, ec))
        throw trajix::Error(
            fmt::format("the NMEA file '{}' named in '{}' does not exist", source.string(), profilePath.string()));
    const std::filesystem::path output = profile.entry("IF_IQ_File").value;

    fmt::print("TrajixBinary: writing {} s of signal to {}\n", duration, output.string());
    std::fflush(stdout);
    trajix::AtomicFile out(output);
    std::vector<std::uint8_t> block(blockSize);
    for (long long second = 0; second < duration; ++second) {
        if (stopRequested) {
            out.discard();
            fmt::print(stderr, "TrajixBinary: stopped; no output written\n");
            return 143;
        }
        fillSecond(block, static_cast<std::uint64_t>(second));
        out.write(block.data(), block.size());
    }
    out.commit();
    fmt::print("TrajixBinary: finished\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fmt::print(stderr, "usage: TrajixBinary PROFILE\n");
        return 2;
    }
    std::signal(SIGTERM, requestStop);
    std::signal(SIGINT, requestStop);
    try {
        return run(argv[1]);
    } catch (const std::exception& e) {
        fmt::print(stderr, "TrajixBinary: error: {}\n", e.what());
        return 1;
    }
}

// TrajixBinary [--noise-only] [--seed N] [--max-satellites N] [--ephemeris FILE]
// [--no-iono] [--no-tropo] PROFILE: the signal generator of the scenario step. Reads the
// scenario profile and writes IF_IQ_File (output.dsf): Duration_in_sec seconds of the
// GPS L1 C/A signal of the satellites above the mask, as a receiver on the NMEA file's
// path sees it, one bit per real sample at 16368 kHz. --ephemeris (or Ephemeris_File)
// takes the satellites' broadcast ephemerides from a RINEX navigation file, with the
// ionosphere and troposphere on unless --no-iono, --no-tropo (or Ionosphere = 0,
// Troposphere = 0) turn them off. --noise-only (or the profile key Noise_Only = 1)
// writes deterministic noise of the same size instead. Exits 1 with a message on a bad
// profile or input; notes on what was left out go to stderr.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"
#include "scenario/signal_generator.hpp"

namespace {

// Set by SIGTERM or SIGINT: the run stops between seconds and leaves no partial file.
volatile std::sig_atomic_t stopRequested = 0;
void requestStop(int)
{
    stopRequested = 1;
}

struct Arguments {
    std::string profile;
    bool noiseOnly = false;
    std::optional<long long> seed;
    std::optional<long long> maxSatellites;
    std::optional<std::string> ephemeris;
    bool noIonosphere = false;
    bool noTroposphere = false;
};

int run(const Arguments& arguments)
{
    trajix::GeneratorSettings settings = trajix::readGeneratorProfile(arguments.profile);
    if (arguments.noiseOnly) settings.noiseOnly = true;
    if (arguments.seed) settings.seed = static_cast<std::uint64_t>(*arguments.seed);
    if (arguments.maxSatellites) settings.maxSatellites = static_cast<int>(*arguments.maxSatellites);
    if (arguments.ephemeris) settings.ephemerisFile = *arguments.ephemeris;
    if (arguments.noIonosphere) settings.ionosphere = false;
    if (arguments.noTroposphere) settings.troposphere = false;

    trajix::SignalGenerator generator(settings, [](const std::string& message) {
        fmt::print("TrajixBinary: {}\n", message);
        std::fflush(stdout);
    });
    for (const std::string& note : generator.notes()) fmt::print(stderr, "TrajixBinary: note: {}\n", note);
    if (!settings.noiseOnly) {
        std::string list;
        for (const auto& satellite : generator.initialSatellites()) list += fmt::format(" {}", satellite.prn);
        fmt::print("TrajixBinary: satellites above the mask:{}\n", list);
        for (const auto& satellite : generator.initialSatellites())
            fmt::print("TrajixBinary: PRN {:2} elevation {:5.1f} deg, C/N0 {:4.1f} dB-Hz\n", satellite.prn,
                       satellite.elevationDegrees, satellite.cn0);
    }
    fmt::print("TrajixBinary: writing {} s of {} to {}\n", settings.durationSeconds,
               settings.noiseOnly ? "noise" : "signal", settings.output.string());
    std::fflush(stdout);
    trajix::AtomicFile out(settings.output);
    const bool finished = generator.run([&out](const std::uint8_t* bytes, std::size_t size, long long) {
        if (stopRequested) return false;
        out.write(bytes, size);
        return true;
    });
    if (!finished) {
        out.discard();
        fmt::print(stderr, "TrajixBinary: stopped; no output written\n");
        return 143;
    }
    out.commit();
    fmt::print("TrajixBinary: finished\n");
    return 0;
}

long long integerOption(const std::string& name, const char* text)
{
    long long value = 0;
    if (!text || !trajix::tryParseInteger(text, value) || value < 0)
        throw trajix::Error(fmt::format("{} needs a whole number, not '{}'", name, text ? text : ""));
    return value;
}

}  // namespace

int main(int argc, char** argv)
{
    Arguments arguments;
    std::vector<std::string> positional;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--noise-only")
                arguments.noiseOnly = true;
            else if (arg == "--seed")
                arguments.seed = integerOption(arg, i + 1 < argc ? argv[++i] : nullptr);
            else if (arg == "--max-satellites")
                arguments.maxSatellites = integerOption(arg, i + 1 < argc ? argv[++i] : nullptr);
            else if (arg == "--ephemeris" && i + 1 < argc)
                arguments.ephemeris = argv[++i];
            else if (arg == "--no-iono")
                arguments.noIonosphere = true;
            else if (arg == "--no-tropo")
                arguments.noTroposphere = true;
            else if (arg.size() > 1 && arg[0] == '-')
                positional.clear(), positional.push_back(""), positional.push_back(""), i = argc;
            else
                positional.push_back(arg);
        }
    } catch (const std::exception& e) {
        fmt::print(stderr, "TrajixBinary: error: {}\n", e.what());
        return 2;
    }
    if (positional.size() != 1) {
        fmt::print(stderr,
                   "usage: TrajixBinary [--noise-only] [--seed N] [--max-satellites N] [--ephemeris FILE] "
                   "[--no-iono] [--no-tropo] PROFILE\n");
        return 2;
    }
    arguments.profile = positional.front();
    std::signal(SIGTERM, requestStop);
    std::signal(SIGINT, requestStop);
    try {
        return run(arguments);
    } catch (const std::exception& e) {
        fmt::print(stderr, "TrajixBinary: error: {}\n", e.what());
        return 1;
    }
}

// TrajixBinary [options] PROFILE: the signal generator of the scenario step. Reads the
// scenario profile and writes IF_IQ_File (output.dsf): Duration_in_sec seconds of the
// GPS L1 C/A signal of the satellites above the mask, as a receiver on the NMEA file's
// path sees it, in the profile's sample format (the scenario step's: one bit per real
// sample at 16368 kHz). Options:
//   --noise-only (or the profile key Noise_Only = 1) deterministic noise of the same size;
//   --seed N, --max-satellites N  as Noise_Seed and Max_Satellites;
//   --threads N                   N threads (default one per core; the bytes are the same);
//   --iq-format I|IQ, --bits-per-sample 1|8|16, --sample-rate-khz N, --if-hz N
//                                 override IQ_format, bitPerSample, SampleRate_in_KHz and
//                                 IFFreq_in_Hz;
//   --output FILE                 instead of IF_IQ_File; "-" streams to standard output
//                                 (the messages then go to standard error);
//   --realtime                    the samples leave at the signal's own rate, a note on
//                                 standard error each time they fall behind it;
//   --ephemeris FILE              (or Ephemeris_File) the satellites' broadcast ephemerides
//                                 from a RINEX navigation file, with the ionosphere and
//                                 troposphere on unless --no-iono, --no-tropo (or
//                                 Ionosphere = 0, Troposphere = 0) turn them off;
//   --live tcp://HOST:PORT|udp://[HOST]:PORT
//                                 the receiver's path from a live NMEA stream (GGA, dated
//                                 by RMC) instead of the NMEA file, from its first fix and
//                                 at its date and time (the profile's start without RMC),
//                                 until the stream ends or Ctrl-C, leaving a complete
//                                 recording; the signal keeps pace with the stream;
//   --duration-limited            with --live, ends after Duration_in_sec too.
// Notes on what was left out go to standard error.
// Exits 1 with a message on a bad profile or input, leaving nothing under the output name.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"
#include "scenario/gps_navigation.hpp"
#include "scenario/gps_week.hpp"
#include "scenario/live_path.hpp"
#include "scenario/realtime_pacer.hpp"
#include "scenario/signal_generator.hpp"
#include "tools/live_stream.hpp"
#include "tools/message_writer.hpp"

namespace {

// Set by SIGTERM or SIGINT: the run stops between pieces and leaves no partial file.
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
    std::optional<long long> threads;
    std::optional<std::string> iqFormat;
    std::optional<long long> bitsPerSample;
    std::optional<long long> sampleRateKHz;
    std::optional<long long> intermediateFrequencyHz;
    std::optional<std::string> output;
    bool realtime = false;
    std::optional<std::string> ephemeris;
    bool noIonosphere = false;
    bool noTroposphere = false;
    std::optional<std::string> live;
    bool durationLimited = false;
};

// Writes everything or throws: standard output may be a pipe that takes part of a write.
void writeAll(int descriptor, const std::uint8_t* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(descriptor, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            throw trajix::Error(fmt::format("cannot write to standard output: {}", std::strerror(errno)));
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
}

// The live stream until its first fix (and the date of it, when RMC sentences come
// within a second), read on the calling thread; arrival: the clock when the fix came.
std::optional<trajix::LiveFix> firstFix(trajix::LiveStream& stream, trajix::LiveNmeaReader& reader, double& arrival)
{
    std::optional<trajix::LiveFix> first;
    while (!stopRequested) {
        std::string bytes;
        if (!stream.read(bytes, 100))
            throw trajix::Error(fmt::format("the live stream '{}' ended before its first fix", stream.address()));
        for (const auto& fix : reader.feed(bytes)) {
            arrival = trajix::LivePath::steadySeconds();
            first = fix;
        }
        if (first && !first->date) first->date = reader.dateAt(first->timeOfDay());
        if (first && (first->date || trajix::LivePath::steadySeconds() - arrival > 1)) return first;
    }
    return std::nullopt;
}

// Seconds from the first fix of a live stream to the signal's start: the generator's
// set-up (about 0.1 s for 12 satellites) with room to spare.
constexpr double startupSeconds = 0.5;

// GPS week and seconds into it, `later` seconds after a dated fix.
void startAt(const trajix::LiveFix& fix, double later, trajix::GeneratorSettings& settings)
{
    const trajix::CalendarDate gpsEpoch{1980, 1, 6};
    const long long days = trajix::dateToDayCount(*fix.date) - trajix::dateToDayCount(gpsEpoch);
    int week = static_cast<int>(days / 7);
    double seconds =
        static_cast<double>(days % 7) * 86400 + fix.timeOfDay() + later + trajix::gps::leapSecondsAtWeek(week);
    if (seconds >= 604800) seconds -= 604800, ++week;
    settings.week = week;
    settings.startSeconds = seconds;
}

int run(const Arguments& arguments)
{
    trajix::GeneratorSettings settings = trajix::readGeneratorProfile(arguments.profile, !arguments.live);
    if (arguments.noiseOnly) settings.noiseOnly = true;
    if (arguments.seed) settings.seed = static_cast<std::uint64_t>(*arguments.seed);
    if (arguments.maxSatellites) settings.maxSatellites = static_cast<int>(*arguments.maxSatellites);
    if (arguments.threads) settings.threads = static_cast<int>(*arguments.threads);
    if (arguments.iqFormat) settings.format.complex = *arguments.iqFormat == "IQ";
    if (arguments.bitsPerSample) settings.format.bitsPerSample = static_cast<int>(*arguments.bitsPerSample);
    if (arguments.sampleRateKHz) settings.format.rateKHz = static_cast<int>(*arguments.sampleRateKHz);
    if (arguments.intermediateFrequencyHz) settings.format.intermediateFrequencyHz = *arguments.intermediateFrequencyHz;
    if (arguments.output) settings.output = *arguments.output;
    if (settings.output.empty())
        throw trajix::Error(
            fmt::format("the profile '{}' has no value for IF_IQ_File (or give --output)", arguments.profile));
    const bool toStandardOutput = settings.output == "-";
    // With the samples on standard output, every message goes to standard error.
    std::FILE* messages = toStandardOutput ? stderr : stdout;
    if (arguments.ephemeris) settings.ephemerisFile = *arguments.ephemeris;
    if (arguments.noIonosphere) settings.ionosphere = false;
    if (arguments.noTroposphere) settings.troposphere = false;

    // Every message goes through a writer thread, so that a slow terminal or a busy disk
    // never holds up the samples; the writers write what waits before they go.
    trajix::MessageWriter messageLines(messages);
    std::optional<trajix::MessageWriter> errorLinesOfTheirOwn;
    if (messages != stderr) errorLinesOfTheirOwn.emplace(stderr);
    trajix::MessageWriter& errorLines = errorLinesOfTheirOwn ? *errorLinesOfTheirOwn : messageLines;
    const auto post = [&](std::FILE* stream, std::string line) {
        (stream == messages ? messageLines : errorLines).post(std::move(line));
    };
    const auto say = [&messageLines](const std::string& message) { messageLines.post("TrajixBinary: " + message); };

    // A live path: the stream is read on its own thread from the first fix on.
    std::unique_ptr<trajix::LiveStream> stream;
    std::unique_ptr<trajix::LiveNmeaReader> reader;
    std::atomic<bool> quit = false;
    std::thread listener;
    struct Joiner {
        std::atomic<bool>& quit;
        std::thread& thread;
        ~Joiner()
        {
            quit = true;
            if (thread.joinable()) thread.join();
        }
    } joiner{quit, listener};
    if (arguments.live) {
        if (settings.noiseOnly || settings.staticPosition)
            throw trajix::Error("--live needs a profile with a moving receiver (not Static or Noise_Only)");
        stream = std::make_unique<trajix::LiveStream>(*arguments.live);
        reader = std::make_unique<trajix::LiveNmeaReader>(say);
        say(fmt::format("waiting for the first fix of the live stream {}", stream->address()));
        double arrival = 0;
        const auto first = firstFix(*stream, *reader, arrival);
        if (!first) {
            post(stderr, "TrajixBinary: stopped before the first fix; no output written");
            return 143;
        }
        // The signal starts a little after the first fix, time enough to set the
        // generator up; its time is the stream's then.
        const double origin = trajix::LivePath::steadySeconds() + startupSeconds;
        if (first->date) startAt(*first, origin - arrival, settings);
        say(fmt::format("the signal starts at GPS week {} second {:.3f}, {}", settings.week, settings.startSeconds,
                        first->date ? "the stream's time" : "the profile's start (the stream gives no date)"));
        settings.live = std::make_shared<trajix::LivePath>(*first, arrival, say);
        settings.live->setOrigin(origin);
        if (!arguments.durationLimited) settings.durationSeconds = 86400;
        listener = std::thread([&stream, &reader, &quit, live = settings.live, say] {
            try {
                while (!quit && !stopRequested) {
                    std::string bytes;
                    if (!stream->read(bytes, 50)) break;
                    for (const auto& fix : reader->feed(bytes)) live->addFix(fix);
                }
                if (!quit && !stopRequested) say(fmt::format("the live stream {} ended", stream->address()));
            } catch (const std::exception& e) {
                say(e.what());
            }
            live->endStream();
        });
    }

    trajix::SignalGenerator generator(settings, say);
    for (const std::string& note : generator.notes()) post(stderr, fmt::format("TrajixBinary: note: {}", note));
    if (!settings.noiseOnly) {
        std::string list;
        for (const auto& satellite : generator.initialSatellites()) list += fmt::format(" {}", satellite.prn);
        post(messages, fmt::format("TrajixBinary: satellites above the mask:{}", list));
        for (const auto& satellite : generator.initialSatellites())
            post(messages, fmt::format("TrajixBinary: PRN {:2} elevation {:5.1f} deg, C/N0 {:4.1f} dB-Hz",
                                       satellite.prn, satellite.elevationDegrees, satellite.cn0));
    }
    const std::string to = toStandardOutput ? std::string("standard output") : settings.output.string();
    if (settings.live)
        post(messages,
             fmt::format(
                 "TrajixBinary: writing the signal of the live stream to {} until it ends{}", to,
                 arguments.durationLimited ? fmt::format(" or {} s have passed", settings.durationSeconds) : ""));
    else
        post(messages, fmt::format("TrajixBinary: writing {} s of {} to {}", settings.durationSeconds,
                                   settings.noiseOnly ? "noise" : "signal", to));

    // With --realtime each piece waits for its signal time; the generator keeps only a
    // few pieces ready ahead of it.
    trajix::RealTimePacer pacer([&post](const std::string& note) { post(stderr, "TrajixBinary: " + note); });
    double pieceStart = 0;
    const auto pace = [&](double signalEnd) {
        if (arguments.realtime) pacer.beforePiece(pieceStart);
        pieceStart = signalEnd;
    };
    // A live run ends with the stream or Ctrl-C, at a piece's end: a complete recording.
    // At the end of the stream the pieces that follow its last fix are written first.
    const auto liveEnded = [&](double signalEnd) {
        return settings.live && (stopRequested || settings.live->endedBefore(signalEnd));
    };
    const auto finishLive = [&](double signalSeconds) {
        say(fmt::format("finished: {:.2f} s of signal following {} fix(es)", signalSeconds,
                        settings.live->fixesFollowed()));
    };
    double written = 0;
    // A line per whole second written (per hundredth of a long run) says how far the
    // run has come: the wait of the scenario step shows the last one.
    const long long progressStep = std::max(1LL, (settings.durationSeconds + 99) / 100);
    long long secondsSaid = 0;
    const auto sayProgress = [&](double signalEnd) {
        if (settings.live) return;
        const auto whole = static_cast<long long>(signalEnd + 1e-9);
        if (whole < secondsSaid + progressStep && whole < settings.durationSeconds) return;
        if (whole <= secondsSaid) return;
        secondsSaid = whole;
        post(messages, fmt::format("TrajixBinary: {} of {} s written", whole, settings.durationSeconds));
    };
    const auto summary = [&]() {
        if (pacer.timesBehind() > 0)
            post(stderr, fmt::format("TrajixBinary: fell behind real time {} time(s), {:.3f} s in all",
                                     pacer.timesBehind(), pacer.secondsBehind()));
    };

    if (toStandardOutput) {
        const bool finished = generator.run([&](const std::uint8_t* bytes, std::size_t size, double signalEnd) {
            if (liveEnded(signalEnd) || stopRequested) return false;
            pace(signalEnd);
            writeAll(STDOUT_FILENO, bytes, size);
            written = signalEnd;
            sayProgress(signalEnd);
            return true;
        });
        summary();
        if (settings.live) {
            finishLive(written);
            return 0;
        }
        if (!finished) {
            post(stderr, "TrajixBinary: stopped");
            return 143;
        }
        post(stderr, "TrajixBinary: finished");
        return 0;
    }
    trajix::AtomicFile out(settings.output);
    const bool finished = generator.run([&](const std::uint8_t* bytes, std::size_t size, double signalEnd) {
        if (liveEnded(signalEnd) || stopRequested) return false;
        pace(signalEnd);
        out.write(bytes, size);
        written = signalEnd;
        sayProgress(signalEnd);
        return true;
    });
    summary();
    if (!finished && !settings.live) {
        out.discard();
        post(stderr, "TrajixBinary: stopped; no output written");
        return 143;
    }
    out.commit();
    if (settings.live) {
        finishLive(written);
        return 0;
    }
    post(messages, "TrajixBinary: finished");
    return 0;
}

long long integerOption(const std::string& name, const char* text, long long low, long long high)
{
    long long value = 0;
    if (!text || !trajix::tryParseInteger(text, value) || value < low || value > high)
        throw trajix::Error(
            fmt::format("{} needs a whole number from {} to {}, not '{}'", name, low, high, text ? text : ""));
    return value;
}

constexpr long long anyCount = 9000000000000000000LL;

}  // namespace

int main(int argc, char** argv)
{
    Arguments arguments;
    std::vector<std::string> positional;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            const auto value = [&]() { return i + 1 < argc ? argv[++i] : nullptr; };
            if (arg == "--noise-only")
                arguments.noiseOnly = true;
            else if (arg == "--realtime")
                arguments.realtime = true;
            else if (arg == "--duration-limited")
                arguments.durationLimited = true;
            else if (arg == "--live") {
                const char* text = value();
                if (!text || !*text) throw trajix::Error("--live needs tcp://HOST:PORT or udp://[HOST]:PORT");
                arguments.live = text;
            } else if (arg == "--seed")
                arguments.seed = integerOption(arg, value(), 0, anyCount);
            else if (arg == "--max-satellites")
                arguments.maxSatellites = integerOption(arg, value(), 0, anyCount);
            else if (arg == "--threads")
                arguments.threads = integerOption(arg, value(), 1, 256);
            else if (arg == "--bits-per-sample")
                arguments.bitsPerSample = integerOption(arg, value(), 1, 64);
            else if (arg == "--sample-rate-khz")
                arguments.sampleRateKHz = integerOption(arg, value(), 1, 1000000);
            else if (arg == "--if-hz")
                arguments.intermediateFrequencyHz = integerOption(arg, value(), -1000000000, 1000000000);
            else if (arg == "--iq-format") {
                const char* text = value();
                if (!text || (std::string(text) != "I" && std::string(text) != "IQ"))
                    throw trajix::Error(fmt::format("--iq-format needs I or IQ, not '{}'", text ? text : ""));
                arguments.iqFormat = text;
            } else if (arg == "--output") {
                const char* text = value();
                if (!text || !*text) throw trajix::Error("--output needs a file name or -");
                arguments.output = text;
            } else if (arg == "--ephemeris") {
                const char* text = value();
                if (!text || !*text) throw trajix::Error("--ephemeris needs a RINEX navigation file");
                arguments.ephemeris = text;
            } else if (arg == "--no-iono")
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
                   "usage: TrajixBinary [--noise-only] [--seed N] [--max-satellites N] [--threads N]\n"
                   "                    [--iq-format I|IQ] [--bits-per-sample 1|8|16] [--sample-rate-khz N]\n"
                   "                    [--if-hz N] [--output FILE|-] [--realtime] [--ephemeris FILE]\n"
                   "                    [--no-iono] [--no-tropo]\n"
                   "                    [--live tcp://HOST:PORT|udp://[HOST]:PORT [--duration-limited]] PROFILE\n");
        return 2;
    }
    arguments.profile = positional.front();
    std::signal(SIGTERM, requestStop);
    std::signal(SIGINT, requestStop);
    // A reader that closes standard output ends the run with a message, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return run(arguments);
    } catch (const std::exception& e) {
        fmt::print(stderr, "TrajixBinary: error: {}\n", e.what());
        return 1;
    }
}

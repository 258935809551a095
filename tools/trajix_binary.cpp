// TrajixBinary [options] PROFILE: the signal generator of the scenario step. Reads the
// scenario profile and writes IF_IQ_File (output.dsf): Duration_in_sec seconds of the
// GPS L1 C/A signal of the satellites above the mask, as a receiver on the NMEA file's
// path sees it, in the profile's sample format (the scenario step's: one bit per real
// sample at 16368 kHz). The options, each standing in for a profile key or saying it
// has none, and the keys are set out in main, as --help prints them: noise only, seed,
// satellites, threads, sample format, output (or standard output), real-time pacing,
// RINEX ephemerides with the atmosphere's delays, and a live NMEA stream for the path.
// Notes on what was left out go to standard error.
// Exits 1 with a message on a bad profile or input, leaving nothing under the output
// name; 2 with a message on a usage error.
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
#include <CLI/CLI.hpp>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"
#include "scenario/gps_week.hpp"
#include "signal/generator.hpp"
#include "signal/gps_l1ca.hpp"
#include "signal/live_path.hpp"
#include "signal/realtime_pacer.hpp"
#include "street/street_choices.hpp"
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
    std::optional<long long> centerHz;
    std::optional<std::string> output;
    bool realtime = false;
    std::optional<std::string> ephemeris;
    bool noIonosphere = false;
    bool noTroposphere = false;
    std::optional<trajix::SignalSystems> systems;
    std::optional<std::string> live;
    bool durationLimited = false;
    std::optional<std::string> buildings;
    trajix::street::StreetChoices street;
};

// A usage error found after the profile is read: exit 2.
struct UsageError : trajix::Error {
    using trajix::Error::Error;
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
    trajix::GeneratorSettings settings =
        trajix::readGeneratorProfile(arguments.profile, !arguments.live, arguments.ephemeris.value_or(""));
    if (arguments.noiseOnly) settings.noiseOnly = true;
    if (arguments.seed) settings.seed = static_cast<std::uint64_t>(*arguments.seed);
    if (arguments.maxSatellites) settings.maxSatellites = static_cast<int>(*arguments.maxSatellites);
    if (arguments.threads) settings.threads = static_cast<int>(*arguments.threads);
    if (arguments.iqFormat) settings.format.complex = *arguments.iqFormat == "IQ";
    if (arguments.bitsPerSample) settings.format.bitsPerSample = static_cast<int>(*arguments.bitsPerSample);
    if (arguments.sampleRateKHz) settings.format.rateKHz = static_cast<int>(*arguments.sampleRateKHz);
    if (arguments.intermediateFrequencyHz) settings.format.intermediateFrequencyHz = *arguments.intermediateFrequencyHz;
    if (arguments.centerHz) settings.format.centerHz = *arguments.centerHz;
    if (arguments.output) settings.output = *arguments.output;
    if (settings.output.empty())
        throw trajix::Error(
            fmt::format("the profile '{}' has no value for IF_IQ_File (or give --output)", arguments.profile));
    const bool toStandardOutput = settings.output == "-";
    // With the samples on standard output, every message goes to standard error.
    std::FILE* messages = toStandardOutput ? stderr : stdout;
    if (arguments.noIonosphere) settings.ionosphere = false;
    if (arguments.noTroposphere) settings.troposphere = false;
    if (arguments.systems) settings.systems = *arguments.systems;
    if (arguments.buildings) settings.buildingsFile = *arguments.buildings;
    if (arguments.street.any() && settings.buildingsFile.empty())
        throw UsageError(
            "--default-building-height, --height-attribute, --rail-tunnels, --antenna-height and "
            "--reflection-loss need --buildings (or Buildings_File in the profile)");
    trajix::street::applyStreetChoices(arguments.street, settings.streetRead, settings.streetOptions);

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
    if (!settings.buildingsFile.empty() && !settings.noiseOnly)
        post(messages, fmt::format("TrajixBinary: the street of {}: each change of a satellite is said below",
                                   settings.buildingsFile.string()));
    if (!settings.noiseOnly) {
        std::string list;
        for (const auto& satellite : generator.initialSatellites())
            list += " " + trajix::satelliteName(satellite.system, satellite.prn);
        post(messages, fmt::format("TrajixBinary: satellites above the mask:{}", list));
        for (const auto& satellite : generator.initialSatellites())
            post(messages, fmt::format("TrajixBinary: {} {:>2} elevation {:5.1f} deg, C/N0 {:4.1f} dB-Hz",
                                       satellite.system == trajix::sky::GnssSystem::gps ? "PRN" : "SV ",
                                       trajix::satelliteName(satellite.system, satellite.prn),
                                       satellite.elevationDegrees, satellite.cn0));
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

// A whole number from low to high, or a usage error naming the option.
CLI::Validator wholeNumber(long long low, long long high)
{
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            long long value = 0;
            if (trajix::tryParseInteger(text, value) && value >= low && value <= high) return {};
            return fmt::format("needs a whole number from {} to {}, not '{}'", low, high, text);
        },
        "");
}

// A text that is not empty; what: what the option needs.
CLI::Validator notEmpty(const std::string& what)
{
    return CLI::Validator(
        [what](std::string& text) -> std::string { return text.empty() ? fmt::format("needs {}", what) : ""; }, "");
}

void addNumber(CLI::App& app, const std::string& name, std::optional<long long>& target, long long low, long long high,
               const std::string& help)
{
    app.add_option_function<std::string>(
           name,
           [&target](const std::string& text) {
               long long value = 0;
               trajix::tryParseInteger(text, value);
               target = value;
           },
           help)
        ->type_name("N")
        ->check(wholeNumber(low, high));
}

CLI::Option* addText(CLI::App& app, const std::string& name, std::optional<std::string>& target,
                     const std::string& help)
{
    return app.add_option_function<std::string>(
        name, [&target](const std::string& text) { target = text; }, help);
}

constexpr long long anyCount = 9000000000000000000LL;

// Every key of the profile the generator reads, with what it holds; the options above
// name the keys they stand in for.
constexpr const char* profileKeys =
    R"(Profile keys (PROFILE holds one "Key = value" a line, as the scenario step writes it):
  GPS_Week               GPS week of the start (10-bit, placed by the date, or full)
  GPS_Start_Time_in_sec  seconds into that week of the path's first fix
  Duration_in_sec        seconds of signal, 1 to 86400
  Simulation_Day         day of the month of the start
  Simulation_Mon         month of the start
  Simulation_Year        year of the start
  SampleRate_in_KHz      samples per millisecond (--sample-rate-khz)
  bitPerSample           1, 8 or 16 bits a sample (--bits-per-sample)
  IQ_format              I or IQ (--iq-format)
  IFFreq_in_Hz           where the centre lies in the samples (--if-hz)
  CenterFreq_in_Hz       the radio frequency at the IF; default from Systems
                         (--center-hz)
  Mask_in_deg            elevation mask in degrees
  NoiseFigure_in_dB      the receiver's noise figure, 0 to 30 dB
  Almanac_File           YUMA almanac of the satellites (not read with Ephemeris_File)
  Ephemeris_File         RINEX navigation file of broadcast ephemerides (--ephemeris)
  Source_NMEA_file       NMEA file of the receiver's path (GGA fixes)
  IF_IQ_File             the recording to write (--output)
  Static                 1: the receiver stays at the place below, no NMEA file
  Latitude_in_deg        latitude of a static receiver in degrees
  Longitude_in_deg       longitude of a static receiver in degrees
  Altitude_in_m          height of a static receiver above the ellipsoid in metres
  Noise_Only             1: noise only (--noise-only)
  Noise_Seed             seed of the thermal noise (--seed)
  Max_Satellites         most satellites at once, 0 to 32 (--max-satellites)
  Ionosphere             0 or 1: the ionosphere's delay (--no-iono)
  Troposphere            0 or 1: the troposphere's delay (--no-tropo)
  Systems                the signals: any of gps, galileo, beidou, glonass (--systems)
  Buildings_File         buildings and tunnels around the path (--buildings)
  Buildings_Height_Attribute the field of Buildings_File holding heights in
                         metres (--height-attribute)

Exit status: 0 the recording was written; 1 the profile, an input or the output could
not be used (the message names it; nothing is written); 2 usage error; 143 stopped
by SIGTERM or Ctrl-C.)";

}  // namespace

int main(int argc, char** argv)
{
    Arguments arguments;
    CLI::App app{
        "The GPS L1 C/A, Galileo E1 and BeiDou B1I signal generator of the scenario step: reads the scenario profile "
        "PROFILE and\n"
        "writes the recording it names (IF_IQ_File), the signal of the satellites above the mask as\n"
        "a receiver on the profile's NMEA path sees it.",
        "TrajixBinary"};
    app.set_version_flag("--version", std::string("TrajixBinary ") + TRAJIX_VERSION, "Print the version and exit");
    app.get_formatter()->column_width(24);
    app.footer(profileKeys);
    app.add_option("PROFILE", arguments.profile, "The scenario profile (profile.txt)")->required()->type_name("");
    app.add_flag("--noise-only", arguments.noiseOnly,
                 "Deterministic noise of the same size instead of the\n"
                 "signal. Profile key: Noise_Only = 1");
    addNumber(app, "--seed", arguments.seed, 0, anyCount,
              "Seed of the thermal noise; default 1.\n"
              "Profile key: Noise_Seed");
    addNumber(app, "--max-satellites", arguments.maxSatellites, 0, anyCount,
              "At most N satellites at once; default 12.\n"
              "Profile key: Max_Satellites");
    addNumber(app, "--threads", arguments.threads, 1, 256,
              "Make the samples on N threads (1 to 256); default one\n"
              "per core. The bytes are the same whatever N.\n"
              "No profile key");
    addText(app, "--iq-format", arguments.iqFormat,
            "Real samples (I), or complex ones written I then Q\n"
            "(IQ). Profile key: IQ_format")
        ->type_name("I|IQ")
        ->check(CLI::IsMember({"I", "IQ"}).description(""));
    addNumber(app, "--bits-per-sample", arguments.bitsPerSample, 1, 64,
              "1, 8 (signed bytes) or 16 (signed little-endian\n"
              "words). Profile key: bitPerSample");
    addNumber(app, "--sample-rate-khz", arguments.sampleRateKHz, 1, 1000000,
              "Samples per millisecond.\n"
              "Profile key: SampleRate_in_KHz");
    addNumber(app, "--if-hz", arguments.intermediateFrequencyHz, -1000000000, 1000000000,
              "Where the centre frequency lies in the samples, 0\n"
              "for complex baseband. Profile key: IFFreq_in_Hz");
    addNumber(app, "--center-hz", arguments.centerHz, 1, 100000000000LL,
              "The radio frequency at the IF; each signal lies at\n"
              "its carrier's distance from it. Default: 1575420000\n"
              "for GPS and Galileo, 1602000000 for GLONASS alone,\n"
              "else the middle of the systems' main lobes.\n"
              "Profile key: CenterFreq_in_Hz");
    addText(app, "--output", arguments.output,
            "Write FILE; - streams the samples to standard output\n"
            "(every message then goes to standard error).\n"
            "Profile key: IF_IQ_File")
        ->type_name("FILE|-")
        ->check(notEmpty("a file name or -"));
    app.add_flag("--realtime", arguments.realtime,
                 "Let the samples leave at the signal's own rate, a note\n"
                 "on standard error each time they fall behind.\n"
                 "No profile key");
    addText(app, "--ephemeris", arguments.ephemeris,
            "Broadcast ephemerides of a real day from a RINEX 2 or 3\n"
            "GPS navigation file (the almanac is then not read),\n"
            "with the ionosphere and troposphere on.\n"
            "Profile key: Ephemeris_File")
        ->type_name("FILE")
        ->check(notEmpty("a RINEX navigation file"));
    app.add_flag("--no-iono", arguments.noIonosphere,
                 "No ionospheric delay.\n"
                 "Profile key: Ionosphere = 0");
    app.add_flag("--no-tropo", arguments.noTroposphere,
                 "No tropospheric delay.\n"
                 "Profile key: Troposphere = 0");
    addText(app, "--live", arguments.live,
            "The receiver's path from a live NMEA stream (GGA,\n"
            "dated by RMC), tcp://HOST:PORT or udp://[HOST]:PORT,\n"
            "instead of the NMEA file, until the stream ends or\n"
            "Ctrl-C. No profile key (Source_NMEA_file is not read)")
        ->type_name("URL")
        ->check(notEmpty("tcp://HOST:PORT or udp://[HOST]:PORT"));
    app.add_option_function<std::string>(
           "--systems",
           [&arguments](const std::string& text) {
               try {
                   arguments.systems = trajix::parseSignalSystems(text);
               } catch (const trajix::Error& e) {
                   throw CLI::ValidationError("--systems", e.what());
               }
           },
           "The signals in the recording, a list of gps (the\n"
           "default), galileo, beidou and glonass. Profile key: Systems")
        ->type_name("LIST");
    addText(app, "--buildings", arguments.buildings,
            "Buildings and tunnels around the path (OSM .osm or\n"
            ".osm.pbf, GeoJSON, Shapefile, GeoPackage): a satellite\n"
            "they hide is silent, one received by a reflection\n"
            "only arrives later and weaker, an echo is a second\n"
            "copy; under a tunnel only noise. Each change is said.\n"
            "Profile key: Buildings_File")
        ->type_name("FILE")
        ->check(notEmpty("a buildings file"));
    app.add_option_function<std::string>(
           "--height-attribute", [&arguments](const std::string& text) { arguments.street.heightAttribute = text; },
           "The field of the buildings file holding the height\n"
           "in metres (e.g. HEIGHT_ROOF), tried first.\n"
           "Profile key: Buildings_Height_Attribute")
        ->type_name("NAME");
    app.add_option_function<double>(
           "--default-building-height", [&arguments](double value) { arguments.street.defaultBuildingHeight = value; },
           "Height of a building with no height and no levels,\n"
           "metres (default 10). No profile key")
        ->type_name("M");
    app.add_flag_function(
        "--rail-tunnels", [&arguments](std::int64_t) { arguments.street.railTunnels = true; },
        "Railway tunnels cover the sky too (a receiver on a\n"
        "train); road tunnels always do. No profile key");
    app.add_option_function<double>(
           "--antenna-height", [&arguments](double value) { arguments.street.antennaHeight = value; },
           "Antenna height above the ground, metres (default\n"
           "1.5). No profile key")
        ->type_name("M");
    app.add_option_function<double>(
           "--reflection-loss", [&arguments](double value) { arguments.street.reflectionLoss = value; },
           "How much weaker a reflected signal or an echo is, dB\n"
           "(default 6). No profile key")
        ->type_name("DB");
    app.add_flag("--duration-limited", arguments.durationLimited,
                 "With --live, end after Duration_in_sec too.\n"
                 "No profile key");
    try {
        app.parse(argc, argv);
        if (arguments.durationLimited && !arguments.live) throw CLI::RequiresError("--duration-limited", "--live");
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::RequiredError& e) {
        // An unknown option before a missing profile: the option is what went wrong.
        if (!app.remaining().empty())
            app.exit(CLI::ExtrasError(app.remaining()));
        else
            app.exit(e);
        return 2;
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    std::signal(SIGTERM, requestStop);
    std::signal(SIGINT, requestStop);
    // A reader that closes standard output ends the run with a message, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return run(arguments);
    } catch (const UsageError& e) {
        fmt::print(stderr, "TrajixBinary: {}\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        fmt::print(stderr, "TrajixBinary: error: {}\n", e.what());
        return 1;
    }
}

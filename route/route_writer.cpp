// Parameters, the NMEA writer and the whole pipeline.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/output.hpp"
#include "common/units.hpp"
#include "nmea/sentences.hpp"
#include "nmea/sky_sentences.hpp"
#include "route/path_file.hpp"
#include "route/progress_steps.hpp"
#include "route/route.hpp"

namespace trajix::route {

namespace {

constexpr double g = 9.81;
constexpr double minimumJerk = 0.981;        // m/s^3: gentler jerks are raised to this
constexpr double stepsPerSecond = 10000;     // 0.0001 s integration steps
constexpr long double writeHeight = 100.0L;  // m above the frame's origin
constexpr std::size_t flushSize = 1 << 20;

void requirePositive(double value, std::string_view field)
{
    if (!std::isfinite(value) || value <= 0)
        throw Error(fmt::format("{} must be greater than 0 (got {})", field, value));
}

void requireWholeSeconds(double value, std::string_view field)
{
    if (!std::isfinite(value) || value < 0 || value != std::trunc(value))
        throw Error(fmt::format("{} must be a whole number of seconds, 0 or more (got {})", field, value));
}

}  // namespace

void applyParameters(RouteState& state, const RouteParameters& parameters, bool forWriting)
{
    requirePositive(parameters.outputRate, "output rate (Hz)");
    requirePositive(parameters.maxSpeedKmh, "max speed (km/h)");
    requirePositive(parameters.maxLatAccG, "max lateral acceleration (g)");
    requirePositive(parameters.maxLongAccG, "max longitudinal acceleration (g)");
    if (!std::isfinite(parameters.maxJerkGs))
        throw Error(fmt::format("max jerk (g/s) {} is not a number", parameters.maxJerkGs));
    if (!std::isfinite(parameters.smoothFactor) || std::trunc(parameters.smoothFactor) < 1 ||
        parameters.smoothFactor > 1e9)
        throw Error(fmt::format("position smoothing factor must be a whole number from 1 to 1000000000 (got {})",
                                parameters.smoothFactor));
    if (!std::isfinite(parameters.stationaryStart) || !std::isfinite(parameters.stationaryEnd))
        throw Error("the stationary periods must be numbers");
    if (forWriting) {
        requireWholeSeconds(parameters.stationaryStart, "stationary start period");
        requireWholeSeconds(parameters.stationaryEnd, "stationary end period");
        requireWholeSeconds(parameters.startTime, "start time");
        // A bad date, or RMC or ZDA without one, is refused before the route is driven.
        checkDateSentences(parameters.dates);
    }
    state.maxSpeed = parameters.maxSpeedKmh / kmhPerMetrePerSecond;
    state.maxLatAcc = parameters.maxLatAccG * g;
    state.maxLongAcc = parameters.maxLongAccG * g;
    state.maxJerk = parameters.maxJerkGs * g;
    if (state.maxJerk < minimumJerk) state.maxJerk = minimumJerk;
    state.smoothFactor = static_cast<int>(std::trunc(parameters.smoothFactor));
    // The interval is held as a double (1/20 lies slightly above 0.05); the sample
    // test counts it in whole 0.0001 s steps.
    state.outputInterval = 1.0 / parameters.outputRate;
    state.intervalTicks = static_cast<std::int64_t>(std::trunc(state.outputInterval * stepsPerSecond));
    if (state.intervalTicks < 1)
        throw Error(
            fmt::format("output rate {} Hz is too high: samples are at least 0.0001 s apart", parameters.outputRate));
}

namespace {

struct Fix {
    long double latitude = 0, longitude = 0;
    double course = 0, speedKmh = 0;
    std::string_view altitude = fixedAltitude;  ///< the GGA altitude text
};

// A sample's height as the GGA altitude: metres with two decimals, like the fixed one.
void formatHeight(double height, std::string& text)
{
    text = fmt::format("{:.2f}", height);
    if (text == "-0.00") text = "0.00";
}

// The fix of sample j (1 up to the sample count - 1): position, speed and course from
// the step from sample j - 1, the height as GGA's altitude when the path has heights.
void sampleFix(RouteState& state, std::int64_t j, Fix& fix, std::string& heightText)
{
    const auto ju = static_cast<std::size_t>(j);
    const double east = state.sampleEast[ju], north = state.sampleNorth[ju];
    ENUtoECEF(state.geo, east, north, writeHeight);
    ECEFToLatLong(state.geo, state.geo.ecefX, state.geo.ecefY, state.geo.ecefZ);
    fix.latitude = state.geo.geoLatitude;
    fix.longitude = state.geo.geoLongitude;
    const double dx = east - state.sampleEast[ju - 1], dy = north - state.sampleNorth[ju - 1];
    const double step = std::sqrt(dx * dx + dy * dy);
    fix.speedKmh = step * kmhPerMetrePerSecond / state.outputInterval;
    fix.course =
        (dx == 0 && dy == 0) ? 0.0 : static_cast<double>(normaliseHeading(std::atan2(dx, dy) * 180 / std::numbers::pi));
    if (!state.sampleHeight.empty()) {
        formatHeight(state.sampleHeight[ju], heightText);
        fix.altitude = heightText;
    }
}

class SentenceWriter {
public:
    SentenceWriter(AtomicFile& file, bool vtg, SampleSentences sentences, long double interval, long double startClock)
        : file_(file),
          vtg_(vtg),
          sentences_(std::move(sentences)),
          interval_(interval),
          clock_(startClock),
          lastTime_(startClock - interval)
    {
        buffer_.reserve(flushSize + 256);
    }
    void group(const Fix& fix, double speedKmh)
    {
        writeAt(clock_, fix, speedKmh);
        lastTime_ = clock_;
        clock_ += interval_;
    }
    void writeAt(long double time, const Fix& fix, double speedKmh)
    {
        const NmeaStamp stamp = sentences_.stamp(time);
        buffer_ += sentences_.gga(stamp, fix.latitude, fix.longitude, fix.altitude, static_cast<double>(fix.course));
        buffer_ += sentences_.gsa();
        buffer_ += sentences_.rmc(stamp, fix.latitude, fix.longitude, speedKmh, fix.course);
        if (vtg_) buffer_ += sentences_.vtg(fix.course, speedKmh);
        buffer_ += sentences_.zda(stamp);
        buffer_ += sentences_.gsv(stamp);
        if (buffer_.size() >= flushSize) flush();
    }
    void flush()
    {
        file_.write(buffer_);
        buffer_.clear();
    }
    long double& clock() { return clock_; }
    long double lastTime() const { return lastTime_; }

private:
    AtomicFile& file_;
    bool vtg_;
    SampleSentences sentences_;
    long double interval_;
    long double clock_;
    long double lastTime_;
    std::string buffer_;
};

}  // namespace

void saveNMEA(RouteState& state, const RouteParameters& parameters, const std::filesystem::path& outputFileName,
              ProgressSink& progress)
{
    const auto count = state.sampleCount;
    const double interval = state.outputInterval;
    // Repetition counts are formed in extended precision from the double interval, so
    // 80 s at 20 Hz gives 1599, not 1600.
    const auto startRepeats = static_cast<std::int64_t>(
        std::trunc(static_cast<long double>(parameters.stationaryStart) / static_cast<long double>(interval)));
    const auto endRepeats = static_cast<std::int64_t>(
        std::trunc(static_cast<long double>(parameters.stationaryEnd) / static_cast<long double>(interval)));

    // The date is checked before the file is created.
    SampleSentences dateSentences(parameters.dates, static_cast<long double>(parameters.startTime),
                                  static_cast<long double>(interval), VtgStyle::Route);
    AtomicFile file(outputFileName);
    SentenceWriter writer(file, parameters.writeVtg, std::move(dateSentences), static_cast<long double>(interval),
                          static_cast<long double>(parameters.startTime));
    StepProgress gauge(progress, "Writing points to file", count);
    Fix fix;
    std::string heightText;
    bool firstSample = true;
    for (std::int64_t j = 1; j < count; ++j) {
        gauge.at(j);
        sampleFix(state, j, fix, heightText);
        if (firstSample) {
            // The first sample is written only as the stationary start, at rest.
            for (std::int64_t r = 0; r < startRepeats; ++r) writer.group(fix, 0.0);
            firstSample = false;
        } else {
            writer.group(fix, fix.speedKmh);
        }
    }
    for (std::int64_t r = 0; r < endRepeats; ++r) writer.group(fix, 0.0);
    writeRunOut(writer.lastTime(), writer.clock(), static_cast<long double>(interval),
                [&](long double time) { writer.writeAt(time, fix, 0.0); });
    writer.flush();
    file.commit();
    progress.finish();
}

namespace {

// The first sample written: sample 1 as the stationary start, else sample 2.
Fix firstSample(RouteState& state, const RouteParameters& parameters)
{
    const double interval = state.outputInterval;
    const bool stationaryStart =
        std::trunc(static_cast<long double>(parameters.stationaryStart) / static_cast<long double>(interval)) > 0;
    const std::int64_t first = std::min<std::int64_t>(stationaryStart ? 1 : 2, state.sampleCount - 1);
    Fix fix;
    std::string heightText;
    if (first >= 1) sampleFix(state, first, fix, heightText);
    return fix;
}

}  // namespace

std::optional<sky::SkyView> firstFixSky(RouteState& state, const RouteParameters& parameters)
{
    if (!parameters.dates.sky) return std::nullopt;
    const double interval = state.outputInterval;
    const Fix fix = firstSample(state, parameters);
    SampleSentences sentences(parameters.dates, static_cast<long double>(parameters.startTime),
                              static_cast<long double>(interval), VtgStyle::Route);
    const NmeaStamp stamp = sentences.stamp(static_cast<long double>(parameters.startTime));
    SkySentences sky(parameters.dates.sky, parameters.dates.maskDegrees, parameters.dates.systems,
                     parameters.dates.maxUsed, parameters.dates.street);
    return sky.observe(stamp, fix.latitude, fix.longitude, fix.altitude, fix.course);
}

FirstFix firstFix(RouteState& state, const RouteParameters& parameters)
{
    const Fix fix = firstSample(state, parameters);
    return {static_cast<double>(fix.latitude), static_cast<double>(fix.longitude), fix.course};
}

std::vector<bool> lostFixSamples(RouteState& state, const RouteParameters& parameters)
{
    if (!parameters.dates.street || !parameters.dates.sky || state.sampleCount < 2) return {};
    std::vector<bool> lost(static_cast<std::size_t>(state.sampleCount), false);
    const double interval = state.outputInterval;
    // The writings of saveNMEA: the first sample as the stationary start, then one each.
    const auto startRepeats = static_cast<std::int64_t>(
        std::trunc(static_cast<long double>(parameters.stationaryStart) / static_cast<long double>(interval)));
    SampleSentences sentences(parameters.dates, static_cast<long double>(parameters.startTime),
                              static_cast<long double>(interval), VtgStyle::Route);
    auto clock = static_cast<long double>(parameters.startTime);
    Fix fix;
    std::string heightText;
    for (std::int64_t j = 1; j < state.sampleCount; ++j) {
        sampleFix(state, j, fix, heightText);
        for (std::int64_t r = 0; r < (j == 1 ? startRepeats : 1); ++r) {
            sentences.gga(sentences.stamp(clock), fix.latitude, fix.longitude, fix.altitude,
                          static_cast<double>(fix.course));
            if (sentences.fixLost()) lost[static_cast<std::size_t>(j)] = true;
            clock += static_cast<long double>(interval);
        }
    }
    return lost;
}

RouteState LoadKML(const std::filesystem::path& kmlFileName, const RouteParameters& parameters,
                   const std::filesystem::path& outputFileName, ProgressSink& progress, UserPrompt& prompt,
                   const RouteCallbacks& callbacks)
{
    RouteState state;
    applyParameters(state, parameters, !outputFileName.empty());
    const std::string source = kmlFileName.string();
    const auto paths = readRoutePathFile(kmlFileName);
    const auto& coordinates = choosePath(paths, parameters.path, source).points;
    progress.start("Loading KML file", static_cast<long long>(coordinates.size()));
    loadRawPoints(state, coordinates, callbacks);
    if (parameters.heights) loadRawHeights(state, coordinates, source);
    densifyPath(state, progress);
    smoothPath(state, progress, callbacks);
    calculateDistances(state, progress);
    calculateDeflections(state, progress);
    findCorners(state, progress);
    makeCornersFeasible(state);
    holdLateralLimit(state, progress);
    runProfilePass(state, parameters, progress, callbacks, prompt);
    calculatePositions(state);
    measureAccelerations(state);
    if (!outputFileName.empty())
        saveNMEA(state, parameters, outputFileName, progress);
    else
        progress.finish();
    return state;
}

}  // namespace trajix::route

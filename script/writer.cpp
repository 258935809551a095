// The script's NMEA writer: every stride-th recorded step at the output rate.
#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/picture.hpp"
#include "common/units.hpp"
#include "nmea/sentences.hpp"
#include "script/script.hpp"

namespace trajix {

namespace {
// 10^15 steps of 1 ms (31,700 years): every stride below it is exact in double and fits int64.
constexpr double maxSampleStride = 1e15;
}  // namespace

std::int64_t sampleStrideForRate(double rate)
{
    if (!std::isfinite(rate) || rate <= 0)
        throw Error(fmt::format("output rate {} Hz: the rate must be above 0", rate));
    // In double, halves away from zero: 50 steps at 20 Hz, 333 at 3 Hz.
    const double stride = std::round(1.0 / rate / integrationStep);
    if (stride < 1)
        throw Error(fmt::format("output rate {} Hz: the rate gives a stride of {} steps of 1 ms; it must be at least 1",
                                rate, stride));
    // A stride past the int64 range is a rate no run can reach: one sample in billions of years.
    if (!(stride < maxSampleStride))
        throw Error(fmt::format("output rate {} Hz: the rate is too low; it must give a sample at least every {} s",
                                rate, maxSampleStride * integrationStep));
    return static_cast<std::int64_t>(stride);
}

std::int64_t saveNMEA(ScriptState& state, const ScriptOptions& options, ProgressSink& progress)
{
    if (state.sampleCount < 2) throw Error("the script records no motion: there is nothing to write");
    progress.start("Saving NMEA file", state.sampleCount);
    const std::int64_t stride = sampleStrideForRate(options.outputRate);
    if (state.keepStride != 1 && state.keepStride != stride)
        throw Error(fmt::format("the run kept every {}th step but the output rate {} Hz needs every {}th",
                                state.keepStride, options.outputRate, stride));
    state.output.outputInterval = outputIntervalForRate(options.outputRate);
    const long double interval = state.output.outputInterval;

    // The date is checked before the file is created.
    SampleSentences dateSentences(options.dates, state.output.outputClock, interval, VtgStyle::Route);
    setLocalOrigin(state.geo, state.geoLatitude, state.geoLongitude, 0);
    AtomicFile file(state.output.outputFileName);
    std::int64_t sentences = 0;
    std::int64_t written = 0;
    std::string text;
    const auto addSentence = [&](std::string sentence) {
        if (sentence.empty()) return;
        text += sentence;
        // GSV comes as several sentences in one text.
        sentences += static_cast<std::int64_t>(std::count(sentence.begin(), sentence.end(), '\n'));
    };
    long double lastTime = state.output.outputClock;
    long double lastLatitude = 0, lastLongitude = 0;
    double lastHeading = 0;
    std::string lastAltitude;
    for (std::int64_t i = 1; i < state.sampleCount; i += stride) {
        // Kept steps only: step i is element (i - 1) / stride.
        const auto k = static_cast<std::size_t>(state.keepStride == 1 ? i : (i - 1) / stride);
        progress.position(i);
        ENUtoECEF(state.geo, state.sampleEast[k], state.sampleNorth[k], 0);
        ECEFToLatLong(state.geo, state.geo.ecefX, state.geo.ecefY, state.geo.ecefZ);
        lastLatitude = state.geo.geoLatitude;
        lastLongitude = state.geo.geoLongitude;
        lastTime = state.output.outputClock;
        lastHeading = state.sampleHeading[k];
        const NmeaStamp stamp = dateSentences.stamp(lastTime);
        text.clear();
        lastAltitude = formatPicture(state.sampleHeight[k], "####.00");
        if (options.hdtAndGll) {
            addSentence(dateSentences.gll(stamp, lastLatitude, lastLongitude, lastAltitude,
                                          options.standardGll ? GllLayout::Standard : GllLayout::TimeFirst,
                                          static_cast<double>(normaliseHeading(lastHeading))));
            addSentence(dateSentences.hdt(lastHeading));
        } else {
            addSentence(dateSentences.gga(stamp, lastLatitude, lastLongitude, lastAltitude,
                                          static_cast<double>(normaliseHeading(lastHeading))));
        }
        addSentence(dateSentences.gsa());
        addSentence(dateSentences.rmc(stamp, lastLatitude, lastLongitude,
                                      state.sampleSpeed[k] * kmhPerMetrePerSecond_v<long double>,
                                      normaliseHeading(lastHeading)));
        addSentence(dateSentences.zda(stamp));
        addSentence(dateSentences.gsv(stamp));
        file.write(text);
        state.output.outputClock += interval;
        if (++written % 4096 == 0) throwIfCancelled(progress, "the run was cancelled");
    }
    if (!options.hdtAndGll) {
        // Stationary copies of the last fix up to the next whole second.
        writeRunOut(lastTime, state.output.outputClock, interval, [&](long double time) {
            const NmeaStamp stamp = dateSentences.stamp(time);
            text.clear();
            addSentence(dateSentences.gga(stamp, lastLatitude, lastLongitude, lastAltitude,
                                          static_cast<double>(normaliseHeading(lastHeading))));
            addSentence(dateSentences.gsa());
            addSentence(dateSentences.rmc(stamp, lastLatitude, lastLongitude, 0, normaliseHeading(lastHeading)));
            addSentence(dateSentences.zda(stamp));
            addSentence(dateSentences.gsv(stamp));
            file.write(text);
        });
    }
    file.commit();
    // The next run starts where this one's last written sample lay.
    state.geoLatitude = lastLatitude;
    state.geoLongitude = lastLongitude;
    progress.finish();
    return sentences;
}

}  // namespace trajix

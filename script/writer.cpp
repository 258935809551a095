// The script's NMEA writer: every stride-th recorded step at the output rate.
#include <cmath>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/picture.hpp"
#include "nmea/sentences.hpp"
#include "script/script.hpp"

namespace trajix {

std::int64_t sampleStrideForRate(double rate)
{
    if (!std::isfinite(rate) || rate <= 0)
        throw Error(fmt::format("output rate {} Hz: the rate must be above 0", rate));
    // In double, halves away from zero: 50 steps at 20 Hz, 333 at 3 Hz.
    const double stride = std::round(1.0 / rate / integrationStep);
    if (stride < 1)
        throw Error(fmt::format("output rate {} Hz: the rate gives a stride of {} steps of 1 ms; it must be at least 1",
                                rate, stride));
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

    setLocalOrigin(state.geo, state.geoLatitude, state.geoLongitude, 0);
    AtomicFile file(state.output.outputFileName);
    std::int64_t sentences = 0;
    std::int64_t written = 0;
    std::string text;
    long double lastTime = state.output.outputClock;
    long double lastLatitude = 0, lastLongitude = 0;
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
        if (options.hdtAndGll) {
            text = gllSentence(lastTime, lastLatitude, lastLongitude);
            text += hdtSentence(state.sampleHeading[k]);
            sentences += 2;
        } else {
            lastAltitude = formatPicture(state.sampleHeight[k], "####.00");
            text = ggaSentence(lastTime, lastLatitude, lastLongitude, lastAltitude);
            ++sentences;
        }
        file.write(text);
        state.output.outputClock += interval;
        if (++written % 4096 == 0 && progress.cancelled()) throw Error("the run was cancelled");
    }
    if (!options.hdtAndGll) {
        // Stationary copies of the last fix up to the next whole second.
        sentences += writeRunOut(lastTime, state.output.outputClock, interval, [&](long double time) {
            file.write(ggaSentence(time, lastLatitude, lastLongitude, lastAltitude));
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

#pragma once
// The output state shared by every NMEA writer, and the run-out that ends each file
// on a whole second.
#include <cstdint>
#include <functional>
#include <string>

namespace trajix {

struct OutputState {
    long double outputInterval = 0.05L;  ///< seconds between samples, 1 / output rate
    long double outputClock = 0.0L;      ///< UTC time of the next sentence, seconds of day, not wrapped at 24 h
    std::string outputFileName;          ///< the NMEA file being written
};

/// Converts an output rate text or value to the interval 1 / rate. Throws Error for a
/// rate that is not a positive finite number.
long double outputIntervalForRate(double rate);

/// Pads a file with samples up to the next whole second.
/// lastSampleTime is the time T of the last sample written before the run-out;
/// clock holds the time of the next sample on entry (T + interval) and is advanced
/// by interval after each run-out sample. Samples are written at the clock's value;
/// the run-out writes at least one and stops after the first whose time t is a whole
/// second (t - trunc(t + 1e-8) < 1e-4) or lies at or after W = trunc(T + 1e-8) + 1,
/// so it also ends when the clock is off the interval grid or the rate does not
/// divide a second. Returns the number of samples written.
std::int64_t writeRunOut(long double lastSampleTime, long double& clock, long double interval,
                         const std::function<void(long double time)>& writeSample);

}  // namespace trajix

#include "common/output.hpp"

#include <cmath>

#include <fmt/format.h>

#include "common/error.hpp"

namespace trajix {

long double outputIntervalForRate(double rate)
{
    if (!std::isfinite(rate) || rate <= 0) throw Error(fmt::format("output rate {} Hz is not a positive number", rate));
    return 1.0L / static_cast<long double>(rate);
}

std::int64_t writeRunOut(long double lastSampleTime, long double& clock, long double interval,
                         const std::function<void(long double time)>& writeSample)
{
    if (!(interval > 0)) throw Error("the output interval must be positive");
    const long double end = std::trunc(lastSampleTime + 1e-8L) + 1;
    std::int64_t written = 0;
    for (;;) {
        const long double t = clock;
        writeSample(t);
        ++written;
        clock += interval;
        const bool wholeSecond = t - std::trunc(t + 1e-8L) < 1e-4L;
        if (wholeSecond || t >= end) break;
    }
    return written;
}

}  // namespace trajix

#pragma once
// Unit factors and the usual start of a run's clock, shared by every pipeline.
#include <concepts>

namespace trajix {

/// km/h in one m/s, in the precision of T: speeds are kept in m/s and shown and
/// written in km/h. Each type gets the nearest value of its own, as a literal would.
template <std::floating_point T>
inline constexpr T kmhPerMetrePerSecond_v = static_cast<T>(3.6L);
inline constexpr double kmhPerMetrePerSecond = kmhPerMetrePerSecond_v<double>;

/// km/h in one knot (one nautical mile, 1852 m, an hour).
inline constexpr long double kmhPerKnot = 1.852L;

/// 09:00:00 in seconds: where a run's clock starts unless the user sets another time
/// (the time of day of the first route or script sentence, the seconds into the GPS
/// week of a scenario).
inline constexpr int nineOClockSeconds = 9 * 3600;

}  // namespace trajix

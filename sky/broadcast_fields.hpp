#pragma once
// The broadcast navigation message's number fields: values in their scale, rounded and
// clamped to the field's width, as the orbit and message encoders share them.
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace trajix::gps {

inline constexpr double twoToThe(int exponent)
{
    double value = 1;
    for (int i = 0; i < (exponent < 0 ? -exponent : exponent); ++i) value = exponent < 0 ? value / 2 : value * 2;
    return value;
}

/// An integer field of the given signed width, rounded and clamped to what fits.
inline std::int64_t signedField(double value, double scale, int bits)
{
    const double limit = twoToThe(bits - 1);
    const double scaled = std::clamp(std::round(value / scale), -limit, limit - 1);
    return static_cast<std::int64_t>(scaled);
}

/// An integer field of the given unsigned width, rounded and clamped to what fits.
inline std::int64_t unsignedField(double value, double scale, int bits)
{
    const double scaled = std::clamp(std::round(value / scale), 0.0, twoToThe(bits) - 1);
    return static_cast<std::int64_t>(scaled);
}

/// An angle in radians brought into [-pi, pi) with the message's pi.
inline double wrapAngle(double radians, double pi)
{
    double wrapped = std::fmod(radians, 2 * pi);
    if (wrapped >= pi) wrapped -= 2 * pi;
    if (wrapped < -pi) wrapped += 2 * pi;
    return wrapped;
}

}  // namespace trajix::gps

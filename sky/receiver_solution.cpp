#include "sky/receiver_solution.hpp"

#include <array>
#include <cmath>
#include <numbers>

namespace trajix::sky {

namespace {

constexpr double speedOfLight = 299792458.0;

// Solves the 4x4 system a x = b in place by elimination with partial pivoting; false
// when a pivot vanishes against the matrix's scale (a singular geometry).
bool solve4(std::array<std::array<double, 4>, 4>& a, std::array<double, 4>& b)
{
    double scale = 0;
    for (const auto& row : a)
        for (double v : row) scale = std::max(scale, std::fabs(v));
    if (!(scale > 0)) return false;
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
        if (std::fabs(a[pivot][c]) < 1e-12 * scale) return false;
        std::swap(a[c], a[pivot]);
        std::swap(b[c], b[pivot]);
        for (int r = c + 1; r < 4; ++r) {
            const double f = a[r][c] / a[c][c];
            for (int k = c; k < 4; ++k) a[r][k] -= f * a[c][k];
            b[r] -= f * b[c];
        }
    }
    for (int c = 3; c >= 0; --c) {
        for (int k = c + 1; k < 4; ++k) b[c] -= a[c][k] * b[k];
        b[c] /= a[c][c];
    }
    return true;
}

// SplitMix64's finaliser: spreads the bits of the seed, the second and the satellite.
std::uint64_t mix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// A uniform draw in (0, 1] from a 64-bit draw's top 53 bits.
double uniform(std::uint64_t draw)
{
    return (static_cast<double>(draw >> 11) + 1) * 0x1.0p-53;
}

}  // namespace

std::optional<PositionSolution> solvePosition(std::span<const Pseudorange> ranges, const Ecef& start)
{
    if (ranges.size() < 4) return std::nullopt;
    PositionSolution s{start, 0, 0};
    for (int step = 1; step <= 20; ++step) {
        // The normal equations of the linearised ranges: rows -(unit vector to the
        // satellite), 1 for the clock.
        std::array<std::array<double, 4>, 4> normal{};
        std::array<double, 4> right{};
        for (const Pseudorange& r : ranges) {
            const double dx = r.satellite.x - s.position.x, dy = r.satellite.y - s.position.y,
                         dz = r.satellite.z - s.position.z;
            const double distance = std::sqrt(dx * dx + dy * dy + dz * dz);
            const std::array<double, 4> h{-dx / distance, -dy / distance, -dz / distance, 1};
            const double residual = r.range - (distance + s.clockBias);
            for (int i = 0; i < 4; ++i) {
                for (int k = 0; k < 4; ++k) normal[i][k] += h[i] * h[k];
                right[i] += h[i] * residual;
            }
        }
        if (!solve4(normal, right)) return std::nullopt;
        s.position.x += right[0];
        s.position.y += right[1];
        s.position.z += right[2];
        s.clockBias += right[3];
        s.iterations = step;
        if (std::sqrt(right[0] * right[0] + right[1] * right[1] + right[2] * right[2] + right[3] * right[3]) < 1e-4)
            return s;
    }
    return std::nullopt;
}

double chipLength(GnssSystem system)
{
    switch (system) {
        case GnssSystem::beidou:
            return speedOfLight / 2.046e6;
        case GnssSystem::glonass:
            return speedOfLight / 0.511e6;
        case GnssSystem::gps:
        case GnssSystem::galileo:
            break;
    }
    return speedOfLight / 1.023e6;
}

double carrierWavelength(GnssSystem system)
{
    switch (system) {
        case GnssSystem::beidou:
            return speedOfLight / 1561.098e6;
        case GnssSystem::glonass:
            return speedOfLight / 1602e6;
        case GnssSystem::gps:
        case GnssSystem::galileo:
            break;
    }
    return speedOfLight / 1575.42e6;
}

double codeNoiseSigma(double cn0, double chipMetres, const CodeTracking& tracking)
{
    const double ratio = std::pow(10.0, cn0 / 10);
    const double d = tracking.spacingChips;
    const double squaringLoss = 1 + 2 / ((2 - d) * tracking.integration * ratio);
    return chipMetres * std::sqrt(tracking.loopBandwidth * d / (2 * ratio) * squaringLoss);
}

double multipathCodeError(double extraPath, double amplitude, double phase, double chipMetres,
                          const CodeTracking& tracking)
{
    const double tau = extraPath / chipMetres;
    const double d = tracking.spacingChips;
    const double a = amplitude * std::cos(phase);
    if (!(tau > 0) || tau >= 1 + d / 2) return 0;
    double chips = 0;
    if (tau < d * (1 + a) / 2)
        chips = a * tau / (1 + a);
    else if (tau <= 1 - d * (1 - a) / 2)
        chips = a * d / 2;
    else
        chips = a * (1 + d / 2 - tau) / (2 - a);
    return chips * chipMetres;
}

std::array<std::uint64_t, 2> firstMt64Draws(std::uint64_t seed)
{
    // The engine's constants: n = 312 words, the middle word m = 156, r = 31 low bits.
    constexpr std::uint64_t f = 6364136223846793005ULL, a = 0xb5026f5aa96619e9ULL;
    constexpr std::uint64_t low = (std::uint64_t{1} << 31) - 1;
    // Word i of the first twist takes the seeded words i, i + 1 and i + 156.
    std::array<std::uint64_t, 158> x{};
    x[0] = seed;
    for (std::uint64_t i = 1; i < x.size(); ++i) x[i] = f * (x[i - 1] ^ (x[i - 1] >> 62)) + i;
    std::array<std::uint64_t, 2> draws{};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::uint64_t y = (x[i] & ~low) | (x[i + 1] & low);
        std::uint64_t z = x[i + 156] ^ (y >> 1) ^ ((y & 1) ? a : 0);
        z ^= (z >> 29) & 0x5555555555555555ULL;
        z ^= (z << 17) & 0x71d67fffeda60000ULL;
        z ^= (z << 37) & 0xfff7eee000000000ULL;
        z ^= z >> 43;
        draws[i] = z;
    }
    return draws;
}

double noiseDraw(std::uint64_t seed, long long second, GnssSystem system, int prn)
{
    const std::uint64_t satellite = static_cast<std::uint64_t>(system) * 1000 + static_cast<std::uint64_t>(prn);
    // The first two draws of std::mt19937_64 seeded with the mix, in the (0, 1] of their
    // top 53 bits. Box and Muller, written out so every standard library draws the same
    // numbers.
    const auto draws = firstMt64Draws(mix(mix(mix(seed) ^ static_cast<std::uint64_t>(second)) ^ satellite));
    const double u1 = uniform(draws[0]), u2 = uniform(draws[1]);
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * std::numbers::pi * u2);
}

double rangeError(const TrackedSatellite& satellite, const ReceiverErrorModel& model, long long second)
{
    const double chip = chipLength(satellite.system);
    double error = 0;
    if (satellite.reflected > 0) {
        error = satellite.reflected;
    } else if (satellite.echoPath > 0) {
        // The echo's carrier phase against the direct signal's follows its extra path;
        // over a second a moving receiver turns it through many cycles, a still one
        // keeps it as the satellite slowly moves.
        const double phase =
            2 * std::numbers::pi * std::fmod(satellite.echoPath / carrierWavelength(satellite.system), 1);
        const double amplitude = std::pow(10.0, -satellite.echoLossDb / 20);
        error = multipathCodeError(satellite.echoPath, amplitude, phase, chip, model.tracking);
    }
    if (model.noise)
        error += codeNoiseSigma(satellite.cn0, chip, model.tracking) *
                 noiseDraw(model.seed, second, satellite.system, satellite.prn);
    return error;
}

std::optional<PositionSolution> receiverSolution(std::span<const TrackedSatellite> satellites, const Ecef& truth,
                                                 const ReceiverErrorModel& model, long long second)
{
    std::vector<Pseudorange> ranges;
    ranges.reserve(satellites.size());
    for (const TrackedSatellite& s : satellites) {
        const double dx = s.position.x - truth.x, dy = s.position.y - truth.y, dz = s.position.z - truth.z;
        ranges.push_back({s.position, std::sqrt(dx * dx + dy * dy + dz * dz) + rangeError(s, model, second)});
    }
    return solvePosition(ranges, truth);
}

}  // namespace trajix::sky

// The receiver's solution: exact ranges give the true position back, noise alone errs
// without bias and by the geometry's dilution, one long path moves the solution as the
// geometry matrix says, and the echo's code error is the zero of a plain early-late
// discriminator.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "sky/receiver_solution.hpp"
#include "sky/sky_model.hpp"

namespace trajix::sky {
namespace {

constexpr double degree = std::numbers::pi / 180;

struct Geometry {
    Ecef receiver;
    ReceiverFrame frame;
    std::vector<TrackedSatellite> satellites;
};

// A receiver somewhere on the Earth and n satellites above 5 degrees at GNSS ranges.
Geometry randomGeometry(std::mt19937_64& random, int n, double cn0)
{
    std::uniform_real_distribution<double> unit(0, 1);
    Geometry g;
    g.receiver =
        geodeticToEcef(std::asin(2 * unit(random) - 1) / degree, 360 * unit(random) - 180, 3000 * unit(random) - 100);
    g.frame = receiverFrame(g.receiver);
    const auto& f = g.frame;
    for (int k = 0; k < n; ++k) {
        const double azimuth = 2 * std::numbers::pi * unit(random);
        const double elevation = std::asin(std::sin(5 * degree) + (1 - std::sin(5 * degree)) * unit(random));
        const double e = std::cos(elevation) * std::sin(azimuth), nn = std::cos(elevation) * std::cos(azimuth),
                     u = std::sin(elevation);
        const double range = 20.0e6 + 5.0e6 * unit(random);
        const Ecef p{g.receiver.x + range * (e * f.eastX + nn * f.northX + u * f.upX),
                     g.receiver.y + range * (e * f.eastY + nn * f.northY + u * f.upY),
                     g.receiver.z + range * (nn * f.northZ + u * f.upZ)};
        g.satellites.push_back({GnssSystem::gps, k + 1, p, cn0});
    }
    return g;
}

std::array<double, 3> enu(const ReceiverFrame& f, const Ecef& from, const Ecef& to)
{
    const double dx = to.x - from.x, dy = to.y - from.y, dz = to.z - from.z;
    return {dx * f.eastX + dy * f.eastY, dx * f.northX + dy * f.northY + dz * f.northZ,
            dx * f.upX + dy * f.upY + dz * f.upZ};
}

double distance(const Ecef& a, const Ecef& b)
{
    return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z);
}

// The geometry matrix's rows (-unit vector to the satellite, 1) and the inverse of its
// normal matrix by Gauss-Jordan elimination.
using Matrix4 = std::array<std::array<double, 4>, 4>;
std::vector<std::array<double, 4>> geometryRows(const Geometry& g)
{
    std::vector<std::array<double, 4>> rows;
    for (const auto& s : g.satellites) {
        const double r = distance(s.position, g.receiver);
        rows.push_back({-(s.position.x - g.receiver.x) / r, -(s.position.y - g.receiver.y) / r,
                        -(s.position.z - g.receiver.z) / r, 1});
    }
    return rows;
}
Matrix4 inverseNormal(const std::vector<std::array<double, 4>>& rows)
{
    std::array<std::array<double, 8>, 4> m{};
    for (const auto& h : rows)
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 4; ++k) m[i][k] += h[i] * h[k];
    for (int i = 0; i < 4; ++i) m[i][4 + i] = 1;
    for (int c = 0; c < 4; ++c) {
        int p = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::fabs(m[r][c]) > std::fabs(m[p][c])) p = r;
        std::swap(m[c], m[p]);
        const double pivot = m[c][c];
        for (double& v : m[c]) v /= pivot;
        for (int r = 0; r < 4; ++r) {
            if (r == c) continue;
            const double f = m[r][c];
            for (int k = 0; k < 8; ++k) m[r][k] -= f * m[c][k];
        }
    }
    Matrix4 out{};
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k) out[i][k] = m[i][4 + k];
    return out;
}

TEST(ReceiverSolution, ExactRangesGiveTheTruthFromAFarStart)
{
    std::mt19937_64 random(1);
    ReceiverErrorModel noiseless;
    noiseless.noise = false;
    for (int trial = 0; trial < 200; ++trial) {
        const Geometry g = randomGeometry(random, 4 + trial % 9, 45);
        // A clock 1 ms off and a start at the Earth's centre.
        std::vector<Pseudorange> ranges;
        for (const auto& s : g.satellites)
            ranges.push_back({s.position, distance(s.position, g.receiver) + 299792.458});
        const auto solved = solvePosition(ranges, Ecef{});
        ASSERT_TRUE(solved) << "trial " << trial;
        EXPECT_LT(distance(solved->position, g.receiver), 1e-3) << "trial " << trial;
        EXPECT_NEAR(solved->clockBias, 299792.458, 1e-3);
        // Through the receiver's own path with its noise off: the truth.
        const auto still = receiverSolution(g.satellites, g.receiver, noiseless, trial);
        ASSERT_TRUE(still);
        EXPECT_LT(distance(still->position, g.receiver), 1e-3);
    }
    // Fewer than four ranges, or four from one direction, solve nothing.
    std::mt19937_64 again(2);
    Geometry g = randomGeometry(again, 4, 45);
    EXPECT_FALSE(receiverSolution(std::span(g.satellites).first(3), g.receiver, noiseless, 0));
    for (auto& s : g.satellites) s.position = g.satellites[0].position;
    EXPECT_FALSE(receiverSolution(g.satellites, g.receiver, noiseless, 0));
}

TEST(ReceiverSolution, NoiseAloneErrsWithoutBiasByTheDilutionOfItsGeometryAndGrowsAsCn0Falls)
{
    // Every satellite at one C/N0: the squared error of a solution is, on average,
    // sigma^2 PDOP^2, and each of east, north and up averages to nothing.
    double lastSpread = 0;
    for (const double cn0 : {48.0, 40.0, 32.0, 26.0}) {
        SCOPED_TRACE(cn0);
        std::mt19937_64 random(static_cast<std::uint64_t>(cn0));
        ReceiverErrorModel model;
        model.seed = 99;
        const double sigma = codeNoiseSigma(cn0, chipLength(GnssSystem::gps), model.tracking);
        constexpr int trials = 3000;
        std::array<double, 3> sum{};
        double ratio = 0, spread = 0;
        for (int trial = 0; trial < trials; ++trial) {
            const Geometry g = randomGeometry(random, 6 + trial % 7, cn0);
            const Matrix4 q = inverseNormal(geometryRows(g));
            const double pdop = std::sqrt(q[0][0] + q[1][1] + q[2][2]);
            const auto solved = receiverSolution(g.satellites, g.receiver, model, 1000000 + trial);
            ASSERT_TRUE(solved);
            const auto e = enu(g.frame, g.receiver, solved->position);
            // Each component over sigma PDOP: normal, of a variance no more than 1.
            for (int i = 0; i < 3; ++i) sum[i] += e[i] / (sigma * pdop);
            const double squared = e[0] * e[0] + e[1] * e[1] + e[2] * e[2];
            ratio += squared / (sigma * sigma * pdop * pdop);
            spread += squared;
        }
        ratio /= trials;
        spread = std::sqrt(spread / trials);
        EXPECT_NEAR(ratio, 1, 0.08);
        for (int i = 0; i < 3; ++i) EXPECT_LT(std::fabs(sum[i] / trials), 4 / std::sqrt(double(trials))) << i;
        EXPECT_GT(spread, lastSpread * 1.3);
        lastSpread = spread;
    }
}

TEST(ReceiverSolution, OneLongPathMovesTheSolutionAsTheGeometryMatrixSays)
{
    struct Case {
        std::uint64_t geometry;
        int satellites;
        std::size_t longOne;
        double extraPath;
        bool echo;  // a direct signal with an echo instead of a reflection only
    };
    const Case cases[] = {
        {11, 5, 0, 5, false},  {12, 6, 3, 30, false},  {13, 8, 7, 100, false}, {14, 12, 2, 250, false},
        {15, 4, 1, 40, false}, {16, 7, 4, 12.3, true}, {17, 9, 0, 80, true},   {18, 6, 5, 2, true},
    };
    ReceiverErrorModel noiseless;
    noiseless.noise = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.geometry);
        std::mt19937_64 random(c.geometry);
        Geometry g = randomGeometry(random, c.satellites, 40);
        TrackedSatellite& s = g.satellites[c.longOne];
        double dr = c.extraPath;
        if (c.echo) {
            s.echoPath = c.extraPath;
            s.echoLossDb = 6;
            dr = rangeError(s, noiseless, 0);
            ASSERT_NE(dr, 0);
            // No more than the envelope's steepest side, an echo in opposition: a/(1-a)
            // of its delay.
            const double a = std::pow(10.0, -6.0 / 20);
            ASSERT_LE(std::fabs(dr), c.extraPath * a / (1 - a));
        } else {
            s.reflected = c.extraPath;
        }
        // dx = (H^T H)^-1 H^T dr with dr on the one satellite: its column of the inverse
        // times its row.
        const auto rows = geometryRows(g);
        const Matrix4 q = inverseNormal(rows);
        std::array<double, 4> predicted{};
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 4; ++k) predicted[i] += q[i][k] * rows[c.longOne][k] * dr;
        const auto solved = receiverSolution(g.satellites, g.receiver, noiseless, 0);
        ASSERT_TRUE(solved);
        // The prediction is linear: the solution's own iterations differ from it by the
        // curvature of the ranges, of the order of the error squared over the range.
        const double size = std::sqrt(predicted[0] * predicted[0] + predicted[1] * predicted[1] +
                                      predicted[2] * predicted[2] + predicted[3] * predicted[3]);
        const double tolerance = 1e-3 + 2 * size * size / 20.0e6;
        EXPECT_NEAR(solved->position.x - g.receiver.x, predicted[0], tolerance);
        EXPECT_NEAR(solved->position.y - g.receiver.y, predicted[1], tolerance);
        EXPECT_NEAR(solved->position.z - g.receiver.z, predicted[2], tolerance);
        EXPECT_NEAR(solved->clockBias, predicted[3], tolerance);
        // The solution takes up a share of the long path (the hat matrix's diagonal, from
        // 0 to 1): its range to that satellite grows, by no more than the path.
        const double grown =
            distance(s.position, solved->position) + solved->clockBias - distance(s.position, g.receiver);
        EXPECT_GE(grown * dr, -1e-6);
        EXPECT_LE(std::fabs(grown), std::fabs(dr) + 1e-6);
        // Four satellites leave no residual: the whole path goes into the solution.
        if (c.satellites == 4) {
            EXPECT_NEAR(grown, dr, 1e-3);
        }
    }
}

// A plain early-minus-late discriminator on triangle correlations, the echo in phase or in
// opposition: the code offset where early and late are equal, by bisection.
double plainTrackingError(double tau, double a, double d)
{
    const auto r = [](double x) { return std::max(0.0, 1 - std::fabs(x)); };
    const auto c = [&](double x) { return r(x) + a * r(x - tau); };
    const auto discriminator = [&](double e) { return c(e + d / 2) - c(e - d / 2); };
    double lo = -0.5, hi = 0.5;  // late minus early falls through zero once
    for (int i = 0; i < 200; ++i) {
        const double mid = (lo + hi) / 2;
        (discriminator(mid) > 0 ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

TEST(ReceiverSolution, TheEchoCodeErrorIsWhereAPlainDiscriminatorSettles)
{
    const double chip = chipLength(GnssSystem::gps);
    for (const double spacing : {0.1, 0.5, 1.0}) {
        CodeTracking tracking;
        tracking.spacingChips = spacing;
        for (const double amplitude : {0.1, 0.5, 0.9})
            for (const double phase : {0.0, std::numbers::pi})
                for (double tau = 0.001; tau < 1.6; tau += 0.0137) {
                    const double a = amplitude * std::cos(phase);
                    EXPECT_NEAR(multipathCodeError(tau * chip, amplitude, phase, chip, tracking) / chip,
                                plainTrackingError(tau, a, spacing), 1e-6)
                        << "spacing " << spacing << " a " << a << " tau " << tau;
                }
    }
    // Noise: 0.1 chip, 1 Hz and 20 ms at 45 dB-Hz is a few decimetres, ten times more 20 dB lower.
    const CodeTracking tracking;
    EXPECT_GT(codeNoiseSigma(45, chip, tracking), 0.2);
    EXPECT_LT(codeNoiseSigma(45, chip, tracking), 0.6);
    EXPECT_GT(codeNoiseSigma(25, chip, tracking), 10 * codeNoiseSigma(45, chip, tracking));
}

// The noise's two draws are the library engine's first two: for the seeds of all zero
// or all one bits, the ones at the edges of the twist's 31 low bits, and many others
// (both ways of the twist's odd test).
TEST(ReceiverSolution, TheNoiseDrawsAreTheFirstTwoOfTheLibraryEngine)
{
    std::vector<std::uint64_t> seeds{0, 1, 2, 37, 5489, 0x7fffffffULL, 0x80000000ULL, ~std::uint64_t{0},
                                     std::uint64_t{1} << 63};
    std::mt19937_64 random(11);
    for (int i = 0; i < 2000; ++i) seeds.push_back(random());
    for (const std::uint64_t seed : seeds) {
        std::mt19937_64 engine(seed);
        const std::uint64_t first = engine(), second = engine();
        const auto draws = firstMt64Draws(seed);
        ASSERT_EQ(draws[0], first) << "seed " << seed;
        ASSERT_EQ(draws[1], second) << "seed " << seed;
    }
    // A draw is a standard normal: over many seconds its mean and spread are 0 and 1.
    double sum = 0, squares = 0;
    const int n = 20000;
    for (int second = 0; second < n; ++second) {
        const double draw = noiseDraw(37, 1'000'000'000LL + second, GnssSystem::galileo, 11);
        sum += draw;
        squares += draw * draw;
    }
    EXPECT_NEAR(sum / n, 0, 0.03);
    EXPECT_NEAR(squares / n, 1, 0.04);
}

}  // namespace
}  // namespace trajix::sky

#pragma once
// What a receiver computes from the satellites it receives: pseudoranges with the
// errors of its code tracking (noise that grows as C/N0 falls, an echo's pull on the
// correlator, a reflected signal's whole extra path), and the least-squares position
// and clock it solves from them.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sky/ecef.hpp"
#include "sky/gnss_system.hpp"

namespace trajix::sky {

/// One measured range: the satellite's ECEF position and the pseudorange to it, metres.
struct Pseudorange {
    Ecef satellite;
    double range = 0;
};

/// A receiver's solution: its position and its clock's offset in metres of range.
struct PositionSolution {
    Ecef position;
    double clockBias = 0;
    int iterations = 0;
};

/// The least-squares position and clock from the pseudoranges (unweighted, Gauss-Newton
/// from start until a step moves less than 0.1 mm). Nothing with fewer than 4 ranges, a
/// singular geometry, or no convergence within 20 steps.
std::optional<PositionSolution> solvePosition(std::span<const Pseudorange> ranges, const Ecef& start);

/// The receiver's code tracking: a delay lock loop with an early-minus-late power
/// discriminator, carrier aided.
struct CodeTracking {
    double spacingChips = 0.1;  ///< early-late spacing, chips (a narrow correlator)
    double loopBandwidth = 1;   ///< Hz
    double integration = 0.02;  ///< coherent integration, seconds
};

/// The length of one chip of the system's civil code on the first frequency (GPS L1 C/A,
/// Galileo E1, BeiDou B1I, GLONASS L1OF), metres.
double chipLength(GnssSystem system);
/// The carrier's wavelength on that frequency, metres (GLONASS: its centre, 1602 MHz).
double carrierWavelength(GnssSystem system);

/// One sigma of the code tracking noise at cn0 (dB-Hz), metres: the delay lock loop's
/// thermal jitter sqrt(B d / (2 C/N0) (1 + 2 / ((2 - d) T C/N0))) chips, C/N0 as a ratio.
double codeNoiseSigma(double cn0, double chipMetres, const CodeTracking& tracking);

/// The code error, metres, of an echo extraPath metres late, its amplitude relative to the
/// direct signal's and its carrier phase relative to it (radians). The correlator's
/// triangle shape gives, in chips, with a = amplitude cos(phase), tau the delay and d the
/// spacing: a tau / (1 + a) up to a delay of d (1 + a) / 2, then a d / 2 (the envelope's
/// plateau) up to 1 - d (1 - a) / 2, then a (1 + d / 2 - tau) / (2 - a) down to nothing at
/// 1 + d / 2 chips. An echo in phase lengthens the range, one in opposition shortens it.
/// (Galileo's BOC(1,1) code is taken as a plain code of its chip rate: its sharper peak
/// would only narrow the envelope.)
double multipathCodeError(double extraPath, double amplitude, double phase, double chipMetres,
                          const CodeTracking& tracking);

/// A satellite a receiver tracks, as the street and the sky give it.
struct TrackedSatellite {
    GnssSystem system = GnssSystem::gps;
    int prn = 0;
    Ecef position;          ///< ECEF of the reception instant
    double cn0 = 0;         ///< dB-Hz as received (a reflection's loss taken off)
    double reflected = 0;   ///< received by a reflection only: its extra path, metres; 0 direct
    double echoPath = 0;    ///< received directly with an echo: the echo's extra path, metres
    double echoLossDb = 0;  ///< and how much weaker the echo is, dB
};

/// The receiver's errors: its tracking and the seed of its noise.
struct ReceiverErrorModel {
    CodeTracking tracking;
    std::uint64_t seed = 0;
    bool noise = true;  ///< the tracking noise (without it only the paths err)
};

/// The pseudorange error, metres, of a satellite at a whole second (GPS seconds since
/// the start of GPS time): the reflected path whole, or the echo's code error with the
/// echo's carrier phase from its extra path; plus a Gaussian noise draw of
/// codeNoiseSigma, from a generator seeded by the model's seed, the second and the
/// satellite alone (so nothing depends on the order of the calls).
double rangeError(const TrackedSatellite& satellite, const ReceiverErrorModel& model, long long second);

/// The first two numbers std::mt19937_64 seeded with seed draws, worked out from the
/// few words of its state they depend on rather than the whole state.
std::array<std::uint64_t, 2> firstMt64Draws(std::uint64_t seed);

/// The standard normal draw of a satellite at a second, as rangeError takes it.
double noiseDraw(std::uint64_t seed, long long second, GnssSystem system, int prn);

/// The position a receiver at truth computes from the satellites at a second: the least
/// squares solution of their ranges with rangeError's errors, from the truth. Nothing
/// when solvePosition finds none.
std::optional<PositionSolution> receiverSolution(std::span<const TrackedSatellite> satellites, const Ecef& truth,
                                                 const ReceiverErrorModel& model, long long second);

}  // namespace trajix::sky

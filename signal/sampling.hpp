#pragma once
// The sample loops of the signal generator: one satellite's code and carrier added to a
// run of samples, the thermal noise, and the sums turned into the recording's bytes.
// Each loop comes twice: a plain scalar one, the reference, and one on the processor's
// vector units that gives the same sums bit for bit.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "signal/gps_l1ca.hpp"

namespace trajix::sampling {

/// The carrier is a 64-entry table, indexed by the top 6 bits of a 32-bit phase.
inline constexpr int carrierTableBits = 6;
inline constexpr int carrierTableSize = 1 << carrierTableBits;

/// A satellite's spreading code in the forms the loops read: the GPS C/A code, or a
/// Galileo E1 code with its BOC(1,1) subcarrier folded in (two half-chips per chip).
struct CodeTables {
    /// Per chip 0 or carrierTableSize: the sign half of a wave table.
    std::vector<std::uint8_t> chips;
    /// Per chip +1 or -1 (a chip of 1 inverts), padded for 16-chip loads.
    std::vector<std::int8_t> signs;

    /// The C/A code of PRN 1..32.
    explicit CodeTables(int prn);
    /// Any code: chips of 0 or 1, a 1 inverting the signal.
    explicit CodeTables(const std::vector<std::uint8_t>& code);
    /// Chips in one period.
    int length() const { return static_cast<int>(chips.size()); }
};

/// A Galileo E1 code (E1-B or E1-C, 4092 chips) with the BOC(1,1) subcarrier: 8184
/// half-chips, each chip's first half as the chip, its second half inverted; inverted
/// throughout when `negate` (the pilot enters E1 with a minus sign).
std::vector<std::uint8_t> withBocSubcarrier(const std::array<std::uint8_t, 4092>& code, bool negate);

/// One satellite's carrier at its amplitude of the moment: amplitude times the cosine
/// (and for complex samples the sine) at the middle of each of the 64 phase steps, as
/// even integers, then their negations.
struct CarrierWave {
    std::array<std::int16_t, 2 * carrierTableSize> cosine{};
    std::array<std::int16_t, 2 * carrierTableSize> sine{};
    /// The first halves as signed bytes, when every value fits one (else the scalar
    /// loop runs).
    std::array<std::int8_t, carrierTableSize> cosineBytes{};
    std::array<std::int8_t, carrierTableSize> sineBytes{};
    bool fitsBytes = false;

    /// Samples of amplitude (in noise units), complex or real.
    void set(double amplitude, bool complex);
};

/// A run of samples within one C/A period: the code phase (chips in 32.32 fixed point)
/// and carrier phase (cycles in 0.32) of the first sample and their steps per sample.
/// Advanced past the run by the loops.
struct RunPhase {
    std::uint64_t code = 0;
    std::uint64_t codeStep = 0;
    std::uint32_t carrier = 0;
    std::uint32_t carrierStep = 0;
};

/// Adds count samples of one satellite to in-phase sums (and, when quadrature is not
/// null, its sine to the quadrature sums). The code phase must stay below the code's length
/// throughout; dataBit inverts the signal.
using AddRun = void (*)(const CodeTables& code, const CarrierWave& wave, RunPhase& phase, unsigned dataBit,
                        std::int16_t* inPhase, std::int16_t* quadrature, int count);

/// The plain loop: one table lookup per sample.
void addRunReference(const CodeTables& code, const CarrierWave& wave, RunPhase& phase, unsigned dataBit,
                     std::int16_t* inPhase, std::int16_t* quadrature, int count);

/// The fastest loop this processor runs for this wave: 16 samples at a time where the
/// vector instructions are present and the wave fits bytes, else the reference.
AddRun fastestAddRun(const CarrierWave& wave);

/// Adds two codes on one carrier from the same phase (Galileo's E1-B with its data
/// symbol and E1-C with its secondary code chip): what addRun with code and dataBit, then
/// addRun with pilot and pilotBit from the phase as it was, add; the phase is advanced once.
using AddRunPair = void (*)(const CodeTables& code, const CodeTables& pilot, const CarrierWave& wave, RunPhase& phase,
                            unsigned dataBit, unsigned pilotBit, std::int16_t* inPhase, std::int16_t* quadrature,
                            int count);

/// The plain pair: addRunReference twice.
void addRunPairReference(const CodeTables& code, const CodeTables& pilot, const CarrierWave& wave, RunPhase& phase,
                         unsigned dataBit, unsigned pilotBit, std::int16_t* inPhase, std::int16_t* quadrature,
                         int count);

/// The fastest pair this processor runs for this wave: one carrier lookup for both codes
/// where the vector loop runs, else the reference.
AddRunPair fastestAddRunPair(const CarrierWave& wave);

/// Thermal noise: 16-bit indices from a counter-based generator (splitmix64, four
/// indices per draw) into a table of the inverse normal distribution of standard
/// deviation sigma. Values are odd, so that with the satellites' even ones a sum is
/// never zero.
class NoiseTable {
public:
    NoiseTable(std::uint64_t seed, double sigma);
    /// count values from draw number firstDraw of the generator (ceil(count / 4) draws).
    void fill(std::int16_t* out, int count, std::uint64_t firstDraw) const;
    double sigma() const { return sigma_; }

private:
    std::uint64_t base_;
    double sigma_;
    std::shared_ptr<const std::vector<std::int16_t>> table_;  // shared by every table of this sigma
};

/// One-bit samples: bit (n mod 16) of little-endian word n / 16 is sample n > 0.
/// count must be a multiple of 16.
void packOneBit(const std::int16_t* sums, int count, std::uint8_t* out);

/// Multi-bit samples: each sum times gain / 4096 (gain below 65536), rounded half up,
/// clipped to the range of bits (8: signed bytes, 16: signed little-endian words). With
/// quadrature, I and Q alternate.
void packSamples(const std::int16_t* inPhase, const std::int16_t* quadrature, int count, int bits, std::int32_t gain,
                 std::uint8_t* out);
/// The same, one sample at a time: the reference of the vector version.
void packSamplesReference(const std::int16_t* inPhase, const std::int16_t* quadrature, int count, int bits,
                          std::int32_t gain, std::uint8_t* out);

}  // namespace trajix::sampling

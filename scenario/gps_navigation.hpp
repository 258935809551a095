#pragma once
// GPS L1 C/A as the satellites broadcast it: C/A codes, the broadcast ephemeris and
// clock in the units of the navigation message, orbit positions computed from them
// exactly as a receiver does, and the 50 bit/s navigation message (subframes 1-5 with
// TLM, HOW and parity).
#include <array>
#include <cstdint>
#include <vector>

#include "sky/gps_orbit.hpp"
#include "sky/yuma_almanac.hpp"

namespace trajix::gps {

/// The C/A code of PRN 1..32: 1023 chips of 0 or 1 (G1 xor the delayed G2), chip 0 first.
std::array<std::uint8_t, codeLength> caCode(int prn);

/// The 6 parity bits of a 24-bit data word, given the last two bits (D29*, D30*) of the
/// previous word: bits 25..30 of the transmitted word.
unsigned parityBits(std::uint32_t data, unsigned previousD29, unsigned previousD30);

/// The transmitted 30-bit word (bit 1 is the most significant of 30): data bits
/// complemented when D30* is 1, followed by the parity.
std::uint32_t encodeWord(std::uint32_t data, unsigned previousD29, unsigned previousD30);

/// True when a transmitted 30-bit word's parity holds for the given D29*, D30*.
bool parityHolds(std::uint32_t word, unsigned previousD29, unsigned previousD30);

/// UTC parameters for subframe 4 page 18: GPS minus UTC in whole seconds.
struct UtcParameters {
    int leapSeconds = 18;
    int referenceWeek = 0;  ///< full week of tot (and of the leap-second week)
    int referenceTime = 0;  ///< tot, seconds into the week, multiple of 4096
};

/// The whole message a satellite sends: its own ephemeris sets (each broadcast from
/// 3600 s before its toe to 3600 s after) and the almanac of every satellite in
/// subframes 4 and 5.
class NavigationMessage {
public:
    NavigationMessage(std::vector<BroadcastEphemeris> ephemerides, std::vector<AlmanacRecord> almanac,
                      int almanacFullWeek, UtcParameters utc, int baseWeek);

    /// The ten transmitted 30-bit words of subframe `index`, counted from the start of
    /// the base week (index 0 begins at its second 0). Subframes are self-contained: the
    /// HOW and word 10 end in two zero parity bits.
    std::array<std::uint32_t, 10> subframe(std::int64_t index) const;

    /// The data bit (0 or 1) of bit number `bitIndex` counted from the start of the base
    /// week, cached by subframe.
    unsigned bit(std::int64_t bitIndex);

    /// The ephemeris in force at time t (seconds since the start of the base week).
    const BroadcastEphemeris& ephemerisAt(double t) const;

    /// Offset in seconds of an ephemeris' week start from the base week start.
    double weekOffset(const BroadcastEphemeris& ephemeris) const
    {
        return static_cast<double>(ephemeris.week - baseWeek_) * secondsPerWeek;
    }

private:
    std::array<std::uint32_t, 8> dataWords(int subframeId, int page, std::int64_t startSeconds) const;
    std::vector<BroadcastEphemeris> ephemerides_;
    std::vector<AlmanacRecord> almanac_;
    int almanacWeek_;
    UtcParameters utc_;
    int baseWeek_;
    std::int64_t cachedSubframe_ = -1;
    std::array<std::uint32_t, 10> cachedWords_{};
};

}  // namespace trajix::gps

#pragma once
// GPS L1 C/A as the satellites broadcast it: C/A codes, the broadcast ephemeris and
// clock in the units of the navigation message, orbit positions computed from them
// exactly as a receiver does, and the 50 bit/s navigation message (subframes 1-5 with
// TLM, HOW and parity).
#include <array>
#include <cstdint>
#include <vector>

#include "signal/atmosphere.hpp"
#include "sky/gps_orbit.hpp"
#include "sky/rinex_navigation.hpp"
#include "sky/yuma_almanac.hpp"

namespace trajix::sky {
class SkyModel;
}

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

/// UTC and ionosphere parameters for subframe 4 page 18: GPS minus UTC in whole seconds.
struct UtcParameters {
    int leapSeconds = 18;
    int referenceWeek = 0;             ///< full week of tot (and of the leap-second week)
    int referenceTime = 0;             ///< tot, seconds into the week, multiple of 4096
    double a0 = 0;                     ///< GPS minus UTC beyond the leap seconds at tot, s
    double a1 = 0;                     ///< its rate, s/s
    atmosphere::Klobuchar ionosphere;  ///< all zero when none is broadcast
};

/// Page 18 of a RINEX navigation file's day: its ionosphere coefficients (rounded as
/// broadcast; zero when it has none), GPS-UTC parameters and leap seconds. Without a UTC
/// line, A0 = A1 = 0 with tot at or before startSeconds of full week `week`; without a
/// leap-second line, the count known for that week.
UtcParameters utcParametersOf(const RinexNavigation& navigation, int week, double startSeconds);

/// The Klobuchar coefficients as page 18 carries them: each rounded to its field's scale
/// (and clamped to its 8 bits), so a receiver decodes exactly these values.
atmosphere::Klobuchar broadcastKlobuchar(const atmosphere::Klobuchar& coefficients);

/// The almanac record of a broadcast set for time of applicability toa (seconds into
/// full week almanacWeek, a multiple of 4096): the mean anomaly, the node and the clock
/// carried from the set's toe and toc to toa; the set's health.
AlmanacRecord almanacFromEphemeris(const BroadcastEphemeris& ephemeris, int almanacWeek, int toa);

/// Which broadcast sets a satellite sends over frames firstFrame..lastFrame (30 s each,
/// counted from the start of the sky model's base week): in each frame the set the model
/// holds in force at the frame's start. A frame without a valid set keeps the last set
/// in the message (the satellite is then out of the signal).
struct BroadcastSchedule {
    std::int64_t firstFrame = 0;
    std::vector<bool> validFrames;         ///< whether frame firstFrame + k has a valid set
    std::vector<BroadcastEphemeris> sets;  ///< each set once, in the order broadcast
    std::vector<double> broadcastFrom;     ///< seconds since the base week began, one per set
};
BroadcastSchedule broadcastSchedule(const sky::SkyModel& sky, std::size_t satellite, std::int64_t firstFrame,
                                    std::int64_t lastFrame);

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

    /// The ephemeris in force at time t (seconds since the start of the base week): the
    /// one the message carries then.
    const BroadcastEphemeris& ephemerisAt(double t) const;

    /// Broadcasts set k from broadcastFrom[k] (seconds since the start of the base week,
    /// ascending, one per set; the first set also before its time) until the next set's,
    /// instead of from an hour before each toe. Switches of set should fall on frame
    /// starts (multiples of 30 s), so a frame's subframes 1-3 carry one set.
    void scheduleBroadcasts(std::vector<double> broadcastFrom);

    /// The ephemeris the signal follows at transmission time t: with a schedule, the set a
    /// receiver holds once it has read subframes 1-3 of the frame it is in (18 s after the
    /// frame began); otherwise the set in force.
    const BroadcastEphemeris& signalEphemerisAt(double t) const;

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
    std::vector<double> broadcastFrom_;
    std::int64_t cachedSubframe_ = -1;
    std::array<std::uint32_t, 10> cachedWords_{};
};

}  // namespace trajix::gps

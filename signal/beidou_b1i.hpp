#pragma once
// BeiDou B1I as the satellites broadcast it: the ranging codes (2046 chips at 2.046
// Mcps, from two 11-stage registers), and the navigation messages: D1 (50 bit/s with
// the 20-chip Neuman-Hoffman code over it at 1 kHz) from the MEO and IGSO satellites,
// D2 (500 bit/s, no secondary code) from the geostationary ones (C01-C05, C59-C63).
// Both come in subframes of ten 30-bit words: the first word's first 15 bits (the
// preamble and 4 reserved bits) as they are, its next 11 bits coded BCH(15,11); each
// other word's 22 bits as two BCH(15,11) code words, interleaved bit by bit.
//
// Times: BeiDou Time (BDT) runs 14 s behind GPS time; its weeks count from GPS week
// 1356. A message counts its subframes from the start of BDT's week that begins 14 s
// after its base GPS week.
#include <array>
#include <cstdint>
#include <vector>

#include "sky/beidou_orbit.hpp"
#include "sky/rinex_navigation.hpp"

namespace trajix::gps {
struct UtcParameters;
}

namespace trajix::beidou {

inline constexpr long long b1FrequencyHz = 1561098000;  ///< B1I carrier
inline constexpr double b1ChipRate = 2.046e6;           ///< chips per second
inline constexpr int b1CodeLength = 2046;               ///< chips per period (1 ms)
inline constexpr int b1PrnCount = 63;                   ///< codes the ICD gives
inline constexpr int subframeBits = 300;
inline constexpr int d1BitRate = 50;
inline constexpr int d2BitRate = 500;

/// A ranging code: 2046 chips of 0 or 1 (logic 1 is the signal level -1), chip 0 first.
using B1Code = std::array<std::uint8_t, b1CodeLength>;

/// The B1I code of PRN 1..63 (G1 plus the PRN's G2 stages, both registers started at
/// 01010101010, truncated to 2046 chips). Throws Error for another number.
B1Code b1iCode(int prn);

/// The Neuman-Hoffman code over each D1 bit, one chip per millisecond, first chip first.
inline constexpr std::array<std::uint8_t, 20> neumanHoffmanCode{0, 0, 0, 0, 0, 1, 0, 0, 1, 1,
                                                                0, 1, 0, 1, 0, 0, 1, 1, 1, 0};

/// The 11 bits that open every subframe.
inline constexpr std::uint32_t preamble = 0b11100010010;

/// The 4 parity bits of an 11-bit BCH(15,11) information word (first bit the most
/// significant): the remainder of info x^4 over g(x) = x^4 + x + 1.
std::uint32_t bchParity(std::uint32_t info11);

/// The same, one bit at a time as the ICD's shift register does it: the reference.
std::uint32_t bchParityReference(std::uint32_t info11);

/// The transmitted 30 bits of word 1 from its 26 information bits: the first 15 as they
/// are, the next 11 with their parity.
std::uint32_t encodeFirstWord(std::uint32_t info26);

/// The transmitted 30 bits of words 2-10 from their 22 information bits: the first 11
/// (X1) and the last 11 (X2) each with their parity (P1, P2), sent as X1_1 X2_1 X1_2 X2_2
/// ... X1_11 X2_11 P1_1 P2_1 ... P1_4 P2_4.
std::uint32_t encodeWord(std::uint32_t info22);

/// One subframe as sent: ten 30-bit words, the first bit in bit 29 of word 0.
using Subframe = std::array<std::uint32_t, 10>;

/// A subframe's 224 information bits (26 of word 1, 22 of each other), coded.
Subframe encodeSubframe(const std::array<std::uint8_t, 224>& info);

/// One ephemeris and clock set in the message's fields, each an integer in its scale.
struct B1Ephemeris {
    int prn = 0;
    int health = 0;                                      ///< SatH1, 1 bit
    int aodc = 0, aode = 0;                              ///< 5 bits each
    int urai = 0;                                        ///< 4 bits
    int week = 0;                                        ///< BDT week, 13 bits
    int toc = 0, toe = 0;                                ///< 17 bits, 2^3 s
    std::int32_t tgd1 = 0;                               ///< 10 bits, 0.1 ns
    std::int32_t tgd2 = 0;                               ///< 10 bits, 0.1 ns
    std::int32_t a0 = 0;                                 ///< 24 bits, 2^-33 s
    std::int32_t a1 = 0;                                 ///< 22 bits, 2^-50 s/s
    std::int32_t a2 = 0;                                 ///< 11 bits, 2^-66 s/s^2
    std::int32_t deltaN = 0;                             ///< 16 bits, 2^-43 semicircles/s
    std::int32_t cuc = 0, cus = 0, cic = 0, cis = 0;     ///< 18 bits, 2^-31 rad
    std::int32_t crc = 0, crs = 0;                       ///< 18 bits, 2^-6 m
    std::int32_t m0 = 0, i0 = 0, omega0 = 0, omega = 0;  ///< 32 bits, 2^-31 semicircles
    std::int64_t eccentricity = 0;                       ///< unsigned 32 bits, 2^-33
    std::int64_t sqrtA = 0;                              ///< unsigned 32 bits, 2^-19 sqrt(m)
    std::int32_t omegaDot = 0;                           ///< 24 bits, 2^-43 semicircles/s
    std::int32_t idot = 0;                               ///< 14 bits, 2^-43 semicircles/s
};

/// A RINEX record in the message's fields, each value rounded to its field.
B1Ephemeris b1EphemerisOf(const Ephemeris& record);

/// What every satellite broadcasts alike: the ionosphere's Klobuchar coefficients and
/// BDT-UTC.
struct B1Common {
    std::array<std::int32_t, 4> alpha{};  ///< 8 bits each: 2^-30, 2^-27, 2^-24, 2^-24
    std::array<std::int32_t, 4> beta{};   ///< 8 bits each: 2^11, 2^14, 2^16, 2^16
    int leapSeconds = 4;                  ///< delta t_LS: BDT minus UTC in whole seconds
    int leapSecondsAfter = 4;             ///< delta t_LSF
    int leapSecondWeek = 0;               ///< WN_LSF, 8 bits of the BDT week
    int leapSecondDay = 6;                ///< DN, 0..6
    std::int32_t utcA0 = 0;               ///< 32 bits, 2^-30 s
    std::int32_t utcA1 = 0;               ///< 24 bits, 2^-50 s/s
};

/// What the file gives: its BDUT line (else GPS's offset with 14 s less), its BDSA/BDSB
/// coefficients (else the GPS ones utc carries).
B1Common b1CommonOf(const RinexNavigation& navigation, int gpsWeek, const gps::UtcParameters& utc);

/// Whether the satellite sends D2 (a geostationary one) rather than D1.
constexpr bool sendsD2(int prn)
{
    return isGeostationary(prn);
}

/// The whole message of one satellite: D1 (6-s subframes, 5 to a 30-s frame, subframes 4
/// and 5 paging through 24 frames) or D2 (0.6-s subframes, 5 to a 3-s frame, subframe 1
/// paging through the ephemeris in 10 frames).
class B1Message {
public:
    /// sets: the satellite's sets, each broadcast from broadcastFrom (seconds since the
    /// base GPS week's start, ascending; the first also before its time).
    B1Message(int prn, std::vector<B1Ephemeris> sets, std::vector<double> broadcastFrom, B1Common common,
              int baseGpsWeek);

    bool d2() const { return sendsD2(prn_); }
    /// Milliseconds per bit: 20 (D1) or 2 (D2).
    int bitMilliseconds() const { return d2() ? 2 : 20; }

    /// Subframe `index`, counted from the start of BDT's week that begins 14 s after the
    /// base GPS week (6 s each for D1, 0.6 s for D2).
    Subframe subframe(std::int64_t index) const;

    /// Its 224 information bits before coding (what a receiver reads back).
    std::array<std::uint8_t, 224> subframeInfo(std::int64_t index) const;

    /// The set in force at t (seconds since the base GPS week's start).
    const B1Ephemeris& ephemerisAt(double t) const;

private:
    int prn_;
    std::vector<B1Ephemeris> sets_;
    std::vector<double> broadcastFrom_;
    B1Common common_;
    int baseGpsWeek_;
};

/// What a satellite broadcasts, set by set: its healthy records by toe, each from the
/// first D1 frame (30 s) at or after the midpoint between its toe and the one before,
/// where the sky (which takes the record of the nearest toe) takes it up. Times in
/// seconds since the start of GPS week baseGpsWeek.
struct B1Schedule {
    std::vector<B1Ephemeris> sets;
    std::vector<double> broadcastFrom;
};
B1Schedule b1Schedule(const std::vector<Ephemeris>& records, int prn, int baseGpsWeek);

}  // namespace trajix::beidou

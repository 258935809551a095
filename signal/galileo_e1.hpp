#pragma once
// Galileo E1 Open Service as the satellites broadcast it: the E1-B (data) and E1-C
// (pilot) ranging codes, the pilot's secondary code, and the I/NAV message of E1-B:
// 128-bit words in nominal pages of an even and an odd page part, each part CRC-checked
// (CRC-24Q over both parts), convolutionally coded at rate 1/2, block interleaved and
// preceded by its synchronisation pattern: 250 symbols in one second.
//
// Times are seconds of GPS time since the start of a GPS week (the message's base
// week); Galileo System Time (GST) is taken to run with GPS time, its weeks counted
// from GPS week 1024 (22 August 1999) and its seconds of the week the same.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sky/galileo_orbit.hpp"
#include "sky/rinex_navigation.hpp"

namespace trajix::gps {
struct UtcParameters;
}

namespace trajix::galileo {

inline constexpr double e1Frequency = 1575.42e6;  ///< Hz, as GPS L1
inline constexpr double e1ChipRate = 1.023e6;     ///< primary code chips per second
inline constexpr int e1CodeLength = 4092;         ///< chips per primary period (4 ms)
inline constexpr int e1SymbolRate = 250;          ///< I/NAV symbols per second, one per primary period
inline constexpr int e1PrnCount = 50;             ///< codes the ICD gives
inline constexpr int secondaryCodeLength = 25;    ///< E1-C secondary chips, one per primary period
inline constexpr int gstWeekOffset = 1024;        ///< GST week 0 is GPS week 1024
inline constexpr int secondsPerWeek = 604800;

/// A primary code: 4092 chips of 0 or 1 (logic 1 is the signal level -1), chip 0 first.
using E1Code = std::array<std::uint8_t, e1CodeLength>;

/// The E1-B and E1-C primary codes of PRN 1..50. Throws Error for another number.
E1Code e1bCode(int prn);
E1Code e1cCode(int prn);

/// CS25, the E1-C secondary code (the same for every satellite), first chip first.
inline constexpr std::array<std::uint8_t, secondaryCodeLength> e1cSecondaryCode{0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1,
                                                                                0, 1, 0, 1, 1, 0, 1, 1, 0, 0, 1, 0};

/// The 10 symbols that open every page part.
inline constexpr std::array<std::uint8_t, 10> syncPattern{0, 1, 0, 1, 1, 0, 0, 0, 0, 0};

/// CRC-24Q (generator 0x1864CFB, zero initial value) of count bits (0 or 1), first bit
/// first.
std::uint32_t crc24q(const std::uint8_t* bits, std::size_t count);

inline constexpr int pagePartBits = 120;     ///< before coding, tail included
inline constexpr int pagePartCoded = 240;    ///< after rate 1/2 coding
inline constexpr int pagePartSymbols = 250;  ///< with the synchronisation pattern
inline constexpr int interleaverRows = 8;
inline constexpr int interleaverColumns = 30;

using PagePart = std::array<std::uint8_t, pagePartBits>;
using CodedPagePart = std::array<std::uint8_t, pagePartCoded>;
using PagePartSymbols = std::array<std::uint8_t, pagePartSymbols>;

/// The rate 1/2 convolutional code of constraint length 7 from the zero state: for each
/// bit the G1 (171 octal) symbol, then the G2 (133 octal) symbol inverted.
CodedPagePart convolutionalEncode(const PagePart& bits);

/// The block interleaver: the coded symbols written column by column into 8 rows of 30
/// columns and read row by row.
CodedPagePart interleave(const CodedPagePart& coded);

/// The transmitted symbols (0 or 1; 1 is the level -1) of a page part: the
/// synchronisation pattern, then the part coded and interleaved.
PagePartSymbols pagePartToSymbols(const PagePart& bits);

/// A word: 128 bits (0 or 1), the 6-bit word type first.
using Word = std::array<std::uint8_t, 128>;

/// A nominal page: the even part (even/odd 0, page type 0, the word's first 112 bits,
/// tail) and the odd part (even/odd 1, page type 0, the word's last 16 bits, the 40-bit
/// OSNMA field, the 22 SAR bits, 2 spare bits, the CRC-24Q of both parts' first 114 and
/// 82 bits, the 8-bit SSP field, tail). OSNMA, SAR, spare and SSP are zero here.
struct NominalPage {
    PagePart even{}, odd{};
};
NominalPage nominalPage(const Word& word);

/// One ephemeris, clock and quality set of word types 1-5, every value an integer in
/// the field's own scale (so the orbit a receiver decodes is the orbit simulated).
struct InavEphemeris {
    int svid = 0;                                     ///< 1..36
    int week = 0;                                     ///< full GPS week of toe and toc
    int iodNav = 0;                                   ///< 10 bits
    int toe = 0;                                      ///< seconds into the week, multiple of 60
    int toc = 0;                                      ///< seconds into the week, multiple of 60
    std::int32_t m0 = 0;                              ///< 2^-31 semicircles
    std::int64_t eccentricity = 0;                    ///< unsigned 32 bits, 2^-33
    std::int64_t sqrtA = 0;                           ///< unsigned 32 bits, 2^-19 sqrt(m)
    std::int32_t omega0 = 0, i0 = 0, omega = 0;       ///< 2^-31 semicircles
    std::int32_t idot = 0;                            ///< 14 bits, 2^-43 semicircles/s
    std::int32_t omegaDot = 0;                        ///< 24 bits, 2^-43 semicircles/s
    std::int32_t deltaN = 0;                          ///< 16 bits, 2^-43 semicircles/s
    std::int32_t cuc = 0, cus = 0, cic = 0, cis = 0;  ///< 16 bits, 2^-29 rad
    std::int32_t crc = 0, crs = 0;                    ///< 16 bits, 2^-5 m
    int sisa = 107;                                   ///< SISA(E1,E5b) index, 8 bits (255: no accuracy prediction)
    std::int32_t af0 = 0;                             ///< 31 bits, 2^-34 s
    std::int32_t af1 = 0;                             ///< 21 bits, 2^-46 s/s
    std::int32_t af2 = 0;                             ///< 6 bits, 2^-59 s/s^2
    std::int32_t bgdE1E5a = 0, bgdE1E5b = 0;          ///< 10 bits, 2^-32 s
    int e1bHealth = 0;                                ///< E1-B signal health status, 2 bits
    int e1bDataValidity = 0;                          ///< E1-B data validity status, 1 bit
    int e5bHealth = 0;                                ///< 2 bits
    int e5bDataValidity = 0;                          ///< 1 bit
};

/// One satellite's almanac in word types 7-10, in the fields' own scales.
struct InavAlmanac {
    int svid = 0;                      ///< 1..36 (0: no satellite)
    std::int32_t deltaSqrtA = 0;       ///< 13 bits, 2^-9 sqrt(m), from sqrt(29600000 m)
    std::int32_t eccentricity = 0;     ///< unsigned 11 bits, 2^-16
    std::int32_t omega = 0;            ///< 16 bits, 2^-15 semicircles
    std::int32_t deltaI = 0;           ///< 11 bits, 2^-14 semicircles, from 56 degrees
    std::int32_t omega0 = 0;           ///< 16 bits, 2^-15 semicircles
    std::int32_t omegaDot = 0;         ///< 11 bits, 2^-33 semicircles/s
    std::int32_t m0 = 0;               ///< 16 bits, 2^-15 semicircles
    std::int32_t af0 = 0;              ///< 16 bits, 2^-19 s
    std::int32_t af1 = 0;              ///< 13 bits, 2^-38 s/s
    int e1bHealth = 0, e5bHealth = 0;  ///< 2 bits each
};

/// What every satellite broadcasts alike: the ionosphere (word 5), GST-UTC (word 6),
/// GPS-Galileo (word 10) and the almanac's reference (words 7-10).
struct InavCommon {
    std::int32_t ai0 = 0;          ///< unsigned 11 bits, 2^-2 sfu
    std::int32_t ai1 = 0;          ///< 11 bits, 2^-8 sfu/degree
    std::int32_t ai2 = 0;          ///< 14 bits, 2^-15 sfu/degree^2
    std::int32_t utcA0 = 0;        ///< 32 bits, 2^-30 s
    std::int32_t utcA1 = 0;        ///< 24 bits, 2^-50 s/s
    int leapSeconds = 18;          ///< delta t_LS, s
    int utcReferenceTime = 0;      ///< t0t, seconds into the week, multiple of 3600
    int utcReferenceWeek = 0;      ///< full GPS week of t0t
    int leapSecondWeek = 0;        ///< full GPS week of the leap second to come (or the last)
    int leapSecondDay = 7;         ///< DN, 1..7
    int leapSecondsAfter = 18;     ///< delta t_LSF, s
    std::int32_t ggtoA0 = 0;       ///< GPS-Galileo offset, 16 bits, 2^-35 s
    std::int32_t ggtoA1 = 0;       ///< 12 bits, 2^-51 s/s
    int ggtoReferenceTime = 0;     ///< t0G, seconds into the week, multiple of 3600
    int ggtoReferenceWeek = 0;     ///< full GPS week of t0G
    int almanacIssue = 0;          ///< IODa, 4 bits
    int almanacWeek = 0;           ///< full GPS week of t0a
    int almanacReferenceTime = 0;  ///< t0a, seconds into the week, multiple of 600
};

/// The I/NAV words of word types 0-10 (7-10 carry almanacs a, b and c: 7 the first, 8
/// the first's clock and the second, 9 the second's M0 and the third, 10 the third's
/// remainder with the GPS-Galileo offset). towSeconds is the GST second of the week the
/// page carrying the word begins at, gpsWeek the full GPS week it lies in.
Word ephemerisWord(int type, const InavEphemeris& ephemeris);  ///< types 1-4
Word ionosphereWord(const InavEphemeris& ephemeris, const InavCommon& common, int gpsWeek, int towSeconds);
Word utcWord(const InavCommon& common, int towSeconds);
Word almanacWord(int type, const InavCommon& common, const InavAlmanac& a, const InavAlmanac& b, const InavAlmanac& c);
Word spareWord(int gpsWeek, int towSeconds);  ///< type 0 with its time field '10'

/// The fields of a word read back (first bit first); signed when asked. For tests and
/// checks of what a receiver decodes.
std::int64_t wordField(const Word& word, int firstBit, int bits, bool isSigned = false);

/// The whole I/NAV stream of one satellite on E1-B. A nominal subframe is 30 s (15
/// pages of 2 s, from GST seconds that are multiples of 30): words 2, 4, 6, 7, 8, 0, 0,
/// 0, 0, 0, 1, 3, 5, 0, 0 (9 and 10 in place of 7 and 8 in every second subframe, the
/// almanac moving on by three satellites each minute).
class InavMessage {
public:
    /// sets: the satellite's ephemeris sets, each broadcast from broadcastFrom (seconds
    /// since the base week's start, ascending; the first also before its time).
    InavMessage(std::vector<InavEphemeris> sets, std::vector<double> broadcastFrom, std::vector<InavAlmanac> almanac,
                InavCommon common, int baseWeek);

    /// The word of page `page` (2 s each, counted from the base week's start).
    Word word(std::int64_t page) const;

    /// The 250 symbols of page part `part` (one second each, from the base week's start).
    PagePartSymbols pagePart(std::int64_t part) const;

    /// Symbol `index` (250 per second from the base week's start), cached by page part.
    unsigned symbol(std::int64_t index);

    /// The set in force at t (seconds since the base week's start).
    const InavEphemeris& ephemerisAt(double t) const;

    int baseWeek() const { return baseWeek_; }

private:
    std::vector<InavEphemeris> sets_;
    std::vector<double> broadcastFrom_;
    std::vector<InavAlmanac> almanac_;
    InavCommon common_;
    int baseWeek_;
    std::int64_t cachedPart_ = -1;
    PagePartSymbols cachedSymbols_{};
};

/// The SISA index of an accuracy in metres (255, no accuracy prediction, for none or
/// more than 6 m).
int sisaIndex(double metres);

/// A RINEX record in the message's fields, each value rounded to its field.
InavEphemeris inavEphemerisOf(const Ephemeris& record);

/// The almanac of a set for reference time t0a (seconds into full GPS week
/// almanacWeek, a multiple of 600): mean anomaly and clock carried to it.
InavAlmanac inavAlmanacOf(const InavEphemeris& set, int almanacWeek, int t0a);

/// What a satellite broadcasts, set by set: its I/NAV records serving E1 (F/NAV ones
/// for a satellite without), one per reference time, by toe; each from the first 30-s
/// subframe at or after the midpoint between its toe and the one before (where a sky
/// that takes the record of the nearest toe takes it up). Times in seconds since the
/// start of full GPS week baseWeek.
struct InavSchedule {
    std::vector<InavEphemeris> sets;
    std::vector<double> broadcastFrom;
    const InavEphemeris& setAt(double t) const;
};
InavSchedule inavSchedule(const std::vector<Ephemeris>& records, int prn, int baseWeek);

/// What every satellite broadcasts alike at a start (seconds into full GPS week `week`):
/// the GST-UTC offset (the file's GAUT, else GPS's as utc gives it), the GPS-Galileo
/// offset (GPGA: GST minus GPS time; zero without), the almanac's reference (the
/// 600-s step nearest the start), the file's NeQuick coefficients (zero without them;
/// the delay in the signal itself follows the GPS model).
InavCommon inavCommonOf(const RinexNavigation& navigation, int week, double startSeconds,
                        const gps::UtcParameters& utc);

}  // namespace trajix::galileo

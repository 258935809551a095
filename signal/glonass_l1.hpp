#pragma once
// GLONASS L1 C/A (FDMA) as the satellites broadcast it (GLONASS ICD edition 5.1): the
// 511-chip ranging code every satellite shares, at 0.511 Mchip/s on its own carrier,
// and the navigation message of 2-s strings. A string is 85 bits at 50 bit/s (bit 85,
// idle and zero, first; bits 8..1 the Hamming check bits) sent in relative code and
// split into 10-ms halves by the meander, then the 0.3-s time mark. Fifteen strings make
// a 30-s frame (strings 1-4: the satellite's own ephemeris and clock; 5: the system's
// time data; 6-15: the almanac of five satellites), five frames the 2.5-min superframe,
// and both begin with the day of GLONASS time (UTC(SU) + 3 h).
//
// Times here are GLONASS seconds: seconds since 1980-01-06 00:00:00 of the UTC + 3 h
// scale, leap seconds not counted (GLONASS time keeps UTC's leap seconds), so that a
// string starts at every even one.
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "sky/glonass_orbit.hpp"

namespace trajix::glonass {

inline constexpr double l1ChipRate = 0.511e6;  ///< ranging code chips per second
inline constexpr int l1CodeLength = 511;       ///< chips per period (1 ms)
inline constexpr int stringBitCount = 85;      ///< data and check bits of a string
inline constexpr int chipsPerString = 200;     ///< 10-ms chips: 170 data halves, 30 time mark
inline constexpr int chipsPerSecond = 100;     ///< 10-ms chips a second
inline constexpr int stringSeconds = 2;
inline constexpr int frameSeconds = 30;        ///< 15 strings
inline constexpr int superframeSeconds = 150;  ///< 5 frames
inline constexpr int moscowOffset = 3 * 3600;  ///< GLONASS time minus UTC(SU), s
inline constexpr int almanacSlots = 24;

/// The ranging code: 511 chips of 0 or 1 (a chip of 1 inverts the signal), chip 0 first,
/// from the 9-stage register of 1 + x^5 + x^9 started at all ones, read at its 7th stage.
using L1Code = std::array<std::uint8_t, l1CodeLength>;
L1Code l1Code();

/// The time mark closing every string: 30 chips of 10 ms.
inline constexpr std::array<std::uint8_t, 30> timeMark{1, 1, 1, 1, 1, 0, 0, 0, 1, 1, 0, 1, 1, 1, 0,
                                                       1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 1, 0, 1, 1, 0};

/// A string's 85 bits (0 or 1) in the order sent: element 0 is the ICD's bit 85, element
/// 84 its bit 1.
using NavString = std::array<std::uint8_t, stringBitCount>;

/// A field whose most significant bit is the ICD's bit highBit (85..1), `width` bits
/// down from it: written (the value's low bits) and read back.
void putField(NavString& string, int highBit, int width, std::uint64_t value);
std::uint64_t stringField(const NavString& string, int highBit, int width);
/// The same in sign-magnitude, the sign in the top bit, as GLONASS writes signed values.
/// Throws Error when the magnitude does not fit.
void putSignMagnitude(NavString& string, int highBit, int width, std::int64_t value);
std::int64_t stringFieldSignMagnitude(const NavString& string, int highBit, int width);

/// The Hamming code: check bits 8..1 (returned with bit 1 in the lowest place) of the
/// string's bits 85..9, so that each of the ICD's seven checksums and the sum of all 85
/// bits come out zero.
std::uint8_t hammingCheckBits(const NavString& string);
/// Writes hammingCheckBits into bits 8..1.
void addHammingCheck(NavString& string);

/// The 200 chips of 10 ms a string is sent as: bit k (from bit 85) in relative code
/// (the running sum of the bits, from zero), each such bit as itself then inverted (the
/// meander), 170 chips; then the 30 chips of the time mark.
using StringChips = std::array<std::uint8_t, chipsPerString>;
StringChips stringChips(const NavString& string);

/// A satellite's immediate data (strings 1-4) in the fields' own units: a record
/// rounded to its fields, so a receiver decodes the record simulated.
struct ImmediateData {
    int slot = 0;                         ///< n, 1..31
    long long tbSeconds = 0;              ///< tb as GLONASS seconds
    int tb = 0;                           ///< 15-minute steps of tb's day, 7 bits
    int p1 = 0;                           ///< 2 bits: 0, 30, 45 or 60 minutes between tb's
    int p2 = 0;                           ///< tb's oddness, 1 bit
    std::int64_t x = 0, y = 0, z = 0;     ///< 27 bits, 2^-11 km (PZ-90)
    std::int64_t vx = 0, vy = 0, vz = 0;  ///< 24 bits, 2^-20 km/s
    std::int64_t ax = 0, ay = 0, az = 0;  ///< 5 bits, 2^-30 km/s^2 (luni-solar)
    std::int64_t gammaN = 0;              ///< 11 bits, 2^-40
    std::int64_t tauN = 0;                ///< 22 bits, 2^-30 s: GLONASS time minus the satellite's
    std::int64_t deltaTauN = 0;           ///< 5 bits, 2^-30 s (L2 minus L1 delay)
    int ageDays = 0;                      ///< E_n, 5 bits
    int bn = 0;                           ///< B_n, 3 bits (4: unhealthy)
    int ln = 0;                           ///< l_n, 1 bit (1: unhealthy)
    int accuracyIndex = 2;                ///< F_T, 4 bits
    int type = 1;                         ///< M, 2 bits: GLONASS-M
    int p4 = 0;                           ///< 1 bit: ephemeris updated
};

/// A record in the fields of strings 1-4; intervalMinutes is the time between this
/// satellite's tb's (30 in the broadcast files; P1). Throws Error naming the slot and
/// the record's line when a value does not fit its field.
ImmediateData immediateDataOf(const Ephemeris& record, int intervalMinutes);

/// One satellite's almanac (strings 6-15) in the fields' own units, for the day whose
/// first GLONASS second is given at construction.
struct AlmanacEntry {
    int slot = 0;                   ///< n^A, 1..24
    int healthy = 1;                ///< C_n
    int type = 1;                   ///< M^A_n: GLONASS-M
    std::int64_t tauA = 0;          ///< 10 bits, 2^-18 s
    std::int64_t lambda = 0;        ///< 21 bits, 2^-20 semicircles: longitude of the day's first ascending node
    std::int64_t deltaI = 0;        ///< 18 bits, 2^-20 semicircles, from 63 degrees
    std::int64_t eccentricity = 0;  ///< 15 bits, 2^-20
    std::int64_t omega = 0;         ///< 16 bits, 2^-15 semicircles: argument of perigee
    std::int64_t tLambda = 0;       ///< 21 bits, 2^-5 s: time of that node in the day
    std::int64_t deltaT = 0;        ///< 22 bits, 2^-9 s: draconian period minus 43200 s
    std::int64_t deltaTDot = 0;     ///< 7 bits, 2^-14 s per period
    int channel = 0;                ///< H^A_n: -7..+6 (sent as 25..31 for -7..-1)
};

/// The almanac of a record for the day starting at GLONASS second dayStart: the record's
/// osculating elements at tb, its ascending node carried to the day's first with the
/// Earth's J2 (node drift and draconian period).
AlmanacEntry almanacOf(const Ephemeris& record, long long dayStart);

/// What string 5 carries for every satellite alike.
struct TimeData {
    std::int64_t tauC = 0;    ///< 32 bits, 2^-31 s: UTC(SU) + 3 h minus GLONASS time
    std::int64_t tauGps = 0;  ///< 22 bits, 2^-30 s: fractional part of GPS minus GLONASS time
    int almanacDay = 1;       ///< N^A, day of the almanac in its four years (1..1461)
};

/// Day number within the four-year interval (N_T, 1..1461, the interval starting with a
/// leap year) and the interval's number from 1996 (N4) of GLONASS second g's day.
struct GlonassDate {
    int dayInFourYears = 0;
    int fourYearInterval = 0;
};
GlonassDate glonassDate(long long g);

/// The strings of the message, check bits included.
NavString string1(const ImmediateData& data, int frameStartOfDay);  ///< tk: the frame's start, seconds of the day
NavString string2(const ImmediateData& data);
NavString string3(const ImmediateData& data, bool fiveAlmanacs);
NavString string4(const ImmediateData& data, const GlonassDate& date);
NavString string5(const TimeData& time, const GlonassDate& date, int ln);
NavString almanacString(int number, const AlmanacEntry& entry, int ln);  ///< 6..15, even first
NavString frame5String14();                                              ///< B1, B2, KP: zero
NavString frame5String15(int ln);

/// One satellite's whole message.
class NavMessage {
public:
    /// sets: the satellite's immediate data, each broadcast from broadcastFrom (GLONASS
    /// seconds, ascending; the first also before); almanac: by slot 1..24 (nullopt: none).
    NavMessage(std::vector<ImmediateData> sets, std::vector<long long> broadcastFrom,
               std::array<std::optional<AlmanacEntry>, almanacSlots> almanac, TimeData time);

    /// The string starting at GLONASS second 2 * index, check bits included.
    NavString string(std::int64_t index) const;
    /// The 10-ms chip starting at GLONASS second index / 100 (cached by string).
    unsigned chip(std::int64_t index);
    /// The immediate data of the frame holding GLONASS second g.
    const ImmediateData& setAt(long long g) const;

private:
    std::vector<ImmediateData> sets_;
    std::vector<long long> broadcastFrom_;
    std::array<std::optional<AlmanacEntry>, almanacSlots> almanac_;
    TimeData time_;
    std::int64_t cachedString_ = std::numeric_limits<std::int64_t>::min();
    StringChips cachedChips_{};
};

/// GLONASS seconds of a record's tb (its RINEX epoch is UTC).
constexpr long long glonassSecondsOf(const Ephemeris& record)
{
    return record.epochUtc + moscowOffset;
}

/// A satellite's schedule: its records, one per tb, each broadcast from the first 30-s
/// frame at or after the midpoint between its tb and the one before (where the sky's
/// choice of the nearest tb moves on).
struct Schedule {
    std::vector<ImmediateData> sets;
    std::vector<long long> broadcastFrom;
};
Schedule scheduleOf(const std::vector<Ephemeris>& records, int slot);

}  // namespace trajix::glonass

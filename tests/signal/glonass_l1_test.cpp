// GLONASS L1 C/A: the ranging code against the ICD's first chips and the m-sequence's
// own laws, the Hamming code against the ICD's checksum lists written out plainly, and
// the navigation strings read back as a receiver reads them (chips to relative code to
// bits, fields at the ICD's bit numbers, sign-magnitude, scales) from a real file.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "signal/glonass_l1.hpp"
#include "sky/rinex_navigation.hpp"
#include "sky/system_set.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

using namespace trajix::glonass;

// --- the plain references -------------------------------------------------------------

// The ICD's checksums written out as it prints them (sets of bit numbers).
std::vector<int> bits(std::initializer_list<std::pair<int, int>> ranges)
{
    std::vector<int> out;
    for (auto [first, last] : ranges)
        for (int b = first; b <= last; ++b) out.push_back(b);
    return out;
}

const std::array<std::vector<int>, 7> icdChecksums{
    std::vector<int>{9,  10, 12, 13, 15, 17, 19, 20, 22, 24, 26, 28, 30, 32, 34, 35, 37, 39, 41, 43, 45,
                     47, 49, 51, 53, 55, 57, 59, 61, 63, 65, 66, 68, 70, 72, 74, 76, 78, 80, 82, 84},
    std::vector<int>{9,  11, 12, 14, 15, 18, 19, 21, 22, 25, 26, 29, 30, 33, 34, 36, 37, 40, 41, 44, 45,
                     48, 49, 52, 53, 56, 57, 60, 61, 64, 65, 67, 68, 71, 72, 75, 76, 79, 80, 83, 84},
    bits(
        {{10, 12}, {16, 19}, {23, 26}, {31, 34}, {38, 41}, {46, 49}, {54, 57}, {62, 65}, {69, 72}, {77, 80}, {85, 85}}),
    bits({{13, 19}, {27, 34}, {42, 49}, {58, 65}, {73, 80}}),
    bits({{20, 34}, {50, 65}, {81, 85}}),
    bits({{35, 65}}),
    bits({{66, 85}})};

int bitOf(const NavString& s, int number)
{
    return s[static_cast<std::size_t>(stringBitCount - number)];
}

// The checksums C1..C7 and C_sigma a receiver forms (zero for a string received whole).
std::array<int, 8> checksums(const NavString& s)
{
    std::array<int, 8> c{};
    for (std::size_t k = 0; k < 7; ++k) {
        int sum = bitOf(s, static_cast<int>(k) + 1);
        for (int b : icdChecksums[k]) sum ^= bitOf(s, b);
        c[k] = sum;
    }
    for (int b = 1; b <= stringBitCount; ++b) c[7] ^= bitOf(s, b);
    return c;
}

NavString randomString(std::mt19937& random)
{
    NavString s{};
    for (int b = 9; b <= 84; ++b) s[static_cast<std::size_t>(stringBitCount - b)] = random() & 1u;
    return s;
}

// A receiver's reading of 200 chips: the relative code from each bit's first half (the
// second must be its inverse), the bits as differences of neighbours (bit 85 from zero).
NavString decodeChips(const StringChips& chips)
{
    NavString s{};
    unsigned previous = 0;
    for (std::size_t k = 0; k < s.size(); ++k) {
        EXPECT_NE(chips[2 * k], chips[2 * k + 1]) << "bit " << 85 - k << " is not split by the meander";
        s[k] = static_cast<std::uint8_t>(chips[2 * k] ^ previous);
        previous = chips[2 * k];
    }
    return s;
}

// Days from 1970-01-01 of a civil date (the proleptic Gregorian calendar).
long long daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// GLONASS seconds of a Moscow (UTC + 3 h) civil time.
long long glonassSecondsAt(int y, int mo, int d, int h, int mi, int s)
{
    return (daysFromCivil(y, mo, d) - daysFromCivil(1980, 1, 6)) * 86400 + h * 3600 + mi * 60 + s;
}

RinexNavigation realFile()
{
    return readRinexNavigation(dataFile("signal/VILL00ESP_R_20181700000_0200-0659_R.rnx"), {sky::GnssSystem::glonass});
}

// --- the code ----------------------------------------------------------------------------

TEST(GlonassL1Code, StartsAsTheIcdPrintsAndKeepsTheLawsOfItsRegister)
{
    const L1Code code = l1Code();
    // "The first character ... is the first character in the group 111111100".
    EXPECT_EQ(std::vector<int>(code.begin(), code.begin() + 9), (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 0, 0}));
    // 1 + x^5 + x^9: every chip the sum of those 5 and 9 before it, round the period.
    for (int n = 0; n < l1CodeLength; ++n)
        ASSERT_EQ(code[static_cast<std::size_t>(n)], code[static_cast<std::size_t>((n + l1CodeLength - 5) % 511)] ^
                                                         code[static_cast<std::size_t>((n + l1CodeLength - 9) % 511)])
            << n;
    // A maximal sequence: 256 ones, and -1 against itself at every other shift.
    EXPECT_EQ(std::count(code.begin(), code.end(), 1), 256);
    for (int shift = 1; shift < l1CodeLength; ++shift) {
        int sum = 0;
        for (int n = 0; n < l1CodeLength; ++n)
            sum += (code[static_cast<std::size_t>(n)] ^ code[static_cast<std::size_t>((n + shift) % 511)]) ? -1 : 1;
        ASSERT_EQ(sum, -1) << "shift " << shift;
    }
}

// --- the Hamming code --------------------------------------------------------------------

TEST(GlonassHamming, AgreesWithTheIcdChecksumsAndLocatesEverySingleError)
{
    std::mt19937 random(36);
    for (int trial = 0; trial < 2000; ++trial) {
        NavString s = randomString(random);
        addHammingCheck(s);
        ASSERT_EQ(checksums(s), (std::array<int, 8>{})) << "trial " << trial;
        // One bit wrong: C_sigma says so, and C1..C7 name it (a distinct pattern per bit,
        // a single checksum for a check bit, nothing but C_sigma for bit 8).
        std::set<std::array<int, 8>> seen;
        for (int b = 1; b <= stringBitCount; ++b) {
            NavString hit = s;
            hit[static_cast<std::size_t>(stringBitCount - b)] ^= 1u;
            const std::array<int, 8> c = checksums(hit);
            ASSERT_EQ(c[7], 1) << "bit " << b;
            const int raised = std::count(c.begin(), c.begin() + 7, 1);
            if (b <= 7) {
                EXPECT_EQ(raised, 1) << "bit " << b;
            } else if (b == 8) {
                EXPECT_EQ(raised, 0);
            } else {
                EXPECT_GE(raised, 2) << "bit " << b;
            }
            EXPECT_TRUE(seen.insert(c).second) << "bit " << b << " shares its checksums with another";
        }
    }
}

// --- fields ------------------------------------------------------------------------------

TEST(GlonassFields, SignMagnitudeAtTheEdgesOfTheirWidth)
{
    NavString s{};
    putSignMagnitude(s, 35, 27, -((1 << 26) - 1));
    EXPECT_EQ(stringField(s, 35, 1), 1u);
    EXPECT_EQ(stringFieldSignMagnitude(s, 35, 27), -((1 << 26) - 1));
    putSignMagnitude(s, 35, 27, 0);
    EXPECT_EQ(stringField(s, 35, 27), 0u) << "zero is written without its sign";
    putSignMagnitude(s, 40, 5, -1);
    EXPECT_EQ(stringField(s, 40, 5), 0b10001u) << "-1 is the sign and a magnitude of 1, not two's complement";
    EXPECT_THROW(putSignMagnitude(s, 40, 5, 16), Error);
    EXPECT_THROW(putSignMagnitude(s, 40, 5, -16), Error);
    EXPECT_THROW(putField(s, 86, 2, 0), Error);
    EXPECT_THROW(putField(s, 8, 9, 0), Error);
}

// Each field at its ICD bit number, read back from the strings a real record makes; the
// state vector, clock and frequency fields times their ICD scale give the record.
TEST(GlonassFields, EveryFieldOfARealRecordAtItsIcdPlace)
{
    const RinexNavigation navigation = realFile();
    ASSERT_FALSE(navigation.glonass.empty());
    const Ephemeris& record = navigation.glonass.front();
    const ImmediateData d = immediateDataOf(record, 30);
    const long long g = glonassSecondsOf(record) + 95;  // in the frame starting 90 s after tb
    const GlonassDate date = glonassDate(g);
    const int frameStart = static_cast<int>((g % 86400) / 30 * 30);
    const NavString s1 = string1(d, frameStart), s2 = string2(d), s3 = string3(d, true), s4 = string4(d, date);
    const double km = 1e3;
    struct Case {
        const char* name;
        const NavString* string;
        int highBit, width;
        bool isSigned;
        double scale, expected;
    };
    const Case cases[] = {
        {"m of string 1", &s1, 84, 4, false, 1, 1},
        {"P1", &s1, 78, 2, false, 1, 1},
        {"tk hours", &s1, 76, 5, false, 1, static_cast<double>(frameStart / 3600)},
        {"tk minutes", &s1, 71, 6, false, 1, static_cast<double>(frameStart / 60 % 60)},
        {"tk 30 s", &s1, 65, 1, false, 1, static_cast<double>(frameStart % 60 / 30)},
        {"x'", &s1, 64, 24, true, std::ldexp(1.0, -20) * km, record.vx},
        {"x''", &s1, 40, 5, true, std::ldexp(1.0, -30) * km, record.ax},
        {"x", &s1, 35, 27, true, std::ldexp(1.0, -11) * km, record.x},
        {"m of string 2", &s2, 84, 4, false, 1, 2},
        {"Bn", &s2, 80, 3, false, 1, record.health ? 4.0 : 0.0},
        {"tb", &s2, 76, 7, false, 900, static_cast<double>(glonassSecondsOf(record) % 86400)},
        {"y'", &s2, 64, 24, true, std::ldexp(1.0, -20) * km, record.vy},
        {"y''", &s2, 40, 5, true, std::ldexp(1.0, -30) * km, record.ay},
        {"y", &s2, 35, 27, true, std::ldexp(1.0, -11) * km, record.y},
        {"P3", &s3, 80, 1, false, 1, 1},
        {"gamma_n", &s3, 79, 11, true, std::ldexp(1.0, -40), record.gammaN},
        {"l_n", &s3, 65, 1, false, 1, record.health ? 1.0 : 0.0},
        {"z'", &s3, 64, 24, true, std::ldexp(1.0, -20) * km, record.vz},
        {"z''", &s3, 40, 5, true, std::ldexp(1.0, -30) * km, record.az},
        {"z", &s3, 35, 27, true, std::ldexp(1.0, -11) * km, record.z},
        {"tau_n", &s4, 80, 22, true, std::ldexp(1.0, -30), -record.minusTauN},
        {"E_n", &s4, 53, 5, false, 1, record.ageDays},
        {"N_T", &s4, 26, 11, false, 1, 901},
        {"n", &s4, 15, 5, false, 1, static_cast<double>(record.slot)},
        {"M", &s4, 10, 2, false, 1, 1},
    };
    for (const Case& c : cases) {
        const double raw = c.isSigned ? static_cast<double>(stringFieldSignMagnitude(*c.string, c.highBit, c.width))
                                      : static_cast<double>(stringField(*c.string, c.highBit, c.width));
        // The record's values were decoded from these very fields: exact to a part in 1e12.
        EXPECT_NEAR(raw * c.scale, c.expected, std::abs(c.expected) * 1e-12 + 1e-15) << c.name;
    }
    for (const NavString* s : {&s1, &s2, &s3, &s4}) {
        EXPECT_EQ(checksums(*s), (std::array<int, 8>{}));
        EXPECT_EQ(bitOf(*s, 85), 0) << "the idle bit";
    }
}

TEST(GlonassFields, FourYearDaysFromTheCalendar)
{
    struct Case {
        int y, m, d, day, interval;
    };
    const Case cases[] = {{1996, 1, 1, 1, 1},      {1996, 12, 31, 366, 1},  {1997, 1, 1, 367, 1},
                          {1999, 12, 31, 1461, 1}, {2000, 1, 1, 1, 2},      {2016, 2, 29, 60, 6},
                          {2018, 6, 19, 901, 6},   {2019, 12, 31, 1461, 6}, {2020, 1, 1, 1, 7}};
    for (const Case& c : cases)
        for (int second : {0, 86399}) {
            const GlonassDate date = glonassDate(glonassSecondsAt(c.y, c.m, c.d, 0, 0, 0) + second);
            EXPECT_EQ(date.dayInFourYears, c.day) << c.y << "-" << c.m << "-" << c.d;
            EXPECT_EQ(date.fourYearInterval, c.interval) << c.y << "-" << c.m << "-" << c.d;
        }
}

// --- strings, frames, superframes ---------------------------------------------------------

TEST(GlonassStrings, ChipsAreTheRelativeCodeSplitByTheMeanderThenTheTimeMark)
{
    std::mt19937 random(7);
    for (int trial = 0; trial < 200; ++trial) {
        NavString s = randomString(random);
        addHammingCheck(s);
        const StringChips chips = stringChips(s);
        EXPECT_EQ(decodeChips(chips), s);
        EXPECT_TRUE(std::equal(timeMark.begin(), timeMark.end(), chips.begin() + 170));
        // Inverted, the chips read the same: the relative code keeps no polarity.
        StringChips inverted = chips;
        for (std::size_t k = 0; k < 170; ++k) inverted[k] ^= 1u;
        const NavString read = decodeChips(inverted);
        EXPECT_TRUE(std::equal(read.begin() + 1, read.end(), s.begin() + 1));
    }
}

struct MessageFixture {
    RinexNavigation navigation = realFile();
    NavMessage message = make();

    NavMessage make()
    {
        const Schedule schedule = scheduleOf(navigation.glonass, 7);
        std::array<std::optional<AlmanacEntry>, almanacSlots> almanac;
        const long long dayStart = glonassSecondsAt(2018, 6, 19, 0, 0, 0);
        for (const Ephemeris& e : navigation.glonass)
            if (e.slot <= almanacSlots) almanac[static_cast<std::size_t>(e.slot - 1)] = almanacOf(e, dayStart);
        TimeData time;
        time.almanacDay = 901;
        time.tauGps = -1;
        return NavMessage(schedule.sets, schedule.broadcastFrom, almanac, time);
    }
};

// Strings at every even second of UTC(SU) + 3 h: numbered by the second of the frame,
// frames from the day's start, tk the frame's start, the day's numbers turning at
// Moscow midnight (21:00 UTC), almanac slots in the superframe's order.
TEST(GlonassStrings, EveryStringInItsPlaceOfFrameSuperframeAndDay)
{
    MessageFixture f;
    const long long start = glonassSecondsAt(2018, 6, 19, 7, 0, 0);  // 04:00 UTC
    for (long long g = start; g < start + 2 * superframeSeconds; g += 2) {
        const NavString s = f.message.string(g / 2);
        ASSERT_EQ(checksums(s), (std::array<int, 8>{})) << g;
        const int inFrame = static_cast<int>(g % 30), frame = static_cast<int>(g % 86400 % 150 / 30);
        const int m = static_cast<int>(stringField(s, 84, 4));
        ASSERT_EQ(m, inFrame / 2 + 1) << g;
        if (m == 1) {
            const int tk = static_cast<int>(stringField(s, 76, 5) * 3600 + stringField(s, 71, 6) * 60 +
                                            stringField(s, 65, 1) * 30);
            EXPECT_EQ(tk, g % 86400);
        }
        if (m == 3) {
            EXPECT_EQ(stringField(s, 80, 1), frame < 4 ? 1u : 0u) << "P3 in frame " << frame + 1;
        }
        if (m == 5) {
            EXPECT_EQ(stringField(s, 36, 5), 6u);
            EXPECT_EQ(stringFieldSignMagnitude(s, 31, 22), -1);
        }
        if (m >= 6 && (frame < 4 || m < 14)) {
            const NavString even = m % 2 == 0 ? s : f.message.string(g / 2 - 1);
            EXPECT_EQ(static_cast<int>(stringField(even, 77, 5)), frame * 5 + (m - 6) / 2 + 1) << "string " << m;
        }
    }
    // Moscow midnight: the last string of one day is string 15 of frame 5, the next is
    // string 1 with tk 00:00:00 and the next day's N_T.
    const long long midnight = glonassSecondsAt(2018, 6, 20, 0, 0, 0);
    EXPECT_EQ(stringField(f.message.string(midnight / 2 - 1), 84, 4), 15u);
    const NavString first = f.message.string(midnight / 2);
    EXPECT_EQ(stringField(first, 84, 4), 1u);
    EXPECT_EQ(stringField(first, 76, 12), 0u);
    EXPECT_EQ(stringField(f.message.string(midnight / 2 + 3), 26, 11), 902u);
    EXPECT_EQ(stringField(f.message.string(midnight / 2 - 12), 26, 11), 901u);
}

// The almanac's node, as the broadcast state integrated back to it finds it: the
// satellite crosses the equator northwards within two minutes of t_lambda, at the
// longitude lambda (within a degree), for every satellite of the file.
TEST(GlonassAlmanac, TheNodeIsWhereTheIntegratedOrbitCrossesTheEquator)
{
    const RinexNavigation navigation = realFile();
    const long long dayStart = glonassSecondsAt(2018, 6, 19, 0, 0, 0);
    std::set<int> slots;
    for (const Ephemeris& e : navigation.glonass) {
        if (!slots.insert(e.slot).second) continue;
        const AlmanacEntry a = almanacOf(e, dayStart);
        const double tLambda = static_cast<double>(a.tLambda) / 32;
        EXPECT_GE(tLambda, 0);
        EXPECT_LT(tLambda, 43200 + 600);
        const double fromTb = static_cast<double>(dayStart - glonassSecondsOf(e)) + tLambda;
        // Search the crossing by bisection within four minutes either side.
        double low = fromTb - 240, high = fromTb + 240;
        ASSERT_LT(satelliteState(e, low).z, 0) << "R" << e.slot;
        ASSERT_GT(satelliteState(e, high).z, 0) << "R" << e.slot;
        for (int i = 0; i < 40; ++i) (satelliteState(e, (low + high) / 2).z < 0 ? low : high) = (low + high) / 2;
        EXPECT_NEAR(low, fromTb, 120) << "R" << e.slot;
        const gps::SatelliteState at = satelliteState(e, low);
        const double longitude = std::atan2(at.y, at.x) * 180 / std::numbers::pi;
        const double lambda = static_cast<double>(a.lambda) * std::ldexp(1.0, -20) * 180;
        EXPECT_NEAR(std::remainder(longitude - lambda, 360), 0, 1.0) << "R" << e.slot;
        EXPECT_NEAR(static_cast<double>(a.deltaT) / 512, -2655, 60) << "11 h 15 min 44 s a revolution";
        EXPECT_NEAR(static_cast<double>(a.deltaI) * std::ldexp(1.0, -20) * 180 + 63, 64.8, 1.5);
        EXPECT_EQ(a.channel, e.channel);
    }
    EXPECT_GE(slots.size(), 15u);
}

TEST(GlonassAlmanac, NegativeChannelsAreSentAsTwentyFiveToThirtyOne)
{
    AlmanacEntry a;
    for (int k = -7; k <= 6; ++k) {
        a.channel = k;
        const NavString s = almanacString(7, a, 0);
        EXPECT_EQ(static_cast<int>(stringField(s, 14, 5)), k < 0 ? k + 32 : k);
    }
}

// --- bad records ----------------------------------------------------------------------------

TEST(GlonassRecords, ThoseNoStringCanCarryAreRefusedByLine)
{
    Ephemeris e = realFile().glonass.front();
    e.line = 4242;
    Ephemeris offGrid = e;
    offGrid.epochUtc += 60;
    try {
        immediateDataOf(offGrid, 30);
        FAIL() << "a tb off the 15-minute grid was taken";
    } catch (const Error& error) {
        EXPECT_NE(std::string(error.what()).find("line 4242"), std::string::npos) << error.what();
    }
    Ephemeris far = e;
    far.x = 70000e3;  // beyond the field's 65536 km
    EXPECT_THROW(immediateDataOf(far, 30), Error);
    Ephemeris fast = e;
    fast.ax = 1e-4;  // 15 steps of 2^-30 km/s^2 is the most
    EXPECT_THROW(immediateDataOf(fast, 30), Error);
}

}  // namespace
}  // namespace trajix::test

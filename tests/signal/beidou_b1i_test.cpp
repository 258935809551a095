// BeiDou B1I: the ranging codes' balance and correlations, the BCH(15,11) coder against
// the ICD's shift register and the code's own algebra, and the D1 and D2 messages read
// back the way a receiver reads them (de-interleave, check each code word, fields at the
// ICD's bit positions, scaled to SI and compared with the RINEX record they came from).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "signal/beidou_b1i.hpp"
#include "signal/generator.hpp"
#include "signal/gps_l1ca.hpp"
#include "sky/broadcast_fields.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

using namespace trajix::beidou;

// The remainder of a 15-bit word over x^4 + x + 1, one bit at a time.
unsigned syndrome(unsigned word15)
{
    for (int bit = 14; bit >= 4; --bit)
        if ((word15 >> bit) & 1u) word15 ^= 0b10011u << (bit - 4);
    return word15;
}

// A subframe's 300 bits as the ICD numbers them (1-based): word 1 as sent; each other
// word de-interleaved into X1, X2, P1, P2. Every code word must check.
std::array<std::uint8_t, 301> icdBits(const Subframe& words)
{
    std::array<std::uint8_t, 301> bits{};
    for (int i = 0; i < 30; ++i) bits[static_cast<std::size_t>(1 + i)] = (words[0] >> (29 - i)) & 1u;
    EXPECT_EQ(syndrome(words[0] & 0x7FFFu), 0u) << "word 1";
    for (int w = 1; w < 10; ++w) {
        std::array<unsigned, 30> sent{};
        for (int i = 0; i < 30; ++i)
            sent[static_cast<std::size_t>(i)] = (words[static_cast<std::size_t>(w)] >> (29 - i)) & 1u;
        unsigned c1 = 0, c2 = 0;
        for (int i = 0; i < 15; ++i) {
            c1 = (c1 << 1) | sent[static_cast<std::size_t>(2 * i)];
            c2 = (c2 << 1) | sent[static_cast<std::size_t>(2 * i + 1)];
        }
        EXPECT_EQ(syndrome(c1), 0u) << "word " << w + 1;
        EXPECT_EQ(syndrome(c2), 0u) << "word " << w + 1;
        const std::size_t base = static_cast<std::size_t>(30 * w);
        for (int i = 0; i < 11; ++i) {
            bits[base + 1 + static_cast<std::size_t>(i)] = (c1 >> (14 - i)) & 1u;
            bits[base + 12 + static_cast<std::size_t>(i)] = (c2 >> (14 - i)) & 1u;
        }
        for (int i = 0; i < 4; ++i) {
            bits[base + 23 + static_cast<std::size_t>(i)] = (c1 >> (3 - i)) & 1u;
            bits[base + 27 + static_cast<std::size_t>(i)] = (c2 >> (3 - i)) & 1u;
        }
    }
    return bits;
}

// A field from its pieces (first bit, length) at the ICD's positions.
std::int64_t field(const std::array<std::uint8_t, 301>& bits, std::initializer_list<std::pair<int, int>> pieces,
                   bool isSigned = false)
{
    std::uint64_t value = 0;
    int length = 0;
    for (const auto& [first, count] : pieces)
        for (int i = 0; i < count; ++i, ++length) value = (value << 1) | bits[static_cast<std::size_t>(first + i)];
    if (isSigned && ((value >> (length - 1)) & 1u))
        return static_cast<std::int64_t>(value) - (std::int64_t{1} << length);
    return static_cast<std::int64_t>(value);
}

std::vector<Ephemeris> records()
{
    return readRinexNavigation(dataFile("sky/VILL00ESP_R_20181700000_0930-1230_MN.rnx"), {sky::GnssSystem::beidou})
        .beidou;
}

// Balanced and nearly orthogonal: every code's ones and zeros within a Gold code's
// spread of each other, and the cyclic correlations between codes and of each code
// with itself shifted far below the 2046 of a match.
TEST(BeidouB1i, CodesAreBalancedAndNearlyOrthogonal)
{
    std::vector<std::array<int, b1CodeLength>> levels;
    for (int prn = 1; prn <= b1PrnCount; ++prn) {
        const B1Code code = b1iCode(prn);
        const int ones = static_cast<int>(std::count(code.begin(), code.end(), 1));
        EXPECT_LE(std::abs(2 * ones - b1CodeLength), 2 * 33 + 1) << "C" << prn << ": " << ones << " ones";
        std::array<int, b1CodeLength> level{};
        for (int i = 0; i < b1CodeLength; ++i)
            level[static_cast<std::size_t>(i)] = code[static_cast<std::size_t>(i)] ? -1 : 1;
        levels.push_back(level);
    }
    EXPECT_THROW(b1iCode(0), Error);
    EXPECT_THROW(b1iCode(64), Error);
    const auto correlation = [](const auto& a, const auto& b, int shift) {
        int sum = 0;
        for (int i = 0; i < b1CodeLength; ++i)
            sum += a[static_cast<std::size_t>(i)] * b[static_cast<std::size_t>((i + shift) % b1CodeLength)];
        return sum;
    };
    int worst = 0;
    for (int prn = 0; prn < b1PrnCount; prn += 3) {
        const auto& a = levels[static_cast<std::size_t>(prn)];
        const auto& b = levels[static_cast<std::size_t>((prn + 1 + prn / 3) % b1PrnCount)];
        for (int shift = 0; shift < b1CodeLength; ++shift) {
            worst = std::max(worst, std::abs(correlation(a, b, shift)));
            if (shift != 0) worst = std::max(worst, std::abs(correlation(a, a, shift)));
        }
    }
    EXPECT_LT(worst, 2046 / 10);  // more than 20 dB below the peak
    // No two codes alike.
    std::set<std::array<int, b1CodeLength>> distinct(levels.begin(), levels.end());
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(b1PrnCount));
}

// BCH(15,11) is the Hamming code of x^4 + x + 1: every code word divides by it, and each
// of the 15 single-bit errors of a code word leaves a remainder of its own.
TEST(BeidouB1i, BchWordsAgreeWithTheShiftRegisterAndCorrectOneError)
{
    for (std::uint32_t info = 0; info < 2048; ++info) {
        ASSERT_EQ(bchParity(info), bchParityReference(info)) << info;
        const unsigned word = (info << 4) | bchParity(info);
        ASSERT_EQ(syndrome(word), 0u) << info;
        std::set<unsigned> syndromes;
        for (int bit = 0; bit < 15; ++bit) syndromes.insert(syndrome(word ^ (1u << bit)));
        ASSERT_EQ(syndromes.size(), 15u);
        ASSERT_EQ(syndromes.count(0), 0u);
    }
    // Interleaving: X1's bits at the even places, X2's at the odd ones.
    const std::uint32_t x1 = 0b10110011100, x2 = 0b01001100011;
    const std::uint32_t sent = encodeWord((x1 << 11) | x2);
    std::uint32_t even = 0, odd = 0;
    for (int i = 0; i < 15; ++i) {
        even = (even << 1) | ((sent >> (29 - 2 * i)) & 1u);
        odd = (odd << 1) | ((sent >> (28 - 2 * i)) & 1u);
    }
    EXPECT_EQ(even >> 4, x1);
    EXPECT_EQ(odd >> 4, x2);
    // Word 1: the preamble and reserved bits as they are.
    EXPECT_EQ(encodeFirstWord((preamble << 15) | 5) >> 19, preamble);
}

// Checks a decoded set against its RINEX record: each value within half its field's step.
void expectSetOf(const Ephemeris& r, double sqrtA, double e, double m0, double omega0, double i0, double omega,
                 double omegaDot, double idot, double deltaN, double toe, double af0, double af1, int week)
{
    constexpr double pi = gps::semicircle;
    const auto angle = [](double a) { return gps::wrapAngle(a, gps::semicircle); };
    EXPECT_NEAR(sqrtA, r.orbit.sqrtA, std::ldexp(1.0, -20));
    EXPECT_NEAR(e, r.orbit.eccentricity, std::ldexp(1.0, -34));
    EXPECT_NEAR(m0, angle(r.orbit.m0), pi * std::ldexp(1.0, -32));
    EXPECT_NEAR(omega0, angle(r.orbit.omega0), pi * std::ldexp(1.0, -32));
    EXPECT_NEAR(i0, angle(r.orbit.i0), pi * std::ldexp(1.0, -32));
    EXPECT_NEAR(omega, angle(r.orbit.omega), pi * std::ldexp(1.0, -32));
    EXPECT_NEAR(omegaDot, r.orbit.omegaDot, pi * std::ldexp(1.0, -44));
    EXPECT_NEAR(idot, r.orbit.idot, pi * std::ldexp(1.0, -44));
    EXPECT_NEAR(deltaN, r.orbit.deltaN, pi * std::ldexp(1.0, -44));
    EXPECT_NEAR(toe, r.orbit.toe, 4);
    EXPECT_NEAR(af0, r.af0, std::ldexp(1.0, -34));
    EXPECT_NEAR(af1, r.af1, std::ldexp(1.0, -51));
    EXPECT_EQ(week, r.week);
}

// D1 from an IGSO and a MEO satellite: subframes 1-3 read back at the ICD's positions give
// the record; the header counts BDT (SOW of each subframe, 6 s apart) and subframe 5
// page 10 gives BDT-UTC: 18 leap seconds less BDT's 14.
TEST(BeidouB1i, D1SubframesReadBackAtTheIcdPositionsGiveTheRecord)
{
    constexpr double pi = gps::semicircle;
    gps::UtcParameters utc;
    utc.leapSeconds = 18;
    const B1Common common = b1CommonOf(RinexNavigation{}, 2006, utc);
    const std::vector<Ephemeris> all = records();
    for (const Ephemeris& r : all) {
        if (sendsD2(r.prn)) continue;
        const B1Schedule schedule = b1Schedule(all, r.prn, 2006);
        B1Message message(r.prn, {b1EphemerisOf(r)}, {-1e12}, common, 2006);
        EXPECT_FALSE(message.d2());
        // The frame of BDT Tuesday 10:00:00 (subframes of 6 s from BDT's week start).
        const std::int64_t first = (2 * 86400 + 10 * 3600) / 6;
        std::array<std::array<std::uint8_t, 301>, 3> sf{};
        for (int k = 0; k < 3; ++k) {
            sf[static_cast<std::size_t>(k)] = icdBits(message.subframe(first + k));
            const auto& b = sf[static_cast<std::size_t>(k)];
            EXPECT_EQ(field(b, {{1, 11}}), 0b11100010010);
            EXPECT_EQ(field(b, {{16, 3}}), k + 1);
            EXPECT_EQ(field(b, {{19, 8}, {31, 12}}), (first + k) * 6);
        }
        const auto& s1 = sf[0];
        const auto& s2 = sf[1];
        const auto& s3 = sf[2];
        EXPECT_EQ(field(s1, {{43, 1}}), r.health);  // SatH1 (the BDS-3 satellites of 2018: 1)
        const double toe = static_cast<double>((field(s2, {{291, 2}}) << 15) | field(s3, {{43, 10}, {61, 5}})) * 8;
        expectSetOf(r, field(s2, {{251, 12}, {271, 20}}) * std::ldexp(1.0, -19),
                    field(s2, {{133, 10}, {151, 22}}) * std::ldexp(1.0, -33),
                    field(s2, {{93, 20}, {121, 12}}, true) * pi * std::ldexp(1.0, -31),
                    field(s3, {{212, 21}, {241, 11}}, true) * pi * std::ldexp(1.0, -31),
                    field(s3, {{66, 17}, {91, 15}}, true) * pi * std::ldexp(1.0, -31),
                    field(s3, {{252, 11}, {271, 21}}, true) * pi * std::ldexp(1.0, -31),
                    field(s3, {{132, 11}, {151, 13}}, true) * pi * std::ldexp(1.0, -43),
                    field(s3, {{190, 13}, {211, 1}}, true) * pi * std::ldexp(1.0, -43),
                    field(s2, {{43, 10}, {61, 6}}, true) * pi * std::ldexp(1.0, -43), toe,
                    field(s1, {{226, 7}, {241, 17}}, true) * std::ldexp(1.0, -33),
                    field(s1, {{258, 5}, {271, 17}}, true) * std::ldexp(1.0, -50),
                    static_cast<int>(field(s1, {{61, 13}})));
        EXPECT_NEAR(field(s1, {{74, 9}, {91, 8}}) * 8.0, r.toc, 4);
        EXPECT_NEAR(field(s2, {{181, 18}}, true) * std::ldexp(1.0, -31), r.orbit.cus, std::ldexp(1.0, -32));
        EXPECT_NEAR(field(s2, {{199, 4}, {211, 14}}, true) / 64.0, r.orbit.crc, 1.0 / 128);
        EXPECT_NEAR(field(s1, {{99, 10}}, true) * 1e-10, r.tgd1, 0.5e-10);
        // Subframe 5 of frame 9 of the superframe: page 10, BDT-UTC.
        const std::int64_t superframe = first / 120 * 120;
        const auto s5 = icdBits(message.subframe(superframe + 9 * 5 + 4));
        EXPECT_EQ(field(s5, {{16, 3}}), 5);
        EXPECT_EQ(field(s5, {{44, 7}}), 10);
        EXPECT_EQ(field(s5, {{51, 2}, {61, 6}}, true), 4);
        EXPECT_EQ(field(s5, {{67, 8}}, true), 4);
        EXPECT_EQ(schedule.sets.size(),
                  static_cast<std::size_t>(std::count_if(
                      all.begin(), all.end(), [&](const Ephemeris& o) { return o.prn == r.prn && o.health == 0; })));
    }
}

// D2 from the geostationary C05: ten pages of subframe 1, one per 3-s frame, hold the
// set; pages and SOW as the ICD counts them.
TEST(BeidouB1i, D2PagesOfTheGeostationarySatelliteGiveTheRecord)
{
    constexpr double pi = gps::semicircle;
    const std::vector<Ephemeris> all = records();
    const auto found = std::find_if(all.begin(), all.end(), [](const Ephemeris& r) { return r.prn == 5; });
    ASSERT_NE(found, all.end());
    const Ephemeris& r = *found;
    B1Message message(5, {b1EphemerisOf(r)}, {-1e12}, B1Common{}, 2006);
    ASSERT_TRUE(message.d2());
    EXPECT_EQ(message.bitMilliseconds(), 2);
    // Frames of 3 s from BDT Tuesday 10:00:00, 5 subframes of 0.6 s each.
    const std::int64_t firstFrame = (2 * 86400 + 10 * 3600) / 3;
    std::array<std::array<std::uint8_t, 301>, 11> page{};
    for (int p = 1; p <= 10; ++p) {
        const std::int64_t frame = firstFrame + p - 1;
        const auto b = icdBits(message.subframe(frame * 5));
        EXPECT_EQ(field(b, {{16, 3}}), 1);
        EXPECT_EQ(field(b, {{43, 4}}), p);
        EXPECT_EQ(field(b, {{19, 8}, {31, 12}}), frame * 3);
        // The other subframes of the frame carry its SOW too.
        EXPECT_EQ(field(icdBits(message.subframe(frame * 5 + 3)), {{19, 8}, {31, 12}}), frame * 3);
        page[static_cast<std::size_t>(p)] = b;
    }
    const auto& p = page;
    const double toe = static_cast<double>(field(p[7], {{81, 2}, {91, 15}})) * 8;
    const auto join = [](std::int64_t msb, std::int64_t lsb, int lsbBits, int total) {
        std::int64_t v = (msb << lsbBits) | lsb;
        if ((v >> (total - 1)) & 1) v -= std::int64_t{1} << total;
        return static_cast<double>(v);
    };
    expectSetOf(
        r, field(p[6], {{77, 6}, {91, 22}, {121, 4}}) * std::ldexp(1.0, -19),
        static_cast<double>((field(p[5], {{125, 10}}) << 22) | field(p[6], {{47, 6}, {61, 16}})) * std::ldexp(1.0, -33),
        field(p[5], {{51, 2}, {61, 22}, {91, 8}}, true) * pi * std::ldexp(1.0, -31),
        field(p[9], {{52, 1}, {61, 22}, {91, 9}}, true) * pi * std::ldexp(1.0, -31),
        join(field(p[7], {{106, 7}, {121, 14}}), field(p[8], {{47, 6}, {61, 5}}), 11, 32) * pi * std::ldexp(1.0, -31),
        join(field(p[9], {{100, 13}, {121, 14}}), field(p[10], {{47, 5}}), 5, 32) * pi * std::ldexp(1.0, -31),
        join(field(p[8], {{110, 3}, {121, 16}}), field(p[9], {{47, 5}}), 5, 24) * pi * std::ldexp(1.0, -43),
        field(p[10], {{52, 1}, {61, 13}}, true) * pi * std::ldexp(1.0, -43),
        field(p[4], {{97, 16}}, true) * pi * std::ldexp(1.0, -43), toe,
        field(p[3], {{101, 12}, {121, 12}}, true) * std::ldexp(1.0, -33),
        join(field(p[3], {{133, 4}}), field(p[4], {{47, 6}, {61, 12}}), 18, 22) * std::ldexp(1.0, -50),
        static_cast<int>(field(p[1], {{65, 13}})));
    EXPECT_NEAR(join(field(p[4], {{121, 14}}), field(p[5], {{47, 4}}), 4, 18) * std::ldexp(1.0, -31), r.orbit.cuc,
                std::ldexp(1.0, -32));
    EXPECT_NEAR(join(field(p[6], {{125, 10}}), field(p[7], {{47, 6}, {61, 2}}), 8, 18) * std::ldexp(1.0, -31),
                r.orbit.cic, std::ldexp(1.0, -32));
    EXPECT_NEAR(field(p[8], {{66, 17}, {91, 1}}, true) / 64.0, r.orbit.crc, 1.0 / 128);
}

// A recording of BeiDou alone from the real file: the same bytes on any number of
// threads and with the plain loops; its satellites are all BeiDou, C05 among them
// (the geostationary one, over the Indian Ocean, low in the east at Villafranca).
TEST(BeidouB1i, RecordingsAreTheSameOnAnyNumberOfThreadsAndAsThePlainLoops)
{
    GeneratorSettings s;
    s.ephemerisFile = dataFile("sky/VILL00ESP_R_20181700000_0930-1230_MN.rnx");
    s.systems = {sky::GnssSystem::beidou};
    s.week = 2006;
    s.startSeconds = 2 * 86400 + 10.5 * 3600 + 0.123;
    s.durationSeconds = 1;
    s.format = {true, 8, 4092, 0};
    s.staticPosition = true;
    s.latitude = 40.4436;
    s.longitude = -3.9521;
    s.altitude = 650;
    s.maskDegrees = 5;
    const auto make = [](GeneratorSettings settings, int threads, bool plain) {
        settings.threads = threads;
        settings.referenceLoops = plain;
        SignalGenerator generator(settings);
        std::string bytes;
        generator.run([&bytes](const std::uint8_t* data, std::size_t size, double) {
            bytes.append(reinterpret_cast<const char*>(data), size);
            return true;
        });
        return bytes;
    };
    const std::string plain = make(s, 1, true);
    ASSERT_EQ(plain.size(), s.format.bytesPerSecond());
    EXPECT_TRUE(make(s, 2, false) == plain);
    const SignalGenerator generator(s);
    std::set<std::string> names;
    for (const GeneratedSatellite& g : generator.initialSatellites()) {
        EXPECT_EQ(g.system, sky::GnssSystem::beidou);
        names.insert(satelliteName(g.system, g.prn));
    }
    EXPECT_GE(names.size(), 2u);
    EXPECT_EQ(names.count("C05"), 1u);
}

// A BeiDou record of a number no code covers is named in a note and left out; the rest
// of the file is read.
TEST(BeidouB1i, ARecordOfANumberWithoutACodeIsNamedAndLeftOut)
{
    TempDir dir;
    std::string text = readFileBytes(dataFile("sky/VILL00ESP_R_20181700000_0930-1230_MN.rnx"));
    const auto at = text.find("\nC27 2018 06 19 10");
    ASSERT_NE(at, std::string::npos);
    text.replace(at + 1, 3, "C64");
    writeFileBytes(dir / "nav.rnx", text);
    GeneratorSettings s;
    s.ephemerisFile = dir / "nav.rnx";
    s.systems = {sky::GnssSystem::beidou};
    s.week = 2006;
    s.startSeconds = 2 * 86400 + 10.5 * 3600;
    s.durationSeconds = 1;
    s.format = {true, 8, 4092, 0};
    s.staticPosition = true;
    s.latitude = 40.4436;
    s.longitude = -3.9521;
    s.maskDegrees = 5;
    const SignalGenerator generator(s);
    const auto& notes = generator.notes();
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [](const std::string& n) {
        return n.find("C64") != std::string::npos;
    })) << ::testing::PrintToString(notes);
    EXPECT_FALSE(generator.initialSatellites().empty());
}

}  // namespace
}  // namespace trajix::test

// Galileo E1: the ranging codes as the ICD prints them, and the I/NAV message read back
// the way a receiver reads it (sync, deinterleave, decode, CRC, fields at the ICD's bit
// positions), with the coder checked against a plain tap-by-tap reference.
#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "signal/galileo_e1.hpp"
#include "signal/gps_l1ca.hpp"
#include "sky/rinex_navigation.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

using namespace trajix::galileo;

std::string firstHexDigits(const E1Code& code, int digits)
{
    std::string text;
    for (int d = 0; d < digits; ++d) {
        int value = 0;
        for (int k = 0; k < 4; ++k) value = value * 2 + code[static_cast<std::size_t>(4 * d + k)];
        text += "0123456789ABCDEF"[value];
    }
    return text;
}

TEST(GalileoE1Codes, MatchTheIcdPrintAndAreBalancedAndDistinct)
{
    EXPECT_EQ(firstHexDigits(e1bCode(1), 20), "F5D710130573541B9DBD");
    EXPECT_EQ(firstHexDigits(e1cCode(1), 20), "B39340CA1C817D81EF4F");
    std::set<std::vector<std::uint8_t>> seen;
    for (int prn = 1; prn <= e1PrnCount; ++prn)
        for (const E1Code& code : {e1bCode(prn), e1cCode(prn)}) {
            EXPECT_EQ(std::count(code.begin(), code.end(), 1), e1CodeLength / 2) << "PRN " << prn;
            seen.insert(std::vector<std::uint8_t>(code.begin(), code.end()));
        }
    EXPECT_EQ(seen.size(), 2u * e1PrnCount);
    // Any two codes correlate weakly at zero shift (memory codes: under 1/10 of the length).
    const E1Code a = e1bCode(11), b = e1bCode(12), c = e1cCode(11);
    int ab = 0, ac = 0;
    for (int i = 0; i < e1CodeLength; ++i) {
        ab += a[static_cast<std::size_t>(i)] == b[static_cast<std::size_t>(i)] ? 1 : -1;
        ac += a[static_cast<std::size_t>(i)] == c[static_cast<std::size_t>(i)] ? 1 : -1;
    }
    EXPECT_LT(std::abs(ab), e1CodeLength / 10);
    EXPECT_LT(std::abs(ac), e1CodeLength / 10);
    for (const int bad : {0, 51, -1}) {
        EXPECT_THROW(e1bCode(bad), Error);
        EXPECT_THROW(e1cCode(bad), Error);
    }
    // CS25 as the ICD prints it: 380AD90 with three padding zeros at the end.
    std::uint32_t cs25 = 0;
    for (const std::uint8_t chip : e1cSecondaryCode) cs25 = cs25 * 2 + chip;
    EXPECT_EQ(cs25 << 3, 0x380AD90u);
}

std::vector<std::uint8_t> bitsOf(const std::string& text)
{
    std::vector<std::uint8_t> bits;
    for (const unsigned char c : text)
        for (int k = 7; k >= 0; --k) bits.push_back((c >> k) & 1u);
    return bits;
}

TEST(GalileoE1Message, Crc24qCheckValueAndZeroRemainderOverItsOwnCrc)
{
    // The catalogued check value of CRC-24Q (the CRC of RTCM 3 and the Galileo pages).
    const auto digits = bitsOf("123456789");
    EXPECT_EQ(crc24q(digits.data(), digits.size()), 0xCDE703u);
    EXPECT_EQ(crc24q(digits.data(), 0), 0u);
    std::mt19937 random(7);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<std::uint8_t> bits(1 + random() % 300);
        for (auto& bit : bits) bit = random() & 1u;
        const std::uint32_t crc = crc24q(bits.data(), bits.size());
        for (int k = 23; k >= 0; --k) bits.push_back((crc >> k) & 1u);
        EXPECT_EQ(crc24q(bits.data(), bits.size()), 0u);
        // One flipped bit anywhere is caught.
        bits[random() % bits.size()] ^= 1u;
        EXPECT_NE(crc24q(bits.data(), bits.size()), 0u);
    }
}

// The coder written out tap by tap: output j of bit k is the sum of the bits k - d for
// every delay d whose coefficient is set (the most significant of the 7 for d = 0).
CodedPagePart plainEncode(const PagePart& bits)
{
    const std::array<int, 7> g1Taps{1, 1, 1, 1, 0, 0, 1};  // 171 octal = 1 111 001
    const std::array<int, 7> g2Taps{1, 0, 1, 1, 0, 1, 1};  // 133 octal = 1 011 011
    CodedPagePart out{};
    for (int k = 0; k < pagePartBits; ++k) {
        int s1 = 0, s2 = 0;
        for (int d = 0; d < 7; ++d) {
            const int bit = k - d >= 0 ? bits[static_cast<std::size_t>(k - d)] : 0;
            s1 ^= g1Taps[static_cast<std::size_t>(d)] & bit;
            s2 ^= g2Taps[static_cast<std::size_t>(d)] & bit;
        }
        out[static_cast<std::size_t>(2 * k)] = static_cast<std::uint8_t>(s1);
        out[static_cast<std::size_t>(2 * k + 1)] = static_cast<std::uint8_t>(s2 ^ 1);  // G2 inverted
    }
    return out;
}

PagePart randomPart(std::mt19937& random)
{
    PagePart bits{};
    for (int k = 0; k < pagePartBits - 6; ++k) bits[static_cast<std::size_t>(k)] = random() & 1u;
    return bits;
}

TEST(GalileoE1Message, CoderAgreesWithThePlainReferenceAndInterleaverSpreadsBursts)
{
    std::mt19937 random(11);
    for (int trial = 0; trial < 100; ++trial) {
        const PagePart bits = randomPart(random);
        EXPECT_EQ(convolutionalEncode(bits), plainEncode(bits));
    }
    // The interleaver is a permutation that puts neighbours of the coded stream 30
    // symbols apart (a row), and the eight symbols of a column in a row each.
    CodedPagePart numbers{};
    for (int i = 0; i < pagePartCoded; ++i) numbers[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    const CodedPagePart shuffled = interleave(numbers);
    std::array<int, pagePartCoded> where{};
    std::set<int> values;
    for (int t = 0; t < pagePartCoded; ++t) {
        where[shuffled[static_cast<std::size_t>(t)]] = t;
        values.insert(shuffled[static_cast<std::size_t>(t)]);
    }
    EXPECT_EQ(values.size(), static_cast<std::size_t>(pagePartCoded));
    for (int i = 0; i + 1 < pagePartCoded; ++i)
        if ((i + 1) % interleaverRows != 0) {
            EXPECT_EQ(where[static_cast<std::size_t>(i + 1)] - where[static_cast<std::size_t>(i)], interleaverColumns);
        }
}

// A receiver's reading of a page part: sync found, deinterleaved, decoded (noiseless:
// each bit is the G1 symbol less the taps of the bits before it), the G2 symbols checked.
PagePart receive(const PagePartSymbols& symbols)
{
    for (std::size_t k = 0; k < syncPattern.size(); ++k) EXPECT_EQ(symbols[k], syncPattern[k]);
    CodedPagePart coded{};
    for (int row = 0; row < interleaverRows; ++row)
        for (int column = 0; column < interleaverColumns; ++column)
            coded[static_cast<std::size_t>(column * interleaverRows + row)] =
                symbols[static_cast<std::size_t>(10 + row * interleaverColumns + column)];
    PagePart bits{};
    for (int k = 0; k < pagePartBits; ++k) {
        int s1 = coded[static_cast<std::size_t>(2 * k)];
        for (const int d : {1, 2, 3, 6}) s1 ^= k - d >= 0 ? bits[static_cast<std::size_t>(k - d)] : 0;
        bits[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(s1);
    }
    EXPECT_EQ(plainEncode(bits), coded);
    return bits;
}

// A field of a received word at the ICD's bit position (1 = the first bit of the word type).
std::int64_t field(const Word& word, int firstBit, int bits, bool isSigned = false)
{
    return wordField(word, firstBit - 1, bits, isSigned);
}

InavEphemeris sampleEphemeris()
{
    InavEphemeris e;
    e.svid = 19;
    e.week = 2006;
    e.iodNav = 1001;
    e.toe = e.toc = 49800;
    e.m0 = -1234567890;
    e.eccentricity = 0xFEDCBA98;
    e.sqrtA = 0xAD9D4A54;
    e.omega0 = 2000000001;
    e.i0 = -555;
    e.omega = 77777777;
    e.idot = -8191;
    e.omegaDot = -8388607;
    e.deltaN = 32767;
    e.cuc = -2;
    e.cus = 3;
    e.cic = -32768;
    e.cis = 4;
    e.crc = 5000;
    e.crs = -6000;
    e.sisa = 107;
    e.af0 = -1073741824;
    e.af1 = 1048575;
    e.af2 = -31;
    e.bgdE1E5a = -511;
    e.bgdE1E5b = 300;
    e.e1bHealth = 1;
    e.e1bDataValidity = 1;
    return e;
}

TEST(GalileoE1Message, WordsCarryEveryFieldAtItsIcdPosition)
{
    const InavEphemeris e = sampleEphemeris();
    InavCommon c;
    c.ai0 = 2047;
    c.ai1 = -1024;
    c.ai2 = 8191;
    c.utcA0 = -7;
    c.utcA1 = 8;
    c.leapSeconds = 18;
    c.utcReferenceTime = 345600;
    c.utcReferenceWeek = 2006;
    c.leapSecondWeek = 1929;
    c.leapSecondDay = 7;
    c.leapSecondsAfter = 18;
    c.ggtoA0 = -1000;
    c.ggtoA1 = 2047;
    c.ggtoReferenceTime = 432000;
    c.ggtoReferenceWeek = 2006;
    c.almanacIssue = 9;
    c.almanacWeek = 2006;
    c.almanacReferenceTime = 600 * 1023;
    InavAlmanac a{1, -4096, 2047, -32768, 1023, 32767, -1024, -5, 32767, -4096, 3, 2};
    InavAlmanac b{2, 4095, 1, 2, -3, 4, -5, 6, -7, 8, 0, 1};
    InavAlmanac d{36, 10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 0};
    struct Field {
        Word word;
        int first, bits;
        bool isSigned;
        std::int64_t expected;
    };
    const Word w1 = ephemerisWord(1, e), w2 = ephemerisWord(2, e), w3 = ephemerisWord(3, e), w4 = ephemerisWord(4, e);
    const Word w5 = ionosphereWord(e, c, 2006, 123456), w6 = utcWord(c, 123458), w0 = spareWord(2006, 123460);
    const Word w7 = almanacWord(7, c, a, b, d), w8 = almanacWord(8, c, a, b, d), w9 = almanacWord(9, c, a, b, d),
               w10 = almanacWord(10, c, a, b, d);
    // (word, first bit, width, signed, value): the bit positions of the ICD's word tables.
    const std::vector<Field> fields{
        {w1, 1, 6, false, 1},
        {w1, 7, 10, false, 1001},
        {w1, 17, 14, false, 830},
        {w1, 31, 32, true, e.m0},
        {w1, 63, 32, false, e.eccentricity},
        {w1, 95, 32, false, e.sqrtA},
        {w2, 1, 6, false, 2},
        {w2, 17, 32, true, e.omega0},
        {w2, 49, 32, true, e.i0},
        {w2, 81, 32, true, e.omega},
        {w2, 113, 14, true, e.idot},
        {w3, 17, 24, true, e.omegaDot},
        {w3, 41, 16, true, e.deltaN},
        {w3, 57, 16, true, e.cuc},
        {w3, 73, 16, true, e.cus},
        {w3, 89, 16, true, e.crc},
        {w3, 105, 16, true, e.crs},
        {w3, 121, 8, false, 107},
        {w4, 17, 6, false, 19},
        {w4, 23, 16, true, e.cic},
        {w4, 39, 16, true, e.cis},
        {w4, 55, 14, false, 830},
        {w4, 69, 31, true, e.af0},
        {w4, 100, 21, true, e.af1},
        {w4, 121, 6, true, e.af2},
        {w5, 1, 6, false, 5},
        {w5, 7, 11, false, 2047},
        {w5, 18, 11, true, -1024},
        {w5, 29, 14, true, 8191},
        {w5, 48, 10, true, -511},
        {w5, 58, 10, true, 300},
        {w5, 68, 2, false, 0},
        {w5, 70, 2, false, 1},
        {w5, 72, 1, false, 0},
        {w5, 73, 1, false, 1},
        {w5, 74, 12, false, 982},
        {w5, 86, 20, false, 123456},
        {w6, 1, 6, false, 6},
        {w6, 7, 32, true, -7},
        {w6, 39, 24, true, 8},
        {w6, 63, 8, true, 18},
        {w6, 71, 8, false, 96},
        {w6, 79, 8, false, 982 % 256},
        {w6, 87, 8, false, 905 % 256},
        {w6, 95, 3, false, 7},
        {w6, 98, 8, true, 18},
        {w6, 106, 20, false, 123458},
        {w0, 7, 2, false, 2},
        {w0, 97, 12, false, 982},
        {w0, 109, 20, false, 123460},
        {w7, 7, 4, false, 9},
        {w7, 11, 2, false, 982 % 4},
        {w7, 13, 10, false, 1023},
        {w7, 23, 6, false, 1},
        {w7, 29, 13, true, -4096},
        {w7, 42, 11, false, 2047},
        {w7, 53, 16, true, -32768},
        {w7, 69, 11, true, 1023},
        {w7, 80, 16, true, 32767},
        {w7, 96, 11, true, -1024},
        {w7, 107, 16, true, -5},
        {w8, 11, 16, true, 32767},
        {w8, 27, 13, true, -4096},
        {w8, 40, 2, false, 2},
        {w8, 42, 2, false, 3},
        {w8, 44, 6, false, 2},
        {w8, 50, 13, true, 4095},
        {w8, 63, 11, false, 1},
        {w8, 74, 16, true, 2},
        {w8, 90, 11, true, -3},
        {w8, 101, 16, true, 4},
        {w8, 117, 11, true, -5},
        {w9, 23, 16, true, 6},
        {w9, 39, 16, true, -7},
        {w9, 55, 13, true, 8},
        {w9, 68, 2, false, 1},
        {w9, 70, 2, false, 0},
        {w9, 72, 6, false, 36},
        {w9, 78, 13, true, 10},
        {w9, 91, 11, false, 20},
        {w9, 102, 16, true, 30},
        {w9, 118, 11, true, 40},
        {w10, 11, 16, true, 50},
        {w10, 27, 11, true, 60},
        {w10, 38, 16, true, 70},
        {w10, 54, 16, true, 80},
        {w10, 70, 13, true, 90},
        {w10, 83, 2, false, 0},
        {w10, 85, 2, false, 1},
        {w10, 87, 16, true, -1000},
        {w10, 103, 12, true, 2047},
        {w10, 115, 8, false, 120},
        {w10, 123, 6, false, 982 % 64},
    };
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const Field& f = fields[i];
        EXPECT_EQ(field(f.word, f.first, f.bits, f.isSigned), f.expected) << "field " << i << " at bit " << f.first;
    }
    // The word types lead each almanac word.
    EXPECT_EQ(field(w9, 1, 6), 9);
    EXPECT_EQ(field(w10, 1, 6), 10);
}

TEST(GalileoE1Message, PagesReadBackWithTheirCrcAndTimeAcrossAWeekEnd)
{
    InavEphemeris second = sampleEphemeris();
    second.iodNav = 1002;
    InavCommon common;
    common.ggtoReferenceWeek = common.utcReferenceWeek = common.leapSecondWeek = common.almanacWeek = 2006;
    InavMessage message({sampleEphemeris(), second}, {0, 604800 - 120}, {InavAlmanac{}}, common, 2006);
    std::set<std::int64_t> typesInSubframe;
    // From four minutes before the week's end to one minute after it: every page part
    // opens with the sync pattern, decodes, passes its CRC, and dates its words right.
    for (std::int64_t page = 302400 - 120; page < 302400 + 30; ++page) {
        const PagePart even = receive(message.pagePart(2 * page));
        const PagePart odd = receive(message.pagePart(2 * page + 1));
        EXPECT_EQ(even[0], 0);
        EXPECT_EQ(odd[0], 1);
        EXPECT_EQ(even[1] + odd[1], 0);  // nominal pages
        for (int k = 114; k < 120; ++k)
            EXPECT_EQ(even[static_cast<std::size_t>(k)] + odd[static_cast<std::size_t>(k)], 0);
        std::vector<std::uint8_t> covered(even.begin(), even.begin() + 114);
        covered.insert(covered.end(), odd.begin(), odd.begin() + 106);  // with the CRC
        EXPECT_EQ(crc24q(covered.data(), covered.size()), 0u) << "page " << page;
        Word word{};
        std::copy(even.begin() + 2, even.begin() + 114, word.begin());
        std::copy(odd.begin() + 2, odd.begin() + 18, word.begin() + 112);
        EXPECT_EQ(word, message.word(page));
        const std::int64_t start = page * 2, tow = start % 604800, gstWeek = 2006 + start / 604800 - 1024;
        const auto type = field(word, 1, 6);
        if (type == 5) {
            EXPECT_EQ(field(word, 86, 20), tow);
            EXPECT_EQ(field(word, 74, 12), gstWeek);
        }
        if (type == 0) {
            EXPECT_EQ(field(word, 109, 20), tow);
            EXPECT_EQ(field(word, 97, 12), gstWeek);
        }
        if (type == 6) {
            EXPECT_EQ(field(word, 106, 20), tow);
        }
        if (type >= 1 && type <= 4) {
            EXPECT_EQ(field(word, 7, 10), start < 604800 - 120 ? 1001 : 1002);
        }
        // Each 30-s subframe carries words 1 to 6 once.
        if (start % 30 == 0) typesInSubframe.clear();
        typesInSubframe.insert(type);
        if (start % 30 == 28)
            for (const int t : {1, 2, 3, 4, 5, 6}) {
                EXPECT_TRUE(typesInSubframe.count(t)) << "type " << t;
            }
    }
    // Symbols run on from part to part.
    for (std::int64_t part : {604799LL, 604800LL}) {
        const PagePartSymbols symbols = message.pagePart(part);
        for (int k = 0; k < pagePartSymbols; ++k)
            EXPECT_EQ(message.symbol(part * pagePartSymbols + k), symbols[static_cast<std::size_t>(k)]);
    }
}

}  // namespace
}  // namespace trajix::test

namespace trajix::test {

TEST(GalileoE1Message, IonosphereWordCarriesTheFilesCoefficientsInItsOwnUnits)
{
    // The header's "GAL 3.4000E+01 1.1719E-01 1.2848E-02": 2^-2 sfu, 2^-8 sfu/deg and
    // 2^-15 sfu/deg^2; a file without the line leaves them zero.
    const auto withLine = readRinexNavigation(dataFile("signal/VILL00ESP_R_20181700000_0300-1100_GE.rnx"),
                                              {sky::GnssSystem::gps, sky::GnssSystem::galileo});
    ASSERT_TRUE(withLine.galileoIonosphere);
    const galileo::InavCommon common = galileo::inavCommonOf(withLine, 2006, 2 * 86400 + 36000, gps::UtcParameters{});
    EXPECT_EQ(common.ai0, 136);
    EXPECT_EQ(common.ai1, 30);
    EXPECT_EQ(common.ai2, 421);
    RinexNavigation without = withLine;
    without.galileoIonosphere.reset();
    const galileo::InavCommon zero = galileo::inavCommonOf(without, 2006, 2 * 86400 + 36000, gps::UtcParameters{});
    EXPECT_EQ(zero.ai0 | zero.ai1 | zero.ai2, 0);
}

}  // namespace trajix::test

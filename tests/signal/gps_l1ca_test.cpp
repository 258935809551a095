// The parts of the signal generator that bite: C/A codes, parity, the packing of the
// navigation message, the orbit carried from the almanac's time to the ephemeris', the
// receiver's path and the recording's layout.
#include <cmath>
#include <numbers>
#include <random>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "common/error.hpp"
#include "scenario/recording.hpp"
#include "signal/generator.hpp"
#include "signal/gps_l1ca.hpp"
#include "signal/receiver_path.hpp"
#include "sky/rinex_navigation.hpp"
#include "sky/sky_model.hpp"
#include "sky/yuma_almanac.hpp"
#include "test_support.hpp"

using namespace trajix;
using trajix::test::dataFile;
using trajix::test::readFileBytes;
using trajix::test::runProgram;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

int firstTenChipsOctal(int prn)
{
    const auto code = gps::caCode(prn);
    int value = 0;
    for (int k = 0; k < 10; ++k) value = value * 2 + code[static_cast<std::size_t>(k)];
    // The table writes the first chip as a digit of its own, then three octal digits.
    return (value >> 9) * 1000 + ((value >> 6) & 7) * 100 + ((value >> 3) & 7) * 10 + (value & 7);
}

}  // namespace

TEST(CaCode, FirstTenChipsMatchTheInterfaceTable)
{
    const std::vector<std::pair<int, int>> table{
        {1, 1440},  {2, 1620},  {3, 1710},  {4, 1744},  {5, 1133},  {6, 1455},  {7, 1131},  {8, 1454},
        {9, 1626},  {10, 1504}, {11, 1642}, {12, 1750}, {13, 1764}, {14, 1772}, {15, 1775}, {16, 1776},
        {17, 1156}, {18, 1467}, {19, 1633}, {20, 1715}, {21, 1746}, {22, 1763}, {23, 1063}, {24, 1706},
        {25, 1743}, {26, 1761}, {27, 1770}, {28, 1774}, {29, 1127}, {30, 1453}, {31, 1625}, {32, 1712}};
    for (const auto& [prn, octal] : table) EXPECT_EQ(firstTenChipsOctal(prn), octal) << "PRN " << prn;
    EXPECT_THROW(gps::caCode(0), Error);
    EXPECT_THROW(gps::caCode(33), Error);
}

TEST(CaCode, GoldCodesAreBalancedWithThreeValuedCorrelations)
{
    // Every Gold code holds 512 ones; the periodic correlation of two codes at any
    // shift, and of one code with itself off peak, takes only the values -65, -1 and 63.
    for (int prn = 1; prn <= 32; ++prn) {
        const auto code = gps::caCode(prn);
        int ones = 0;
        for (auto chip : code) ones += chip;
        EXPECT_EQ(ones, 512) << prn;
    }
    for (const auto& [a, b] : std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {7, 23}, {31, 32}}) {
        const auto x = gps::caCode(a), y = gps::caCode(b);
        for (int shift = 0; shift < gps::codeLength; ++shift) {
            if (a == b && shift == 0) continue;
            int sum = 0;
            for (int k = 0; k < gps::codeLength; ++k)
                sum += (x[static_cast<std::size_t>(k)] ^ y[static_cast<std::size_t>((k + shift) % gps::codeLength)])
                           ? -1
                           : 1;
            ASSERT_TRUE(sum == -65 || sum == -1 || sum == 63) << a << "/" << b << " shift " << shift << ": " << sum;
        }
    }
}

TEST(Parity, DetectsEverySingleAndDoubleBitErrorAndFollowsD30)
{
    std::mt19937 random(19);
    for (int trial = 0; trial < 300; ++trial) {
        const std::uint32_t data = random() & 0xFFFFFFu;
        const unsigned p29 = random() & 1u, p30 = random() & 1u;
        const std::uint32_t word = gps::encodeWord(data, p29, p30);
        ASSERT_TRUE(gps::parityHolds(word, p29, p30));
        // D30* = 1 sends the data complemented.
        EXPECT_EQ((word >> 6) & 0xFFFFFFu, p30 ? (~data & 0xFFFFFFu) : data);
        for (int i = 0; i < 30; ++i) {
            ASSERT_FALSE(gps::parityHolds(word ^ (1u << i), p29, p30)) << i;
            for (int j = i + 1; j < 30; ++j) ASSERT_FALSE(gps::parityHolds(word ^ (1u << i) ^ (1u << j), p29, p30));
        }
    }
    // A hand-worked word: the TLM word (preamble 10001011, rest zero) after D29* = D30* = 0.
    // d1, d5, d7, d8 are set: D25 = d1^d5 = 0, D26 = d7 = 1, D27 = d1^d5^d7^d8 = 0,
    // D28 = d5^d8 = 0, D29 = d1^d5^d7 = 1, D30 = d5^d8 = 0.
    EXPECT_EQ(gps::parityBits(0x8B0000u, 0, 0), 0b010010u);
}

namespace {

// Reads bits first..last (1-based, inclusive, over the 300 bits of a subframe) of the
// data as sent, undoing the complement of words sent after a D30* of 1.
std::uint64_t field(const std::array<std::uint32_t, 10>& words, int first, int last)
{
    std::uint64_t value = 0;
    for (int bit = first; bit <= last; ++bit) {
        const int w = (bit - 1) / 30, k = (bit - 1) % 30;
        const unsigned previousD30 = w == 0 ? 0u : (words[static_cast<std::size_t>(w - 1)] & 1u);
        unsigned b = (words[static_cast<std::size_t>(w)] >> (29 - k)) & 1u;
        if (k < 24) b ^= previousD30;
        value = value << 1 | b;
    }
    return value;
}

std::int64_t signedValue(std::uint64_t value, int bits)
{
    return value >= (std::uint64_t{1} << (bits - 1)) ? static_cast<std::int64_t>(value) - (std::int64_t{1} << bits)
                                                     : static_cast<std::int64_t>(value);
}

// Concatenates two fields (the MSBs in one word, the LSBs in the next).
std::uint64_t split(const std::array<std::uint32_t, 10>& w, int a1, int a2, int b1, int b2)
{
    return field(w, a1, a2) << (b2 - b1 + 1) | field(w, b1, b2);
}

AlmanacRecord sampleRecord()
{
    AlmanacRecord r;
    r.prn = 7;
    r.eccentricity = 0.0123;
    r.timeOfApplicability = 405504;
    r.inclination = 0.9612;
    r.rateOfRightAscension = -8.1e-9;
    r.sqrtSemiMajorAxis = 5153.71;
    r.rightAscensionAtWeek = -2.9;
    r.argumentOfPerigee = 1.1;
    r.meanAnomaly = 2.5;
    r.clockBias = 2.1e-4;
    r.clockDrift = 3.6e-12;
    r.week = 314;
    return r;
}

}  // namespace

TEST(NavigationMessage, SubframesCarryTheEphemerisTimeAndParity)
{
    const AlmanacRecord record = sampleRecord();
    // A start three days after the almanac's week began, in full week 2362.
    const int week = 2362;
    gps::BroadcastEphemeris eph = gps::ephemerisFromAlmanac(record, week, week, 259200, 77);
    eph.crs = -1234;  // harmonic terms are zero from an almanac; give them values to see them packed
    eph.cic = 321;
    eph.idot = -4567;
    gps::UtcParameters utc;
    utc.referenceWeek = week;
    utc.referenceTime = 258048;
    gps::NavigationMessage message({eph}, {record}, week, utc, week);
    const std::int64_t first = 259200 / 6;
    for (std::int64_t index = first; index < first + 25 * 5; ++index) {
        const auto words = message.subframe(index);
        unsigned p29 = 0, p30 = 0;
        for (const auto word : words) {
            ASSERT_TRUE(gps::parityHolds(word, p29, p30)) << index;
            p29 = (word >> 1) & 1u;
            p30 = word & 1u;
        }
        EXPECT_EQ(words[1] & 3u, 0u);
        EXPECT_EQ(words[9] & 3u, 0u);
        EXPECT_EQ(field(words, 1, 8), 0x8Bu);
        EXPECT_EQ(field(words, 31, 47), static_cast<std::uint64_t>(index + 1) % 100800);  // TOW of the next subframe
        const auto id = field(words, 50, 52);
        EXPECT_EQ(id, static_cast<std::uint64_t>(index % 5 + 1));
        if (id == 1) {
            EXPECT_EQ(field(words, 61, 70), 2362u % 1024);
            EXPECT_EQ(field(words, 83, 84) << 8 | field(words, 211, 218), 77u);  // IODC
            EXPECT_EQ(field(words, 219, 234) * 16, 259200u);                     // toc
            EXPECT_EQ(signedValue(field(words, 249, 264), 16), eph.af1);
            EXPECT_EQ(signedValue(field(words, 271, 292), 22), eph.af0);
        } else if (id == 2) {
            EXPECT_EQ(field(words, 61, 68), 77u);
            EXPECT_EQ(signedValue(field(words, 69, 84), 16), -1234);
            EXPECT_EQ(signedValue(split(words, 107, 114, 121, 144), 32), eph.m0);
            EXPECT_EQ(split(words, 167, 174, 181, 204), static_cast<std::uint64_t>(eph.eccentricity));
            EXPECT_EQ(split(words, 227, 234, 241, 264), static_cast<std::uint64_t>(eph.sqrtA));
            EXPECT_EQ(field(words, 271, 286) * 16, 259200u);
        } else if (id == 3) {
            EXPECT_EQ(signedValue(field(words, 61, 76), 16), 321);
            EXPECT_EQ(signedValue(split(words, 77, 84, 91, 114), 32), eph.omega0);
            EXPECT_EQ(signedValue(split(words, 137, 144, 151, 174), 32), eph.i0);
            EXPECT_EQ(signedValue(split(words, 197, 204, 211, 234), 32), eph.omega);
            EXPECT_EQ(signedValue(field(words, 241, 264), 24), eph.omegaDot);
            EXPECT_EQ(field(words, 271, 278), 77u);
            EXPECT_EQ(signedValue(field(words, 279, 292), 14), -4567);
        } else if (id == 5 && field(words, 63, 68) == 7) {
            // The almanac page of PRN 7: eccentricity and sqrt(A) in their own scales.
            EXPECT_NEAR(static_cast<double>(field(words, 69, 84)) * std::pow(2.0, -21), record.eccentricity, 1e-6);
            EXPECT_NEAR(static_cast<double>(field(words, 151, 174)) * std::pow(2.0, -11), record.sqrtSemiMajorAxis,
                        1e-3);
        } else if (id == 4 && field(words, 63, 68) == 56) {
            EXPECT_EQ(field(words, 241, 248), 18u);  // GPS - UTC
        }
    }
    // Across the end of the week: the last subframe announces TOW 0, and subframe 1
    // carries the week it is sent in.
    EXPECT_EQ(field(message.subframe(100799), 31, 47), 0u);
    EXPECT_EQ(field(message.subframe(100795), 61, 70), 2362u % 1024);
    EXPECT_EQ(field(message.subframe(100800), 61, 70), 2363u % 1024);
    EXPECT_EQ(field(message.subframe(100800), 50, 52), 1u);
    // The bit stream is the subframes' words, most significant bit first.
    const auto words = message.subframe(first);
    for (int k = 0; k < 300; ++k)
        ASSERT_EQ(message.bit(first * 300 + k), (words[static_cast<std::size_t>(k / 30)] >> (29 - k % 30)) & 1u);
}

namespace {

// An independent Keplerian propagation of an almanac record: perifocal position
// turned into the inertial frame, then the Earth's rotation since the almanac week began.
std::array<double, 3> almanacPosition(const AlmanacRecord& r, double secondsSinceAlmanacWeek)
{
    const double a = r.sqrtSemiMajorAxis * r.sqrtSemiMajorAxis;
    const double n = std::sqrt(gps::earthGravitation / (a * a * a));
    const double meanAnomaly = r.meanAnomaly + n * (secondsSinceAlmanacWeek - r.timeOfApplicability);
    double E = meanAnomaly;
    for (int i = 0; i < 50; ++i)
        E = E - (E - r.eccentricity * std::sin(E) - meanAnomaly) / (1 - r.eccentricity * std::cos(E));
    const double px = a * (std::cos(E) - r.eccentricity);
    const double py = a * std::sqrt(1 - r.eccentricity * r.eccentricity) * std::sin(E);
    const double w = r.argumentOfPerigee, i = r.inclination;
    const double node = r.rightAscensionAtWeek +
                        r.rateOfRightAscension * (secondsSinceAlmanacWeek - r.timeOfApplicability) -
                        gps::earthRotationRate * secondsSinceAlmanacWeek;
    const double cw = std::cos(w), sw = std::sin(w), cn = std::cos(node), sn = std::sin(node), ci = std::cos(i),
                 si = std::sin(i);
    return {(cn * cw - sn * sw * ci) * px + (-cn * sw - sn * cw * ci) * py,
            (sn * cw + cn * sw * ci) * px + (-sn * sw + cn * cw * ci) * py, (sw * si) * px + (cw * si) * py};
}

}  // namespace

TEST(Orbit, EphemerisAtANewToeFollowsTheAlmanacOrbit)
{
    const AlmanacRecord record = sampleRecord();
    const int almanacWeek = 2362;
    for (const auto& [toeWeek, toe] :
         std::vector<std::pair<int, int>>{{2362, 405504}, {2362, 32400}, {2363, 86400}, {2365, 600000}, {2360, 1008}}) {
        const auto eph = gps::ephemerisFromAlmanac(record, almanacWeek, toeWeek, toe, 1);
        for (const double offset : {-3600.0, 0.0, 1234.5, 7200.0}) {
            const double t = toe + offset;
            const auto state = gps::satelliteState(eph, t);
            const auto reference =
                almanacPosition(record, t + static_cast<double>(toeWeek - almanacWeek) * gps::secondsPerWeek);
            const double error = std::hypot(state.x - reference[0], state.y - reference[1], state.z - reference[2]);
            EXPECT_LT(error, 1.0) << "week " << toeWeek << " toe " << toe << " offset " << offset;
            // The clock: af0 carried with af1, plus the relativistic term (under 50 ns here).
            const double clock = record.clockBias + record.clockDrift * (t - record.timeOfApplicability +
                                                                         (toeWeek - almanacWeek) * 604800.0);
            EXPECT_NEAR(state.clockOffset, clock, 5e-8);
        }
    }
}

TEST(ReceiverPath, ReadsFixesAndPassesThroughThem)
{
    TempDir dir;
    // Three fixes around midnight, one sentence without a fix, one of another kind.
    const auto gga = [](const std::string& body) {
        unsigned sum = 0;
        for (const char c : body) sum ^= static_cast<unsigned char>(c);
        return fmt::format("${}*{:02X}\r\n", body, sum);
    };
    writeFileBytes(dir / "a.nme",
                   gga("GPGGA,235959.00,5130.00000000,N,00010.00000000,W,1,05,2.0,100.00,M,-20.0,M,,") +
                       gga("GPVTG,0,T,,M,0,N,0,K") + gga("GPGGA,000000.00,,,,,0,00,,,M,,M,,") +
                       gga("GPGGA,000000.50,5130.00000000,N,00010.00000000,W,1,05,2.0,100.00,M,-20.0,M,,") +
                       gga("GPGGA,000001.00,5130.00060000,S,00010.00000000,E,1,05,2.0,90.00,M,-20.0,M,,"));
    const ReceiverPath path = ReceiverPath::fromNmea(dir / "a.nme");
    ASSERT_EQ(path.fixes().size(), 3u);
    EXPECT_DOUBLE_EQ(path.fixes()[1].time, 1.5);
    EXPECT_DOUBLE_EQ(path.fixes()[2].time, 2.0);
    const Ecef expected = geodeticToEcef(51.5, -(10.0 / 60), 80);
    for (const double t : {-5.0, 0.0, 1.5}) {
        const Ecef p = path.positionAt(t);
        EXPECT_NEAR(std::hypot(p.x - expected.x, p.y - expected.y, p.z - expected.z), 0, 1e-6) << t;
    }
    const Ecef last = geodeticToEcef(-(30.0006 / 60 + 51), 10.0 / 60, 70);
    const Ecef end = path.positionAt(100);
    EXPECT_NEAR(std::hypot(end.x - last.x, end.y - last.y, end.z - last.z), 0, 1e-6);

    writeFileBytes(dir / "bad.nme", gga("GPGGA,120000.00,5130.0,N,00010.0,W,1,05,2.0,100.00,M,0,M,,") +
                                        "$GPGGA,120001.00,5130.0,N,00010.0,W,1,05,2.0,100.00,M,0,M,,*00\r\n");
    try {
        ReceiverPath::fromNmea(dir / "bad.nme");
        FAIL() << "a wrong checksum was accepted";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("line 2 of"), std::string::npos) << e.what();
    }
    writeFileBytes(dir / "none.nme", gga("GPVTG,0,T,,M,0,N,0,K"));
    EXPECT_THROW(ReceiverPath::fromNmea(dir / "none.nme"), Error);
    writeFileBytes(dir / "x.nme", gga("GPGGA,120000.00,51x0.0,N,00010.0,W,1,05,2.0,100.00,M,0,M,,"));
    EXPECT_THROW(ReceiverPath::fromNmea(dir / "x.nme"), Error);
}

TEST(ReceiverPath, InterpolatesSteadyMotionExactly)
{
    // Fixes of a straight, steady drive in ECEF at 10 Hz: the curve between them is the
    // line itself, to well under a millimetre.
    std::vector<PathFix> fixes;
    const Ecef origin = geodeticToEcef(48, 11, 500);
    for (int k = 0; k <= 50; ++k)
        fixes.push_back({k * 0.1, {origin.x + 13.9 * k * 0.1, origin.y - 2.0 * k * 0.1, origin.z + 0.5 * k * 0.1}});
    const ReceiverPath path(fixes);
    for (double t = 0.1; t < 4.9; t += 0.0137) {
        const Ecef p = path.positionAt(t);
        EXPECT_NEAR(p.x, origin.x + 13.9 * t, 1e-6);
        EXPECT_NEAR(p.y, origin.y - 2.0 * t, 1e-6);
        EXPECT_NEAR(p.z, origin.z + 0.5 * t, 1e-6);
    }
}

TEST(YumaAlmanac, ReadsEveryRecordAndRefusesBrokenOnes)
{
    const auto records = readYumaAlmanac(dataFile("scenario/week314.alm"));
    ASSERT_EQ(records.size(), 31u);
    EXPECT_EQ(records.front().prn, 1);
    EXPECT_EQ(records.front().week, 314);
    EXPECT_GT(records.front().sqrtSemiMajorAxis, 5150);
    TempDir dir;
    const std::string good = readFileBytes(dataFile("scenario/week314.alm"));
    const std::vector<std::pair<std::string, std::string>> faults{
        {"Mean Anom(rad):", "Mean Motion(rad):"},  // a record without its mean anomaly
        {"ID:                         02", "ID:                         01"},
        {"ID:                         03", "ID:                         33"},
        {"SQRT(A)  (m 1/2):           5153", "SQRT(A)  (m 1/2):           x5153"},
        // Numbers beyond an int are refused before they are kept as one.
        {"week:                       314", "week:                       3.35156e+10"},
        {"Health:                     000", "Health:                     1e10"},
    };
    for (const auto& [from, to] : faults) {
        std::string text = good;
        ASSERT_NE(text.find(from), std::string::npos) << from;
        text.replace(text.find(from), from.size(), to);
        writeFileBytes(dir / "bad.alm", text);
        try {
            readYumaAlmanac(dir / "bad.alm");
            FAIL() << to;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("bad.alm"), std::string::npos) << e.what();
        }
    }
    writeFileBytes(dir / "empty.alm", "week:                        314\r\n");
    EXPECT_THROW(readYumaAlmanac(dir / "empty.alm"), Error);
}

TEST(RecordingLayout, SampleNIsBitNMod16OfWordNDiv16AndUnpacksInOrder)
{
    // A .dsf with a known pattern: sample n set when n is divisible by 3 or 7.
    const std::size_t samples = 16 * 64;
    std::string dsf(samples / 8, '\0');
    for (std::size_t n = 0; n < samples; ++n)
        if (n % 3 == 0 || n % 7 == 0) dsf[2 * (n / 16) + (n % 16) / 8] |= static_cast<char>(1u << (n % 8));
    std::string bin = dsf;
    const auto table = bitReversalTable();
    reverseWordBits(reinterpret_cast<std::uint8_t*>(bin.data()), bin.size(), table);
    // The first sample of each word is the most significant bit of the .bin word.
    EXPECT_EQ(static_cast<unsigned char>(bin[1]) >> 7, 1u);
    TempDir dir;
    writeFileBytes(dir / "r.bin", bin);
    const auto unpack = (std::filesystem::path(TRAJIX_BINARY_DIR) / "cli" / "trajix-bin-unpack").string();
    const auto result = runProgram(unpack, {(dir / "r.bin").string(), (dir / "r.samples").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string out = readFileBytes(dir / "r.samples");
    ASSERT_EQ(out.size(), samples);
    for (std::size_t n = 0; n < samples; ++n)
        ASSERT_EQ(static_cast<int>(static_cast<signed char>(out[n])), n % 3 == 0 || n % 7 == 0 ? 1 : -1) << n;
    EXPECT_EQ(runProgram(unpack, {(dir / "missing.bin").string(), (dir / "x").string()}).exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "x"));
}

namespace {

// decoded * lsb lies within half an LSB of value (the rounding of the broadcast field).
testing::AssertionResult withinHalfStep(const char* name, std::int64_t decoded, double lsb, double value)
{
    const double error = std::abs(static_cast<double>(decoded) * lsb - value);
    if (error <= lsb * 0.5000001) return testing::AssertionSuccess();
    return testing::AssertionFailure() << name << " decodes to " << static_cast<double>(decoded) * lsb << ", not "
                                       << value << " (step " << lsb << ")";
}

// Subframes 1-3 of a frame decoded field by field (IS-GPS-200 20.3.3.3, 20.3.3.4) and
// compared with the RINEX record's values.
void expectFrameCarries(const gps::NavigationMessage& message, std::int64_t frame, const RinexEphemeris& r)
{
    const double semicircle = gps::semicircle;
    const auto two = [](int e) { return std::pow(2.0, e); };
    const auto s1 = message.subframe(frame * 5), s2 = message.subframe(frame * 5 + 1),
               s3 = message.subframe(frame * 5 + 2);
    SCOPED_TRACE(fmt::format("G{:02} frame {} record line {}", r.prn, frame, r.line));
    EXPECT_EQ(field(s1, 50, 52), 1u);
    EXPECT_EQ(field(s1, 73, 76), static_cast<std::uint64_t>(r.uraIndex));
    EXPECT_EQ(field(s1, 77, 82), static_cast<std::uint64_t>(r.health));
    EXPECT_EQ(field(s1, 211, 218), static_cast<std::uint64_t>(r.iode & 0xFF));  // IODC's low bits
    EXPECT_TRUE(withinHalfStep("TGD", signedValue(field(s1, 197, 204), 8), two(-31), r.tgd));
    EXPECT_EQ(static_cast<double>(field(s1, 219, 234) * 16), r.toc);
    EXPECT_TRUE(withinHalfStep("af2", signedValue(field(s1, 241, 248), 8), two(-55), r.af2));
    EXPECT_TRUE(withinHalfStep("af1", signedValue(field(s1, 249, 264), 16), two(-43), r.af1));
    EXPECT_TRUE(withinHalfStep("af0", signedValue(field(s1, 271, 292), 22), two(-31), r.af0));
    EXPECT_EQ(field(s2, 61, 68), static_cast<std::uint64_t>(r.iode & 0xFF));
    EXPECT_TRUE(withinHalfStep("Crs", signedValue(field(s2, 69, 84), 16), two(-5), r.crs));
    EXPECT_TRUE(withinHalfStep("dn", signedValue(field(s2, 91, 106), 16), two(-43), r.deltaN / semicircle));
    EXPECT_TRUE(withinHalfStep("M0", signedValue(split(s2, 107, 114, 121, 144), 32), two(-31), r.m0 / semicircle));
    EXPECT_TRUE(withinHalfStep("Cuc", signedValue(field(s2, 151, 166), 16), two(-29), r.cuc));
    EXPECT_TRUE(
        withinHalfStep("e", static_cast<std::int64_t>(split(s2, 167, 174, 181, 204)), two(-33), r.eccentricity));
    EXPECT_TRUE(withinHalfStep("Cus", signedValue(field(s2, 211, 226), 16), two(-29), r.cus));
    EXPECT_TRUE(withinHalfStep("sqrtA", static_cast<std::int64_t>(split(s2, 227, 234, 241, 264)), two(-19), r.sqrtA));
    EXPECT_EQ(static_cast<double>(field(s2, 271, 286) * 16), r.toe);
    EXPECT_TRUE(withinHalfStep("Cic", signedValue(field(s3, 61, 76), 16), two(-29), r.cic));
    EXPECT_TRUE(withinHalfStep("OMEGA0", signedValue(split(s3, 77, 84, 91, 114), 32), two(-31), r.omega0 / semicircle));
    EXPECT_TRUE(withinHalfStep("Cis", signedValue(field(s3, 121, 136), 16), two(-29), r.cis));
    EXPECT_TRUE(withinHalfStep("i0", signedValue(split(s3, 137, 144, 151, 174), 32), two(-31), r.i0 / semicircle));
    EXPECT_TRUE(withinHalfStep("Crc", signedValue(field(s3, 181, 196), 16), two(-5), r.crc));
    EXPECT_TRUE(
        withinHalfStep("omega", signedValue(split(s3, 197, 204, 211, 234), 32), two(-31), r.omega / semicircle));
    EXPECT_TRUE(withinHalfStep("OMEGADOT", signedValue(field(s3, 241, 264), 24), two(-43), r.omegaDot / semicircle));
    EXPECT_EQ(field(s3, 271, 278), static_cast<std::uint64_t>(r.iode & 0xFF));
    EXPECT_TRUE(withinHalfStep("IDOT", signedValue(field(s3, 279, 292), 14), two(-43), r.idot / semicircle));
}

// The record a receiver uses at absolute time t (seconds since GPS week 0): the latest
// toe whose fit interval holds t (the last written of equal ones), or none.
const RinexEphemeris* recordInForce(const RinexNavigation& navigation, int prn, double t)
{
    const RinexEphemeris* best = nullptr;
    for (const RinexEphemeris& r : navigation.ephemerides)
        if (r.prn == prn && std::abs(t - r.toeSeconds()) <= r.fitHours * 1800 &&
            (!best || r.toeSeconds() >= best->toeSeconds()))
            best = &r;
    return best;
}

}  // namespace

TEST(BroadcastEphemerides, EachFrameCarriesTheRinexRecordInForceAndPage18TheHeader)
{
    struct Day {
        const char* file;
        int week, leapSeconds;
    };
    for (const Day& day : {Day{"scenario/rinex/brdc1820_0814.10n", 1590, 15},
                           Day{"scenario/rinex/VILL00ESP_R_20181700000_0814_MN.rnx", 2006, 18}}) {
        SCOPED_TRACE(day.file);
        const RinexNavigation navigation = readRinexNavigation(dataFile(day.file));
        sky::SkyModel sky = sky::SkyModel::fromRinex(navigation, day.file);
        sky.anchor(day.week, 0);
        const gps::UtcParameters utc = gps::utcParametersOf(navigation, day.week, 0);
        const double weekStart = static_cast<double>(day.week) * gps::secondsPerWeek;
        double first = 1e99, last = -1e99;
        for (const RinexEphemeris& r : navigation.ephemerides) {
            first = std::min(first, r.toeSeconds() - weekStart - 4 * 3600);
            last = std::max(last, r.toeSeconds() - weekStart + 4 * 3600);
        }
        const auto firstFrame = static_cast<std::int64_t>(first / 30), lastFrame = static_cast<std::int64_t>(last / 30);
        int frames = 0, switches = 0;
        for (std::size_t i = 0; i < sky.size(); ++i) {
            const int prn = sky.prn(i);
            gps::BroadcastSchedule schedule = gps::broadcastSchedule(sky, i, firstFrame, lastFrame);
            if (schedule.sets.empty()) continue;
            const auto from = schedule.broadcastFrom;
            const auto sets = schedule.sets;
            gps::NavigationMessage message(std::move(schedule.sets), {}, day.week, utc, day.week);
            message.scheduleBroadcasts(from);
            for (std::int64_t frame = firstFrame; frame <= lastFrame; ++frame) {
                const RinexEphemeris* r = recordInForce(navigation, prn, weekStart + static_cast<double>(frame) * 30);
                const bool valid = r && r->health == 0;
                ASSERT_EQ(schedule.validFrames[static_cast<std::size_t>(frame - firstFrame)], valid)
                    << "G" << prn << " frame " << frame;
                if (!valid) continue;
                expectFrameCarries(message, frame, *r);
                ++frames;
            }
            // The signal follows a new set once subframes 1-3 of its first frame are sent.
            for (std::size_t k = 1; k < sets.size(); ++k, ++switches) {
                EXPECT_EQ(message.signalEphemerisAt(from[k] + 17.99).iode, sets[k - 1].iode);
                EXPECT_EQ(message.signalEphemerisAt(from[k] + 18).iode, sets[k].iode);
                EXPECT_EQ(message.ephemerisAt(from[k]).iode, sets[k].iode);
            }
            // The almanac pages made from a set describe its orbit (without the harmonic
            // terms: within a few km).
            const int toa = static_cast<int>(std::lround((from[0] + 7200) / 4096)) * 4096;
            const AlmanacRecord almanac = gps::almanacFromEphemeris(sets[0], day.week, toa);
            const auto state = gps::satelliteState(sets[0], toa);
            const auto reference = almanacPosition(almanac, toa);
            EXPECT_LT(std::hypot(state.x - reference[0], state.y - reference[1], state.z - reference[2]), 5000.0);
        }
        EXPECT_GT(frames, 5000);
        EXPECT_GT(switches, 10);

        // Page 18: subframe 4 of frame 17 of the 25.
        gps::NavigationMessage message({toBroadcastEphemeris(navigation.ephemerides.front())}, {}, day.week, utc,
                                       day.week);
        const auto w = message.subframe((static_cast<std::int64_t>(firstFrame / 25 + 1) * 25 + 17) * 5 + 3);
        ASSERT_EQ(field(w, 63, 68), 56u);
        const auto two = [](int e) { return std::pow(2.0, e); };
        const std::array<std::pair<int, int>, 8> fields{
            {{69, -30}, {77, -27}, {91, -24}, {99, -24}, {107, 11}, {121, 14}, {129, 16}, {137, 16}}};
        for (std::size_t n = 0; n < 8; ++n) {
            const double value = n < 4 ? navigation.ionosphere->alpha[n] : navigation.ionosphere->beta[n - 4];
            EXPECT_TRUE(withinHalfStep("Klobuchar", signedValue(field(w, fields[n].first, fields[n].first + 7), 8),
                                       two(fields[n].second), value));
        }
        EXPECT_TRUE(withinHalfStep("A1", signedValue(field(w, 151, 174), 24), two(-50), navigation.utc->a1));
        EXPECT_TRUE(withinHalfStep("A0", signedValue(split(w, 181, 204, 211, 218), 32), two(-30), navigation.utc->a0));
        EXPECT_EQ(field(w, 219, 226) * 4096, static_cast<std::uint64_t>(navigation.utc->referenceTime));
        EXPECT_EQ(field(w, 227, 234), static_cast<std::uint64_t>(day.week % 256));
        EXPECT_EQ(signedValue(field(w, 241, 248), 8), day.leapSeconds);
        EXPECT_EQ(signedValue(field(w, 271, 278), 8), day.leapSeconds);
    }
}

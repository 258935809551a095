// The RINEX navigation reader on the two real files and on broken copies of them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "sky/rinex_navigation.hpp"
#include "test_support.hpp"

using namespace trajix;
using trajix::test::dataFile;
using trajix::test::readFileBytes;

namespace {

const std::string version2 = "sky/brdc1820_0000-0400.10n";
const std::string version3 = "sky/VILL00ESP_R_20181700000_0000-0500_GPS.rnx";

std::string errorOf(const std::string& text)
{
    try {
        parseRinexNavigation(text, "broken.rnx");
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

// The text with line `number` (1-based) replaced.
std::string withLine(std::string text, int number, const std::string& line)
{
    std::size_t start = 0;
    for (int i = 1; i < number; ++i) start = text.find('\n', start) + 1;
    const std::size_t end = text.find('\n', start);
    return text.replace(start, end - start, line);
}

std::string lineOf(const std::string& text, int number)
{
    std::size_t start = 0;
    for (int i = 1; i < number; ++i) start = text.find('\n', start) + 1;
    return text.substr(start, text.find('\n', start) - start);
}

}  // namespace

TEST(RinexReader, ReadsBothRealFilesWithTheirHeaders)
{
    const RinexNavigation two = readRinexNavigation(dataFile(version2));
    EXPECT_EQ(two.version, "2");
    EXPECT_EQ(two.ephemerides.size(), 106u);
    EXPECT_TRUE(two.skipped.empty());
    ASSERT_TRUE(two.ionosphere && two.utc && two.leapSeconds);
    EXPECT_DOUBLE_EQ(two.ionosphere->alpha[0], 0.4657e-08);
    EXPECT_DOUBLE_EQ(two.ionosphere->beta[3], -0.5243e+06);
    EXPECT_DOUBLE_EQ(two.utc->a0, -0.838190317154e-08);
    EXPECT_EQ(two.utc->referenceTime, 503808);
    EXPECT_EQ(two.utc->referenceWeek, 1590);  // written modulo 1024 as 566
    EXPECT_EQ(*two.leapSeconds, 15);
    int unhealthy = 0;
    for (const auto& r : two.ephemerides) {
        EXPECT_EQ(r.week, 1590);
        EXPECT_EQ(r.tocWeek, 1590);
        EXPECT_EQ(r.fitHours, 4);  // written as 0 or 4
        unhealthy += r.health != 0;
    }
    EXPECT_GT(unhealthy, 0);  // PRN 1 and 25

    const RinexNavigation three = readRinexNavigation(dataFile(version3));
    EXPECT_EQ(three.version, "3.03");
    EXPECT_EQ(three.ephemerides.size(), 36u);
    EXPECT_EQ(three.skipped.size(), 4u);  // GLONASS, Galileo, SBAS and BeiDou records
    ASSERT_TRUE(three.ionosphere && three.utc && three.leapSeconds);
    EXPECT_DOUBLE_EQ(three.ionosphere->alpha[0], 5.5879e-09);
    EXPECT_EQ(three.utc->referenceWeek, 2006);
    EXPECT_EQ(*three.leapSeconds, 18);
    // Ordered by PRN and toe although the file is not: G09's 23:59:44 comes first.
    for (std::size_t i = 1; i < three.ephemerides.size(); ++i) {
        const auto& a = three.ephemerides[i - 1];
        const auto& b = three.ephemerides[i];
        EXPECT_TRUE(a.prn < b.prn || (a.prn == b.prn && a.toeSeconds() <= b.toeSeconds()));
    }
}

TEST(RinexReader, EveryRecordIsExactlyABroadcastSet)
{
    // Receivers write the decoded broadcast integers to 12 digits: scaled back, every
    // value lies within a hundredth of a step of its integer, and the broadcast set
    // decodes to the written values.
    for (const std::string& name : {version2, version3}) {
        for (const RinexEphemeris& r : readRinexNavigation(dataFile(name)).ephemerides) {
            const gps::BroadcastEphemeris e = toBroadcastEphemeris(r);
            const auto near = [&](double written, double decoded, double step, const char* field) {
                EXPECT_NEAR(written, decoded, 1e-2 * step + std::abs(written) * 1e-11)
                    << name << " line " << r.line << " " << field;
            };
            const double pi = gps::semicircle;
            near(r.sqrtA, static_cast<double>(e.sqrtA) * std::ldexp(1.0, -19), std::ldexp(1.0, -19), "sqrtA");
            near(r.eccentricity, static_cast<double>(e.eccentricity) * std::ldexp(1.0, -33), std::ldexp(1.0, -33), "e");
            near(r.m0, e.m0 * std::ldexp(1.0, -31) * pi, std::ldexp(pi, -31), "M0");
            near(r.omegaDot, e.omegaDot * std::ldexp(1.0, -43) * pi, std::ldexp(pi, -43), "OMEGA DOT");
            near(r.crs, e.crs * std::ldexp(1.0, -5), std::ldexp(1.0, -5), "Crs");
            near(r.cic, e.cic * std::ldexp(1.0, -29), std::ldexp(1.0, -29), "Cic");
            near(r.af0, e.af0 * std::ldexp(1.0, -31), std::ldexp(1.0, -31), "af0");
            near(r.tgd, e.tgd * std::ldexp(1.0, -31), std::ldexp(1.0, -31), "TGD");
            EXPECT_EQ(e.toe, r.toe);
            EXPECT_EQ(e.iode, r.iode);
        }
    }
}

TEST(RinexReader, QuirksOfRealFilesAreRead)
{
    const std::string text = readFileBytes(dataFile(version2));
    // Record 1 begins on line 9; its orbit 5 (line 14) holds the week, orbit 7 (line 16)
    // the fit interval.
    std::string week = lineOf(text, 14);
    week.replace(41, 19, " 0.566000000000D+03");
    const RinexNavigation modulo = parseRinexNavigation(withLine(text, 14, week), "x");
    EXPECT_EQ(modulo.ephemerides.front().week, 1590);
    const RinexNavigation blankFit = parseRinexNavigation(withLine(text, 16, lineOf(text, 16).substr(0, 22)), "x");
    EXPECT_EQ(blankFit.ephemerides.front().fitHours, 4);
    // CR LF line ends read as LF ones.
    std::string crlf;
    for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(parseRinexNavigation(crlf, "x").ephemerides.size(), 106u);
}

TEST(RinexReader, BrokenFilesFailNamingTheFileAndLine)
{
    const std::string two = readFileBytes(dataFile(version2));
    const std::string three = readFileBytes(dataFile(version3));
    const std::string header3 = three.substr(0, three.find('\n', three.find("END OF HEADER")) + 1);
    const std::size_t glonass = three.find("\nR") + 1;
    std::size_t glonassEnd = glonass;
    for (int line = 0; line < 4; ++line) glonassEnd = three.find('\n', glonassEnd) + 1;
    struct Case {
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases{
        {"", "is not a RINEX file"},
        {std::string("\x00\xff\x01garbage\n", 11), "is not a RINEX file"},
        {two.substr(0, two.find("END OF HEADER")), "has no \"END OF HEADER\""},
        {two.substr(0, two.size() - 300), "the record is cut short: it needs 8 lines"},
        {withLine(two, 10, lineOf(two, 10).replace(5, 5, "1.2X3")), "line 10: IODE '"},
        {withLine(two, 9, lineOf(two, 9).replace(6, 2, "13")), "line 9: month '13' is not a whole number from 1 to 12"},
        {withLine(two, 9, lineOf(two, 9).replace(9, 2, "31").replace(6, 2, " 6")), "line 9: 2010-06-31 is not a date"},
        {withLine(two, 1, lineOf(two, 1).replace(5, 1, "5")), "line 1: RINEX version 5 is not read here"},
        {withLine(two, 1, lineOf(two, 1).replace(20, 1, "G")), "is not a GPS navigation file"},
        {withLine(three, 1, lineOf(three, 1).replace(40, 1, "R")), "holds no GPS record"},
        {withLine(two, 12, lineOf(two, 12).substr(0, 3)), "line 12: Toe is missing"},
        {header3 + three.substr(glonass, glonassEnd - glonass), "holds no usable GPS ephemeris record"},
    };
    for (const Case& c : cases) {
        const std::string message = errorOf(c.text);
        EXPECT_NE(message.find("broken.rnx"), std::string::npos) << message;
        EXPECT_NE(message.find(c.message), std::string::npos) << message << "\n  expected: " << c.message;
    }
    // In a version 3 file a record that is not one is left out with a note; the rest read.
    const RinexNavigation unknown = parseRinexNavigation(withLine(three, 11, "X01 2018"), "broken.rnx");
    EXPECT_EQ(unknown.ephemerides.size(), 35u);  // the record of line 11 is left out
    ASSERT_FALSE(unknown.skipped.empty());
    EXPECT_EQ(unknown.skipped.front(), "line 11: 'X01' does not begin a navigation record; skipped");
}

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/error.hpp"
#include "nmea/sentences.hpp"

using namespace trajix;

TEST(NmeaChecksum, XorOfTheBytesBetweenDollarAndStar)
{
    EXPECT_EQ(nmeaChecksum(""), "00");
    EXPECT_EQ(nmeaChecksum("GPHDT,090.000,T"), "3C");
    // Computed independently: XOR of the 15 bytes "GPHDT,090.000,T".
    unsigned sum = 0;
    for (char c : std::string("GPHDT,090.000,T")) sum ^= static_cast<unsigned char>(c);
    EXPECT_EQ(std::stoul(nmeaChecksum("GPHDT,090.000,T"), nullptr, 16), sum);
    EXPECT_EQ(nmeaChecksum("A"), "41");
    EXPECT_EQ(nmeaChecksum("AB"), "03");  // below 16 keeps its leading zero
}

TEST(NmeaTime, HoursMinutesSeconds)
{
    EXPECT_EQ(formatNmeaTime(32400.05L), "090000.05");
    EXPECT_EQ(formatNmeaTime(0), "000000.00");
    EXPECT_EQ(formatNmeaTime(90000), "250000.00");  // not wrapped at 24 h
    EXPECT_EQ(formatNmeaTime(360000), "1000000.00");  // three hour digits from 100 h
    EXPECT_EQ(formatNmeaTime(45296.789L), "123456.79");
}

TEST(NmeaTime, SecondsThatRoundTo60CarryIntoTheMinutesAndHours)
{
    EXPECT_EQ(formatNmeaTime(32459.997L), "090100.00");
    EXPECT_EQ(formatNmeaTime(35999.997L), "100000.00");
    EXPECT_EQ(formatNmeaTime(35999.99999999L), "100000.00");  // a hair below the hour
    EXPECT_EQ(formatNmeaTime(32459.99999999L), "090100.00");  // a hair below the minute
    EXPECT_EQ(formatNmeaTime(32400.0L - 1e-13L), "090000.00");  // no "-0" seconds
}

TEST(NmeaTime, AClockOfRepeatedAdditionsPrintsEveryHourBoundary)
{
    // At 5 and 10 Hz an accumulated clock lands a hair off the hour.
    for (long double interval : {0.2L, 0.1L, 0.05L}) {
        long double t = 0;
        const long long steps = static_cast<long long>(std::llround(7200 / static_cast<double>(interval)));
        for (long long i = 0; i < steps; ++i) t += interval;
        EXPECT_EQ(formatNmeaTime(t), "020000.00") << static_cast<double>(interval);
    }
}

TEST(NmeaCoordinates, LettersAndPictures)
{
    auto lat = formatNmeaLatitude(-51.5L);
    EXPECT_EQ(lat.text, "5130.00000000");
    EXPECT_EQ(lat.letter, 'S');
    auto lon = formatNmeaLongitude(-0.25L);
    EXPECT_EQ(lon.text, "00015.00000000");
    EXPECT_EQ(lon.letter, 'W');
    EXPECT_EQ(formatNmeaLongitude(0).letter, 'E');
    EXPECT_EQ(formatNmeaLatitude(0).letter, 'S');  // exactly 0 is south
    EXPECT_EQ(formatNmeaLatitude(0).text, "0000.00000000");
    EXPECT_EQ(formatNmeaLongitude(-179.999999999999L).text, "18000.00000000");
    EXPECT_EQ(formatNmeaLongitude(151.2093L).text, "15112.55800000");
}

TEST(NmeaCoordinates, MinutesRoundingTo60CarryIntoTheDegrees)
{
    EXPECT_EQ(formatNmeaLatitude(48.99999999999L).text, "4900.00000000");
    EXPECT_EQ(formatNmeaLatitude(-48.99999999999L).text, "4900.00000000");
    EXPECT_EQ(formatNmeaLongitude(9.999999999999L).text, "01000.00000000");
    EXPECT_EQ(formatNmeaLatitude(48.9999999L).text, "4859.99999400");
}

TEST(NmeaDirections, HeadingNormalisedAnd360PrintsAsZero)
{
    EXPECT_EQ(hdtSentence(-90), "$GPHDT,270.000,T*" + nmeaChecksum("GPHDT,270.000,T") + "\r\n");
    EXPECT_EQ(hdtSentence(720), "$GPHDT,000.000,T*" + nmeaChecksum("GPHDT,000.000,T") + "\r\n");
    EXPECT_EQ(hdtSentence(359.9996L), "$GPHDT,000.000,T*" + nmeaChecksum("GPHDT,000.000,T") + "\r\n");
    EXPECT_EQ(formatDirection(359.999L, "##0.00"), "0.00");
    EXPECT_EQ(formatDirection(359.994L, "000.00"), "359.99");
    EXPECT_DOUBLE_EQ(static_cast<double>(normaliseHeading(1e12L)), static_cast<double>(std::fmod(1e12L, 360.0L)));
    EXPECT_THROW(normaliseHeading(std::numeric_limits<long double>::quiet_NaN()), Error);
}

TEST(NmeaSentences, TemplatesExactly)
{
    EXPECT_EQ(ggaSentence(32400.05L, 52.5L, -1.25L, fixedAltitude),
              "$GPGGA,090000.05,5230.00000000,N,00115.00000000,W,1,05,2.87,160.00,M,-21.3213,M,,*" +
                  nmeaChecksum("GPGGA,090000.05,5230.00000000,N,00115.00000000,W,1,05,2.87,160.00,M,-21.3213,M,,") +
                  "\r\n");
    EXPECT_EQ(vtgSentence(90, 100, VtgStyle::Route),
              "$GPVTG,090.00,T,,M,053.996,N,100.000,K,A*" + nmeaChecksum("GPVTG,090.00,T,,M,053.996,N,100.000,K,A") +
                  "\r\n");
    EXPECT_EQ(vtgSentence(5.5L, 0, VtgStyle::Logger),
              "$GPVTG,5.50,T,,M,0.000,N,0.000,K,A*" + nmeaChecksum("GPVTG,5.50,T,,M,0.000,N,0.000,K,A") + "\r\n");
    EXPECT_EQ(gllSentence(0, 1, 2),
              "$GPGLL,000000.00,0100.00000000,N,00200.00000000,E*" +
                  nmeaChecksum("GPGLL,000000.00,0100.00000000,N,00200.00000000,E") + "\r\n");
}

TEST(NmeaSentences, NonFiniteValuesNeverReachASentence)
{
    const long double nan = std::numeric_limits<long double>::quiet_NaN();
    EXPECT_THROW(ggaSentence(nan, 0, 0, fixedAltitude), Error);
    EXPECT_THROW(ggaSentence(0, nan, 0, fixedAltitude), Error);
    EXPECT_THROW(vtgSentence(0, std::numeric_limits<long double>::infinity(), VtgStyle::Route), Error);
}

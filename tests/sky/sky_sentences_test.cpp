// The sky sentences' number edges, checked by hand against NMEA 0183's layouts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/picture.hpp"
#include "nmea/sentences.hpp"
#include "nmea/sky_sentences.hpp"

using namespace trajix;

namespace {

// The sentence without "$", checksum and CR LF, after checking those.
std::string body(const std::string& sentence)
{
    EXPECT_EQ(sentence.substr(sentence.size() - 2), "\r\n");
    const auto star = sentence.find('*');
    EXPECT_EQ(sentence.substr(star + 1, 2), nmeaChecksum(sentence.substr(1, star - 1)));
    return sentence.substr(1, star - 1);
}

}  // namespace

TEST(SkySentences, EdgesOfTheLayouts)
{
    sky::SkyView empty;
    EXPECT_EQ(body(gsvSentences(empty)), "GPGSV,1,1,00");
    EXPECT_EQ(body(gsaSentence(empty)), "GPGSA,A,1,,,,,,,,,,,,,,,");
    EXPECT_EQ(body(ggaSentence("120000.00", 1.5L, -0.25L, "160.00", empty)),
              "GPGGA,120000.00,0130.00000000,N,00015.00000000,W,1,00,,160.00,M,-21.3213,M,,");

    // Azimuth 359.6 prints 000; elevation and SNR round halves away from zero.
    sky::SkyView view;
    constexpr auto gps = sky::GnssSystem::gps;
    view.satellites = {{gps, 3, 4.5, 359.6, 42.5, true},
                       {gps, 7, 89.6, 0.4, 44.99, true},
                       {gps, 12, 30, 90, 43.49, true},
                       {gps, 19, 60, 180, 44, true},
                       {gps, 31, 10, 270, 41.2, false}};
    view.usedCount = 4;
    view.pdop = 2.345;
    view.hdop = 1.005;
    view.vdop = 99.999;
    EXPECT_EQ(body(gsaSentence(view)), "GPGSA,A,3,03,07,12,19,,,,,,,,,2.35,1.00,100.00");
    const std::string gsv = gsvSentences(view);
    const auto second = gsv.find("$", 1);
    EXPECT_EQ(body(gsv.substr(0, second)), "GPGSV,2,1,05,03,05,000,43,07,90,000,45,12,30,090,43,19,60,180,44");
    EXPECT_EQ(body(gsv.substr(second)), "GPGSV,2,2,05,31,10,270,41");
    EXPECT_EQ(body(ggaSentence("000000.00", 0.0L, 0.0L, ".00", view)),
              "GPGGA,000000.00,0000.00000000,S,00000.00000000,E,1,04,1.00,.00,M,-21.3213,M,,");
}

TEST(SkySentences, FastDopTextIsThePicturesOverManyValues)
{
    std::uint64_t state = 88172645463325252ull;
    for (int i = 0; i < 200000; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        // Values near hundredths' halves, and plain ones up to 100.
        const double base = static_cast<double>(state % 100000) / 1000;
        const double value = i % 2 ? base + 0.005 : base;
        ASSERT_EQ(formatDop(value), formatPicture(value, "0.00")) << value;
    }
}

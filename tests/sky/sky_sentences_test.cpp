// The sky sentences' number edges, checked by hand against NMEA 0183's layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "common/picture.hpp"
#include "nmea/sentences.hpp"
#include "nmea/sky_sentences.hpp"
#include "nmea/systems.hpp"

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
    // Every magnitude up to 1e12, tiny and subnormal ones too, from random bit patterns,
    // and the halves of hundredths that a double holds exactly.
    for (int i = 0; i < 200000; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        // A random 53-bit significand at a power of two from 2^-80 up to 2^40, or a
        // subnormal.
        const int power = static_cast<int>(state >> 57) - 80 - 52 + static_cast<int>(state % 3);
        const double value =
            i % 1000 == 0 ? std::bit_cast<double>(state >> 12) : std::ldexp(static_cast<double>(state >> 11), power);
        if (!(value < 1e12)) continue;
        ASSERT_EQ(formatDop(value), formatPicture(value, "0.00")) << value;
    }
    for (const double value : {0.0, 0.005, 0.125, 0.625, 2.5 / 64, 1.375, 1e-310, 999999999999.995, 0x1p39 + 0.125})
        ASSERT_EQ(formatDop(value), formatPicture(value, "0.00")) << value;
}

namespace {

// The sentences as fmt lays them out, the plain way the writers once took: the judge of
// the hand-written fields.
int plainRounded(double value, int low, int high)
{
    return static_cast<int>(std::clamp<long>(std::lround(value), low, high));
}

std::string plainFinish(const std::string& textWithStar)
{
    return textWithStar + nmeaChecksum(textWithStar.substr(1, textWithStar.size() - 2)) + "\r\n";
}

std::string plainGsv(const sky::SkyView& view, const NmeaSystems& systems)
{
    std::string out;
    for (const sky::GnssSystem system : systems.list()) {
        std::vector<sky::SatelliteView> of;
        for (const sky::SatelliteView& s : view.satellites)
            if (systems.gpsOnly() || s.system == system) of.push_back(s);
        const std::size_t total = std::max<std::size_t>(1, (of.size() + 3) / 4);
        const std::string talker(systems.gpsOnly() ? "GP" : sky::talker(system));
        for (std::size_t n = 0; n < total; ++n) {
            std::string text = fmt::format("${}GSV,{},{},{:02}", talker, total, n + 1, of.size());
            for (std::size_t k = 4 * n; k < std::min(of.size(), 4 * n + 4); ++k) {
                int azimuth = plainRounded(of[k].azimuth, 0, 360);
                if (azimuth == 360) azimuth = 0;
                text += fmt::format(",{:02},{:02},{:03},{:02}", nmeaSatelliteNumber(of[k].system, of[k].prn),
                                    plainRounded(of[k].elevation, 0, 90), azimuth, plainRounded(of[k].cn0, 0, 99));
            }
            if (!systems.gpsOnly()) text += fmt::format(",{}", nmeaSignalId(system));
            out += plainFinish(text + "*");
        }
    }
    return out;
}

std::string plainGsa(const sky::SkyView& view, const NmeaSystems& systems, const std::string& dops)
{
    std::string out;
    for (const sky::GnssSystem system : systems.list()) {
        std::vector<int> used;
        for (const sky::SatelliteView& s : view.satellites)
            if (s.used && (systems.gpsOnly() || s.system == system))
                used.push_back(nmeaSatelliteNumber(s.system, s.prn));
        const std::string talker(systems.gpsOnly() ? "GP" : sky::talker(system));
        for (std::size_t first = 0; first == 0 || first < used.size(); first += 12) {
            std::string text = fmt::format("${}GSA,A,{}", talker, view.pdop ? 3 : 1);
            for (std::size_t k = 0; k < 12; ++k)
                text += first + k < used.size() ? fmt::format(",{:02}", used[first + k]) : ",";
            text += "," + dops;
            if (!systems.gpsOnly()) text += fmt::format(",{}", sky::nmeaSystemId(system));
            out += plainFinish(text + "*");
        }
    }
    return out;
}

}  // namespace

// GSV and GSA of thousands of random skies of every set of systems (up to 130 satellites,
// so that counts reach three digits and sentence numbers two; angles on the rounding
// edges) against the same sentences laid out by fmt; withTalker against the talker
// replaced and the checksum computed afresh, also on sentences cut short after "*".
TEST(SkySentences, FieldsWrittenByHandMatchFmt)
{
    std::mt19937_64 random(35);
    const std::vector<std::string> systemSets = {
        "gps", "galileo", "glonass", "beidou", "gps,galileo", "gps,galileo,beidou,glonass", "galileo,glonass"};
    const sky::GnssSystem all[] = {sky::GnssSystem::gps, sky::GnssSystem::galileo, sky::GnssSystem::beidou,
                                   sky::GnssSystem::glonass};
    const double edges[] = {-0.5, 0, 0.49999999999999994, 0.5, 9.5, 89.5, 90.4, 99.5, 359.49, 359.5, 359.99, 360};
    std::uniform_real_distribution<double> uniform(0, 1);
    for (int round = 0; round < 3000; ++round) {
        const NmeaSystems systems = parseNmeaSystems(systemSets[static_cast<std::size_t>(round) % systemSets.size()]);
        sky::SkyView view;
        const int count = round % 50 == 0 ? 130 : static_cast<int>(random() % 40);
        for (int k = 0; k < count; ++k) {
            const auto pick = [&](double scale) {
                return random() % 3 == 0 ? edges[random() % std::size(edges)] : uniform(random) * scale;
            };
            sky::SatelliteView s;
            s.system = all[random() % 4];
            if (!systems.contains(s.system)) s.system = systems.list().front();
            // Each system's own range: GPS 1-32, Galileo 1-36, BeiDou 1-63, GLONASS slots 1-24.
            const int numbers = s.system == sky::GnssSystem::gps       ? 32
                                : s.system == sky::GnssSystem::galileo ? 36
                                : s.system == sky::GnssSystem::beidou  ? 63
                                                                       : 24;
            s.prn = 1 + static_cast<int>(random() % static_cast<unsigned>(numbers));
            s.elevation = pick(90);
            s.azimuth = pick(360);
            s.cn0 = pick(60);
            s.used = random() % 2 == 0;
            view.satellites.push_back(s);
        }
        std::sort(view.satellites.begin(), view.satellites.end(),
                  [](const auto& a, const auto& b) { return std::pair(a.system, a.prn) < std::pair(b.system, b.prn); });
        if (random() % 4 != 0) view.pdop = 1.5;
        const std::string pdop = view.pdop ? "1.50" : "", hdop = view.pdop ? "0.91" : "", vdop = view.pdop ? "1.2" : "";
        ASSERT_EQ(gsvSentences(view, systems), plainGsv(view, systems)) << "round " << round;
        ASSERT_EQ(gsaSentences(view, systems, pdop, hdop, vdop),
                  plainGsa(view, systems, pdop + "," + hdop + "," + vdop))
            << "round " << round;
    }

    for (int round = 0; round < 2000; ++round) {
        std::string text = "$GP";
        const int length = static_cast<int>(random() % 80);
        for (int k = 0; k < length; ++k) text += static_cast<char>(' ' + random() % 95);
        text += '*';
        std::string sentence = round % 3 == 0 ? text : finishSentence(text);
        if (round % 7 == 0) sentence += "AB";  // something after the checksum
        for (const std::string_view talker : {"GN", "GP", "GA", "X"}) {
            std::string plain = sentence;
            const std::size_t star = plain.rfind('*');
            if (talker.size() == 2 && star >= 3 && plain.compare(1, 2, talker) != 0) {
                plain.replace(1, 2, talker);
                plain.replace(star + 1, 2, nmeaChecksum(std::string_view(plain).substr(1, star - 1)));
            }
            ASSERT_EQ(withTalker(sentence, talker), plain) << sentence;
        }
    }
}

// One recording of several bands: the centre frequency each system's recordings get,
// the rates refused with the least one that would do, and each signal placed at its own
// carrier's distance from the centre.
#include <cmath>
#include <random>
#include <regex>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "common/error.hpp"
#include "signal/generator.hpp"
#include "test_support.hpp"

namespace trajix {
namespace {

using sky::GnssSystem;
using trajix::test::dataFile;

std::string refusal(const SampleFormat& format, const SignalSystems& systems)
{
    try {
        checkSampleFormat(format, systems);
    } catch (const Error& e) {
        return e.what();
    }
    return {};
}

std::string record(const GeneratorSettings& settings)
{
    SignalGenerator generator(settings);
    std::string bytes;
    generator.run([&bytes](const std::uint8_t* data, std::size_t size, double) {
        bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
    });
    return bytes;
}

// The centres by default and the least complex rates at them, as a user plans a radio:
// each case names the rate just refused and the least one the message must give.
TEST(Wideband, DefaultCentresAndTheLeastRatesTheyNeed)
{
    const SignalSystems gps{GnssSystem::gps}, galileo{GnssSystem::galileo}, beidou{GnssSystem::beidou},
        glonass{GnssSystem::glonass}, threeSystems{GnssSystem::gps, GnssSystem::galileo, GnssSystem::beidou},
        all{GnssSystem::gps, GnssSystem::galileo, GnssSystem::beidou, GnssSystem::glonass};
    struct Case {
        SignalSystems systems;
        long long centre;  // the default
        int leastKHz;      // of complex samples at IF 0
    };
    for (const Case& c : std::vector<Case>{
             {gps, 1575420000, 2046},
             {galileo, 1575420000, 4092},
             {beidou, 1561098000, 4092},
             // 1602 MHz for GLONASS alone: channel -7's lower edge is 4.4485 MHz below it.
             {glonass, 1602000000, 8897},
             // 1559.052 to 1577.466 MHz.
             {threeSystems, 1568259000, 18414},
             {{GnssSystem::gps, GnssSystem::beidou}, 1567747500, 17391},
             // 1559.052 to 1605.886 MHz.
             {all, 1582469000, 46834},
         }) {
        EXPECT_EQ(defaultCenterHz(c.systems), c.centre) << signalSystemsText(c.systems);
        const SampleFormat enough{true, 8, c.leastKHz, 0};
        EXPECT_EQ(refusal(enough, c.systems), "") << signalSystemsText(c.systems);
        const SampleFormat tooFew{true, 8, c.leastKHz - 1, 0};
        const std::string message = refusal(tooFew, c.systems);
        EXPECT_NE(message.find(fmt::format("SampleRate_in_KHz = {}", c.leastKHz - 1)), std::string::npos) << message;
        EXPECT_NE(message.find(std::to_string(c.leastKHz)), std::string::npos) << message;
    }
    // The scenario step's recording keeps its centre; a real band below 0 Hz names the IF.
    EXPECT_EQ(refusal(SampleFormat{}, gps), "");
    SampleFormat low{false, 8, 40000, 4092000};
    const std::string message = refusal(low, threeSystems);
    EXPECT_NE(message.find("IFFreq_in_Hz = 4092000"), std::string::npos) << message;
    EXPECT_NE(message.find("BeiDou B1I"), std::string::npos) << message;
    // A centre of one's own: GPS at 1 MHz below the centre needs its lobe inside.
    SampleFormat shifted{true, 8, 4092, 0};
    shifted.centerHz = 1576420000;
    EXPECT_EQ(refusal(shifted, gps), "");
    shifted.centerHz = 1577420000;
    EXPECT_NE(refusal(shifted, gps).find("CenterFreq_in_Hz = 1577420000"), std::string::npos);
}

// Over many centres, IFs and systems: the rate a refusal names is the least that does,
// and no rate below it does.
TEST(Wideband, TheRateARefusalNamesIsTheLeastThatHoldsEveryBand)
{
    std::mt19937_64 random(36);
    const std::vector<SignalSystems> choices{{GnssSystem::gps},
                                             {GnssSystem::beidou},
                                             {GnssSystem::glonass},
                                             {GnssSystem::gps, GnssSystem::beidou},
                                             {GnssSystem::galileo, GnssSystem::glonass},
                                             {GnssSystem::gps, GnssSystem::galileo, GnssSystem::beidou}};
    const std::regex least(R"(need at least (\d+) kHz)");
    int refused = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const SignalSystems& systems = choices[random() % choices.size()];
        SampleFormat f;
        f.complex = random() % 3 != 0;
        f.bitsPerSample = f.complex ? 8 : (random() % 2 ? 1 : 16);
        f.intermediateFrequencyHz = f.complex ? static_cast<long long>(random() % 8000000) - 4000000
                                              : 20000000 + static_cast<long long>(random() % 5000000);
        f.centerHz = 1560000000 + static_cast<long long>(random() % 45000000);
        f.rateKHz = 2000 + static_cast<int>(random() % 90000) * (f.bitsPerSample == 1 ? 2 : 1);
        if (f.bitsPerSample == 1) f.rateKHz &= ~1;
        std::smatch found;
        const std::string message = refusal(f, systems);
        if (message.empty() || !std::regex_search(message, found, least)) continue;
        ++refused;
        const int leastKHz = std::stoi(found[1]);
        if (leastKHz > generatorMaxRateKHz) continue;
        SampleFormat enough = f;
        enough.rateKHz = leastKHz;
        EXPECT_EQ(refusal(enough, systems), "") << message;
        SampleFormat below = f;
        below.rateKHz = leastKHz - (f.bitsPerSample == 1 ? 2 : 1);
        EXPECT_NE(refusal(below, systems), "") << message;
    }
    EXPECT_GT(refused, 50);
}

// Moving the centre and the IF together leaves every carrier where it was in the
// samples: the same recording byte for byte, for GPS and Galileo from a real file.
TEST(Wideband, CentreAndIfMovedTogetherMakeTheSameRecording)
{
    GeneratorSettings s;
    s.ephemerisFile = dataFile("sky/VILL00ESP_R_20181700000_0930-1230_MN.rnx");
    s.systems = {GnssSystem::gps, GnssSystem::galileo};
    s.week = 2006;
    s.startSeconds = 2 * 86400 + 10 * 3600;
    s.durationSeconds = 1;
    s.maxSatellites = 6;
    s.staticPosition = true;
    s.latitude = 40.4;
    s.longitude = -3.95;
    s.altitude = 650;
    s.format = {true, 8, 12000, 0};
    const std::string centred = record(s);
    for (const long long shift : {-3000000LL, 1000000LL, 1023LL}) {
        GeneratorSettings moved = s;
        moved.format.centerHz = 1575420000 + shift;
        moved.format.intermediateFrequencyHz = shift;
        EXPECT_TRUE(record(moved) == centred) << shift;
    }
}

}  // namespace
}  // namespace trajix

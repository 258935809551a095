// The generator's fast paths against its plain ones: the vector sample loop against the
// scalar loop over random runs, and whole recordings made on 1, 2 and 4 threads with
// the vector loops against the scalar loops on one thread, over random small profiles.
#include <algorithm>
#include <cmath>
#include <random>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "common/error.hpp"
#include "signal/galileo_e1.hpp"
#include "signal/generator.hpp"
#include "signal/sampling.hpp"
#include "test_support.hpp"
#include "tests/scenario/scenario_fixtures.hpp"

using namespace trajix;
using trajix::test::dataFile;
using trajix::test::gga;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

std::string record(GeneratorSettings settings, int threads, bool referenceLoops, int* events = nullptr)
{
    settings.threads = threads;
    settings.referenceLoops = referenceLoops;
    SignalGenerator generator(settings, [events](const std::string&) {
        if (events) ++*events;
    });
    std::string bytes;
    generator.run([&bytes](const std::uint8_t* data, std::size_t size, double) {
        bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
    });
    return bytes;
}

}  // namespace

TEST(SampleLoops, VectorLoopAddsExactlyWhatThePlainLoopAdds)
{
    std::mt19937_64 random(20261209);
    std::uniform_real_distribution<double> unit(0, 1);
    int vectorRuns = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        // GPS C/A codes, and Galileo E1-B and E1-C codes with their subcarrier (8184 half-chips).
        const int prn = 1 + static_cast<int>(random() % 32);
        const int kind = trial % 3;
        const sampling::CodeTables code =
            kind == 0 ? sampling::CodeTables(prn)
                      : sampling::CodeTables(sampling::withBocSubcarrier(
                            kind == 1 ? galileo::e1bCode(prn) : galileo::e1cCode(prn), kind == 2));
        sampling::CarrierWave wave;
        const bool complex = trial % 2 == 1;
        wave.set(0.5 + 127 * unit(random), complex);
        // From 2 to 20 samples per chip, any Doppler; a start anywhere in the period,
        // some right before its end.
        const double samplesPerChip = 2 + 18 * unit(random);
        sampling::RunPhase phase;
        phase.codeStep = static_cast<std::uint64_t>(4294967296.0 / samplesPerChip);
        const std::uint64_t wrap = static_cast<std::uint64_t>(code.length()) << 32;
        phase.code = trial % 5 == 0 ? wrap - 1 - random() % (64 * phase.codeStep) : random() % wrap;
        phase.carrier = static_cast<std::uint32_t>(random());
        phase.carrierStep = static_cast<std::uint32_t>(random());
        const auto room = static_cast<int>((wrap - phase.code + phase.codeStep - 1) / phase.codeStep);
        const int count = std::min(room, static_cast<int>(random() % 600));
        const unsigned dataBit = static_cast<unsigned>(random() % 2);

        std::vector<std::int16_t> i1(static_cast<std::size_t>(count)), q1(i1.size());
        for (std::size_t k = 0; k < i1.size(); ++k) {
            i1[k] = static_cast<std::int16_t>(static_cast<int>(random() % 8001) - 4000);
            q1[k] = static_cast<std::int16_t>(static_cast<int>(random() % 8001) - 4000);
        }
        auto i2 = i1, q2 = q1;
        sampling::RunPhase plain = phase, fast = phase;
        sampling::addRunReference(code, wave, plain, dataBit, i1.data(), complex ? q1.data() : nullptr, count);
        const sampling::AddRun add = sampling::fastestAddRun(wave);
        vectorRuns += add != sampling::addRunReference ? 1 : 0;
        add(code, wave, fast, dataBit, i2.data(), complex ? q2.data() : nullptr, count);
        ASSERT_EQ(i1, i2) << "trial " << trial;
        ASSERT_EQ(q1, q2) << "trial " << trial;
        ASSERT_EQ(plain.code, fast.code) << "trial " << trial;
        ASSERT_EQ(plain.carrier, fast.carrier) << "trial " << trial;
    }
#if defined(__x86_64__)
    EXPECT_GT(vectorRuns, 2000) << "the vector loop hardly ran";
#endif
}

// Galileo's two codes on one carrier: the vector pair, which looks the wave up once,
// against the plain loop run for E1-B and then for E1-C, over random runs of every PRN,
// symbol and secondary chip, at 2 to 20 samples per half-chip.
TEST(SampleLoops, VectorPairAddsExactlyWhatThePlainLoopAddsTwice)
{
    std::mt19937_64 random(20261210);
    std::uniform_real_distribution<double> unit(0, 1);
    int vectorRuns = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        const int prn = 1 + static_cast<int>(random() % 36);
        const sampling::CodeTables data(sampling::withBocSubcarrier(galileo::e1bCode(prn), false));
        const sampling::CodeTables pilot(sampling::withBocSubcarrier(galileo::e1cCode(prn), true));
        sampling::CarrierWave wave;
        const bool complex = trial % 2 == 1;
        // Now and then a wave too strong for bytes: the plain loop runs then.
        wave.set(trial % 50 == 0 ? 200 : 0.5 + 127 * unit(random), complex);
        const double samplesPerChip = 2 + 18 * unit(random);
        sampling::RunPhase phase;
        phase.codeStep = static_cast<std::uint64_t>(4294967296.0 / samplesPerChip);
        const std::uint64_t wrap = static_cast<std::uint64_t>(data.length()) << 32;
        phase.code = trial % 5 == 0 ? wrap - 1 - random() % (64 * phase.codeStep) : random() % wrap;
        phase.carrier = static_cast<std::uint32_t>(random());
        phase.carrierStep = static_cast<std::uint32_t>(random());
        const auto room = static_cast<int>((wrap - phase.code + phase.codeStep - 1) / phase.codeStep);
        const int count = std::min(room, static_cast<int>(random() % 600));
        const unsigned symbol = static_cast<unsigned>(random() % 2), chip = static_cast<unsigned>(random() % 2);

        std::vector<std::int16_t> i1(static_cast<std::size_t>(count)), q1(i1.size());
        for (std::size_t k = 0; k < i1.size(); ++k) {
            // Sums near the ends of the range too: both ways must wrap alike.
            const int spread = trial % 7 == 0 ? 65536 : 8001;
            i1[k] = static_cast<std::int16_t>(static_cast<int>(random() % spread) - spread / 2);
            q1[k] = static_cast<std::int16_t>(static_cast<int>(random() % spread) - spread / 2);
        }
        auto i2 = i1, q2 = q1;
        sampling::RunPhase plain = phase, pilotPlain = phase, fast = phase;
        sampling::addRunReference(data, wave, plain, symbol, i1.data(), complex ? q1.data() : nullptr, count);
        sampling::addRunReference(pilot, wave, pilotPlain, chip, i1.data(), complex ? q1.data() : nullptr, count);
        const sampling::AddRunPair add = sampling::fastestAddRunPair(wave);
        vectorRuns += add != sampling::addRunPairReference ? 1 : 0;
        add(data, pilot, wave, fast, symbol, chip, i2.data(), complex ? q2.data() : nullptr, count);
        ASSERT_EQ(i1, i2) << "trial " << trial;
        ASSERT_EQ(q1, q2) << "trial " << trial;
        ASSERT_EQ(plain.code, fast.code) << "trial " << trial;
        ASSERT_EQ(plain.carrier, fast.carrier) << "trial " << trial;
    }
#if defined(__x86_64__)
    EXPECT_GT(vectorRuns, 1500) << "the vector pair hardly ran";
#endif
}

TEST(SignalGenerator, RecordingsAreTheSameOnAnyNumberOfThreadsAndAsThePlainLoops)
{
    TempDir dir;
    std::mt19937_64 random(314);
    std::uniform_real_distribution<double> unit(0, 1);
    const std::vector<SampleFormat> formats{
        {},                         // the scenario step's one-bit 16368 kHz
        {false, 1, 4092, 1023000},  // one bit at the lowest real rate
        {true, 8, 2600, 0},         // a HackRF's I/Q
        {true, 16, 4000, -500000},  // a USRP's I/Q at a low IF
        {false, 8, 5000, 1300000},  // real 8-bit at a rate that is no multiple of 1023
    };
    int changes = 0;
    for (int trial = 0; trial < 16; ++trial) {
        GeneratorSettings s;
        s.almanacFile = dataFile("scenario/week314.alm");
        s.week = 2362;
        // Anywhere in the week, one trial across its end.
        s.startSeconds = trial == 0 ? 604799.3 : std::floor(unit(random) * 604000 * 1000) / 1000;
        s.durationSeconds = 1 + trial % 2;
        s.format = formats[static_cast<std::size_t>(trial) % formats.size()];
        s.maxSatellites = 1 + static_cast<int>(random() % 12);
        s.noiseFigureDb = unit(random) * 6;
        s.seed = random();
        const double latitude = -80 + 160 * unit(random), longitude = -180 + 360 * unit(random);
        if (trial % 3 == 0) {
            s.staticPosition = true;
            s.latitude = latitude;
            s.longitude = longitude;
            s.altitude = 1000 * unit(random);
        } else {
            // A fast, turning path: fixes every 0.3 s.
            std::string nmea;
            for (int k = 0; k < 12; ++k)
                nmea += gga(43200 + 0.3 * k, latitude + 1e-4 * k * k, longitude + 2e-4 * k, 100 + k);
            s.nmeaFile = dir / fmt::format("path{}.nme", trial);
            writeFileBytes(s.nmeaFile, nmea);
        }
        // A mask between one satellite's elevations at the start and a second later, so
        // that it rises or sets at the first second boundary.
        GeneratorSettings probe = s;
        probe.maskDegrees = -90;
        probe.maxSatellites = 32;
        const auto sky = SignalGenerator(probe).initialSatellites();
        probe.startSeconds += 1;
        const auto later = SignalGenerator(probe).initialSatellites();
        std::vector<std::size_t> low;
        for (std::size_t k = 0; k < sky.size(); ++k)
            if (sky[k].elevationDegrees > 0 && sky[k].elevationDegrees < 50) low.push_back(k);
        ASSERT_FALSE(low.empty());
        const std::size_t chosen = low[random() % low.size()];
        ASSERT_EQ(later[chosen].prn, sky[chosen].prn);
        s.maskDegrees = (sky[chosen].elevationDegrees + later[chosen].elevationDegrees) / 2;
        if (s.durationSeconds > 1) s.maxSatellites = 12;

        const std::string plain = record(s, 1, true, &changes);
        ASSERT_EQ(plain.size(), static_cast<std::size_t>(s.durationSeconds) * s.format.bytesPerSecond());
        for (const int threads : {1, 2, 4})
            ASSERT_TRUE(record(s, threads, false) == plain) << "trial " << trial << ", " << threads << " threads";
    }
    // Most two-second trials had a satellite rise or set at their second boundary (a
    // rising one finds no free channel when twelve are above the mask).
    EXPECT_GE(changes, 6);
}

TEST(SignalGenerator, MultiBitSamplesUseTheirRangeAndClipAtMostOneInTenThousand)
{
    for (const SampleFormat format :
         {SampleFormat{true, 8, 2600, 0}, SampleFormat{true, 16, 4000, 0}, SampleFormat{false, 8, 4092, 1023000}}) {
        GeneratorSettings s;
        s.almanacFile = dataFile("scenario/week314.alm");
        s.week = 2362;
        s.startSeconds = 32380;
        s.staticPosition = true;
        s.latitude = 51.99888;
        s.longitude = -0.997777;
        s.altitude = 160;
        s.maskDegrees = -90;  // 12 channels, all at full strength
        s.format = format;
        const std::string bytes = record(s, 2, false);
        std::size_t count = 0, atLimit = 0;
        double sumOfSquares = 0;
        const int top = format.bitsPerSample == 8 ? 127 : 32767;
        for (std::size_t at = 0; at < bytes.size(); at += static_cast<std::size_t>(format.bitsPerSample / 8)) {
            const int value = format.bitsPerSample == 8
                                  ? static_cast<std::int8_t>(bytes[at])
                                  : static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                                              static_cast<std::uint8_t>(bytes[at + 1]) << 8);
            ++count;
            atLimit += value >= top || value <= -top - 1 ? 1u : 0u;
            sumOfSquares += static_cast<double>(value) * value;
        }
        const double rms = std::sqrt(sumOfSquares / static_cast<double>(count));
        EXPECT_LE(static_cast<double>(atLimit), 1e-4 * static_cast<double>(count)) << format.bitsPerSample;
        // The range is used: the spread is about a quarter of it.
        EXPECT_GT(rms, top / 5.0) << format.bitsPerSample;
        EXPECT_LT(rms, top / 3.5) << format.bitsPerSample;
    }
}

// GPS with Galileo and Galileo alone from a real mixed file: the same bytes on any
// number of threads and with the plain loops, in every sample format the generator
// writes at the rates Galileo's BOC(1,1) needs; and the samples keep their range.
TEST(SignalGenerator, GalileoRecordingsAreTheSameOnAnyNumberOfThreadsAndAsThePlainLoops)
{
    std::mt19937_64 random(2018);
    std::uniform_real_distribution<double> unit(0, 1);
    const std::vector<SampleFormat> formats{
        {},                         // the scenario step's one-bit 16368 kHz
        {true, 8, 4092, 0},         // the lowest complex rate
        {true, 16, 5000, -300000},  // a USRP's I/Q at a low IF
        {false, 8, 8184, 2046000},  // the lowest real rate
    };
    for (int trial = 0; trial < 8; ++trial) {
        GeneratorSettings s;
        s.ephemerisFile = dataFile("sky/VILL00ESP_R_20181700000_0930-1230_MN.rnx");
        s.systems = trial % 2 == 0 ? SignalSystems{sky::GnssSystem::gps, sky::GnssSystem::galileo}
                                   : SignalSystems{sky::GnssSystem::galileo};
        s.week = 2006;
        s.startSeconds = 2 * 86400 + 9.6 * 3600 + std::floor(unit(random) * 9000 * 1000) / 1000;
        s.durationSeconds = 1;
        s.format = formats[static_cast<std::size_t>(trial) % formats.size()];
        s.maxSatellites = 1 + static_cast<int>(random() % 12);
        s.seed = random();
        s.staticPosition = true;
        s.latitude = 30 + 20 * unit(random);
        s.longitude = -10 + 20 * unit(random);
        s.altitude = 500 * unit(random);
        const std::string plain = record(s, 1, true);
        ASSERT_EQ(plain.size(), s.format.bytesPerSecond());
        for (const int threads : {1, 2})
            ASSERT_TRUE(record(s, threads, false) == plain) << "trial " << trial << ", " << threads << " threads";
        const auto satellites = SignalGenerator(s).initialSatellites();
        ASSERT_TRUE(std::any_of(satellites.begin(), satellites.end(),
                                [](const GeneratedSatellite& g) { return g.system == sky::GnssSystem::galileo; }))
            << "trial " << trial;
        if (s.systems.count(sky::GnssSystem::gps) == 0) {
            for (const GeneratedSatellite& g : satellites) EXPECT_EQ(g.system, sky::GnssSystem::galileo);
        }
        if (s.format.bitsPerSample == 8) {
            std::size_t atLimit = 0;
            for (const char c : plain) atLimit += c == 127 || c == -128 ? 1 : 0;
            EXPECT_LT(atLimit, plain.size() / 1000) << "trial " << trial;
        }
    }
}

// What the profile and the rate may ask of Galileo, refused naming the key and value.
TEST(SignalGenerator, SystemsAndRatesGalileoCannotHaveAreRefusedNamingTheKey)
{
    EXPECT_EQ(parseSignalSystems("gps"), SignalSystems{sky::GnssSystem::gps});
    EXPECT_EQ(parseSignalSystems(" galileo , gps "), (SignalSystems{sky::GnssSystem::gps, sky::GnssSystem::galileo}));
    EXPECT_EQ(signalSystemsText(parseSignalSystems("galileo,gps")), "gps,galileo");
    EXPECT_EQ(parseSignalSystems("glonass, gps"), (SignalSystems{sky::GnssSystem::gps, sky::GnssSystem::glonass}));
    for (const char* bad : {"", "gps,", "gps,gps", "GPS", "gps;galileo", "gps,qzss"})
        EXPECT_THROW(parseSignalSystems(bad), Error) << bad;

    struct Case {
        SampleFormat format;
        bool galileo;
        const char* refusal;  // nullptr: made
    };
    for (const Case& c : std::vector<Case>{
             {{true, 8, 4092, 0}, true, nullptr},
             {{true, 8, 4091, 0}, true, "SampleRate_in_KHz = 4091"},
             {{true, 8, 2600, 0}, true, "SampleRate_in_KHz = 2600"},
             {{true, 8, 2600, 0}, false, nullptr},
             {{false, 8, 8184, 2046000}, true, nullptr},
             {{false, 8, 6000, 2046000}, true, "SampleRate_in_KHz = 6000"},
             {{false, 1, 16368, 4092000}, true, nullptr},
             {{false, 8, 16368, 1500000}, true, "IFFreq_in_Hz = 1500000"},
             {{true, 16, 4092, 100000}, true, "IFFreq_in_Hz = 100000"},
         }) {
        if (!c.refusal) {
            EXPECT_NO_THROW(checkSampleFormat(c.format, c.galileo));
            continue;
        }
        try {
            checkSampleFormat(c.format, c.galileo);
            ADD_FAILURE() << c.refusal << " was made";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << e.what();
        }
    }

    TempDir dir;
    const auto tools = test::writeWeek314Profile(dir.path(), "32400", "1");
    const std::string profile = test::readFileBytes(tools / "profile.txt");
    test::writeFileBytes(tools / "bad.txt", profile + "Systems = gps,qzss\r\n");
    try {
        readGeneratorProfile(tools / "bad.txt", false);
        ADD_FAILURE() << "qzss was taken";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Systems = 'gps,qzss'"), std::string::npos) << e.what();
    }
    // Galileo from an almanac: refused, naming the key.
    test::writeFileBytes(tools / "almanac.txt", profile + "Systems = gps,galileo\r\n");
    GeneratorSettings settings = readGeneratorProfile(tools / "almanac.txt", false);
    settings.staticPosition = true;
    EXPECT_EQ(settings.systems.size(), 2u);
    try {
        SignalGenerator generator(settings);
        ADD_FAILURE() << "Galileo from an almanac was made";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Systems = gps,galileo"), std::string::npos) << e.what();
    }
}

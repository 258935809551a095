// GLONASS in the generator: a satellite whose records the signal cannot carry (no
// frequency channel, a tb off the 15-minute grid) is named and left out with a note,
// the others made; and GLONASS from an almanac alone is refused naming the key.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "common/error.hpp"
#include "signal/generator.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

const std::string cut = "signal/VILL00ESP_R_20181700000_0200-0659_R.rnx";

// The cut's lines with every record of R07 changed by `change` (its four lines).
std::string withR07Changed(const std::function<void(std::vector<std::string>&)>& change)
{
    std::vector<std::string> lines;
    std::string text = readFileBytes(dataFile(cut)), out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    for (std::size_t i = 0; i + 3 < lines.size(); ++i)
        if (lines[i].rfind("R07 ", 0) == 0) {
            std::vector<std::string> record(lines.begin() + static_cast<std::ptrdiff_t>(i),
                                            lines.begin() + static_cast<std::ptrdiff_t>(i + 4));
            change(record);
            std::copy(record.begin(), record.end(), lines.begin() + static_cast<std::ptrdiff_t>(i));
        }
    for (std::size_t i = 0; i < lines.size(); ++i) out += lines[i] + (i + 1 < lines.size() ? "\n" : "");
    return out;
}

GeneratorSettings settingsFor(const TempDir& dir, const std::filesystem::path& ephemeris)
{
    const auto profile = dir / "profile.txt";
    writeFileBytes(profile, fmt::format("[Receiver Dynamics]\r\nStatic=1\r\nLatitude_in_deg=40.4436\r\n"
                                        "Longitude_in_deg=-3.9521\r\nAltitude_in_m=650\r\nGPS_Week=982\r\n"
                                        "GPS_Start_Time_in_sec=187206\r\nDuration_in_sec=1\r\n"
                                        "Source_NMEA_file=none.nme\r\nSimulation_Day=19\r\nSimulation_Mon=6\r\n"
                                        "Simulation_Year=2018\r\nAlmanac_File=none.alm\r\nMask_in_deg=10\r\n"
                                        "NoiseFigure_in_dB=0\r\nIFFreq_in_Hz=0\r\nSampleRate_in_KHz=9000\r\n"
                                        "IQ_format=IQ\r\nbitPerSample=8\r\nEphemeris_File={}\r\nSystems=glonass\r\n",
                                        ephemeris.string()));
    GeneratorSettings settings = readGeneratorProfile(profile, false);
    settings.staticPosition = true;
    return settings;
}

std::vector<int> glonassInView(const SignalGenerator& generator)
{
    std::vector<int> slots;
    for (const GeneratedSatellite& s : generator.initialSatellites())
        if (s.system == sky::GnssSystem::glonass) slots.push_back(s.prn);
    return slots;
}

TEST(GlonassSignal, ASatelliteWhoseRecordsTheSignalCannotCarryIsNamedAndLeftOut)
{
    struct Case {
        const char* what;
        std::function<void(std::vector<std::string>&)> change;
        const char* note;
    };
    const Case cases[] = {
        {"no frequency channel", [](std::vector<std::string>& r) { r[2].replace(61, 19, std::string(19, ' ')); },
         "the frequency channel is missing"},
        {"tb off the grid", [](std::vector<std::string>& r) { r[0].replace(21, 2, "30"); },
         "is not on a 15-minute step of the day"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const auto file = dir / "mixed.rnx";
        writeFileBytes(file, withR07Changed(c.change));
        const SignalGenerator generator(settingsFor(dir, file));
        const std::vector<int> slots = glonassInView(generator);
        EXPECT_EQ(std::count(slots.begin(), slots.end(), 7), 0) << c.what;
        EXPECT_EQ(slots.size(), 5u) << c.what << ": the other five are made";
        const auto& notes = generator.notes();
        EXPECT_TRUE(std::any_of(notes.begin(), notes.end(),
                                [&](const std::string& n) {
                                    return n.find(c.note) != std::string::npos &&
                                           n.find(file.string()) != std::string::npos;
                                }))
            << c.what << ": no note names the file and says " << c.note;
    }
    // As the file is: all six.
    TempDir dir;
    EXPECT_EQ(glonassInView(SignalGenerator(settingsFor(dir, dataFile(cut)))), (std::vector<int>{6, 7, 8, 9, 10, 16}));
}

TEST(GlonassSignal, FromAnAlmanacAloneIsRefusedNamingTheKey)
{
    TempDir dir;
    GeneratorSettings settings = settingsFor(dir, dataFile(cut));
    settings.ephemerisFile.clear();
    settings.almanacFile = dataFile("signal/none.alm");
    try {
        SignalGenerator generator(settings);
        ADD_FAILURE() << "GLONASS from an almanac was made";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Systems = glonass: GLONASS needs an Ephemeris_File"), std::string::npos)
            << e.what();
    }
}

}  // namespace
}  // namespace trajix::test

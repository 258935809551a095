#pragma once
// Receiver logs as real receivers write them, built for the tests: several sentences
// per fix, talkers that switch, proprietary sentences, gaps, midnight. Each log is kept
// as its epochs (the lines of one fix, in order), so a test can judge the grouping.
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace trajix::test {

using EpochLines = std::vector<std::vector<std::string>>;

/// "$" + body + "*" + checksum.
inline std::string sentence(std::string_view body)
{
    unsigned char sum = 0;
    for (const char c : body) sum ^= static_cast<unsigned char>(c);
    char tail[4];
    std::snprintf(tail, sizeof tail, "*%02X", sum);
    return "$" + std::string(body) + tail;
}

/// hhmmss.ss (or hhmmss.s, hhmmss) of a second of the day, wrapped at midnight.
inline std::string clock(double seconds, int decimals = 2)
{
    seconds = std::fmod(seconds, 86400.0);
    if (seconds < 0) seconds += 86400.0;
    const long long hundredths = std::llround(seconds * 100.0);
    const long long whole = hundredths / 100;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld%02lld%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    std::string result = text;
    if (decimals > 0) {
        std::snprintf(text, sizeof text, ".%02lld", hundredths % 100);
        result += std::string(text).substr(0, static_cast<std::size_t>(decimals) + 1);
    }
    return result;
}

/// A car log at 1 Hz: RMC, VTG, GGA, GSA, three GSV and GLL per fix, all GP.
inline EpochLines carLog(double start, int count)
{
    EpochLines epochs;
    for (int i = 0; i < count; ++i) {
        const std::string t = clock(start + i, 2);
        const double lat = 4807.038 + 0.01 * i;
        char position[64];
        std::snprintf(position, sizeof position, "%.4f,N,01131.000,E", lat);
        epochs.push_back({
            sentence("GPRMC," + t + ",A," + position + ",022.4,084.4,120125,003.1,W,A"),
            sentence("GPVTG,084.4,T,087.5,M,022.4,N,041.5,K,A"),
            sentence("GPGGA," + t + "," + position + ",1,08,0.9,545.4,M,46.9,M,,"),
            sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1"),
            sentence("GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00"),
            sentence("GPGSV,3,2,11,14,25,170,00,16,57,208,39,18,67,296,40,19,40,246,00"),
            sentence("GPGSV,3,3,11,22,42,067,42,24,14,311,43,27,05,244,00,,,,"),
            sentence("GPGLL," + std::string(position) + "," + t + ",A,A"),
        });
    }
    return epochs;
}

/// A handheld log at 0.5 Hz with Garmin-style proprietary sentences and whole-second
/// times without decimals.
inline EpochLines handheldLog(double start, int count)
{
    EpochLines epochs;
    for (int i = 0; i < count; ++i) {
        const std::string t = clock(start + 2.0 * i, 0);
        epochs.push_back({
            sentence("GPRMC," + t + ",A,4916.45,N,12311.12,W,000.5,054.7,120125,020.3,E"),
            sentence("GPGGA," + t + ",4916.45,N,12311.12,W,1,05,1.5,280.2,M,-34.0,M,,"),
            sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1"),
            sentence("PGRME,15.0,M,45.0,M,25.0,M"),
            sentence("PGRMZ,93,f,3"),
            sentence("PGRMM,WGS 84"),
            sentence("GPBOD,099.3,T,105.6,M,POINTB,POINTA"),
        });
    }
    return epochs;
}

/// An RTK log at 10 Hz whose talkers switch between GP and GN every 50 fixes, with a
/// gap of gapSeconds after fix gapAfter (none when gapAfter < 0).
inline EpochLines rtkLog(double start, int count, int gapAfter, double gapSeconds)
{
    EpochLines epochs;
    double t = start;
    for (int i = 0; i < count; ++i) {
        if (i > 0) t += (i - 1 == gapAfter) ? gapSeconds : 0.1;
        const std::string talker = (i / 50) % 2 ? "GN" : "GP";
        const std::string time = clock(t, 2);
        epochs.push_back({
            sentence(talker + "GGA," + time + ",5231.1234567,N,01324.7654321,E,4,12,0.6,34.1,M,44.0,M,1.0,0000"),
            sentence(talker + "RMC," + time + ",A,5231.1234567,N,01324.7654321,E,0.02,,120125,,,R"),
            sentence("GNGSA,A,3,02,05,12,15,24,25,29,,,,,,1.1,0.6,0.9"),
            sentence("GLGSV,2,1,06,65,42,123,40,66,12,200,35,72,60,010,44,73,05,300,30"),
            sentence(talker + "ZDA," + time + ",12,01,2025,00,00"),
        });
    }
    return epochs;
}

/// Joins epochs' lines, each followed by lineEnd.
inline std::string joinEpochs(const EpochLines& epochs, std::string_view lineEnd = "\r\n")
{
    std::string text;
    for (const auto& epoch : epochs)
        for (const auto& line : epoch) text.append(line).append(lineEnd);
    return text;
}

}  // namespace trajix::test

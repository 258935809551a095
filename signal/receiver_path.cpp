#include "signal/receiver_path.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "geo/geodesy.hpp"

namespace trajix {

ReceiverPath::ReceiverPath(std::vector<PathFix> fixes) : fixes_(std::move(fixes))
{
    if (fixes_.empty()) throw Error("a receiver path needs at least one fix");
}

std::vector<std::string_view> splitFields(std::string_view text)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const auto comma = text.find(',', start);
        fields.push_back(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return fields;
}

ReceiverPath ReceiverPath::fromNmea(const std::filesystem::path& nmeaFile)
{
    std::error_code ec;
    if (std::filesystem::is_directory(nmeaFile, ec))
        throw Error(fmt::format("cannot read the NMEA file '{}': it is a directory", nmeaFile.string()));
    std::ifstream in(nmeaFile, std::ios::binary);
    if (!in) throw Error(fmt::format("cannot open the NMEA file '{}': {}", nmeaFile.string(), std::strerror(errno)));
    std::vector<PathFix> fixes;
    std::string line;
    long long lineNumber = 0;
    double firstClock = 0, previousClock = 0, dayOffset = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        const auto dollar = line.find('$');
        if (dollar == std::string::npos) continue;
        std::string_view sentence = std::string_view(line).substr(dollar + 1);
        const auto where = [&] { return fmt::format("line {} of '{}'", lineNumber, nmeaFile.string()); };
        if (sentence.size() < 5 || sentence.substr(2, 3) != "GGA") continue;
        const auto star = sentence.find('*');
        if (star != std::string_view::npos) {
            unsigned sum = 0;
            for (const char c : sentence.substr(0, star)) sum ^= static_cast<unsigned char>(c);
            const std::string expected = fmt::format("{:02X}", sum);
            std::string given(trimBlanks(sentence.substr(star + 1)));
            for (char& c : given) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (given != expected)
                throw Error(fmt::format("the GGA sentence on {} has checksum '{}', not {}", where(), given, expected));
            sentence = sentence.substr(0, star);
        }
        const auto f = splitFields(sentence);
        if (f.size() < 12) throw Error(fmt::format("the GGA sentence on {} has too few fields", where()));
        if (f[2].empty() || f[4].empty() || f[6].empty() || f[6] == "0") continue;  // no fix
        const auto number = [&](std::string_view text, const char* what) {
            double value = 0;
            if (!tryParseDouble(text, value))
                throw Error(fmt::format("'{}' is not a valid {} (GGA, {})", text, what, where()));
            return value;
        };
        const double clock = number(f[1], "time");
        const double latitudeField = number(f[2], "latitude");
        const double longitudeField = number(f[4], "longitude");
        const double altitude = f[9].empty() ? 0.0 : number(f[9], "altitude");
        const double separation = f[11].empty() ? 0.0 : number(f[11], "geoid separation");
        const double hours = std::trunc(clock / 10000), minutes = std::trunc(clock / 100) - hours * 100;
        const double seconds = hours * 3600 + minutes * 60 + (clock - std::trunc(clock / 100) * 100);
        double latitude = std::trunc(latitudeField / 100) + std::fmod(latitudeField, 100) / 60;
        double longitude = std::trunc(longitudeField / 100) + std::fmod(longitudeField, 100) / 60;
        if (f[3] == "S") latitude = -latitude;
        if (f[5] == "W") longitude = -longitude;
        if (latitude < -90 || latitude > 90 || longitude < -180 || longitude > 180 || (f[3] != "N" && f[3] != "S") ||
            (f[5] != "E" && f[5] != "W"))
            throw Error(fmt::format("the GGA position on {} is not a valid latitude and longitude", where()));
        if (fixes.empty()) {
            firstClock = previousClock = seconds;
        } else if (seconds + dayOffset < previousClock - 43200) {
            dayOffset += 86400;  // past midnight
        }
        const double time = seconds + dayOffset - firstClock;
        if (!fixes.empty() && time < fixes.back().time)
            throw Error(fmt::format("the GGA time on {} lies before the fix before it", where()));
        previousClock = seconds + dayOffset;
        if (!fixes.empty() && time == fixes.back().time) continue;
        fixes.push_back({time, geodeticToEcef(latitude, longitude, altitude + separation)});
    }
    if (in.bad()) throw Error(fmt::format("cannot read the NMEA file '{}'", nmeaFile.string()));
    if (fixes.empty())
        throw Error(fmt::format("the NMEA file '{}' holds no GGA sentence with a fix", nmeaFile.string()));
    return ReceiverPath(std::move(fixes));
}

Ecef ReceiverPath::positionAt(double t) const
{
    const std::size_t n = fixes_.size();
    if (t <= fixes_.front().time) return fixes_.front().position;
    if (t >= fixes_.back().time) return fixes_.back().position;
    // The last fix at or before t (times grow strictly); no state, so threads may share
    // the path.
    const auto next =
        std::upper_bound(fixes_.begin(), fixes_.end(), t, [](double time, const PathFix& f) { return time < f.time; });
    const auto i = static_cast<std::size_t>(next - fixes_.begin()) - 1;
    const PathFix& p1 = fixes_[i];
    const PathFix& p2 = fixes_[i + 1];
    const double h = p2.time - p1.time;
    const double s = (t - p1.time) / h;
    // Tangents (per unit of s) from the neighbouring fixes; at the ends, the chord.
    const auto tangent = [&](std::size_t k, double Ecef::*axis) {
        const std::size_t before = k > 0 ? k - 1 : k;
        const std::size_t after = k + 1 < n ? k + 1 : k;
        const double span = fixes_[after].time - fixes_[before].time;
        return (fixes_[after].position.*axis - fixes_[before].position.*axis) / span * h;
    };
    const double h00 = (1 + 2 * s) * (1 - s) * (1 - s), h10 = s * (1 - s) * (1 - s);
    const double h01 = s * s * (3 - 2 * s), h11 = s * s * (s - 1);
    Ecef out;
    for (double Ecef::*axis : {&Ecef::x, &Ecef::y, &Ecef::z})
        out.*axis =
            h00 * (p1.position.*axis) + h10 * tangent(i, axis) + h01 * (p2.position.*axis) + h11 * tangent(i + 1, axis);
    return out;
}

}  // namespace trajix

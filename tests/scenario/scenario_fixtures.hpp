#pragma once

#include <cmath>
#include <filesystem>
#include <string>

#include <fmt/format.h>

#include "scenario/plenarch.hpp"
#include "test_support.hpp"

namespace trajix::test {

// A scenario on 13 April 2025 under the week-314 almanac (GPS week 2362): the almanac is
// copied to dir/almanac.alm and the profile naming it written to dir/GPStools/profile.txt.
// Returns the GPStools folder.
inline std::filesystem::path writeWeek314Profile(const std::filesystem::path& dir, const std::string& startTime,
                                                 const std::string& duration)
{
    const auto tools = dir / "GPStools";
    std::filesystem::create_directories(tools);
    std::filesystem::copy_file(dataFile("scenario/week314.alm"), dir / "almanac.alm");
    ScenarioEdits edits;
    edits.week = "314";
    edits.startTime = startTime;
    edits.duration = duration;
    edits.startDay = "13";
    edits.startMonth = "4";
    edits.startYear = "2025";
    edits.almanac = (dir / "almanac.alm").string();
    writeFileBytes(tools / "profile.txt", scenarioProfileText(edits, dir.string()));
    return tools;
}

// A GGA sentence with its line end, at clockSeconds of the day, at the place given in
// degrees and metres.
inline std::string gga(double clockSeconds, double latitude, double longitude, double height)
{
    const int hours = static_cast<int>(clockSeconds / 3600), minutes = static_cast<int>(clockSeconds / 60) % 60;
    const double seconds = clockSeconds - hours * 3600 - minutes * 60;
    const double latAbs = std::abs(latitude), lonAbs = std::abs(longitude);
    const std::string body = fmt::format(
        "GPGGA,{:02}{:02}{:05.2f},{:02}{:011.8f},{},{:03}{:011.8f},{},1,08,1.0,{:.3f},M,0.0,M,,", hours, minutes,
        seconds, static_cast<int>(latAbs), (latAbs - std::floor(latAbs)) * 60, latitude < 0 ? 'S' : 'N',
        static_cast<int>(lonAbs), (lonAbs - std::floor(lonAbs)) * 60, longitude < 0 ? 'W' : 'E', height);
    unsigned sum = 0;
    for (const char c : body) sum ^= static_cast<unsigned char>(c);
    return fmt::format("${}*{:02X}\r\n", body, sum);
}

}  // namespace trajix::test

#pragma once

#include <filesystem>
#include <string>

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

}  // namespace trajix::test

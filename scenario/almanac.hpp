#pragma once
// YUMA almanac files: the week of the scenario's almanac, and the daily almanacs
// fetched from an almanac archive.
#include <filesystem>
#include <functional>
#include <string>

#include "common/prompt.hpp"
#include "scenario/gps_week.hpp"

namespace trajix {

/// The 10-bit week of a YUMA almanac: the text from the 29th character (counting from 1)
/// to the end of the first line containing "week" (case-sensitive), as an integer.
/// Throws Error naming the file (and line) when it cannot be read, holds no such line,
/// or that text is not an integer.
long long readAlmanacWeek(const std::filesystem::path& almanacFile);

/// The date whose almanac the "Ouput (Hz)" label fetches: 19 January 2012.
inline constexpr CalendarDate fixedAlmanacDate{2012, 1, 19};

/// The archive's name of a daily almanac: day of the year with three digits + ".alm" (019.alm).
std::string almanacRemoteName(const CalendarDate& date);

/// The local name: day of the year (three digits) + "-" + year (four digits) + ".alm" (019-2012.alm).
std::string almanacLocalName(const CalendarDate& date);

/// The archive address for a year, to which the remote name is appended. Its query
/// selects the YUMA almanac archive of that year.
std::string defaultAlmanacArchiveUrl(int year);

/// The local almanac folder, "c:\trajixV2\almanacs\" on this system (~/trajixV2/almanacs).
std::filesystem::path defaultAlmanacFolder();

/// Downloads url into localFile; true on success. Must never leave a partial file under
/// localFile.
using DownloadFunction = std::function<bool(const std::string& url, const std::filesystem::path& localFile)>;

struct AlmanacDownloadRequest {
    CalendarDate date = fixedAlmanacDate;
    std::string archiveUrl;        ///< empty: defaultAlmanacArchiveUrl(date.year)
    std::filesystem::path folder;  ///< empty: defaultAlmanacFolder()
};

enum class AlmanacDownloadResult { AlreadyPresent, Downloaded, Failed };

/// Fetches the daily almanac of request.date unless the local file exists already (then
/// silently nothing). Creates the folder when missing, and tells the user "Download
/// complete" or "Download failed". localFile receives the local file's name.
AlmanacDownloadResult downloadDailyAlmanac(const AlmanacDownloadRequest& request, const DownloadFunction& download,
                                           UserPrompt& prompt, std::filesystem::path* localFile = nullptr);

}  // namespace trajix

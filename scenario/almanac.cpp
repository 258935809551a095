#include "scenario/almanac.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/platform.hpp"

namespace trajix {

long long readAlmanacWeek(const std::filesystem::path& almanacFile)
{
    std::error_code ec;
    if (std::filesystem::is_directory(almanacFile, ec))
        throw Error(fmt::format("cannot read the almanac '{}': it is a directory", almanacFile.string()));
    std::ifstream in(almanacFile, std::ios::binary);
    if (!in) throw Error(fmt::format("cannot open the almanac '{}': {}", almanacFile.string(), std::strerror(errno)));
    std::string line;
    long long lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find("week") == std::string::npos) continue;
        // The value column of a YUMA file starts at character 29; the label fills the
        // first 28, so a number that starts earlier loses its leading digits.
        const std::string value = line.size() > 28 ? line.substr(28) : std::string();
        long long week = 0;
        if (!tryParseInteger(value, week))
            throw Error(fmt::format("'{}' is not a valid integer (almanac week, line {} of '{}')", value, lineNumber,
                                    almanacFile.string()));
        return week;
    }
    if (in.bad()) throw Error(fmt::format("cannot read the almanac '{}'", almanacFile.string()));
    throw Error(fmt::format("the almanac '{}' has no line containing \"week\"", almanacFile.string()));
}

std::string almanacRemoteName(const CalendarDate& date)
{
    return fmt::format("{:03}.alm", dayOfYear(date));
}

std::string almanacLocalName(const CalendarDate& date)
{
    return fmt::format("{:03}-{:04}.alm", dayOfYear(date), date.year);
}

std::string defaultAlmanacArchiveUrl(int year)
{
    return fmt::format("http://almanacs.example.net/archive/?Do=gpsArchives&path=ALMANACS/YUMA&year={}/", year);
}

std::filesystem::path defaultAlmanacFolder()
{
    return resolveWindowsPath("c:\\trajixV2\\almanacs\\");
}

AlmanacDownloadResult downloadDailyAlmanac(const AlmanacDownloadRequest& request, const DownloadFunction& download,
                                           UserPrompt& prompt, std::filesystem::path* localFile)
{
    const std::filesystem::path folder = request.folder.empty() ? defaultAlmanacFolder() : request.folder;
    const std::filesystem::path local = folder / almanacLocalName(request.date);
    if (localFile) *localFile = local;
    std::error_code ec;
    if (std::filesystem::exists(local, ec)) return AlmanacDownloadResult::AlreadyPresent;
    const std::string base =
        request.archiveUrl.empty() ? defaultAlmanacArchiveUrl(request.date.year) : request.archiveUrl;
    bool ok = false;
    std::filesystem::create_directories(folder, ec);
    if (!ec) {
        try {
            ok = download(base + almanacRemoteName(request.date), local);
        } catch (const std::exception&) {
            ok = false;
        }
    }
    prompt.information(ok ? "Download complete" : "Download failed");
    return ok ? AlmanacDownloadResult::Downloaded : AlmanacDownloadResult::Failed;
}

}  // namespace trajix

// trajix almanac-download [--url BASE] [--dir DIR] [--date YYYY-MM-DD]: fetches a daily
// YUMA almanac from the almanac archive unless it is there already.
#include <memory>

#include <fmt/format.h>

#include "cli/command.hpp"
#include "qtio/download_file.hpp"
#include "scenario/almanac.hpp"

namespace {

struct Options {
    std::string url;
    std::string dir;
    std::string date;
};

// A completed download is the result (stdout); a failure is a message (stderr).
class DownloadPrompt final : public trajix::UserPrompt {
public:
    void information(std::string_view text) override
    {
        if (text == "Download complete")
            fmt::print("{}\n", text);
        else
            trajix::cli::printMessage(text);
    }
    bool askYesNo(std::string_view) override { return false; }
};

void addAlmanacDownload(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub =
        app.add_subcommand("almanac-download", "Download the daily YUMA almanac of a date (default 2012-01-19)");
    auto options = std::make_shared<Options>();
    sub->add_option("--url", options->url,
                    "Archive address to which the remote name (DDD.alm) is appended (default: the archive of the "
                    "date's year)");
    sub->add_option("--dir", options->dir, "Local almanac folder (default ~/trajixV2/almanacs)");
    sub->add_option("--date", options->date, "Date of the almanac, YYYY-MM-DD");
    sub->callback([&context, options] {
        trajix::AlmanacDownloadRequest request;
        if (!options->date.empty()) request.date = trajix::parseIsoDate(options->date);
        request.archiveUrl = options->url;
        request.folder = options->dir;
        DownloadPrompt prompt;
        std::filesystem::path local;
        const auto result = trajix::downloadDailyAlmanac(
            request,
            [](const std::string& url, const std::filesystem::path& file) { return trajix::DownloadFile(url, file); },
            prompt, &local);
        switch (result) {
            case trajix::AlmanacDownloadResult::AlreadyPresent:
                trajix::cli::printMessage(fmt::format("{} is there already; nothing downloaded", local.string()));
                context.exitCode = trajix::cli::exitOk;
                break;
            case trajix::AlmanacDownloadResult::Downloaded:
                trajix::cli::printMessage(fmt::format("saved {}", local.string()));
                context.exitCode = trajix::cli::exitOk;
                break;
            case trajix::AlmanacDownloadResult::Failed:
                trajix::cli::printMessage(fmt::format("could not download {}", local.filename().string()));
                context.exitCode = trajix::cli::exitFailed;
                break;
        }
    });
}

}  // namespace

TRAJIX_COMMAND(addAlmanacDownload);

// trajix gpsweek WEEK [--rollover N] [--seconds S]: prints the date of a GPS week.
#include <memory>

#include <fmt/format.h>

#include "cli/command.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"
#include "scenario/gps_week.hpp"

namespace {

struct Options {
    std::string week;
    std::string rollover = "1";
    std::string seconds = "0";
};

void addGpsWeek(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub = app.add_subcommand("gpsweek", "Print the date (YYYY-MM-DD) of a GPS week");
    auto options = std::make_shared<Options>();
    sub->add_option("WEEK", options->week, "GPS week within the rollover period")->required();
    sub->add_option("--rollover", options->rollover, "Number of 1024-week rollovers before the week (default 1)");
    sub->add_option("--seconds", options->seconds, "Seconds into the week (default 0)");
    sub->callback([&context, options] {
        const long long week = trajix::parseInteger(options->week);
        const long long rollover = trajix::parseInteger(options->rollover);
        const long double seconds = trajix::parseLongDouble(options->seconds);
        if (week < 0) throw trajix::Error(fmt::format("GPS week {} is negative", week));
        if (rollover < 0) throw trajix::Error(fmt::format("rollover count {} is negative", rollover));
        if (seconds < 0) throw trajix::Error(fmt::format("seconds into the week '{}' are negative", options->seconds));
        if (rollover > 100000 || week > 1000000 || seconds > 1e12L)
            throw trajix::Error("the week lies too far in the future to be dated");
        const auto result =
            trajix::gpsWeekToDate(static_cast<long double>(rollover), static_cast<long double>(week), seconds);
        fmt::print("{}\n", trajix::formatIsoDate(result.date));
        context.exitCode = trajix::cli::exitOk;
    });
}

}  // namespace

TRAJIX_COMMAND(addGpsWeek);

#pragma once
// The --rmc, --zda and --date options shared by the commands that write NMEA files.
#include <string>

#include <CLI/CLI.hpp>

#include "nmea/dates.hpp"

namespace trajix::cli {

struct DateOptions {
    bool rmc = false;
    bool zda = false;
    std::string date;  ///< YYYY-MM-DD as given; empty for today's UTC date
};

inline void addDateOptions(CLI::App* sub, DateOptions& options)
{
    sub->add_flag("--rmc", options.rmc, "Write an RMC sentence (date, speed, course) with every sample");
    sub->add_flag("--zda", options.zda, "Write a ZDA sentence (date and time) on every whole second");
    sub->add_option("--date", options.date,
                    "Date of the first sample, YYYY-MM-DD (default: today's UTC date); the times then wrap at "
                    "midnight and the date advances. Needs --rmc or --zda");
}

/// The writers' date sentences from the options. Without --rmc and --zda the file has
/// no date (its times are printed as before, hours past 24 included); --date alone is a
/// usage error. Throws Error for a date that is not a calendar date, lies before
/// 1980-01-06 or after 2099.
inline DateSentences dateSentences(const DateOptions& options)
{
    DateSentences sentences;
    sentences.rmc = options.rmc;
    sentences.zda = options.zda;
    if (!options.rmc && !options.zda) {
        if (!options.date.empty()) throw CLI::ValidationError("--date", "needs --rmc or --zda");
        return sentences;
    }
    sentences.date = options.date.empty() ? todayUtc() : parseFileDate(options.date);
    return sentences;
}

}  // namespace trajix::cli

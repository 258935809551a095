#pragma once
// The --rmc, --zda, --date, --sky and --mask options shared by the commands that write
// NMEA files.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "nmea/dates.hpp"
#include "nmea/sky_sentences.hpp"

namespace trajix::cli {

struct DateOptions {
    bool rmc = false;
    bool zda = false;
    std::string date;  ///< YYYY-MM-DD as given; empty for today's UTC date
    std::string sky;   ///< almanac or RINEX navigation file; empty for none
    std::optional<double> mask;
};

inline void addDateOptions(CLI::App* sub, DateOptions& options)
{
    sub->add_flag("--rmc", options.rmc, "Write an RMC sentence (date, speed, course) with every sample");
    sub->add_flag("--zda", options.zda, "Write a ZDA sentence (date and time) on every whole second");
    sub->add_option("--date", options.date,
                    "Date of the first sample, YYYY-MM-DD (default: today's UTC date); the times then wrap at "
                    "midnight and the date advances. Needs --rmc, --zda or --sky");
    sub->add_option("--sky", options.sky,
                    "Satellites from a YUMA almanac or a RINEX 2/3 GPS navigation file: GGA's satellites and HDOP, "
                    "GSA with every sample and GSV every second from the sky at the file's date, time and place");
    sub->add_option("--mask", options.mask, "Elevation mask of --sky, degrees (default 5)");
}

/// The writers' date sentences from the options. Without --rmc, --zda and --sky the
/// file has no date (its times are printed as before, hours past 24 included); --date
/// alone and --mask without --sky are usage errors. Throws Error for a date that is not
/// a calendar date, lies before 1980-01-06 or after 2099, and for an unreadable --sky
/// file (what its reader skipped goes to stderr).
inline DateSentences dateSentences(const DateOptions& options)
{
    DateSentences sentences;
    sentences.rmc = options.rmc;
    sentences.zda = options.zda;
    if (options.mask && options.sky.empty()) throw CLI::ValidationError("--mask", "needs --sky");
    if (!options.rmc && !options.zda && options.sky.empty()) {
        if (!options.date.empty()) throw CLI::ValidationError("--date", "needs --rmc, --zda or --sky");
        return sentences;
    }
    sentences.date = options.date.empty() ? todayUtc() : parseFileDate(options.date);
    if (!options.sky.empty()) {
        auto model = skyModelFor(options.sky, *sentences.date);
        for (const std::string& note : model->skipped()) fmt::print(stderr, "trajix: {}: {}\n", options.sky, note);
        sentences.sky = std::move(model);
        sentences.maskDegrees = options.mask.value_or(5.0);
        checkDateSentences(sentences);
    }
    return sentences;
}

}  // namespace trajix::cli

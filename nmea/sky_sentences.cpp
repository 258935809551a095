#include "nmea/sky_sentences.hpp"

#include <algorithm>
#include <chrono>
#include <optional>
#include <cmath>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/picture.hpp"
#include "nmea/dates.hpp"
#include "nmea/sentences.hpp"

namespace trajix {

namespace {

constexpr double geoidSeparation = -21.3213;  // m, as every GGA of the tool says

std::string dopText(const std::optional<double>& dop)
{
    return dop ? formatPicture(*dop, "0.00") : std::string();
}

int rounded(double value, int low, int high)
{
    return static_cast<int>(std::clamp<long>(std::lround(value), low, high));
}

}  // namespace

std::string ggaSentence(std::string_view time, long double latitude, long double longitude, std::string_view altitude,
                        const sky::SkyView& view)
{
    const auto lat = formatNmeaLatitude(latitude);
    const auto lon = formatNmeaLongitude(longitude);
    return finishSentence(fmt::format("$GPGGA,{},{},{},{},{},1,{:02},{},{},M,-21.3213,M,,*", time, lat.text,
                                      lat.letter, lon.text, lon.letter, view.usedCount, dopText(view.hdop), altitude));
}

std::string gsaSentence(const sky::SkyView& view)
{
    std::string text = fmt::format("$GPGSA,A,{}", view.pdop ? 3 : 1);
    int fields = 0;
    for (const sky::SatelliteView& s : view.satellites)
        if (s.used && fields < 12) {
            text += fmt::format(",{:02}", s.prn);
            ++fields;
        }
    for (; fields < 12; ++fields) text += ',';
    text += fmt::format(",{},{},{}*", dopText(view.pdop), dopText(view.hdop), dopText(view.vdop));
    return finishSentence(text);
}

std::string gsvSentences(const sky::SkyView& view)
{
    const std::size_t count = view.satellites.size();
    const std::size_t total = std::max<std::size_t>(1, (count + 3) / 4);
    std::string out;
    for (std::size_t n = 0; n < total; ++n) {
        std::string text = fmt::format("$GPGSV,{},{},{:02}", total, n + 1, count);
        for (std::size_t k = 4 * n; k < std::min(count, 4 * n + 4); ++k) {
            const sky::SatelliteView& s = view.satellites[k];
            int azimuth = rounded(s.azimuth, 0, 360);
            if (azimuth == 360) azimuth = 0;
            text += fmt::format(",{:02},{:02},{:03},{:02}", s.prn, rounded(s.elevation, 0, 90), azimuth,
                                rounded(s.cn0, 0, 99));
        }
        out += finishSentence(text + "*");
    }
    return out;
}

SkySentences::SkySentences(std::shared_ptr<const sky::SkyModel> model, double maskDegrees)
    : model_(std::move(model)), mask_(maskDegrees)
{
    if (!model_) throw Error("the sky needs a satellites file");
}

long long SkySentences::gpsDay(const CalendarDate& date)
{
    using namespace std::chrono;
    const year_month_day ymd{year{date.year}, month{static_cast<unsigned>(date.month)},
                             day{static_cast<unsigned>(date.day)}};
    return (sys_days(ymd) - sys_days{year{1980} / January / 6}).count();
}

const sky::SkyView& SkySentences::observe(const NmeaStamp& stamp, long double latitude, long double longitude,
                                          std::string_view altitude)
{
    // The time the sentences print (hhmmss.ss...), so the sky belongs to the time a
    // reader of the file sees.
    long long hours = 0, minutes = 0;
    double seconds = 0;
    if (stamp.time.size() < 6 || !tryParseInteger(std::string_view(stamp.time).substr(0, 2), hours) ||
        !tryParseInteger(std::string_view(stamp.time).substr(2, 2), minutes) ||
        !tryParseDouble(std::string_view(stamp.time).substr(4), seconds))
        throw Error(fmt::format("the sky cannot read the time '{}'", stamp.time));
    const long long day = gpsDay(stamp.date);
    double height = 0;
    if (!tryParseDouble(altitude, height)) throw Error(fmt::format("the sky cannot read the altitude '{}'", altitude));
    if (!tracker_) {
        // GPS time runs ahead of UTC by the leap seconds of the first sample's week.
        const int week = static_cast<int>(day / 7);
        leapSeconds_ = gps::leapSecondsAtWeek(week);
        const double start = static_cast<double>((day - 7LL * week) * 86400 + hours * 3600 + minutes * 60 +
                                                 leapSeconds_) +
                             seconds;
        sky::SkyModel anchored = *model_;
        anchored.anchor(week, start);
        tracker_ = std::make_unique<sky::SkyTracker>(std::move(anchored), mask_);
    }
    // Seconds since the base week began, summed from whole seconds so no precision is lost.
    const long long wholeSeconds =
        (day - 7LL * tracker_->model().baseWeek()) * 86400 + hours * 3600 + minutes * 60 + leapSeconds_;
    const double t = static_cast<double>(wholeSeconds) + seconds;
    const Ecef receiver =
        geodeticToEcef(static_cast<double>(latitude), static_cast<double>(longitude), height + geoidSeparation);
    view_ = tracker_->at(t, receiver);
    return view_;
}

}  // namespace trajix

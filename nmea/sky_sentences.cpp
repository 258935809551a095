#include "nmea/sky_sentences.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/picture.hpp"
#include "nmea/dates.hpp"
#include "nmea/sentences.hpp"

namespace trajix {

namespace {

constexpr double geoidSeparation = -21.3213;  // m, as every GGA of the tool says

// Two-digit fields appended without formatting machinery: they are written for every
// sample.
void appendTwoDigits(std::string& text, int value)
{
    text += static_cast<char>('0' + value / 10 % 10);
    text += static_cast<char>('0' + value % 10);
}

}  // namespace

std::string formatDop(double value)
{
    if (!(value >= 0 && value < 1e12)) return formatPicture(value, "0.00");
    // value * 100 is exact in extended precision (53 + 7 bits), so the half is decided
    // on the exact binary value, away from zero, as the "0.00" picture does.
    const long double scaled = static_cast<long double>(value) * 100;
    long double whole = std::floor(scaled);
    if (scaled - whole >= 0.5L) whole += 1;
    const auto hundredths = static_cast<long long>(whole);
    std::string text = std::to_string(hundredths / 100);
    text += '.';
    appendTwoDigits(text, static_cast<int>(hundredths % 100));
    return text;
}

namespace {

std::string dopText(const std::optional<double>& dop)
{
    return dop ? formatDop(*dop) : std::string();
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
    return finishSentence(fmt::format("$GPGGA,{},{},{},{},{},1,{:02},{},{},M,-21.3213,M,,*", time, lat.text, lat.letter,
                                      lon.text, lon.letter, view.usedCount, dopText(view.hdop), altitude));
}

std::string gsaSentence(const sky::SkyView& view)
{
    return gsaSentence(view, dopText(view.pdop), dopText(view.hdop), dopText(view.vdop));
}

std::string gsaSentence(const sky::SkyView& view, std::string_view pdop, std::string_view hdop, std::string_view vdop)
{
    std::string text = view.pdop ? "$GPGSA,A,3" : "$GPGSA,A,1";
    int fields = 0;
    for (const sky::SatelliteView& s : view.satellites)
        if (s.used && fields < 12) {
            text += ',';
            appendTwoDigits(text, s.prn);
            ++fields;
        }
    for (; fields < 12; ++fields) text += ',';
    text += ',';
    text += pdop;
    text += ',';
    text += hdop;
    text += ',';
    text += vdop;
    text += '*';
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

std::shared_ptr<const sky::SkyModel> skyModelFor(const std::filesystem::path& file, const CalendarDate& date)
{
    const auto week = static_cast<int>(SkySentences::gpsDay(date) / 7);
    return std::make_shared<const sky::SkyModel>(sky::SkyModel::fromFile(file, week));
}

namespace {
CalendarDate dateOfGpsDay(long long day)
{
    using namespace std::chrono;
    const year_month_day ymd{sys_days{year{1980} / January / 6} + days{day}};
    return {static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
            static_cast<int>(static_cast<unsigned>(ymd.day()))};
}
}  // namespace

double firstSampleGpsTime(const CalendarDate& date, long double clock)
{
    const long long day = SkySentences::gpsDay(date);
    const int leap = gps::leapSecondsAtWeek(static_cast<int>(day / 7));
    return static_cast<double>(static_cast<long double>(day * 86400 + leap) + clock);
}

FileStart suggestedFileStart(const sky::SkyCoverage& coverage)
{
    // Back to UTC by the leap seconds of the day the start falls on, as the sky takes them.
    auto day = static_cast<long long>(std::floor(coverage.suggestedStart / 86400));
    const auto utcSecond = [&] {
        return coverage.suggestedStart - static_cast<double>(day) * 86400 -
               gps::leapSecondsAtWeek(static_cast<int>(day / 7));
    };
    double second = utcSecond();
    if (second < 0) {
        --day;
        second = utcSecond();
    }
    second = std::ceil(second);
    if (const double minute = std::ceil(second / 60) * 60;
        firstSampleGpsTime(dateOfGpsDay(day), minute) <= coverage.last)
        second = minute;
    if (second >= 86400) {
        second -= 86400;
        ++day;
    }
    return {dateOfGpsDay(day), static_cast<long long>(second)};
}

std::optional<CalendarDate> dateCoveringTimeOfDay(const sky::SkyCoverage& coverage, double gpsTime)
{
    // The time of day as the file prints it, taken back from GPS time by the leap
    // seconds of its own day.
    const auto day = static_cast<long long>(std::floor(gpsTime / 86400));
    const double clock = gpsTime - static_cast<double>(day) * 86400 - gps::leapSecondsAtWeek(static_cast<int>(day / 7));
    const auto first = static_cast<long long>(std::floor(coverage.first / 86400)) - 1;
    const auto last = static_cast<long long>(std::floor(coverage.last / 86400)) + 1;
    for (long long d = first; d <= last; ++d) {
        if (d < 0) continue;
        const CalendarDate date = dateOfGpsDay(d);
        const double t = firstSampleGpsTime(date, clock);
        if (t >= coverage.first && t <= coverage.last) return date;
    }
    return std::nullopt;
}

void checkSkyCoversStart(const sky::SkyModel& model, const CalendarDate& date, long double clock)
{
    // The sky checks each whole second it reaches, the first one's too.
    const double week0 = static_cast<double>(model.baseWeek()) * gps::secondsPerWeek;
    model.checkCovers(std::floor(firstSampleGpsTime(date, clock)) - week0);
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
    if (!tryParseDouble(altitude, height) || !std::isfinite(height))
        throw Error(fmt::format("the sky cannot read the altitude '{}'", altitude));
    if (!tracker_) {
        // GPS time runs ahead of UTC by the leap seconds of the first sample's week.
        const int week = static_cast<int>(day / 7);
        leapSeconds_ = gps::leapSecondsAtWeek(week);
        const double start =
            static_cast<double>((day - 7LL * week) * 86400 + hours * 3600 + minutes * 60 + leapSeconds_) + seconds;
        sky::SkyModel anchored = *model_;
        anchored.anchor(week, start);
        tracker_ = std::make_unique<sky::SkyTracker>(std::move(anchored), mask_);
    }
    // Seconds since the base week began, summed from whole seconds so no precision is lost.
    const long long wholeSeconds =
        (day - 7LL * tracker_->model().baseWeek()) * 86400 + hours * 3600 + minutes * 60 + leapSeconds_;
    const double t = static_cast<double>(wholeSeconds) + seconds;
    // The position matters only at the first sample of a second.
    const Ecef receiver =
        tracker_->needsReceiver(t)
            ? geodeticToEcef(static_cast<double>(latitude), static_cast<double>(longitude), height + geoidSeparation)
            : Ecef{};
    view_ = &tracker_->at(t, receiver, false);
    lastSecond_ = static_cast<long long>(std::floor(t));
    return *view_;
}

std::string SkySentences::gsa()
{
    if (!view_) return gsaSentence(empty_);
    const sky::SkyView& view = *view_;
    // Within a second the satellites in use stay; the sentence changes only with the
    // printed DOPs.
    std::string pdop = dopText(view.pdop), hdop = dopText(view.hdop), vdop = dopText(view.vdop);
    if (gsaSecond_ != lastSecond_ || pdop != gsaPdop_ || hdop != gsaHdop_ || vdop != gsaVdop_) {
        gsa_ = gsaSentence(view, pdop, hdop, vdop);
        gsaSecond_ = lastSecond_;
        gsaPdop_ = std::move(pdop);
        gsaHdop_ = std::move(hdop);
        gsaVdop_ = std::move(vdop);
    }
    return gsa_;
}

}  // namespace trajix

#include "nmea/dates.hpp"

#include <chrono>
#include <cmath>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/picture.hpp"
#include "common/units.hpp"
#include "nmea/sky_sentences.hpp"

namespace trajix {

namespace {

constexpr long double secondsPerDay = 86400;

std::chrono::year_month_day toChrono(const CalendarDate& date)
{
    return std::chrono::year_month_day{std::chrono::year{date.year},
                                       std::chrono::month{static_cast<unsigned>(date.month)},
                                       std::chrono::day{static_cast<unsigned>(date.day)}};
}

CalendarDate fromChrono(const std::chrono::year_month_day& date)
{
    return {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
            static_cast<int>(static_cast<unsigned>(date.day()))};
}

bool isCalendarDate(const CalendarDate& date)
{
    return date.month >= 1 && date.month <= 12 && date.day >= 1 && date.day <= 31 && date.year > -32767 &&
           date.year < 32767 && toChrono(date).ok();
}

long long dayNumber(const CalendarDate& date)
{
    return std::chrono::sys_days(toChrono(date)).time_since_epoch().count();
}

// The printed time and the day count of a clock, split at midnight.
std::pair<std::string, long long> splitAtMidnight(long double clock, int decimals)
{
    if (!std::isfinite(clock) || std::fabs(clock) > 1e15L) throw Error("cannot date a clock that is not finite");
    long double day = std::floor(clock / secondsPerDay);
    std::string time = formatNmeaTime(clock - day * secondsPerDay, decimals);
    // Only a carry from 23:59:59.995 and later prints hour 24.
    if (time.compare(0, 2, "24") == 0) {
        time.replace(0, 2, "00");
        day += 1;
    }
    return {time, static_cast<long long>(day)};
}

}  // namespace

void checkFileDate(const CalendarDate& date)
{
    if (!isCalendarDate(date)) throw Error(fmt::format("date {} is not a calendar date", formatIsoDate(date)));
    if (dayNumber(date) < dayNumber(firstFileDate))
        throw Error(fmt::format("date {} lies before {}, the start of GPS time", formatIsoDate(date),
                                formatIsoDate(firstFileDate)));
    if (dayNumber(date) > dayNumber(lastFileDate))
        throw Error(fmt::format("date {} lies after 2099", formatIsoDate(date)));
}

CalendarDate parseFileDate(std::string_view text)
{
    const std::string value(trimBlanks(text));
    CalendarDate date;
    try {
        date = parseIsoDate(value);
    } catch (const Error&) {
        throw Error(fmt::format("date '{}' is not a calendar date of the form YYYY-MM-DD", value));
    }
    checkFileDate(date);
    return date;
}

CalendarDate addDays(const CalendarDate& date, long long days)
{
    return fromChrono(std::chrono::year_month_day{std::chrono::sys_days(toChrono(date)) + std::chrono::days{days}});
}

std::string rmcSentence(std::string_view time, long double latitude, long double longitude, long double speedKmh,
                        long double course, const CalendarDate& date, VtgStyle style)
{
    const bool route = style == VtgStyle::Route;
    const auto lat = formatNmeaLatitude(latitude);
    const auto lon = formatNmeaLongitude(longitude);
    return finishSentence(
        fmt::format("$GPRMC,{},A,{},{},{},{},{},{},{:02}{:02}{:02},,,A*", time, lat.text, lat.letter, lon.text,
                    lon.letter, formatPicture(speedKmh / kmhPerKnot, route ? "000.000" : "##0.000"),
                    formatDirection(course, route ? "000.00" : "##0.00"), date.day, date.month, date.year % 100));
}

std::string rmcSentenceWithoutFix(std::string_view time, const CalendarDate& date)
{
    return finishSentence(
        fmt::format("$GPRMC,{},V,,,,,,,{:02}{:02}{:02},,,N*", time, date.day, date.month, date.year % 100));
}

std::string zdaSentence(std::string_view time, const CalendarDate& date)
{
    return finishSentence(fmt::format("$GPZDA,{},{:02},{:02},{:04},00,00*", time, date.day, date.month, date.year));
}

NmeaClock::NmeaClock(const CalendarDate& date, long double firstClock, int decimals)
    : dated_(true), decimals_(decimals), firstDate_(date), firstDay_(splitAtMidnight(firstClock, decimals).second)
{
    checkFileDate(date);
}

NmeaStamp NmeaClock::stamp(long double clock) const
{
    if (!dated_) return {formatNmeaTime(clock, decimals_), firstDate_};
    auto [time, day] = splitAtMidnight(clock, decimals_);
    return {std::move(time), addDays(firstDate_, day - firstDay_)};
}

void checkDateSentences(const DateSentences& options)
{
    if (options.date)
        checkFileDate(*options.date);
    else if (options.rmc || options.zda)
        throw Error("RMC and ZDA sentences need the date of the first sample");
    else if (options.sky)
        throw Error("the satellites need the date of the first sample");
    if (options.sky && !(options.maskDegrees >= 0 && options.maskDegrees < 90))
        throw Error(fmt::format("elevation mask {} is not an angle from 0 up to 90 degrees", options.maskDegrees));
    if (options.maxUsed < 0 || options.maxUsed > maxUsedLimit)
        throw Error(fmt::format("{} satellites in use is not a count from 1 up to {}", options.maxUsed, maxUsedLimit));
    if (options.sky) checkSkySystems(*options.sky, options.systems);
    if (options.street && !options.sky) throw Error("the buildings need the satellites of a sky file");
    if (options.receiverErrors && !options.sky) throw Error("the receiver's errors need the satellites of a sky file");
}

SampleSentences::SampleSentences(const DateSentences& options, long double firstClock, long double interval,
                                 VtgStyle style)
    : options_(options), style_(style), clock_(timeDecimalsForInterval(interval))
{
    checkDateSentences(options);
    if (options.date) clock_ = NmeaClock(*options.date, firstClock, timeDecimalsForInterval(interval));
    if (options.sky) {
        std::optional<sky::ReceiverErrorModel> errors;
        if (options.receiverErrors) {
            errors.emplace();
            errors->seed = options.seed;
        }
        sky_ = std::make_shared<SkySentences>(options.sky, options.maskDegrees, options.systems, options.maxUsed,
                                              options.street, errors);
        talker_ = options.systems.talker();
    }
}

std::string SampleSentences::talk(std::string sentence) const
{
    return talker_ == "GP" ? sentence : withTalker(std::move(sentence), talker_);
}

std::string SampleSentences::vtg(long double course, long double speedKmh) const
{
    return talk(vtgSentence(course, speedKmh, style_));
}

std::string SampleSentences::hdt(long double heading) const
{
    return talk(hdtSentence(heading));
}

bool SampleSentences::fixLost() const
{
    return sky_ && sky_->fixLost();
}

std::string SampleSentences::rmc(const NmeaStamp& stamp, long double latitude, long double longitude,
                                 long double speedKmh, long double course) const
{
    if (!options_.rmc) return {};
    if (sky_ && sky_->fixLost()) return talk(rmcSentenceWithoutFix(stamp.time, stamp.date));
    if (sky_) {
        const auto fix = sky_->receiverFix(latitude, longitude);
        latitude = fix.latitude;
        longitude = fix.longitude;
    }
    return talk(rmcSentence(stamp.time, latitude, longitude, speedKmh, course, stamp.date, style_));
}

std::string SampleSentences::zda(const NmeaStamp& stamp)
{
    if (!options_.zda) return {};
    // Day and hhmmss: a new second starts when they change.
    std::string second = formatIsoDate(stamp.date);
    second.append(stamp.time, 0, stamp.time.find('.'));
    if (second == lastSecond_) return {};
    lastSecond_ = std::move(second);
    return talk(zdaSentence(stamp.time, stamp.date));
}

std::string SampleSentences::gga(const NmeaStamp& stamp, long double latitude, long double longitude,
                                 std::string_view altitude, std::optional<double> heading)
{
    if (!sky_) return ggaSentence(stamp.time, latitude, longitude, altitude);
    const sky::SkyView& view = sky_->observe(stamp, latitude, longitude, altitude, heading);
    if (sky_->fixLost()) return talk(ggaSentenceWithoutFix(stamp.time, view));
    const auto fix = sky_->receiverFix(latitude, longitude, altitude);
    return talk(ggaSentence(stamp.time, fix.latitude, fix.longitude, fix.altitude, view));
}

std::string SampleSentences::gll(const NmeaStamp& stamp, long double latitude, long double longitude,
                                 std::string_view altitude, GllLayout layout, std::optional<double> heading)
{
    if (sky_) sky_->observe(stamp, latitude, longitude, altitude, heading);
    if (layout == GllLayout::Standard && sky_ && sky_->fixLost())
        return talk(finishSentence(fmt::format("$GPGLL,,,,,{},V,N*", stamp.time)));
    if (sky_) {
        const auto fix = sky_->receiverFix(latitude, longitude);
        latitude = fix.latitude;
        longitude = fix.longitude;
    }
    return talk(gllSentence(stamp.time, latitude, longitude, layout));
}

std::string SampleSentences::gsa() const
{
    return sky_ ? sky_->gsa() : std::string();
}

std::string SampleSentences::gsv(const NmeaStamp& stamp)
{
    if (!sky_) return {};
    // Compared field by field: this runs for every sample.
    if (stamp.date == lastSkyDate_ && stamp.time.compare(0, 6, lastSkySecond_) == 0) return {};
    lastSkyDate_ = stamp.date;
    lastSkySecond_.assign(stamp.time, 0, 6);
    return sky_->gsv();
}

}  // namespace trajix

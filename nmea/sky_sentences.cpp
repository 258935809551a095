#include "nmea/sky_sentences.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/picture.hpp"
#include "nmea/dates.hpp"
#include "nmea/sentences.hpp"
#include "street/street_sky.hpp"

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

namespace {

// The hundredths formatDop prints a DOP of 0 up to 1e12 with; -1 for other values (the
// picture prints those). Read from the double's bits: value = m * 2^e with an integer m
// of at most 53 bits, so 100 m stays an exact integer and the half is decided on the
// exact product, away from zero, as the "0.00" picture does. No floating-point rounding
// and no change of the FPU's rounding mode: this runs several times a sample.
long long dopHundredths(double value)
{
    if (!(value >= 0 && value < 1e12)) return -1;
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const auto field = static_cast<int>(bits >> 52);  // the sign bit is 0
    std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
    int e = -1074;  // subnormals
    if (field != 0) {
        m |= std::uint64_t{1} << 52;
        e = field - 1075;
    }
    const std::uint64_t scaled = m * 100;  // under 2^60
    if (e >= 0) return static_cast<long long>(scaled << e);
    const int shift = -e;
    if (shift > 61) return 0;  // under a hundredth's half
    return static_cast<long long>((scaled >> shift) + ((scaled >> (shift - 1)) & 1));
}

}  // namespace

std::string formatDop(double value)
{
    const long long hundredths = dopHundredths(value);
    if (hundredths < 0) return formatPicture(value, "0.00");
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

// fmt's "{:0W}" of an integer (W = width), written without it: the GSV and GSA fields
// of every second of a file of several systems.
void appendNumber(std::string& text, long long value, int width)
{
    if (value < 0) {
        text += fmt::format("{:0{}}", value, width);
        return;
    }
    char digits[24];
    int size = 0;
    do {
        digits[size++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (int pad = size; pad < width; ++pad) text += '0';
    while (size > 0) text += digits[--size];
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

std::string ggaSentenceWithoutFix(std::string_view time, const sky::SkyView& view)
{
    return finishSentence(fmt::format("$GPGGA,{},,,,,0,{:02},,,M,,M,,*", time, view.usedCount));
}

std::string gsaSentence(const sky::SkyView& view)
{
    return gsaSentence(view, dopText(view.pdop), dopText(view.hdop), dopText(view.vdop));
}

namespace {

// The GSA sentences of the satellites of one system in use (all of them when system is
// empty), twelve to a sentence; with an ID, NMEA 4.11's system ID after the DOPs.
void appendGsa(std::string& out, const sky::SkyView& view, std::string_view talker,
               std::optional<sky::GnssSystem> system, std::string_view pdop, std::string_view hdop,
               std::string_view vdop)
{
    std::string text;
    int fields = 0;
    const auto start = [&] {
        fields = 0;
        text = '$';
        text += talker;
        text += view.pdop ? "GSA,A,3" : "GSA,A,1";
    };
    const auto finish = [&] {
        for (; fields < 12; ++fields) text += ',';
        text += ',';
        text += pdop;
        text += ',';
        text += hdop;
        text += ',';
        text += vdop;
        if (system) {
            text += ',';
            appendNumber(text, sky::nmeaSystemId(*system), 1);
        }
        text += '*';
        finishSentenceInPlace(text);
        out += text;
    };
    start();
    for (const sky::SatelliteView& s : view.satellites) {
        if (!s.used || (system && s.system != *system)) continue;
        if (fields == 12) {
            finish();
            start();
        }
        text += ',';
        appendTwoDigits(text, nmeaSatelliteNumber(s.system, s.prn));
        ++fields;
    }
    finish();
}

// The GSV sentences of the satellites [first, last) of the view, from talker, with the
// signal ID last when there is one.
void appendGsv(std::string& out, const sky::SkyView& view, std::size_t first, std::size_t last, std::string_view talker,
               std::optional<int> signalId)
{
    const std::size_t count = last - first;
    const std::size_t total = std::max<std::size_t>(1, (count + 3) / 4);
    std::string text;
    for (std::size_t n = 0; n < total; ++n) {
        text = '$';
        text += talker;
        text += "GSV,";
        appendNumber(text, static_cast<long long>(total), 1);
        text += ',';
        appendNumber(text, static_cast<long long>(n + 1), 1);
        text += ',';
        appendNumber(text, static_cast<long long>(count), 2);
        for (std::size_t k = first + 4 * n; k < std::min(last, first + 4 * n + 4); ++k) {
            const sky::SatelliteView& s = view.satellites[k];
            int azimuth = rounded(s.azimuth, 0, 360);
            if (azimuth == 360) azimuth = 0;
            text += ',';
            appendNumber(text, nmeaSatelliteNumber(s.system, s.prn), 2);
            text += ',';
            appendNumber(text, rounded(s.elevation, 0, 90), 2);
            text += ',';
            appendNumber(text, azimuth, 3);
            text += ',';
            // A satellite the street hides is listed with an empty SNR.
            if (std::isfinite(s.cn0)) appendNumber(text, rounded(s.cn0, 0, 99), 2);
        }
        if (signalId) {
            text += ',';
            appendNumber(text, *signalId, 1);
        }
        text += '*';
        finishSentenceInPlace(text);
        out += text;
    }
}

}  // namespace

std::string gsaSentence(const sky::SkyView& view, std::string_view pdop, std::string_view hdop, std::string_view vdop)
{
    std::string out;
    appendGsa(out, view, "GP", std::nullopt, pdop, hdop, vdop);
    return out;
}

std::string gsaSentences(const sky::SkyView& view, const NmeaSystems& systems, std::string_view pdop,
                         std::string_view hdop, std::string_view vdop)
{
    if (systems.gpsOnly()) return gsaSentence(view, pdop, hdop, vdop);
    std::string out;
    for (const sky::GnssSystem system : systems.list())
        appendGsa(out, view, sky::talker(system), system, pdop, hdop, vdop);
    return out;
}

std::string gsvSentences(const sky::SkyView& view)
{
    std::string out;
    appendGsv(out, view, 0, view.satellites.size(), "GP", std::nullopt);
    return out;
}

std::string gsvSentences(const sky::SkyView& view, const NmeaSystems& systems)
{
    if (systems.gpsOnly()) return gsvSentences(view);
    std::string out;
    for (const sky::GnssSystem system : systems.list()) {
        // The view lists each system's satellites together.
        const auto first = std::find_if(view.satellites.begin(), view.satellites.end(),
                                        [&](const sky::SatelliteView& s) { return s.system == system; });
        const auto last =
            std::find_if(first, view.satellites.end(), [&](const sky::SatelliteView& s) { return s.system != system; });
        appendGsv(out, view, static_cast<std::size_t>(first - view.satellites.begin()),
                  static_cast<std::size_t>(last - view.satellites.begin()), sky::talker(system), nmeaSignalId(system));
    }
    return out;
}

void checkSkySystems(const sky::SkyModel& model, const NmeaSystems& systems)
{
    std::vector<std::string> missing;
    for (const sky::GnssSystem system : systems.list()) {
        bool found = false;
        for (std::size_t i = 0; i < model.size() && !found; ++i) found = model.system(i) == system;
        if (!found) missing.emplace_back(sky::displayName(system));
    }
    if (missing.empty()) return;
    std::string names = missing.front();
    for (std::size_t k = 1; k < missing.size(); ++k) names += (k + 1 == missing.size() ? " or " : ", ") + missing[k];
    throw Error(fmt::format("'{}' holds no {} satellite", model.source(), names));
}

SkySentences::SkySentences(std::shared_ptr<const sky::SkyModel> model, double maskDegrees, NmeaSystems systems,
                           int maxUsed, std::shared_ptr<const street::StreetModel> street,
                           std::optional<sky::ReceiverErrorModel> errors)
    : model_(std::move(model)),
      mask_(maskDegrees),
      systems_(std::move(systems)),
      maxUsed_(maxUsed > 0 ? maxUsed : systems_.defaultMaxUsed()),
      street_(std::move(street)),
      errors_(errors)
{
    if (!model_) throw Error("the sky needs a satellites file");
}

std::shared_ptr<const sky::SkyModel> skyModelFor(const std::filesystem::path& file, const CalendarDate& date,
                                                 const NmeaSystems& systems)
{
    const auto week = static_cast<int>(SkySentences::gpsDay(date) / 7);
    return std::make_shared<const sky::SkyModel>(sky::SkyModel::fromFile(file, week, systems.set()));
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
                                          std::string_view altitude, std::optional<double> heading)
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
        tracker_ = std::make_unique<sky::SkyTracker>(std::move(anchored), mask_, maxUsed_);
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
    if (street_) view_ = &streetView(*view_, static_cast<double>(latitude), static_cast<double>(longitude), heading);
    if (errors_ && (lastSecond_ != errorSecond_ || streetCovered_ != errorCovered_)) {
        errorSecond_ = lastSecond_;
        errorCovered_ = streetCovered_;
        solveReceiver(static_cast<double>(latitude), static_cast<double>(longitude), height + geoidSeparation);
    }
    return *view_;
}

void SkySentences::solveReceiver(double latitude, double longitude, double height)
{
    const sky::SkyModel& model = tracker_->model();
    if (satelliteIndex_.empty())
        for (std::size_t i = 0; i < model.size(); ++i) satelliteIndex_[{model.system(i), model.prn(i)}] = i;
    const Ecef truth = geodeticToEcef(latitude, longitude, height);
    // The signals of the satellites in use, two GLONASS ones at a time (their orbits
    // integrated side by side, bit for bit as one by one).
    const auto at = static_cast<double>(lastSecond_);
    std::vector<std::size_t> indexes(view_->satellites.size(), model.size());
    std::vector<std::optional<sky::Signal>> signals(view_->satellites.size());
    const std::size_t none = view_->satellites.size();
    std::size_t waiting = none;  // a GLONASS satellite waiting for its pair
    for (std::size_t i = 0; i < view_->satellites.size(); ++i) {
        const sky::SatelliteView& s = view_->satellites[i];
        if (!s.used) continue;
        const auto index = satelliteIndex_.find({s.system, s.prn});
        if (index == satelliteIndex_.end()) continue;
        indexes[i] = index->second;
        if (s.system != sky::GnssSystem::glonass) {
            signals[i] = model.signalAt(index->second, at, truth);
        } else if (waiting != none) {
            auto pair = model.signalsAt(indexes[waiting], index->second, at, truth);
            signals[waiting] = std::move(pair[0]);
            signals[i] = std::move(pair[1]);
            waiting = none;
        } else {
            waiting = i;
        }
    }
    if (waiting != none) signals[waiting] = model.signalAt(indexes[waiting], at, truth);
    std::vector<sky::TrackedSatellite> tracked;
    for (std::size_t i = 0; i < view_->satellites.size(); ++i) {
        const sky::SatelliteView& s = view_->satellites[i];
        const auto& signal = signals[i];
        if (!signal) continue;
        sky::TrackedSatellite t{s.system, s.prn, signal->position, s.cn0};
        if (street_ && i < streetSeen_.size() && streetSeen_[i].reflection) {
            const street::Reflection& path = *streetSeen_[i].reflection;
            if (streetSeen_[i].reception == street::Reception::reflected) {
                t.reflected = path.extraPath;
            } else {
                t.echoPath = path.extraPath;
                t.echoLossDb = path.lossDb;
            }
        }
        tracked.push_back(t);
    }
    const long long second = static_cast<long long>(model.baseWeek()) * 604800 + lastSecond_;
    error_ = {0, 0, 0};
    const auto solution = sky::receiverSolution(tracked, truth, *errors_, second);
    if (!solution) return;
    const sky::ReceiverFrame frame = sky::receiverFrame(truth);
    const double dx = solution->position.x - truth.x, dy = solution->position.y - truth.y,
                 dz = solution->position.z - truth.z;
    error_ = {dx * frame.eastX + dy * frame.eastY, dx * frame.northX + dy * frame.northY + dz * frame.northZ,
              dx * frame.upX + dy * frame.upY + dz * frame.upZ};
}

SkySentences::ReceiverFix SkySentences::receiverFix(long double latitude, long double longitude,
                                                    std::string_view altitude) const
{
    ReceiverFix fix{latitude, longitude, std::string(altitude)};
    if (!errors_ || error_ == std::array<double, 3>{}) return fix;
    double height = 0;
    const bool haveHeight = !altitude.empty() && tryParseDouble(altitude, height);
    // Metres to degrees by the ellipsoid's radii of curvature at the true position.
    constexpr double a = 6378137.0, e2 = 6.69437999014e-3;
    const double phi = static_cast<double>(latitude) * std::numbers::pi / 180;
    const double w = std::sqrt(1 - e2 * std::sin(phi) * std::sin(phi));
    const double h = height + geoidSeparation;
    const double meridian = a * (1 - e2) / (w * w * w) + h, normal = a / w + h;
    fix.latitude += static_cast<long double>(error_[1] / meridian * 180 / std::numbers::pi);
    fix.longitude += static_cast<long double>(error_[0] / (normal * std::cos(phi)) * 180 / std::numbers::pi);
    if (haveHeight) {
        // As many decimals as the writer's own text.
        const auto point = altitude.find('.');
        const int decimals = point == std::string_view::npos ? 0 : static_cast<int>(altitude.size() - point - 1);
        fix.altitude = fmt::format("{:.{}f}", height + error_[2], decimals);
    }
    return fix;
}

const sky::SkyView& SkySentences::streetView(const sky::SkyView& open, double latitude, double longitude,
                                             std::optional<double> heading)
{
    // The satellites and their angles stay those of the second's start within a second
    // (the sky's own rule), and so does what the buildings do to them; a tunnel counts
    // from the sample that enters it.
    const street::Place place = street_->place(latitude, longitude, heading);
    if (lastSecond_ != streetSecond_ || place.covered != streetCovered_) {
        streetSecond_ = lastSecond_;
        streetCovered_ = place.covered;
        streetView_ = open;
        streetSeen_ = street::receptionsOf(*street_, place, streetView_);
        street::applyReceptions(streetView_, streetSeen_, maxUsed_);
        streetChangedUse_ = false;
        for (std::size_t i = 0; i < open.satellites.size(); ++i)
            streetChangedUse_ |= open.satellites[i].used != streetView_.satellites[i].used;
    }
    // The same satellites in use: the sky's DOPs, moving smoothly within the second.
    if (!streetChangedUse_) {
        streetView_.pdop = open.pdop;
        streetView_.hdop = open.hdop;
        streetView_.vdop = open.vdop;
    }
    return streetView_;
}

std::string SkySentences::gsa()
{
    if (!view_) return gsaSentences(empty_, systems_, "", "", "");
    const sky::SkyView& view = *view_;
    // Within a second the satellites in use stay; the sentence changes only with the
    // printed DOPs, which are a function of their hundredths: while those stay, so does
    // the sentence, and the DOPs need not be printed to tell.
    const auto key = [](const std::optional<double>& dop) { return dop ? dopHundredths(*dop) : -2; };
    const std::array<long long, 3> keys{key(view.pdop), key(view.hdop), key(view.vdop)};
    if (gsaSecond_ == lastSecond_ && gsaCovered_ == streetCovered_ && keys == gsaKeys_ && keys[0] != -1 &&
        keys[1] != -1 && keys[2] != -1)
        return gsa_;
    gsaKeys_ = keys;
    std::string pdop = dopText(view.pdop), hdop = dopText(view.hdop), vdop = dopText(view.vdop);
    // A tunnel entered or left within a second changes the satellites in use.
    if (gsaSecond_ != lastSecond_ || pdop != gsaPdop_ || hdop != gsaHdop_ || vdop != gsaVdop_ ||
        gsaCovered_ != streetCovered_) {
        gsaCovered_ = streetCovered_;
        gsa_ = gsaSentences(view, systems_, pdop, hdop, vdop);
        gsaSecond_ = lastSecond_;
        gsaPdop_ = std::move(pdop);
        gsaHdop_ = std::move(hdop);
        gsaVdop_ = std::move(vdop);
    }
    return gsa_;
}

std::string SkySentences::gsv() const
{
    return gsvSentences(view(), systems_);
}

}  // namespace trajix

#include "sky/rinex_navigation.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/text_lines.hpp"
#include "sky/broadcast_fields.hpp"

namespace trajix {

namespace {

constexpr std::uintmax_t largestFile = 256u << 20;  // bytes; daily merged files are a few MB

// Header labels sit in columns 61-80.
std::string_view labelOf(std::string_view line)
{
    if (line.size() <= 60) return {};
    return trimBlanks(line.substr(60));
}

// Columns first..last (1-based, inclusive) of a line; columns past its end are blank.
std::string_view columns(std::string_view line, std::size_t first, std::size_t last)
{
    if (line.size() < first) return {};
    return line.substr(first - 1, std::min(line.size(), last) - (first - 1));
}

class Reader {
public:
    Reader(std::string_view text, std::string source) : source_(std::move(source)), lines_(textLines(text)) {}

    RinexNavigation read()
    {
        readHeader();
        readRecords();
        return finish();
    }

private:
    [[noreturn]] void fail(std::size_t index, const std::string& what) const
    {
        throw Error(fmt::format("'{}' line {}: {}", source_, index + 1, what));
    }

    // A number of a Fortran D or E field; blank gives nullopt.
    std::optional<double> number(std::size_t index, std::string_view field, std::string_view name) const
    {
        const std::string_view text = trimBlanks(field);
        if (text.empty()) return std::nullopt;
        std::string value(text);
        for (char& c : value)
            if (c == 'D' || c == 'd') c = 'E';
        double result = 0;
        if (!tryParseDouble(value, result) || !std::isfinite(result))
            fail(index, fmt::format("{} '{}' is not a number", name, visibleText(text)));
        return result;
    }

    double required(std::size_t index, std::string_view field, std::string_view name) const
    {
        const auto value = number(index, field, name);
        if (!value) fail(index, fmt::format("{} is missing", name));
        return *value;
    }

    int integer(std::size_t index, std::string_view field, std::string_view name, long long low, long long high) const
    {
        const std::string_view text = trimBlanks(field);
        long long value = 0;
        if (!tryParseInteger(text, value) || value < low || value > high)
            fail(index, fmt::format("{} '{}' is not a whole number from {} to {}", name, visibleText(text), low, high));
        return static_cast<int>(value);
    }

    void readHeader()
    {
        if (lines_.empty() || labelOf(lines_[0]) != "RINEX VERSION / TYPE")
            throw Error(
                fmt::format("'{}' is not a RINEX file: its first line has no \"RINEX VERSION / TYPE\"", source_));
        const std::string_view first = lines_[0];
        result_.version = std::string(trimBlanks(columns(first, 1, 9)));
        const double version = required(0, columns(first, 1, 9), "RINEX version");
        if (version < 2 || version >= 4)
            fail(0, fmt::format("RINEX version {} is not read here (versions 2 and 3 are)", result_.version));
        major_ = static_cast<int>(version);
        const std::string_view type = trimBlanks(columns(first, 21, 21));
        const std::string_view system = trimBlanks(columns(first, 41, 41));
        if (type != "N")
            fail(0, fmt::format("'{}' is not a GPS navigation file (file type '{}')", source_, visibleText(type)));
        if (major_ == 3 && !system.empty() && system != "G" && system != "M")
            fail(0, fmt::format("'{}' holds no GPS record (satellite system '{}')", source_, visibleText(system)));

        std::optional<std::array<double, 4>> alpha, beta;
        std::optional<long long> utcWeekWritten;
        for (std::size_t i = 1; i < lines_.size(); ++i) {
            const std::string_view line = lines_[i];
            const std::string_view label = labelOf(line);
            if (label == "END OF HEADER") {
                body_ = i + 1;
                if (alpha && beta) result_.ionosphere = RinexIonosphere{*alpha, *beta};
                utcWeekWritten_ = utcWeekWritten;
                return;
            }
            const auto four = [&](std::size_t firstColumn) {
                std::array<double, 4> values{};
                for (std::size_t k = 0; k < 4; ++k)
                    values[k] = number(i, columns(line, firstColumn + 12 * k, firstColumn + 12 * k + 11),
                                       "ionosphere coefficient")
                                    .value_or(0.0);
                return values;
            };
            if (label == "ION ALPHA") {
                alpha = four(3);
            } else if (label == "ION BETA") {
                beta = four(3);
            } else if (label == "IONOSPHERIC CORR") {
                const std::string_view kind = trimBlanks(columns(line, 1, 4));
                if (kind == "GPSA") alpha = four(6);
                if (kind == "GPSB") beta = four(6);
            } else if (label == "DELTA-UTC: A0,A1,T,W") {
                RinexUtc utc;
                utc.a0 = required(i, columns(line, 4, 22), "A0");
                utc.a1 = required(i, columns(line, 23, 41), "A1");
                utc.referenceTime = integer(i, columns(line, 42, 50), "T", 0, gps::secondsPerWeek);
                utcWeekWritten = integer(i, columns(line, 51, 59), "W", 0, 100000);
                result_.utc = utc;
            } else if (label == "TIME SYSTEM CORR" && trimBlanks(columns(line, 1, 4)) == "GPUT") {
                RinexUtc utc;
                utc.a0 = required(i, columns(line, 6, 22), "A0");
                utc.a1 = required(i, columns(line, 23, 38), "A1");
                utc.referenceTime = integer(i, columns(line, 39, 45), "T", 0, gps::secondsPerWeek);
                utcWeekWritten = integer(i, columns(line, 46, 50), "W", 0, 100000);
                result_.utc = utc;
            } else if (label == "LEAP SECONDS") {
                result_.leapSeconds = integer(i, columns(line, 1, 6), "leap seconds", -100, 1000);
            }
        }
        throw Error(fmt::format("'{}' has no \"END OF HEADER\" line", source_));
    }

    // Days since 1980-01-06 of a calendar date, or fail.
    long long gpsDay(std::size_t index, int year, int month, int day) const
    {
        using namespace std::chrono;
        const year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                  std::chrono::day{static_cast<unsigned>(day)}};
        if (!date.ok()) fail(index, fmt::format("{:04}-{:02}-{:02} is not a date", year, month, day));
        const long long days =
            (sys_days(date) - sys_days(year_month_day{std::chrono::year{1980}, January, std::chrono::day{6}})).count();
        if (days < 0) fail(index, fmt::format("{:04}-{:02}-{:02} lies before GPS time began", year, month, day));
        return days;
    }

    void readRecords()
    {
        std::size_t i = body_;
        while (i < lines_.size()) {
            const std::string_view line = lines_[i];
            if (trimBlanks(line).empty()) {
                ++i;
                continue;
            }
            char system = 'G';
            if (major_ == 3) {
                system = line[0];
                static constexpr std::string_view known = "GRESCJI";
                if (known.find(system) == std::string_view::npos)
                    fail(i, fmt::format("'{}' does not begin a navigation record", visibleText(line.substr(0, 3))));
            }
            const std::size_t orbitLines = (system == 'R' || system == 'S') ? 3 : 7;
            if (i + orbitLines >= lines_.size())
                fail(i, fmt::format("the record is cut short: it needs {} lines, the file ends after {}",
                                    orbitLines + 1, lines_.size() - i));
            if (system != 'G') {
                ++otherSystems_[system];
                i += orbitLines + 1;
                continue;
            }
            readGpsRecord(i);
            i += orbitLines + 1;
        }
    }

    void readGpsRecord(std::size_t i)
    {
        const std::string_view first = lines_[i];
        RinexEphemeris r;
        r.line = static_cast<long long>(i + 1);
        int year = 0, month = 0, day = 0, hour = 0, minute = 0;
        double second = 0;
        std::array<std::string_view, 3> clock;
        // Continuation lines: four fields of 19 columns after 3 (version 2) or 4 blanks.
        const std::size_t orbitStart = major_ == 2 ? 4 : 5;
        if (major_ == 2) {
            r.prn = integer(i, columns(first, 1, 2), "PRN", 0, 99);
            const int twoDigitYear = integer(i, columns(first, 3, 5), "year", 0, 99);
            year = twoDigitYear < 80 ? 2000 + twoDigitYear : 1900 + twoDigitYear;
            month = integer(i, columns(first, 6, 8), "month", 1, 12);
            day = integer(i, columns(first, 9, 11), "day", 1, 31);
            hour = integer(i, columns(first, 12, 14), "hour", 0, 23);
            minute = integer(i, columns(first, 15, 17), "minute", 0, 59);
            second = required(i, columns(first, 18, 22), "second");
            clock = {columns(first, 23, 41), columns(first, 42, 60), columns(first, 61, 79)};
        } else {
            r.prn = integer(i, columns(first, 2, 3), "PRN", 0, 99);
            year = integer(i, columns(first, 5, 8), "year", 1980, 9999);
            month = integer(i, columns(first, 10, 11), "month", 1, 12);
            day = integer(i, columns(first, 13, 14), "day", 1, 31);
            hour = integer(i, columns(first, 16, 17), "hour", 0, 23);
            minute = integer(i, columns(first, 19, 20), "minute", 0, 59);
            second = integer(i, columns(first, 22, 23), "second", 0, 60);
            clock = {columns(first, 24, 42), columns(first, 43, 61), columns(first, 62, 80)};
        }
        if (second < 0 || second >= 61) fail(i, fmt::format("second {} is out of range", second));
        r.af0 = required(i, clock[0], "af0");
        r.af1 = required(i, clock[1], "af1");
        r.af2 = required(i, clock[2], "af2");

        // Broadcast orbits 1 to 7: four values each; v[k][j] is value j of orbit line k.
        std::array<std::array<std::optional<double>, 4>, 7> v;
        static constexpr std::array<std::array<const char*, 4>, 7> names{{
            {"IODE", "Crs", "Delta n", "M0"},
            {"Cuc", "e", "Cus", "sqrt(A)"},
            {"Toe", "Cic", "OMEGA0", "Cis"},
            {"i0", "Crc", "omega", "OMEGA DOT"},
            {"IDOT", "L2 codes", "GPS week", "L2 P flag"},
            {"SV accuracy", "SV health", "TGD", "IODC"},
            {"transmission time", "fit interval", "spare", "spare"},
        }};
        for (std::size_t k = 0; k < 7; ++k) {
            const std::string_view line = lines_[i + 1 + k];
            for (std::size_t j = 0; j < 4; ++j) {
                const std::size_t from = orbitStart + 19 * j;
                v[k][j] = number(i + 1 + k, columns(line, from, from + 18), names[k][j]);
            }
        }
        // The values a receiver cannot do without; the others may be blank.
        for (std::size_t k = 0; k < 6; ++k)
            for (std::size_t j = 0; j < 4; ++j) {
                const bool optional = (k == 4 && (j == 1 || j == 3)) || (k == 5 && j == 3);
                if (!optional && !v[k][j]) fail(i + 1 + k, fmt::format("{} is missing", names[k][j]));
            }

        const long long days = gpsDay(i, year, month, day);
        r.tocWeek = static_cast<int>(days / 7);
        r.toc = static_cast<double>(days % 7) * 86400 + hour * 3600 + minute * 60 + second;

        const double iode = *v[0][0];
        r.crs = *v[0][1];
        r.deltaN = *v[0][2];
        r.m0 = *v[0][3];
        r.cuc = *v[1][0];
        r.eccentricity = *v[1][1];
        r.cus = *v[1][2];
        r.sqrtA = *v[1][3];
        r.toe = *v[2][0];
        r.cic = *v[2][1];
        r.omega0 = *v[2][2];
        r.cis = *v[2][3];
        r.i0 = *v[3][0];
        r.crc = *v[3][1];
        r.omega = *v[3][2];
        r.omegaDot = *v[3][3];
        r.idot = *v[4][0];
        const double week = *v[4][2];
        r.uraMetres = *v[5][0];
        const double health = *v[5][1];
        r.tgd = *v[5][2];
        const double iodc = v[5][3].value_or(iode);
        r.transmissionTime = v[6][0];
        const double fit = v[6][1].value_or(0.0);
        r.fitHours = fit < 4 ? 4 : fit;

        const auto wholeIn = [&](double value, double low, double high, std::size_t line, const char* name) {
            if (value != std::trunc(value) || value < low || value > high)
                fail(line, fmt::format("{} {} is not a whole number from {} to {}", name, value, low, high));
            return static_cast<int>(value);
        };
        r.iode = wholeIn(iode, 0, 1023, i + 1, "IODE");
        r.iodc = wholeIn(iodc, 0, 1023, i + 6, "IODC");
        r.health = wholeIn(health, 0, 63, i + 6, "SV health");
        const int writtenWeek = wholeIn(week, 0, 100000, i + 5, "GPS week");
        if (!(r.toe >= 0 && r.toe < gps::secondsPerWeek))
            fail(i + 3, fmt::format("Toe {} is not a time of week (0 to 604800 s)", r.toe));
        if (!(r.fitHours <= 1000)) fail(i + 7, fmt::format("fit interval {} h is out of range", r.fitHours));
        // The week as written may be continuous or modulo 1024: the full week congruent
        // to it nearest the week of the record's own date.
        r.week = nearestCongruentWeek(writtenWeek, r.tocWeek);
        r.uraIndex = uraIndexOf(r.uraMetres);

        if (r.prn < 1 || r.prn > 32) {
            result_.skipped.push_back(
                fmt::format("line {}: G{:02} is not a GPS PRN from 1 to 32; record skipped", r.line, r.prn));
            return;
        }
        if (const std::string misfit = broadcastMisfit(r); !misfit.empty()) {
            result_.skipped.push_back(fmt::format("line {}: G{:02} record skipped: {}", r.line, r.prn, misfit));
            return;
        }
        result_.ephemerides.push_back(r);
    }

    static int nearestCongruentWeek(int written, int near)
    {
        const int base = written % 1024;
        int best = base;
        for (int candidate = base; candidate <= near + 1024; candidate += 1024)
            if (std::abs(candidate - near) < std::abs(best - near)) best = candidate;
        return best;
    }

    // Why a record cannot be broadcast as it stands, or "" when it can.
    static std::string broadcastMisfit(const RinexEphemeris& r)
    {
        using gps::semicircle;
        using gps::twoToThe;
        struct Field {
            const char* name;
            double value;
            double scale;
            int bits;
            bool isSigned;
        };
        const Field fields[] = {
            {"sqrt(A)", r.sqrtA, twoToThe(-19), 32, false},
            {"e", r.eccentricity, twoToThe(-33), 32, false},
            {"M0", r.m0 / semicircle, twoToThe(-31), 32, true},
            {"OMEGA0", r.omega0 / semicircle, twoToThe(-31), 32, true},
            {"i0", r.i0 / semicircle, twoToThe(-31), 32, true},
            {"omega", r.omega / semicircle, twoToThe(-31), 32, true},
            {"OMEGA DOT", r.omegaDot / semicircle, twoToThe(-43), 24, true},
            {"IDOT", r.idot / semicircle, twoToThe(-43), 14, true},
            {"Delta n", r.deltaN / semicircle, twoToThe(-43), 16, true},
            {"Crs", r.crs, twoToThe(-5), 16, true},
            {"Crc", r.crc, twoToThe(-5), 16, true},
            {"Cus", r.cus, twoToThe(-29), 16, true},
            {"Cuc", r.cuc, twoToThe(-29), 16, true},
            {"Cis", r.cis, twoToThe(-29), 16, true},
            {"Cic", r.cic, twoToThe(-29), 16, true},
            {"af0", r.af0, twoToThe(-31), 22, true},
            {"af1", r.af1, twoToThe(-43), 16, true},
            {"af2", r.af2, twoToThe(-55), 8, true},
            {"TGD", r.tgd, twoToThe(-31), 8, true},
        };
        for (const Field& f : fields) {
            const double scaled = std::round(f.value / f.scale);
            const double high = f.isSigned ? twoToThe(f.bits - 1) - 1 : twoToThe(f.bits) - 1;
            const double low = f.isSigned ? -twoToThe(f.bits - 1) : 0;
            if (!(scaled >= low && scaled <= high))
                return fmt::format("{} {} does not fit its broadcast field", f.name, f.value);
        }
        if (!(r.sqrtA >= 1000)) return fmt::format("sqrt(A) {} is no orbit of a GPS satellite", r.sqrtA);
        if (std::fmod(r.toe, 16) != 0) return fmt::format("Toe {} is not a multiple of 16 s", r.toe);
        return {};
    }

    RinexNavigation finish()
    {
        static const std::map<char, const char*> systemNames{{'R', "GLONASS"}, {'E', "Galileo"}, {'S', "SBAS"},
                                                             {'C', "BeiDou"},  {'J', "QZSS"},    {'I', "IRNSS"}};
        for (const auto& [system, count] : otherSystems_)
            result_.skipped.push_back(fmt::format("{} {} record{} skipped (only GPS is read)", count,
                                                  systemNames.at(system), count == 1 ? "" : "s"));
        if (result_.ephemerides.empty()) throw Error(fmt::format("'{}' holds no usable GPS ephemeris record", source_));
        std::stable_sort(result_.ephemerides.begin(), result_.ephemerides.end(),
                         [](const RinexEphemeris& a, const RinexEphemeris& b) {
                             if (a.prn != b.prn) return a.prn < b.prn;
                             return a.toeSeconds() < b.toeSeconds();
                         });
        if (result_.utc && utcWeekWritten_)
            result_.utc->referenceWeek =
                nearestCongruentWeek(static_cast<int>(*utcWeekWritten_), result_.ephemerides.front().week);
        return std::move(result_);
    }

    std::string source_;
    std::vector<std::string_view> lines_;
    std::size_t body_ = 0;
    int major_ = 2;
    std::optional<long long> utcWeekWritten_;
    std::map<char, long long> otherSystems_;
    RinexNavigation result_;
};

}  // namespace

bool looksLikeRinex(std::string_view text)
{
    const std::size_t end = text.find('\n');
    std::string_view first = text.substr(0, end == std::string_view::npos ? text.size() : end);
    if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
    return labelOf(first) == "RINEX VERSION / TYPE";
}

RinexNavigation parseRinexNavigation(std::string_view text, const std::string& source)
{
    return Reader(text, source).read();
}

RinexNavigation readRinexNavigation(const std::filesystem::path& file)
{
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec))
        throw Error(fmt::format("cannot read '{}': it is a directory", file.string()));
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Error(fmt::format("cannot open the navigation file '{}'", file.string()));
    const auto size = std::filesystem::file_size(file, ec);
    if (!ec && size > largestFile)
        throw Error(fmt::format("'{}' is too large for a navigation file ({} bytes)", file.string(), size));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw Error(fmt::format("cannot read the navigation file '{}'", file.string()));
    return parseRinexNavigation(text.str(), file.string());
}

int uraIndexOf(double metres)
{
    static constexpr std::array<double, 15> limits{2.4, 3.4, 4.85, 6.85, 9.65, 13.65, 24,  48,
                                                   96,  192, 384,  768,  1536, 3072,  6144};
    for (std::size_t n = 0; n < limits.size(); ++n)
        if (metres <= limits[n]) return static_cast<int>(n);
    return 15;
}

gps::BroadcastEphemeris toBroadcastEphemeris(const RinexEphemeris& r)
{
    using gps::semicircle;
    using gps::signedField;
    using gps::twoToThe;
    using gps::unsignedField;
    gps::BroadcastEphemeris e;
    e.prn = r.prn;
    e.week = r.week;
    e.toe = static_cast<int>(std::lround(r.toe));
    e.toc = static_cast<int>(std::lround(r.toc + static_cast<double>(r.tocWeek - r.week) * gps::secondsPerWeek));
    e.iode = r.iode & 0xFF;
    e.health = r.health;
    e.ura = r.uraIndex;
    const auto s32 = [](double value, double scale, int bits) {
        return static_cast<std::int32_t>(signedField(value, scale, bits));
    };
    e.sqrtA = unsignedField(r.sqrtA, twoToThe(-19), 32);
    e.eccentricity = unsignedField(r.eccentricity, twoToThe(-33), 32);
    e.m0 = s32(r.m0 / semicircle, twoToThe(-31), 32);
    e.omega0 = s32(r.omega0 / semicircle, twoToThe(-31), 32);
    e.i0 = s32(r.i0 / semicircle, twoToThe(-31), 32);
    e.omega = s32(r.omega / semicircle, twoToThe(-31), 32);
    e.omegaDot = s32(r.omegaDot / semicircle, twoToThe(-43), 24);
    e.idot = s32(r.idot / semicircle, twoToThe(-43), 14);
    e.deltaN = s32(r.deltaN / semicircle, twoToThe(-43), 16);
    e.crs = s32(r.crs, twoToThe(-5), 16);
    e.crc = s32(r.crc, twoToThe(-5), 16);
    e.cus = s32(r.cus, twoToThe(-29), 16);
    e.cuc = s32(r.cuc, twoToThe(-29), 16);
    e.cis = s32(r.cis, twoToThe(-29), 16);
    e.cic = s32(r.cic, twoToThe(-29), 16);
    e.af0 = s32(r.af0, twoToThe(-31), 22);
    e.af1 = s32(r.af1, twoToThe(-43), 16);
    e.af2 = s32(r.af2, twoToThe(-55), 8);
    e.tgd = s32(r.tgd, twoToThe(-31), 8);
    return e;
}

}  // namespace trajix

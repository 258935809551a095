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

// A fault of one record of a version 3 or 4 file: the record is left out with a note.
struct RecordFault {
    std::size_t index;
    std::string what;
};

std::optional<sky::GnssSystem> systemOfLetter(char letter)
{
    switch (letter) {
        case 'G':
            return sky::GnssSystem::gps;
        case 'E':
            return sky::GnssSystem::galileo;
        case 'C':
            return sky::GnssSystem::beidou;
        case 'R':
            return sky::GnssSystem::glonass;
        default:
            return std::nullopt;
    }
}

// "GPS", "GPS or Galileo", "GPS, Galileo or BeiDou".
std::string namesOf(const sky::SystemSet& systems, std::string_view last)
{
    std::string text;
    std::size_t k = 0;
    for (const sky::GnssSystem system : systems) {
        if (k > 0) text += k + 1 == systems.size() ? fmt::format(" {} ", last) : std::string(", ");
        text += sky::displayName(system);
        ++k;
    }
    return text;
}

class Reader {
public:
    Reader(std::string_view text, std::string source, sky::SystemSet systems)
        : source_(std::move(source)), lines_(textLines(text)), systems_(std::move(systems))
    {
        if (systems_.empty()) throw Error(fmt::format("'{}': no satellite system asked for", source_));
    }

    RinexNavigation read()
    {
        readHeader();
        readRecords();
        return finish();
    }

private:
    [[noreturn]] void fail(std::size_t index, const std::string& what) const
    {
        if (inRecord_) throw RecordFault{index, what};
        throw Error(fmt::format("'{}' line {}: {}", source_, index + 1, what));
    }

    bool asked(sky::GnssSystem system) const { return systems_.count(system) != 0; }

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
        if (version < 2 || version >= 5)
            fail(0, fmt::format("RINEX version {} is not read here (versions 2, 3 and 4 are)", result_.version));
        major_ = static_cast<int>(version);
        const std::string_view type = trimBlanks(columns(first, 21, 21));
        const std::string_view system = trimBlanks(columns(first, 41, 41));
        if (type != "N")
            fail(0, fmt::format("'{}' is not a GPS navigation file (file type '{}')", source_, visibleText(type)));
        if (major_ >= 3 && !system.empty() && system != "M") {
            const auto only = systemOfLetter(system.front());
            if (system.size() != 1 || !only || !asked(*only))
                fail(0, fmt::format("'{}' holds no {} record (satellite system '{}')", source_, namesOf(systems_, "or"),
                                    visibleText(system)));
        }

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
                if (kind == "GAL") {
                    const auto values = four(6);
                    result_.galileoIonosphere = std::array<double, 3>{values[0], values[1], values[2]};
                }
            } else if (label == "DELTA-UTC: A0,A1,T,W") {
                RinexUtc utc;
                utc.a0 = required(i, columns(line, 4, 22), "A0");
                utc.a1 = required(i, columns(line, 23, 41), "A1");
                utc.referenceTime = integer(i, columns(line, 42, 50), "T", 0, gps::secondsPerWeek);
                utcWeekWritten = integer(i, columns(line, 51, 59), "W", 0, 100000);
                result_.utc = utc;
            } else if (label == "TIME SYSTEM CORR") {
                RinexTimeCorrection correction;
                correction.kind = std::string(trimBlanks(columns(line, 1, 4)));
                correction.a0 = required(i, columns(line, 6, 22), "A0");
                correction.a1 = required(i, columns(line, 23, 38), "A1");
                correction.referenceTime = integer(i, columns(line, 39, 45), "T", 0, gps::secondsPerWeek);
                correction.referenceWeek = integer(i, columns(line, 46, 50), "W", 0, 100000);
                result_.timeCorrections.push_back(correction);
                if (correction.kind == "GPUT") {
                    RinexUtc utc;
                    utc.a0 = correction.a0;
                    utc.a1 = correction.a1;
                    utc.referenceTime = correction.referenceTime;
                    utcWeekWritten = correction.referenceWeek;
                    result_.utc = utc;
                }
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
        if (major_ >= 3) {
            readMixedRecords();
            return;
        }
        // Version 2 files hold GPS alone, each record of 8 lines; a fault ends the reading.
        constexpr std::size_t recordLines = 8;
        std::size_t i = body_;
        while (i < lines_.size()) {
            if (trimBlanks(lines_[i]).empty()) {
                ++i;
                continue;
            }
            if (i + recordLines > lines_.size())
                fail(i, fmt::format("the record is cut short: it needs {} lines, the file ends after {}", recordLines,
                                    lines_.size() - i));
            if (asked(sky::GnssSystem::gps))
                readGpsRecord(i);
            else
                ++otherSystems_['G'];
            i += recordLines;
        }
    }

    static bool blankLine(std::string_view line) { return trimBlanks(line).empty(); }

    // Version 3 and 4 bodies. A record is its first line (beginning with the system
    // letter and number) and the continuation lines after it (beginning with blanks);
    // in version 4 a "> TYPE SV MESSAGE" line opens each record and its lines run to the
    // next such line. A record's own faults leave it out with a note.
    void readMixedRecords()
    {
        std::size_t i = body_;
        const std::size_t n = lines_.size();
        while (i < n) {
            if (blankLine(lines_[i])) {
                ++i;
                continue;
            }
            if (major_ >= 4) {
                if (lines_[i].front() != '>') {
                    const std::size_t stray = i;
                    while (i < n && !lines_[i].empty() && lines_[i].front() != '>') ++i;
                    note(stray, fmt::format("{} line{} outside any '>' record", i - stray, i - stray == 1 ? "" : "s"));
                    continue;
                }
                const std::size_t header = i++;
                const std::size_t first = i;
                while (i < n && !(!lines_[i].empty() && lines_[i].front() == '>')) ++i;
                std::size_t count = i - first;
                while (count > 0 && blankLine(lines_[first + count - 1])) --count;
                readVersion4Record(header, first, count);
                continue;
            }
            if (lines_[i].front() == ' ') {
                const std::size_t stray = i;
                while (i < n && !lines_[i].empty() && lines_[i].front() == ' ') ++i;
                note(stray, fmt::format("{} line{} that begin{} no record", i - stray, i - stray == 1 ? "" : "s",
                                        i - stray == 1 ? "s" : ""));
                continue;
            }
            const std::size_t first = i++;
            while (i < n && !lines_[i].empty() && lines_[i].front() == ' ' && !blankLine(lines_[i])) ++i;
            readEphemeris(first, i - first, {});
        }
    }

    void note(std::size_t index, const std::string& what)
    {
        result_.skipped.push_back(fmt::format("line {}: {}; skipped", index + 1, what));
    }

    void readVersion4Record(std::size_t header, std::size_t first, std::size_t count)
    {
        // "> EPH G01 LNAV": the type, the satellite and the message.
        std::vector<std::string_view> words;
        std::string_view rest = lines_[header].substr(1);
        while (!(rest = trimBlanks(rest)).empty()) {
            const std::size_t end = std::min(rest.find(' '), rest.size());
            words.push_back(rest.substr(0, end));
            rest.remove_prefix(end);
        }
        const std::string type = words.empty() ? std::string() : std::string(words[0]);
        const std::string message = words.size() >= 3 ? std::string(words[2]) : std::string();
        if (type == "EPH") {
            if (count == 0) {
                note(header, "an EPH record without lines");
                return;
            }
            readEphemeris(first, count, message);
            return;
        }
        inRecord_ = true;
        try {
            if (type == "STO" && count >= 2) {
                readTimeOffset(first);
            } else if (type == "ION" && count >= 2 && words.size() >= 3 && words[1].front() == 'G' &&
                       message == "LNAV") {
                readKlobuchar(first, count);
            } else if (type == "ION" && words.size() >= 3 && words[1].front() == 'E' && message == "IFNV") {
                readNequick(first);
            } else {
                ++otherRecords_[type.empty() ? std::string("untyped") : type];
            }
        } catch (const RecordFault& fault) {
            note(fault.index, fmt::format("{} (the {} record of line {})", fault.what, visibleText(type), header + 1));
        }
        inRecord_ = false;
    }

    // "    2022 06 08 10 00 00" of version 4's STO, ION and EOP records.
    long long bodyEpoch(std::size_t i) const
    {
        const std::string_view line = lines_[i];
        const int year = integer(i, columns(line, 5, 8), "year", 1980, 9999);
        const int month = integer(i, columns(line, 10, 11), "month", 1, 12);
        const int day = integer(i, columns(line, 13, 14), "day", 1, 31);
        const int hour = integer(i, columns(line, 16, 17), "hour", 0, 23);
        const int minute = integer(i, columns(line, 19, 20), "minute", 0, 59);
        const int second = integer(i, columns(line, 22, 23), "second", 0, 60);
        return gpsDay(i, year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    }

    void readTimeOffset(std::size_t first)
    {
        const long long epoch = bodyEpoch(first);
        RinexTimeCorrection correction;
        correction.kind = std::string(trimBlanks(columns(lines_[first], 25, 42)));
        const std::string_view values = lines_[first + 1];
        correction.a0 = required(first + 1, columns(values, 24, 42), "A0");
        correction.a1 = required(first + 1, columns(values, 43, 61), "A1");
        correction.referenceWeek = static_cast<int>(epoch / gps::secondsPerWeek);
        correction.referenceTime = static_cast<int>(epoch % gps::secondsPerWeek);
        result_.timeCorrections.push_back(correction);
        if (correction.kind == "GPUT" && !result_.utc) {
            RinexUtc utc;
            utc.a0 = correction.a0;
            utc.a1 = correction.a1;
            utc.referenceTime = correction.referenceTime;
            utc.referenceWeek = correction.referenceWeek;
            result_.utc = utc;
        }
    }

    void readKlobuchar(std::size_t first, std::size_t count)
    {
        bodyEpoch(first);
        std::array<double, 8> values{};
        std::size_t k = 0;
        for (std::size_t line = first; line < first + count && k < values.size(); ++line)
            for (std::size_t j = (line == first ? 1 : 0); j < 4 && k < values.size(); ++j) {
                const std::size_t from = 5 + 19 * j;
                values[k++] = required(line, columns(lines_[line], from, from + 18), "ionosphere coefficient");
            }
        if (k < values.size()) fail(first, "the ionosphere record is cut short");
        if (!result_.ionosphere)
            result_.ionosphere = RinexIonosphere{{values[0], values[1], values[2], values[3]},
                                                 {values[4], values[5], values[6], values[7]}};
    }

    // "    2022 06 08 09 59 57 ai0 ai1 ai2": the epoch and three coefficients on one line.
    void readNequick(std::size_t first)
    {
        bodyEpoch(first);
        std::array<double, 3> values{};
        for (std::size_t j = 0; j < 3; ++j) {
            const std::size_t from = 24 + 19 * j;
            values[j] = required(first, columns(lines_[first], from, from + 18), "ionosphere coefficient");
        }
        if (!result_.galileoIonosphere) result_.galileoIonosphere = values;
    }

    // One ephemeris record of a version 3 or 4 file; message is version 4's ("" in 3).
    void readEphemeris(std::size_t first, std::size_t count, const std::string& message)
    {
        const std::string_view line = lines_[first];
        const char letter = line.front();
        const auto system = systemOfLetter(letter);
        static constexpr std::string_view others = "SJI";
        if (!system && others.find(letter) == std::string_view::npos) {
            note(first, fmt::format("'{}' does not begin a navigation record", visibleText(line.substr(0, 3))));
            return;
        }
        if (!system || !asked(*system)) {
            ++otherSystems_[letter];
            return;
        }
        if (!message.empty()) {
            static const std::map<sky::GnssSystem, std::vector<std::string>> read{
                {sky::GnssSystem::gps, {"LNAV"}},
                {sky::GnssSystem::galileo, {"INAV", "FNAV"}},
                {sky::GnssSystem::beidou, {"D1", "D2"}},
                {sky::GnssSystem::glonass, {"FDMA"}}};
            const auto& known = read.at(*system);
            if (std::find(known.begin(), known.end(), message) == known.end()) {
                ++otherMessages_[fmt::format("{} {}", sky::displayName(*system), visibleText(message))];
                return;
            }
        }
        const std::size_t needed = *system == sky::GnssSystem::glonass ? 4 : 8;
        inRecord_ = true;
        try {
            if (count < needed)
                fail(first, fmt::format("the record is cut short: it needs {} lines, it has {}", needed, count));
            switch (*system) {
                case sky::GnssSystem::gps:
                    readGpsRecord(first);
                    break;
                case sky::GnssSystem::galileo:
                    readGalileoRecord(first);
                    break;
                case sky::GnssSystem::beidou:
                    readBeidouRecord(first);
                    break;
                case sky::GnssSystem::glonass:
                    readGlonassRecord(first, count);
                    break;
            }
        } catch (const RecordFault& fault) {
            note(fault.index,
                 fmt::format("{} ({} record of line {})", fault.what, sky::displayName(*system), first + 1));
        }
        inRecord_ = false;
    }

    // The first line of a version 3 record: number, epoch and three clock values.
    struct Epoch {
        int number = 0;
        long long gpsDay = 0;       // days since 1980-01-06 of the date written
        long long secondOfDay = 0;  // of the time written
        std::array<std::optional<double>, 3> values;
    };
    Epoch readEpoch(std::size_t i, std::array<const char*, 3> names) const
    {
        const std::string_view first = lines_[i];
        Epoch e;
        e.number = integer(i, columns(first, 2, 3), "satellite number", 0, 99);
        const int year = integer(i, columns(first, 5, 8), "year", 1980, 9999);
        const int month = integer(i, columns(first, 10, 11), "month", 1, 12);
        const int day = integer(i, columns(first, 13, 14), "day", 1, 31);
        const int hour = integer(i, columns(first, 16, 17), "hour", 0, 23);
        const int minute = integer(i, columns(first, 19, 20), "minute", 0, 59);
        const int second = integer(i, columns(first, 22, 23), "second", 0, 60);
        e.gpsDay = gpsDay(i, year, month, day);
        e.secondOfDay = hour * 3600 + minute * 60 + second;
        e.values = {number(i, columns(first, 24, 42), names[0]), number(i, columns(first, 43, 61), names[1]),
                    number(i, columns(first, 62, 80), names[2])};
        return e;
    }

    // Lines first+1 .. first+lines of four 19-column values each after 4 blanks.
    template <std::size_t Lines>
    std::array<std::array<std::optional<double>, 4>, Lines> orbitValues(
        std::size_t first, const std::array<std::array<const char*, 4>, Lines>& names) const
    {
        std::array<std::array<std::optional<double>, 4>, Lines> v;
        for (std::size_t k = 0; k < Lines; ++k)
            for (std::size_t j = 0; j < 4; ++j) {
                const std::size_t from = 5 + 19 * j;
                v[k][j] = number(first + 1 + k, columns(lines_[first + 1 + k], from, from + 18), names[k][j]);
            }
        return v;
    }

    template <std::size_t Lines>
    double need(const std::array<std::array<std::optional<double>, 4>, Lines>& v,
                const std::array<std::array<const char*, 4>, Lines>& names, std::size_t first, std::size_t k,
                std::size_t j) const
    {
        if (!v[k][j]) fail(first + 1 + k, fmt::format("{} is missing", names[k][j]));
        return *v[k][j];
    }

    int wholeValue(double value, double low, double high, std::size_t line, std::string_view name) const
    {
        if (value != std::trunc(value) || value < low || value > high)
            fail(line, fmt::format("{} {} is not a whole number from {} to {}", name, value, low, high));
        return static_cast<int>(value);
    }

    // The Keplerian orbit of a Galileo or BeiDou record (orbit lines 1 to 5).
    template <std::size_t Lines>
    sky::KeplerOrbit keplerOrbit(const std::array<std::array<std::optional<double>, 4>, Lines>& v,
                                 const std::array<std::array<const char*, 4>, Lines>& names, std::size_t first) const
    {
        const auto at = [&](std::size_t k, std::size_t j) { return need(v, names, first, k, j); };
        sky::KeplerOrbit o;
        o.crs = at(0, 1);
        o.deltaN = at(0, 2);
        o.m0 = at(0, 3);
        o.cuc = at(1, 0);
        o.eccentricity = at(1, 1);
        o.cus = at(1, 2);
        o.sqrtA = at(1, 3);
        o.toe = at(2, 0);
        o.cic = at(2, 1);
        o.omega0 = at(2, 2);
        o.cis = at(2, 3);
        o.i0 = at(3, 0);
        o.crc = at(3, 1);
        o.omega = at(3, 2);
        o.omegaDot = at(3, 3);
        o.idot = at(4, 0);
        if (!(o.toe >= 0 && o.toe < gps::secondsPerWeek))
            fail(first + 3, fmt::format("Toe {} is not a time of week (0 to 604800 s)", o.toe));
        if (!(o.sqrtA >= 1000 && o.sqrtA < 10000)) fail(first + 2, fmt::format("sqrt(A) {} is no orbit", o.sqrtA));
        if (!(o.eccentricity >= 0 && o.eccentricity < 0.5))
            fail(first + 2, fmt::format("e {} is no orbit of a navigation satellite", o.eccentricity));
        return o;
    }

    void readGalileoRecord(std::size_t first)
    {
        static constexpr std::array<std::array<const char*, 4>, 7> names{{
            {"IODnav", "Crs", "Delta n", "M0"},
            {"Cuc", "e", "Cus", "sqrt(A)"},
            {"Toe", "Cic", "OMEGA0", "Cis"},
            {"i0", "Crc", "omega", "OMEGA DOT"},
            {"IDOT", "data sources", "GAL week", "spare"},
            {"SISA", "SV health", "BGD E5a/E1", "BGD E5b/E1"},
            {"transmission time", "spare", "spare", "spare"},
        }};
        const Epoch epoch = readEpoch(first, {"af0", "af1", "af2"});
        const auto v = orbitValues(first, names);
        galileo::Ephemeris r;
        r.prn = epoch.number;
        r.line = static_cast<long long>(first + 1);
        if (r.prn < 1 || r.prn > 36) fail(first, fmt::format("E{:02} is not a Galileo number from 1 to 36", r.prn));
        for (std::size_t k = 0; k < 3; ++k)
            if (!epoch.values[k]) fail(first, fmt::format("{} is missing", std::array{"af0", "af1", "af2"}[k]));
        r.af0 = *epoch.values[0];
        r.af1 = *epoch.values[1];
        r.af2 = *epoch.values[2];
        r.orbit = keplerOrbit(v, names, first);
        r.iodNav = wholeValue(need(v, names, first, 0, 0), 0, 1023, first + 1, "IODnav");
        r.dataSource = wholeValue(v[4][1].value_or(0), 0, 65535, first + 5, "data sources");
        const int week = wholeValue(need(v, names, first, 4, 2), 0, 100000, first + 5, "GAL week");
        r.sisaMetres = v[5][0].value_or(-1);
        r.health = wholeValue(need(v, names, first, 5, 1), 0, 511, first + 6, "SV health");
        r.bgdE5aE1 = v[5][2].value_or(0);
        r.bgdE5bE1 = v[5][3].value_or(0);
        r.transmissionTime = v[6][0];
        const long long tocWeek = epoch.gpsDay / 7;
        r.week = nearestCongruentWeek(week, static_cast<int>(tocWeek));
        r.toc = static_cast<double>((tocWeek - r.week) * gps::secondsPerWeek + (epoch.gpsDay % 7) * 86400 +
                                    epoch.secondOfDay);
        result_.galileo.push_back(r);
    }

    void readBeidouRecord(std::size_t first)
    {
        static constexpr std::array<std::array<const char*, 4>, 7> names{{
            {"AODE", "Crs", "Delta n", "M0"},
            {"Cuc", "e", "Cus", "sqrt(A)"},
            {"Toe", "Cic", "OMEGA0", "Cis"},
            {"i0", "Crc", "omega", "OMEGA DOT"},
            {"IDOT", "spare", "BDT week", "spare"},
            {"SV accuracy", "SatH1", "TGD1", "TGD2"},
            {"transmission time", "AODC", "spare", "spare"},
        }};
        const Epoch epoch = readEpoch(first, {"a0", "a1", "a2"});
        const auto v = orbitValues(first, names);
        beidou::Ephemeris r;
        r.prn = epoch.number;
        r.line = static_cast<long long>(first + 1);
        if (r.prn < 1 || r.prn > 63) fail(first, fmt::format("C{:02} is not a BeiDou number from 1 to 63", r.prn));
        for (std::size_t k = 0; k < 3; ++k)
            if (!epoch.values[k]) fail(first, fmt::format("{} is missing", std::array{"a0", "a1", "a2"}[k]));
        r.af0 = *epoch.values[0];
        r.af1 = *epoch.values[1];
        r.af2 = *epoch.values[2];
        r.orbit = keplerOrbit(v, names, first);
        r.aode = wholeValue(need(v, names, first, 0, 0), 0, 1023, first + 1, "AODE");
        const int week = wholeValue(need(v, names, first, 4, 2), 0, 100000, first + 5, "BDT week");
        r.accuracyMetres = v[5][0].value_or(-1);
        r.health = wholeValue(need(v, names, first, 5, 1), 0, 1, first + 6, "SatH1");
        r.tgd1 = v[5][2].value_or(0);
        r.tgd2 = v[5][3].value_or(0);
        r.transmissionTime = v[6][0];
        r.aodc = wholeValue(v[6][1].value_or(0), 0, 1023, first + 7, "AODC");
        // The epoch is written in BDT: its week counts from GPS week 1356.
        const long long bdtDay = epoch.gpsDay - 7LL * beidou::weekOffset;
        if (bdtDay < 0) fail(first, "the epoch lies before BeiDou time began (2006-01-01)");
        const long long tocWeek = bdtDay / 7;
        r.week = nearestCongruentWeek(week, static_cast<int>(tocWeek));
        r.toc =
            static_cast<double>((tocWeek - r.week) * gps::secondsPerWeek + (bdtDay % 7) * 86400 + epoch.secondOfDay);
        result_.beidou.push_back(r);
    }

    void readGlonassRecord(std::size_t first, std::size_t count)
    {
        static constexpr std::array<std::array<const char*, 4>, 3> names{{
            {"X", "X velocity", "X acceleration", "health"},
            {"Y", "Y velocity", "Y acceleration", "frequency channel"},
            {"Z", "Z velocity", "Z acceleration", "age of operation"},
        }};
        const Epoch epoch = readEpoch(first, {"-TauN", "GammaN", "message frame time"});
        const auto v = orbitValues(first, names);
        glonass::Ephemeris r;
        r.slot = epoch.number;
        r.line = static_cast<long long>(first + 1);
        if (r.slot < 1 || r.slot > 32) fail(first, fmt::format("R{:02} is not a GLONASS slot from 1 to 32", r.slot));
        if (!epoch.values[0]) fail(first, "-TauN is missing");
        if (!epoch.values[1]) fail(first, "GammaN is missing");
        r.minusTauN = *epoch.values[0];
        r.gammaN = *epoch.values[1];
        r.frameTime = epoch.values[2].value_or(0);
        const auto at = [&](std::size_t k, std::size_t j) { return need(v, names, first, k, j); };
        // Kilometres in the file.
        r.x = at(0, 0) * 1e3;
        r.vx = at(0, 1) * 1e3;
        r.ax = v[0][2].value_or(0) * 1e3;
        r.y = at(1, 0) * 1e3;
        r.vy = at(1, 1) * 1e3;
        r.ay = v[1][2].value_or(0) * 1e3;
        r.z = at(2, 0) * 1e3;
        r.vz = at(2, 1) * 1e3;
        r.az = v[2][2].value_or(0) * 1e3;
        r.health = wholeValue(at(0, 3), 0, 7, first + 1, "health");
        if (!v[1][3]) fail(first + 2, "the frequency channel is missing");
        r.channel = wholeValue(*v[1][3], -7, 13, first + 2, "frequency channel");
        r.ageDays = v[2][3].value_or(0);
        const double speed = std::sqrt(r.vx * r.vx + r.vy * r.vy + r.vz * r.vz);
        if (!(speed < 1e4)) fail(first + 1, fmt::format("a speed of {} m/s is no GLONASS satellite's", speed));
        const double radius = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z);
        if (!(radius > 2e7 && radius < 3e7))
            fail(first + 1,
                 fmt::format("the position lies {:.0f} km from the Earth's centre, on no GLONASS orbit", radius / 1e3));
        if (count >= 5) {
            // Version 3.05 and 4: status flags, L1/L2 group delay, URAI and health flags.
            static constexpr std::array<std::array<const char*, 4>, 1> fifth{
                {{"status flags", "L1/L2 group delay", "URAI", "health flags"}}};
            const auto w = orbitValues(first + 3, fifth);
            r.statusFlags = w[0][0];
            r.groupDelay = w[0][1];
            r.urai = w[0][2];
            r.healthFlags = w[0][3];
        }
        r.epochUtc = epoch.gpsDay * 86400 + epoch.secondOfDay;
        result_.glonass.push_back(r);
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
                                                             {'C', "BeiDou"},  {'J', "QZSS"},    {'I', "IRNSS"},
                                                             {'G', "GPS"}};
        const std::string onlyRead =
            fmt::format("only {} {} read", namesOf(systems_, "and"), systems_.size() == 1 ? "is" : "are");
        for (const auto& [system, count] : otherSystems_)
            result_.skipped.push_back(fmt::format("{} {} record{} skipped ({})", count, systemNames.at(system),
                                                  count == 1 ? "" : "s", onlyRead));
        for (const auto& [message, count] : otherMessages_)
            result_.skipped.push_back(
                fmt::format("{} {} record{} skipped (not read)", count, message, count == 1 ? "" : "s"));
        for (const auto& [type, count] : otherRecords_)
            result_.skipped.push_back(
                fmt::format("{} {} record{} skipped (not read)", count, visibleText(type), count == 1 ? "" : "s"));
        const std::map<sky::GnssSystem, std::size_t> held{{sky::GnssSystem::gps, result_.ephemerides.size()},
                                                          {sky::GnssSystem::galileo, result_.galileo.size()},
                                                          {sky::GnssSystem::beidou, result_.beidou.size()},
                                                          {sky::GnssSystem::glonass, result_.glonass.size()}};
        std::size_t total = 0;
        for (const sky::GnssSystem system : systems_) total += held.at(system);
        if (total == 0)
            throw Error(fmt::format("'{}' holds no usable {} ephemeris record", source_, namesOf(systems_, "or")));
        for (const sky::GnssSystem system : systems_)
            if (held.at(system) == 0)
                result_.skipped.push_back(fmt::format("no usable {} record in the file", sky::displayName(system)));
        std::stable_sort(result_.ephemerides.begin(), result_.ephemerides.end(),
                         [](const RinexEphemeris& a, const RinexEphemeris& b) {
                             if (a.prn != b.prn) return a.prn < b.prn;
                             return a.toeSeconds() < b.toeSeconds();
                         });
        std::stable_sort(result_.galileo.begin(), result_.galileo.end(),
                         [](const galileo::Ephemeris& a, const galileo::Ephemeris& b) {
                             if (a.prn != b.prn) return a.prn < b.prn;
                             return a.toeSeconds() < b.toeSeconds();
                         });
        std::stable_sort(result_.beidou.begin(), result_.beidou.end(),
                         [](const beidou::Ephemeris& a, const beidou::Ephemeris& b) {
                             if (a.prn != b.prn) return a.prn < b.prn;
                             return a.toeSeconds() < b.toeSeconds();
                         });
        std::stable_sort(result_.glonass.begin(), result_.glonass.end(),
                         [](const glonass::Ephemeris& a, const glonass::Ephemeris& b) {
                             if (a.slot != b.slot) return a.slot < b.slot;
                             return a.epochUtc < b.epochUtc;
                         });
        if (result_.utc && utcWeekWritten_) {
            // The week of the records, for a UTC week written modulo 1024.
            int near = 0;
            if (!result_.ephemerides.empty())
                near = result_.ephemerides.front().week;
            else if (!result_.galileo.empty())
                near = result_.galileo.front().week;
            else if (!result_.beidou.empty())
                near = result_.beidou.front().week + beidou::weekOffset;
            else
                near = static_cast<int>(result_.glonass.front().epochUtc / gps::secondsPerWeek);
            result_.utc->referenceWeek = nearestCongruentWeek(static_cast<int>(*utcWeekWritten_), near);
        }
        return std::move(result_);
    }

    std::string source_;
    std::vector<std::string_view> lines_;
    std::size_t body_ = 0;
    int major_ = 2;
    std::optional<long long> utcWeekWritten_;
    std::map<char, long long> otherSystems_;
    std::map<std::string, long long> otherMessages_;  // version 4 messages not read ("GPS CNAV")
    std::map<std::string, long long> otherRecords_;   // version 4 record types not read ("EOP")
    sky::SystemSet systems_;
    bool inRecord_ = false;  // faults leave out the record (versions 3 and 4)
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

RinexNavigation parseRinexNavigation(std::string_view text, const std::string& source, const sky::SystemSet& systems)
{
    return Reader(text, source, systems).read();
}

RinexNavigation readRinexNavigation(const std::filesystem::path& file, const sky::SystemSet& systems)
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
    return parseRinexNavigation(text.str(), file.string(), systems);
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

#include "sky/yuma_almanac.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"

namespace trajix {

namespace {

// The labels of a record, matched by their beginning, case-insensitively, as the
// archives differ in the units they append ("SQRT(A)  (m 1/2)", "Af0(s)").
enum Field {
    Id,
    Health,
    Eccentricity,
    Toa,
    Inclination,
    RateOfRightAscension,
    SqrtA,
    RightAscension,
    Perigee,
    MeanAnomaly,
    Af0,
    Af1,
    Week,
    fieldCount
};
constexpr std::array<const char*, fieldCount> labels{"id",
                                                     "health",
                                                     "eccentricity",
                                                     "time of applicability",
                                                     "orbital inclination",
                                                     "rate of right ascen",
                                                     "sqrt(a)",
                                                     "right ascen at week",
                                                     "argument of perigee",
                                                     "mean anom",
                                                     "af0",
                                                     "af1",
                                                     "week"};

std::string lowered(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

int fieldOf(std::string_view label)
{
    const std::string name = lowered(trimBlanks(label));
    for (int f = 0; f < fieldCount; ++f)
        if (name.rfind(labels[static_cast<std::size_t>(f)], 0) == 0) return f;
    return -1;
}

struct PendingRecord {
    AlmanacRecord record;
    std::array<bool, fieldCount> seen{};
    long long firstLine = 0;
};

void finish(PendingRecord& pending, std::vector<AlmanacRecord>& records, const std::filesystem::path& file)
{
    for (int f = 0; f < fieldCount; ++f)
        if (!pending.seen[static_cast<std::size_t>(f)])
            throw Error(fmt::format("the almanac record of PRN {} (line {} of '{}') has no '{}' line",
                                    pending.record.prn, pending.firstLine, file.string(),
                                    labels[static_cast<std::size_t>(f)]));
    for (const AlmanacRecord& other : records)
        if (other.prn == pending.record.prn)
            throw Error(fmt::format("PRN {} appears twice in the almanac '{}' (line {})", pending.record.prn,
                                    file.string(), pending.firstLine));
    records.push_back(pending.record);
}

}  // namespace

std::vector<AlmanacRecord> readYumaAlmanac(const std::filesystem::path& almanacFile)
{
    std::error_code ec;
    if (std::filesystem::is_directory(almanacFile, ec))
        throw Error(fmt::format("cannot read the almanac '{}': it is a directory", almanacFile.string()));
    std::ifstream in(almanacFile, std::ios::binary);
    if (!in) throw Error(fmt::format("cannot open the almanac '{}': {}", almanacFile.string(), std::strerror(errno)));
    std::vector<AlmanacRecord> records;
    std::optional<PendingRecord> pending;
    std::string line;
    long long lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        const int field = fieldOf(std::string_view(line).substr(0, colon));
        if (field < 0) continue;
        const std::string_view valueText = trimBlanks(std::string_view(line).substr(colon + 1));
        double value = 0;
        if (!tryParseDouble(valueText, value))
            throw Error(fmt::format("'{}' is not a valid number (almanac, line {} of '{}')", valueText, lineNumber,
                                    almanacFile.string()));
        if (field == Id) {
            if (pending) finish(*pending, records, almanacFile);
            if (value != std::floor(value) || value < 1 || value > 32)
                throw Error(fmt::format("'{}' is not a PRN from 1 to 32 (almanac, line {} of '{}')", valueText,
                                        lineNumber, almanacFile.string()));
            pending = PendingRecord{};
            pending->record.prn = static_cast<int>(value);
            pending->firstLine = lineNumber;
        } else if (!pending) {
            throw Error(fmt::format("line {} of the almanac '{}' comes before any 'ID:' line", lineNumber,
                                    almanacFile.string()));
        }
        AlmanacRecord& r = pending->record;
        pending->seen[static_cast<std::size_t>(field)] = true;
        // Checked before it is kept: the health and the week are cast to int.
        const bool outOfRange =
            (field == Health && (value < 0 || value > 255)) || (field == Eccentricity && (value < 0 || value >= 0.1)) ||
            (field == SqrtA && (value < 4000 || value > 6000)) || (field == Toa && (value < 0 || value >= 604800)) ||
            (field == Week && (value < 0 || value != std::floor(value) || value > 100000));
        if (outOfRange)
            throw Error(fmt::format("'{}' is out of range for {} (almanac, line {} of '{}')", valueText,
                                    labels[static_cast<std::size_t>(field)], lineNumber, almanacFile.string()));
        switch (field) {
            case Health:
                r.health = static_cast<int>(value);
                break;
            case Eccentricity:
                r.eccentricity = value;
                break;
            case Toa:
                r.timeOfApplicability = value;
                break;
            case Inclination:
                r.inclination = value;
                break;
            case RateOfRightAscension:
                r.rateOfRightAscension = value;
                break;
            case SqrtA:
                r.sqrtSemiMajorAxis = value;
                break;
            case RightAscension:
                r.rightAscensionAtWeek = value;
                break;
            case Perigee:
                r.argumentOfPerigee = value;
                break;
            case MeanAnomaly:
                r.meanAnomaly = value;
                break;
            case Af0:
                r.clockBias = value;
                break;
            case Af1:
                r.clockDrift = value;
                break;
            case Week:
                r.week = static_cast<int>(value);
                break;
            default:
                break;
        }
    }
    if (in.bad()) throw Error(fmt::format("cannot read the almanac '{}'", almanacFile.string()));
    if (pending) finish(*pending, records, almanacFile);
    if (records.empty())
        throw Error(fmt::format("the almanac '{}' holds no satellite record (no 'ID:' line)", almanacFile.string()));
    return records;
}

}  // namespace trajix

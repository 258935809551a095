#include "replay/scan.hpp"

#include <cmath>
#include <system_error>

#include <fmt/format.h>
#include <fmt/std.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/picture.hpp"
#include "replay/line_reader.hpp"

namespace trajix {

namespace {

constexpr double secondsPerDay = 86400.0;

// Field n of a comma-separated line (field 1 is the sentence name); empty when the
// line has fewer fields.
std::string_view field(std::string_view line, int n)
{
    for (int i = 1; i < n; ++i) {
        const auto comma = line.find(',');
        if (comma == std::string_view::npos) return {};
        line.remove_prefix(comma + 1);
    }
    return line.substr(0, line.find(','));
}

// The time field of a GGA line, or of a GLL line in either layout: the time first
// ($GPGLL,hhmmss.ss,lat,N,...) or NMEA 0183's ($GPGLL,lat,N,lon,E,hhmmss.ss,A,A).
std::string_view timeField(std::string_view line)
{
    const std::string_view third = field(line, 3);
    if (line.find("GLL") != std::string_view::npos && (third == "N" || third == "S")) return field(line, 6);
    return field(line, 2);
}

struct TimeSearch {
    int found = 0;
    double previousTime = 0.0;
    double interval = 0.0;

    void take(std::string_view line, long long lineNumber, const std::filesystem::path& fileName)
    {
        ++found;
        const std::string_view text = timeField(line);
        double time = 0.0;
        if (!tryParseDouble(text, time))
            throw Error(fmt::format("'{}' is not a valid time (line {} of {})", text, lineNumber, fileName));
        if (previousTime != 0.0) interval = timeDifference(previousTime, time);
        previousTime = time;
    }
};

// The rate of a receiver log: whole numbers as such, slower rates with up to three
// decimals ("0.5", "0.333").
std::string rateText(double interval)
{
    std::string text = fmt::format("{:.3f}", 1.0 / interval);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

ScanResult scanReceiverLog(const std::filesystem::path& fileName, std::shared_ptr<const ReceiverLog> log)
{
    ScanResult result;
    result.receiverLog = true;
    result.count = static_cast<long long>(log->epochs.size());
    result.interval = log->interval;
    result.notes = log->notes;
    if (log->epochs.empty()) {
        result.message = fmt::format(
            "{} holds no fix time (a GGA, RMC, GLL, GNS or ZDA sentence with a time): there is nothing to play",
            fileName);
        return result;
    }
    if (!(log->interval > 0.0)) {
        result.message = fmt::format("{} holds only one fix time: no output rate can be measured", fileName);
        return result;
    }
    result.measured = true;
    result.rateText = rateText(log->interval);
    result.lengthText = "File length : " + formatPicture(log->length, "#####.#") + "s";
    std::string names;
    for (const auto& name : log->sentenceNames) names += (names.empty() ? "" : ", ") + name;
    result.typeText = "File type : Receiver log (" + names + ")";
    result.log = std::move(log);
    return result;
}

}  // namespace

double timeDifference(double first, double second)
{
    const double h1 = std::trunc(first / 10000.0);
    const double h2 = std::trunc(second / 10000.0);
    const double m1 = std::trunc(first / 100.0) - 100.0 * h1;
    const double m2 = std::trunc(second / 100.0) - 100.0 * h2;
    double difference = (second - first) - 6400.0 * (h2 - h1) - 40.0 * (m2 - m1);
    // Two fixes either side of midnight: the clock starts again at 000000.00.
    if (difference < 0.0) difference += secondsPerDay;
    return difference;
}

std::optional<ScanResult> scanfile(const std::filesystem::path& fileName, bool hdtGllOnly)
{
    std::error_code ec;
    if (fileName.empty() || !std::filesystem::exists(fileName, ec)) return std::nullopt;

    auto log = std::make_shared<ReceiverLog>(readReceiverLog(fileName));
    if (!log->ownKind) return scanReceiverLog(fileName, std::move(log));

    LineReader reader;
    if (!reader.open(fileName)) throw Error(fmt::format("cannot open {}", fileName));

    ScanResult result;
    std::string line;
    // The first line is passed over unseen: a header line, or a sentence that does
    // not take part in the measurement.
    reader.readLine(line);

    TimeSearch search;
    bool noGll = false;
    if (hdtGllOnly) {
        int linesRead = 0;
        while (search.found < 2 && linesRead < 10 && reader.readLine(line)) {
            ++linesRead;
            if (line.find("GLL") != std::string::npos) search.take(line, reader.lineNumber(), fileName);
        }
        noGll = search.found < 2;
    } else {
        while (search.found < 2 && reader.readLine(line)) {
            if (line.find("GGA") == std::string::npos)
                result.replayHasExtraSentences = true;
            else
                search.take(line, reader.lineNumber(), fileName);
        }
    }

    long long count = 2;
    while (reader.readLine(line)) ++count;
    if (hdtGllOnly || result.replayHasExtraSentences) count /= 2;
    result.count = count;
    result.interval = search.interval;

    if (noGll) {
        result.message = noGllMessage;
        return result;
    }
    if (!(search.interval > 0.0) || !std::isfinite(search.interval)) {
        result.message = search.found < 2
                             ? fmt::format("{} holds fewer than two {} sentences: no output rate can be measured",
                                           fileName, hdtGllOnly ? "GLL" : "GGA")
                             : fmt::format(
                                   "The first two {} sentences of {} carry equal times or start at "
                                   "000000.00: no output rate can be measured",
                                   hdtGllOnly ? "GLL" : "GGA", fileName);
        return result;
    }

    result.measured = true;
    result.rateText = formatPicture(1.0 / search.interval, "###");
    result.lengthText = "File length : " + formatPicture(static_cast<double>(count) * search.interval, "#####.#") + "s";
    if (hdtGllOnly)
        result.typeText = "File type : GLL and HDT";
    else if (result.replayHasExtraSentences)
        result.typeText = "File type : GGA and VTG";
    else
        result.typeText = "File type : GGA only";
    return result;
}

}  // namespace trajix

#include "convert/text_conversion.hpp"

#include <cmath>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/output.hpp"
#include "convert/sample_writer.hpp"
#include "convert/text_input.hpp"

namespace trajix::convert {

namespace {

constexpr long long progressEveryPairs = 2048;
constexpr std::size_t timedRowNumbers = 5;  // time, latitude, longitude, speed, heading

long long parsePeriod(std::string_view text, std::string_view what)
{
    long long value = 0;
    if (!tryParseInteger(text, value)) throw Error(fmt::format("'{}' is not a valid integer value ({})", text, what));
    return value;
}

double readNumber(const Token& token, const std::string& fileName)
{
    double value = 0;
    if (!tryParseDouble(token.text, value))
        throw Error(fmt::format("'{}' on line {} of '{}' is not a number", token.text, token.line, fileName));
    return value;
}

// A list in another layout (the time first, as a logger writes it) pairs numbers that
// are no coordinates; writing them would give fixes far off the earth.
void checkCoordinate(const Token& token, double value, double limit, std::string_view what, const std::string& fileName)
{
    if (value >= -limit && value <= limit) return;
    throw Error(
        fmt::format("'{}' on line {} of '{}' is not a {} (-{} to {} degrees): the list must hold latitude "
                    "and longitude pairs only; nothing was written",
                    token.text, token.line, fileName, what, limit, limit));
}

struct FinishOnExit {
    ProgressSink& progress;
    ~FinishOnExit() { progress.finish(); }
};

// hhmmss[.s...]: six digits, then optional decimals.
bool looksLikeTime(std::string_view text)
{
    const auto point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    if (whole.size() != 6) return false;
    for (const char c : text)
        if (c != '.' && (c < '0' || c > '9')) return false;
    return point == std::string_view::npos || text.find('.', point + 1) == std::string_view::npos;
}

std::vector<Token> lineTokens(std::string_view line, std::size_t lineNumber)
{
    std::vector<Token> tokens;
    TokenStream stream(line, lineNumber);
    Token token;
    while (tokens.size() <= timedRowNumbers && stream.next(token)) tokens.push_back(token);
    return tokens;
}

// A row of five numbers whose first is a time of day: the layout of timed rows.
bool isTimedRow(std::string_view line, std::size_t lineNumber)
{
    const auto tokens = lineTokens(line, lineNumber);
    if (tokens.size() != timedRowNumbers || !looksLikeTime(tokens[0].text)) return false;
    double value = 0;
    for (const Token& token : tokens)
        if (!tryParseDouble(token.text, value)) return false;
    return true;
}

struct TimedRow {
    std::size_t line = 0;
    long double time = 0;  ///< seconds from midnight of the first row's day
    double latitude = 0, longitude = 0, speedKmh = 0, heading = 0;
};

class TimedRowReader {
public:
    explicit TimedRowReader(const std::string& fileName) : fileName_(fileName) {}

    // Reads one non-blank line as a row; the rows' times must increase (a step back of
    // more than 12 hours is a new day).
    TimedRow read(std::string_view line, std::size_t lineNumber)
    {
        const auto tokens = lineTokens(line, lineNumber);
        if (tokens.size() != timedRowNumbers)
            throw Error(fmt::format(
                "line {} of '{}' holds {} values: each row must hold five (time hhmmss.ss, latitude, longitude, "
                "speed in km/h, heading in degrees); nothing was written",
                lineNumber, fileName_, tokens.size() > timedRowNumbers ? "more than five" : std::to_string(tokens.size())));
        TimedRow row;
        row.line = lineNumber;
        const double timeOfDay = readTime(tokens[0]);
        row.latitude = readNumber(tokens[1], fileName_);
        row.longitude = readNumber(tokens[2], fileName_);
        row.speedKmh = readNumber(tokens[3], fileName_);
        row.heading = readNumber(tokens[4], fileName_);
        checkRange(tokens[1], row.latitude, -90, 90, "latitude (-90 to 90 degrees)");
        checkRange(tokens[2], row.longitude, -180, 180, "longitude (-180 to 180 degrees)");
        checkRange(tokens[3], row.speedKmh, 0, 1e6, "speed (0 to 1000000 km/h)");
        checkRange(tokens[4], row.heading, 0, 360, "heading (0 to 360 degrees)");
        long double time = static_cast<long double>(timeOfDay) + day_ * 86400.0L;
        if (rows_ > 0 && time <= previous_) {
            if (previous_ - time > 43200) {
                ++day_;
                time += 86400;
            } else {
                throw Error(fmt::format("time '{}' on line {} of '{}' does not come after the row before it; "
                                        "nothing was written",
                                        tokens[0].text, lineNumber, fileName_));
            }
        }
        previous_ = time;
        ++rows_;
        row.time = time;
        return row;
    }

private:
    double readTime(const Token& token) const
    {
        double value = 0;
        if (!looksLikeTime(token.text) || !tryParseDouble(token.text, value))
            throw Error(fmt::format("'{}' on line {} of '{}' is not a time hhmmss.ss; nothing was written", token.text,
                                    token.line, fileName_));
        const double hours = std::trunc(value / 10000);
        const double minutes = std::trunc(value / 100) - 100 * hours;
        const double seconds = value - 10000 * hours - 100 * minutes;
        if (hours >= 24 || minutes >= 60 || seconds >= 60)
            throw Error(fmt::format("'{}' on line {} of '{}' is not a time of day; nothing was written", token.text,
                                    token.line, fileName_));
        return hours * 3600 + minutes * 60 + seconds;
    }

    void checkRange(const Token& token, double value, double low, double high, std::string_view what) const
    {
        if (value >= low && value <= high) return;
        throw Error(fmt::format("'{}' on line {} of '{}' is not a {}; nothing was written", token.text, token.line,
                                fileName_, what));
    }

    const std::string& fileName_;
    long long day_ = 0;
    long long rows_ = 0;
    long double previous_ = 0;
};

// The heading a fraction f of the way from a to b along the shorter turn.
double interpolateHeading(double a, double b, double f)
{
    double turn = b - a;
    if (turn > 180) turn -= 360;
    if (turn < -180) turn += 360;
    double heading = a + turn * f;
    if (heading < 0) heading += 360;
    if (heading >= 360) heading -= 360;
    return heading;
}

// Rows with their own times, resampled to the output rate: a sample every interval from
// the first row's time to the last's, positions, speed and heading interpolated between
// the rows either side; the stationary start ends at the first row, the stationary end
// and the run-out follow the last sample.
TextConversionResult convertTimedRows(const TextConversionParameters& parameters, std::string_view text,
                                      std::size_t dataOffset, std::size_t firstLine, ProgressSink& progress)
{
    const std::string& fileName = parameters.inputFileName;
    const double interval = sampleIntervalFromRateText(parameters.sampleRateText);
    const long long startPeriod = parsePeriod(parameters.stationaryPeriodText, "stationary period");
    const long long endPeriod = parsePeriod(parameters.stationaryPeriodEndText, "stationary period end");
    checkDateSentences(parameters.dates);

    // Every row is read and checked before the output is created.
    std::vector<TimedRow> rows;
    TimedRowReader reader(fileName);
    LineReader lines(text.substr(dataOffset));
    std::string_view line;
    while (lines.next(line)) {
        if (trimBlanks(line).empty()) continue;
        const TimedRow row = reader.read(line, firstLine + lines.lineNumber() - 1);
        // A row without a fix (latitude 0) is left out, as in a list of pairs.
        if (row.latitude != 0) rows.push_back(row);
        if (lines.lineNumber() % progressEveryPairs == 0) {
            progress.position(static_cast<long long>(dataOffset + lines.offset()) / 2);
            throwIfCancelled(progress, "the conversion was cancelled; nothing was written");
        }
    }
    if (rows.empty())
        throw Error(fmt::format("'{}' holds no position with a fix (latitude not 0); nothing was written", fileName));
    // Times of day tell the days apart only within one day.
    if (rows.back().time - rows.front().time >= 86400)
        throw Error(fmt::format("the rows of '{}' span a day or more (to line {}): times of day cannot tell the days "
                                "apart; nothing was written",
                                fileName, rows.back().line));

    const std::int64_t startSamples = stationarySampleCount(startPeriod, interval);
    OutputState output;
    output.outputInterval = interval;
    output.outputClock = rows.front().time - static_cast<long double>(startSamples) * output.outputInterval;
    // An undated clock cannot print a time before midnight: the start moves on a day.
    if (output.outputClock < 0 && !parameters.dates.date) {
        output.outputClock += 86400;
        for (TimedRow& row : rows) row.time += 86400;
    }
    output.outputFileName = parameters.outputFileName;

    AtomicFile file(parameters.outputFileName);
    Preview preview;
    SampleWriter writer(file, output, true, parameters.dates, preview);
    const auto positionOf = [](const TimedRow& row) { return SamplePosition{row.latitude, row.longitude}; };
    writer.writeStationary(startSamples, positionOf(rows.front()), rows.front().heading, PreviewMode::Counted);

    // Samples fall on the first row's time plus whole intervals, up to the last row's.
    const long double first = rows.front().time;
    const long double last = rows.back().time;
    const auto halfway = static_cast<long long>(text.size() / 2);
    std::size_t segment = 0;
    double heading = rows.front().heading;
    for (std::int64_t k = 0;; ++k) {
        const long double t = first + static_cast<long double>(k) * output.outputInterval;
        if (t > last + 1e-9L) break;
        output.outputClock = t;
        while (segment + 1 < rows.size() && rows[segment + 1].time <= t) ++segment;
        const TimedRow& a = rows[segment];
        const TimedRow& b = segment + 1 < rows.size() ? rows[segment + 1] : a;
        const double f = b.time > a.time ? static_cast<double>((t - a.time) / (b.time - a.time)) : 0.0;
        const SamplePosition position{a.latitude + (static_cast<long double>(b.latitude) - a.latitude) * f,
                                      a.longitude + (static_cast<long double>(b.longitude) - a.longitude) * f};
        heading = interpolateHeading(a.heading, b.heading, f);
        writer.write(position, heading, a.speedKmh + (b.speedKmh - a.speedKmh) * f, PreviewMode::Counted);
        if (k % progressEveryPairs == 0) {
            // Reading took the first half of the gauge, writing takes the second.
            const double done = static_cast<double>((t - first) / (last - first + 1));
            progress.position(halfway + static_cast<long long>(static_cast<double>(halfway) * done));
            throwIfCancelled(progress, "the conversion was cancelled; nothing was written");
        }
    }
    const SamplePosition end = positionOf(rows.back());
    writer.writeStationary(stationarySampleCount(endPeriod, interval), end, heading, PreviewMode::AppendOnly);
    writer.writeRunOut(end, heading);
    file.commit();

    TextConversionResult result;
    result.previewText = std::move(preview.text);
    result.outputFileName = parameters.outputFileName;
    result.samplesWritten = writer.samplesWritten();
    return result;
}

}  // namespace

TextConversionResult convertTextFile(const TextConversionParameters& parameters, UserPrompt& prompt,
                                     ProgressSink& progress)
{
    TextConversionResult result;
    OutputState output;
    const double interval = sampleIntervalFromRateText(parameters.sampleRateText);
    const long long startPeriod = parsePeriod(parameters.stationaryPeriodText, "stationary period");
    const long long endPeriod = parsePeriod(parameters.stationaryPeriodEndText, "stationary period end");
    checkDateSentences(parameters.dates);
    output.outputInterval = interval;
    output.outputClock = 0;
    output.outputFileName = parameters.outputFileName;

    const std::string& fileName = parameters.inputFileName;
    const std::string text = readFile(fileName);
    LineReader lines(text);
    std::string_view title;
    lines.next(title);  // the first line is a title, unless it is already a timed row
    if (isTimedRow(title, 1)) {
        progress.start("Converting text file", static_cast<long long>(text.size()));
        FinishOnExit finishOnExit{progress};
        return convertTimedRows(parameters, text, 0, 1, progress);
    }
    const std::size_t dataOffset = lines.offset();
    {
        // Timed rows after a header line: the first line that is not blank decides.
        LineReader look(std::string_view(text).substr(dataOffset));
        std::string_view line;
        while (look.next(line) && trimBlanks(line).empty()) {
        }
        if (!trimBlanks(line).empty() && isTimedRow(line, 1)) {
            progress.start("Converting text file", static_cast<long long>(text.size()));
            FinishOnExit finishOnExit{progress};
            return convertTimedRows(parameters, text, dataOffset, 2, progress);
        }
    }
    TokenStream tokens(std::string_view(text).substr(dataOffset), lines.lineNumber() + 1);

    progress.start("Converting text file", static_cast<long long>(text.size()));
    FinishOnExit finishOnExit{progress};

    AtomicFile file(parameters.outputFileName);
    Preview preview;
    SampleWriter writer(file, output, false, parameters.dates, preview);

    long long pairs = 0;
    Token latitudeToken;
    Token longitudeToken;
    while (tokens.next(latitudeToken)) {
        const double latitude = readNumber(latitudeToken, fileName);
        if (!tokens.next(longitudeToken)) {
            prompt.information(fmt::format("The last number ('{}' on line {}) has no longitude and was ignored.",
                                           latitudeToken.text, latitudeToken.line));
            break;
        }
        const double longitude = readNumber(longitudeToken, fileName);
        checkCoordinate(latitudeToken, latitude, 90, "latitude", fileName);
        checkCoordinate(longitudeToken, longitude, 180, "longitude", fileName);

        if (++pairs % progressEveryPairs == 0) {
            progress.position(static_cast<long long>(dataOffset + tokens.offset()));
            throwIfCancelled(progress, "the conversion was cancelled; nothing was written");
        }
        // A pair without a fix writes nothing and leaves the clock where it is.
        if (latitude == 0) continue;
        writer.writeFix({latitude, longitude}, 0, 0, stationarySampleCount(startPeriod, interval));
    }
    if (!writer.hasFix()) {
        file.discard();
        throw Error(fmt::format("'{}' holds no position with a fix (latitude not 0); nothing was written", fileName));
    }
    // End-period samples still fill the preview but are not counted against its limit.
    writer.writeStationary(stationarySampleCount(endPeriod, interval), writer.lastFix(), 0, PreviewMode::AppendOnly);
    writer.writeRunOut(writer.lastFix(), 0);
    file.commit();

    result.previewText = std::move(preview.text);
    result.outputFileName = parameters.outputFileName;
    result.samplesWritten = writer.samplesWritten();
    return result;
}

}  // namespace trajix::convert

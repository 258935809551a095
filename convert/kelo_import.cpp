#include "convert/kelo_import.hpp"

#include <array>
#include <cmath>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/output.hpp"
#include "common/picture.hpp"
#include "convert/sample_writer.hpp"
#include "convert/text_input.hpp"

namespace trajix::convert {

namespace {

// Columns 2 to 6 (time, latitude, longitude, speed, heading) are the ones used.
constexpr std::size_t columnsNeeded = 6;
constexpr std::size_t timeColumn = 1;
constexpr std::size_t latitudeColumn = 2;
constexpr std::size_t longitudeColumn = 3;
constexpr std::size_t speedColumn = 4;
constexpr std::size_t headingColumn = 5;
constexpr int chartEvery = 10;
constexpr long long progressEveryRows = 2048;

long long parsePeriod(std::string_view text, std::string_view what)
{
    long long value = 0;
    if (!tryParseInteger(text, value)) throw Error(fmt::format("'{}' is not a valid integer value ({})", text, what));
    return value;
}

struct Header {
    std::size_t columnCount = 0;
};

// Reads up to "[data]" included and counts the channel names.
Header readHeader(LineReader& lines, const std::string& fileName)
{
    std::string_view line;
    bool found = false;
    while (lines.next(line))
        if (line == "[header]") {
            found = true;
            break;
        }
    if (!found) throw Error(fmt::format("'{}' has no \"[header]\" line", fileName));

    Header header;
    found = false;
    while (lines.next(line)) {
        if (line == "[channel units]" || line == "[comments]" || line == "[column names]") {
            found = true;
            break;
        }
        if (!line.empty()) ++header.columnCount;
    }
    if (!found)
        throw Error(fmt::format(
            "'{}' has no \"[channel units]\", \"[comments]\" or \"[column names]\" line after \"[header]\"", fileName));
    if (header.columnCount < columnsNeeded)
        throw Error(
            fmt::format("the header of '{}' lists {} channel names; at least {} are needed (columns 2 to 6 are used)",
                        fileName, header.columnCount, columnsNeeded));

    found = false;
    while (lines.next(line))
        if (line == "[data]") {
            found = true;
            break;
        }
    if (!found) throw Error(fmt::format("'{}' has no \"[data]\" line", fileName));
    return header;
}

// Reads the data section as a stream of numbers, column count at a time.
class RowReader {
public:
    RowReader(TokenStream tokens, std::size_t columns, std::size_t firstRowNumber, const std::string& fileName,
              UserPrompt& prompt)
        : tokens_(tokens), values_(columns), rowNumber_(firstRowNumber - 1), fileName_(fileName), prompt_(prompt)
    {
    }

    // Reads the next whole row; false at the end of the data. A last row cut short is
    // ignored with a notice rather than padded with zeros.
    bool next()
    {
        Token token;
        std::size_t count = 0;
        std::size_t firstLine = 0;
        while (count < values_.size() && tokens_.next(token)) {
            if (count == 0) firstLine = token.line;
            if (!tryParseDouble(token.text, values_[count]))
                throw Error(fmt::format("'{}' in data row {} (line {} of '{}') is not a number", token.text,
                                        rowNumber_ + 1, token.line, fileName_));
            ++count;
        }
        if (count == 0) return false;
        ++rowNumber_;
        if (count < values_.size()) {
            prompt_.information(
                fmt::format("The last data row (row {}, line {}) holds {} of {} numbers and was ignored.", rowNumber_,
                            firstLine, count, values_.size()));
            return false;
        }
        return true;
    }

    double operator[](std::size_t column) const { return values_[column]; }
    std::size_t rowNumber() const { return rowNumber_; }
    std::size_t offset() const { return tokens_.offset(); }

private:
    TokenStream tokens_;
    std::vector<double> values_;
    std::size_t rowNumber_;
    const std::string& fileName_;
    UserPrompt& prompt_;
};

// The rate bands of the logger, tested in this order, every bound exclusive.
const char* rateForLogInterval(double logInterval)
{
    if (logInterval > 0.19 && logInterval < 0.21) return "5";
    if (logInterval > 0.09 && logInterval < 0.11) return "10";
    if (logInterval > 0.04 && logInterval < 0.06) return "20";
    if (logInterval > 0.009 && logInterval < 0.011) return "100";
    return nullptr;
}

// The log's hhmmss.ss start time in seconds of day, split from its "000000.00" text.
long double startClock(double timeValue, std::size_t rowNumber, const std::string& fileName)
{
    const std::string text = timeValue >= 0 ? formatPicture(timeValue, "000000.00") : std::string{};
    if (text.size() != 9)
        throw Error(fmt::format("time {} in data row {} of '{}' is not a time of day hhmmss.ss", timeValue, rowNumber,
                                fileName));
    const auto digits = [&](std::size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
    return digits(0) * 3600.0L + digits(2) * 60.0L + digits(4) + digits(7) / 100.0L;
}

struct FinishOnExit {
    ProgressSink& progress;
    ~FinishOnExit() { progress.finish(); }
};

}  // namespace

KeloResult loadKelFile(const KeloParameters& parameters, UserPrompt& prompt, ProgressSink& progress)
{
    KeloResult result;
    result.sampleRateText = parameters.sampleRateText;
    OutputState output;
    double interval = sampleIntervalFromRateText(parameters.sampleRateText);
    const long long startPeriod = parsePeriod(parameters.stationaryPeriodText, "stationary period");
    const long long endPeriod = parsePeriod(parameters.stationaryPeriodEndText, "stationary period end");
    checkDateSentences(parameters.dates);

    const std::string& fileName = parameters.inputFileName;
    const std::string text = readFile(fileName);
    LineReader lines(text);
    const Header header = readHeader(lines, fileName);

    progress.start("Converting KELO file", static_cast<long long>(text.size()));
    FinishOnExit finishOnExit{progress};

    // The first data row is read as a line of text and discarded, numbers unused.
    std::string_view discarded;
    lines.next(discarded);
    const std::size_t dataOffset = lines.offset();
    RowReader row(TokenStream(std::string_view(text).substr(dataOffset), lines.lineNumber() + 1), header.columnCount, 2,
                  fileName, prompt);

    const auto noFix = [&] {
        return Error(fmt::format("'{}' holds no data row with a fix (latitude not 0); nothing was written", fileName));
    };

    // Rate detection: the first row at a whole second sets the start; its interval to
    // the row before (0 before the first) picks the rate. None of these rows is written.
    double previousTime = 0;
    for (;;) {
        if (!row.next()) {
            if (row.rowNumber() < 2) throw noFix();
            throw Error(
                fmt::format("'{}' holds no data row whose time is a whole second, so the log has no start time; "
                            "nothing was written",
                            fileName));
        }
        const double time = row[timeColumn];
        if (std::trunc(time) == time) {
            const double logInterval = time - previousTime;
            if (const char* rate = rateForLogInterval(logInterval)) {
                result.sampleRateText = rate;
                result.rateDetected = true;
            }
            break;
        }
        previousTime = time;
    }
    interval = sampleIntervalFromRateText(result.sampleRateText);
    output.outputInterval = interval;
    output.outputClock = startClock(row[timeColumn], row.rowNumber(), fileName);
    output.outputFileName = parameters.outputFileName;

    AtomicFile file(parameters.outputFileName);
    Preview preview;
    preview.text = keloPreviewHeading;
    SampleWriter writer(file, output, parameters.vtg, parameters.dates, preview);

    double elapsed = 0;
    int chartCounter = 0;
    double heading = 0;
    long long rowsRead = 0;
    while (row.next()) {
        const double latitude = row[latitudeColumn] / 60;
        const double longitude = -row[longitudeColumn] / 60;  // the logger counts west positive
        const double speed = row[speedColumn];
        heading = row[headingColumn];
        elapsed += interval;
        if (chartCounter == 0) {
            if (latitude != 0) result.trackPoints.push_back({latitude, longitude});
            chartCounter = chartEvery;
            result.speedPoints.push_back({elapsed, speed});
        }
        --chartCounter;

        if (++rowsRead % progressEveryRows == 0) {
            progress.position(static_cast<long long>(dataOffset + row.offset()));
            throwIfCancelled(progress, "the import was cancelled; nothing was written");
        }
        // A row without a fix writes nothing and leaves the clock where it is.
        if (latitude == 0) continue;
        writer.writeFix({latitude, longitude}, heading, speed, stationarySampleCount(startPeriod, interval));
    }
    if (!writer.hasFix()) {
        file.discard();
        throw noFix();
    }
    // The end period and the run-out keep the last fix's position with the heading of
    // the last row read.
    writer.writeStationary(stationarySampleCount(endPeriod, interval), writer.lastFix(), heading, PreviewMode::Counted);
    writer.writeRunOut(writer.lastFix(), heading);
    file.commit();

    result.previewText = std::move(preview.text);
    result.outputFileName = parameters.outputFileName;
    result.samplesWritten = writer.samplesWritten();
    return result;
}

}  // namespace trajix::convert

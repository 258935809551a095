#include "convert/text_conversion.hpp"

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
    lines.next(title);  // the first line is a title
    const std::size_t dataOffset = lines.offset();
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

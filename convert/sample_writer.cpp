#include "convert/sample_writer.hpp"

#include <cmath>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "nmea/sentences.hpp"

namespace trajix::convert {

std::int64_t stationarySampleCount(long long periodSeconds, double interval)
{
    const double quotient = std::trunc(static_cast<double>(periodSeconds) / interval);
    if (!(quotient > 0)) return 0;
    return static_cast<std::int64_t>(quotient);
}

double sampleIntervalFromRateText(std::string_view rateText)
{
    double rate = 0;
    if (!tryParseDouble(rateText, rate) || !(rate > 0))
        throw Error(fmt::format("output rate '{}' is not a positive number of Hz", rateText));
    // A rate whose samples the time field cannot tell apart is refused before any file.
    timeDecimalsForInterval(1.0L / rate);
    return 1.0 / rate;
}

SampleWriter::SampleWriter(AtomicFile& file, OutputState& output, bool withVtg, const DateSentences& dates,
                           Preview& preview)
    : file_(file),
      output_(output),
      withVtg_(withVtg),
      dateSentences_(dates, output.outputClock, output.outputInterval, VtgStyle::Logger),
      preview_(preview)
{
}

std::string SampleWriter::sampleText(const SamplePosition& position, double heading, double speedKmh)
{
    // The sentences of a sample form one output line: GGA, CR LF, VTG, CR LF.
    const NmeaStamp stamp = dateSentences_.stamp(output_.outputClock);
    std::string text = dateSentences_.gga(stamp, position.latitude, position.longitude, fixedAltitude, heading);
    text += dateSentences_.gsa();
    text += dateSentences_.rmc(stamp, position.latitude, position.longitude, speedKmh, heading);
    if (withVtg_) text += dateSentences_.vtg(heading, speedKmh);
    text += dateSentences_.zda(stamp);
    text += dateSentences_.gsv(stamp);
    return text;
}

void SampleWriter::write(const SamplePosition& position, double heading, double speedKmh, PreviewMode mode)
{
    const std::string text = sampleText(position, heading, speedKmh);
    file_.write(text);
    if (mode != PreviewMode::None && preview_.previewCount < Preview::limit) {
        preview_.text += text;
        if (mode == PreviewMode::Counted) ++preview_.previewCount;
    }
    ++samplesWritten_;
    output_.outputClock += output_.outputInterval;
}

void SampleWriter::writeFix(const SamplePosition& position, double heading, double speedKmh, std::int64_t startSamples)
{
    lastFix_ = position;
    if (!hasFix_) {
        hasFix_ = true;
        writeStationary(startSamples, position, heading, PreviewMode::Counted);
        return;
    }
    write(position, heading, speedKmh, PreviewMode::Counted);
}

void SampleWriter::writeStationary(std::int64_t count, const SamplePosition& position, double heading, PreviewMode mode)
{
    for (std::int64_t i = 0; i < count; ++i) write(position, heading, 0, mode);
}

void SampleWriter::writeRunOut(const SamplePosition& position, double heading)
{
    const long double lastSampleTime = output_.outputClock - output_.outputInterval;
    long double clock = output_.outputClock;
    trajix::writeRunOut(lastSampleTime, clock, output_.outputInterval, [&](long double time) {
        output_.outputClock = time;
        write(position, heading, 0, PreviewMode::None);
    });
    output_.outputClock = clock;
}

}  // namespace trajix::convert

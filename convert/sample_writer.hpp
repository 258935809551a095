#pragma once
// The sample writer shared by the logger import and the text conversion: one GGA
// sentence (and a VTG sentence when asked) per sample at the output clock, the first
// samples copied into the preview, and the stationary and run-out groups.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/atomic_file.hpp"
#include "common/output.hpp"
#include "nmea/dates.hpp"

namespace trajix::convert {

/// Number of samples a stationary period of periodSeconds fills at interval seconds:
/// the integer part of their quotient, taken in double (80 s at 20 Hz gives 1600).
/// A negative quotient gives 0.
std::int64_t stationarySampleCount(long long periodSeconds, double interval);

/// The output interval of these writers, 1 / rate in double, from the rate text of the
/// Settings tab. Throws Error naming the text when it is not a positive number.
double sampleIntervalFromRateText(std::string_view rateText);

/// The first samples of a conversion, as the preview memo shows them.
struct Preview {
    static constexpr int limit = 50;  ///< samples previewed at most
    std::string text;                 ///< sentences, each sample ended by CR LF
    int previewCount = 0;             ///< samples counted against the limit so far
};

/// How a sample takes part in the preview.
enum class PreviewMode {
    Counted,     ///< appended while below the limit, and counted
    AppendOnly,  ///< appended while below the limit, not counted
    None,        ///< never previewed (run-out samples)
};

/// A formatted position, kept as the writers keep it between rows.
struct SamplePosition {
    long double latitude = 0;   ///< degrees, north positive
    long double longitude = 0;  ///< degrees, east positive
};

class SampleWriter {
public:
    /// Writes to file at the clock and interval of output. withVtg adds the VTG sentence;
    /// dates adds RMC and ZDA and prints the time fields (output's clock at construction
    /// is the first sample's time).
    SampleWriter(AtomicFile& file, OutputState& output, bool withVtg, const DateSentences& dates, Preview& preview);

    /// Writes one sample at output.outputClock and advances the clock by one interval.
    /// heading in degrees (printed as given, "##0.00"), speed in km/h.
    void write(const SamplePosition& position, double heading, double speedKmh, PreviewMode mode);

    /// Writes count samples at rest (speed 0).
    void writeStationary(std::int64_t count, const SamplePosition& position, double heading, PreviewMode mode);

    /// Writes the sample of one row or pair with a fix. The first fix of a run stands
    /// for the whole stationary start instead (startSamples samples at rest); later
    /// fixes are written as moving samples. Counted in the preview.
    void writeFix(const SamplePosition& position, double heading, double speedKmh, std::int64_t startSamples);
    /// True once writeFix has met a fix; lastFix() is then the latest one.
    bool hasFix() const { return hasFix_; }
    const SamplePosition& lastFix() const { return lastFix_; }
    /// Pads the file at rest up to the next whole second; at least one sample, none previewed.
    void writeRunOut(const SamplePosition& position, double heading);

    std::int64_t samplesWritten() const { return samplesWritten_; }

private:
    std::string sampleText(const SamplePosition& position, double heading, double speedKmh);

    AtomicFile& file_;
    OutputState& output_;
    bool withVtg_;
    SampleSentences dateSentences_;
    Preview& preview_;
    std::int64_t samplesWritten_ = 0;
    bool hasFix_ = false;
    SamplePosition lastFix_;
};

}  // namespace trajix::convert

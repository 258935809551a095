#pragma once
// Conversion of a plain text list of positions into an NMEA file of GGA sentences at
// the output rate, framed by the same stationary periods as the logger import.
#include <cstdint>
#include <string>

#include "common/progress.hpp"
#include "common/prompt.hpp"
#include "nmea/dates.hpp"

namespace trajix::convert {

struct TextConversionParameters {
    std::string inputFileName;                  ///< the text file: a title line, then latitude/longitude pairs
    std::string outputFileName;                 ///< the NMEA file, used exactly as given
    std::string sampleRateText = "20";          ///< SampleRateEdit: output rate in Hz
    std::string stationaryPeriodText = "80";    ///< kelStationaryPeriodedit: whole seconds at rest first
    std::string stationaryPeriodEndText = "5";  ///< kelstationaryPeriodEndEdit: whole seconds at rest last
    DateSentences dates;                        ///< RMC and ZDA sentences, and the date of the first sample
};

struct TextConversionResult {
    std::string previewText;     ///< sentences to append to the preview memo (it is not cleared)
    std::string outputFileName;  ///< the file written
    std::int64_t samplesWritten = 0;
};

/// Converts the text file. Its first line is skipped; the rest is read as a stream of
/// numbers taken in pairs (latitude, longitude in decimal degrees) regardless of the
/// line breaks. The clock starts at midnight. No VTG is written. The output is written
/// atomically. Throws Error for an unreadable file, a non-number or a latitude beyond
/// +-90 or longitude beyond +-180 degrees (naming its line; nothing is written), a
/// list without a fix (latitude not 0) and bad rate or period texts; throws Cancelled
/// when progress asks to stop (nothing is written). prompt receives a notice when a
/// last, unpaired number is ignored.
TextConversionResult convertTextFile(const TextConversionParameters& parameters, UserPrompt& prompt,
                                     ProgressSink& progress);

}  // namespace trajix::convert

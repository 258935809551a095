#pragma once
// Import of a KELO GPS data logger file (.kel) into an NMEA file at the logger's own
// sample rate, framed by a stationary period at the start (for satellite lock) and a
// shorter one at the end, and padded to a whole second.
#include <cstdint>
#include <string>
#include <vector>

#include "common/progress.hpp"
#include "common/prompt.hpp"
#include "nmea/dates.hpp"

namespace trajix::convert {

/// What the import reads from the window (or the command line), as texts.
struct KeloParameters {
    std::string inputFileName;                  ///< the .kel file
    std::string outputFileName;                 ///< the NMEA file, used exactly as given
    std::string sampleRateText = "20";          ///< SampleRateEdit: output rate in Hz before detection
    bool vtg = false;                           ///< VTGBox: add a VTG sentence to every sample
    std::string stationaryPeriodText = "80";    ///< kelStationaryPeriodedit: whole seconds at rest first
    std::string stationaryPeriodEndText = "5";  ///< kelstationaryPeriodEndEdit: whole seconds at rest last
    DateSentences dates;                        ///< RMC and ZDA sentences, and the date of the first sample
};

/// One chart point.
struct ChartPoint {
    double x = 0;
    double y = 0;
};

struct KeloResult {
    std::string sampleRateText;           ///< SampleRateEdit after detection ("5", "10", "20", "100" or unchanged)
    bool rateDetected = false;            ///< the log's interval matched one of the rate bands
    std::string previewText;              ///< Memo2: "First 50 lines of output:" CR LF and the first 50 samples
    std::vector<ChartPoint> trackPoints;  ///< Series11: latitude, longitude in degrees, every tenth row
    std::vector<ChartPoint> speedPoints;  ///< Series12: elapsed seconds, speed in km/h, every tenth row
    std::string outputFileName;           ///< the file written
    std::int64_t samplesWritten = 0;
};

/// The preview's first line.
inline constexpr std::string_view keloPreviewHeading = "First 50 lines of output:\r\n";

/// Converts the logger file to NMEA. The output is written atomically: a refused or
/// failed import leaves no file and an existing file of that name untouched.
/// Throws Error for an unreadable file, a missing section, fewer than 6 channels, a
/// non-number in the data (naming the row and line), a log without a whole-second row
/// or without a fix, and bad rate or period texts; throws Cancelled when progress asks
/// to stop (nothing is written). prompt receives notices (an incomplete last row that
/// was ignored).
KeloResult loadKelFile(const KeloParameters& parameters, UserPrompt& prompt, ProgressSink& progress);

}  // namespace trajix::convert

#pragma once
// Scanning an NMEA file before replay: which kind of file it is, the time step
// between its fixes and how many replay steps it holds.
#include <filesystem>
#include <optional>
#include <string>

namespace trajix {

/// What a scan found. The texts are those the "Serial Output" tab shows.
struct ScanResult {
    /// False when no rate could be measured (fewer than two sentences found, equal
    /// times, a first time of 000000.00); the texts below are then empty and the
    /// caller keeps its previous replay file and labels.
    bool measured = false;
    /// Why no rate could be measured, for the user.
    std::string message;
    /// Seconds between the first two fixes found.
    double interval = 0.0;
    /// The fix rate 1 / interval with picture "###", e.g. "20".
    std::string rateText;
    /// "File length : <count x interval, #####.#>s", e.g. "File length : 59.9s".
    std::string lengthText;
    /// "File type : GLL and HDT", "File type : GGA and VTG" or "File type : GGA only".
    std::string typeText;
    /// Replay steps in the file (the range of the progress gauge).
    long long count = 0;
    /// A line without "GGA" lay between the first line and the second GGA line.
    bool replayHasExtraSentences = false;
};

inline constexpr const char* noGllMessage =
    "This file does not contain GPGLL messages - try switching off 'HDT and GLL only' in the settings tab";

/// Scans an NMEA file. hdtGllOnly selects the GLL and HDT kind ("HDT and GLL only"),
/// otherwise GGA files (optionally with one extra sentence per fix) are expected.
/// Returns nothing when the name is empty or no such file exists. Throws Error when
/// the file cannot be read or the time of a found sentence is not a number.
std::optional<ScanResult> scanfile(const std::filesystem::path& fileName, bool hdtGllOnly);

/// Seconds between two UTC times written as hhmmss.ss numbers, e.g. 1.0 from
/// 095959.95 to 100000.95. Exact to the bit for two times within one minute.
double timeDifference(double first, double second);

}  // namespace trajix

#pragma once
// Scanning an NMEA file before replay: which kind of file it is, the time step
// between its fixes and how many replay steps it holds.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "replay/receiver_log.hpp"

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
    /// The file is a receiver log, not of our own writers' kind: the rate is the median
    /// fix rate, the length the real one, the type "File type : Receiver log (GGA,
    /// RMC, ...)" and the count the number of fix epochs, which log holds.
    bool receiverLog = false;
    std::shared_ptr<const ReceiverLog> log;
    /// Remarks on a receiver log for the user (times that go back, long gaps).
    std::vector<std::string> notes;
};

inline constexpr const char* noGllMessage =
    "This file does not contain GPGLL messages - try switching off 'HDT and GLL only' in the settings tab";

/// Scans an NMEA file. A file of our own writers' kind is scanned as such: hdtGllOnly
/// selects the GLL and HDT kind ("HDT and GLL only"), otherwise GGA files (optionally
/// with one extra sentence per fix) are expected. Any other file is a receiver log.
/// Returns nothing when the name is empty or no such file exists. Throws Error when
/// the file cannot be read or the time of a found sentence is not a number.
std::optional<ScanResult> scanfile(const std::filesystem::path& fileName, bool hdtGllOnly);

/// Seconds between two UTC times written as hhmmss.ss numbers, e.g. 1.0 from
/// 095959.95 to 100000.95. Exact to the bit for two times within one minute.
double timeDifference(double first, double second);

}  // namespace trajix

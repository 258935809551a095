#pragma once
// Receiver logs: NMEA files as receivers record them, with several sentences per fix,
// any talker, gaps and proprietary lines. The file is cut into fix epochs, the groups
// of lines that share one fix time, so the replay can send each epoch on the log's
// own clock.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trajix {

/// One fix epoch: its first byte in the file and its time in seconds after the first
/// epoch, on a clock that runs on across midnight and across times that go back.
struct FixEpoch {
    std::int64_t offset = 0;
    double time = 0.0;
};

/// What reading a receiver log found.
struct ReceiverLog {
    /// Epochs in file order. The first starts at byte 0, so the lines before the first
    /// fix (a cut first line, comments) go with it; each ends where the next begins.
    std::vector<FixEpoch> epochs;
    std::int64_t fileSize = 0;
    /// The file's last line has no line end.
    bool lastLineOpen = false;
    /// Median seconds between fixes; 0 when fewer than two fix times.
    double interval = 0.0;
    /// Seconds from the first fix to the last plus one interval.
    double length = 0.0;
    /// Sentence names in order of first appearance: "GGA" for any talker's GGA,
    /// the whole address for proprietary sentences ("PGRME").
    std::vector<std::string> sentenceNames;
    /// Remarks for the user: times that go back, long gaps.
    std::vector<std::string> notes;
    /// Every sound sentence (checksum right) is one our own writers produce ($GPGGA,
    /// $GPVTG, $GPGLL, $GPHDT; the first line not counted), and no line of a file with
    /// fix times ends in CR alone.
    bool ownKind = true;

    /// Byte count of epoch index.
    std::int64_t epochSize(std::size_t index) const
    {
        const std::int64_t end = index + 1 < epochs.size() ? epochs[index + 1].offset : fileSize;
        return end - epochs[index].offset;
    }
};

/// Reads fileName as a receiver log. Throws Error when the file cannot be read.
ReceiverLog readReceiverLog(const std::filesystem::path& fileName);

/// The fix time of one line as microseconds of the day, when the line is a complete
/// sentence (checksum right, at most 100 characters) of type GGA, RMC, GLL, GNS or ZDA
/// with a time field hhmmss[.s...]. Nothing for any other line.
std::optional<std::int64_t> sentenceFixTime(std::string_view line);

/// Epoch times for playback: gaps longer than maxGap seconds shortened to maxGap
/// (no limit when maxGap is not above 0).
std::vector<double> playbackTimes(const ReceiverLog& log, double maxGap);

}  // namespace trajix

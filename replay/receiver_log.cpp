#include "replay/receiver_log.hpp"

#include <algorithm>
#include <array>
#include <fstream>

#include <fmt/format.h>
#include <fmt/std.h>

#include "common/error.hpp"

namespace trajix {

namespace {

constexpr std::int64_t microsPerSecond = 1'000'000;
constexpr std::int64_t microsPerDay = 86'400 * microsPerSecond;
// NMEA 0183 caps a sentence at 82 characters with its line end, but high-precision
// receivers write GGA a few characters longer; a line longer than this is damaged
// (two sentences run together, garbage) and gives no time.
constexpr std::size_t longestSentence = 100;
// What is kept of a line to look at: enough for any sentence and a name.
constexpr std::size_t keptLineLength = 128;
// A gap this many intervals long is worth a remark in the scan.
constexpr double remarkableGap = 5.0;
constexpr std::size_t remarksPerKind = 5;

constexpr std::array<std::string_view, 4> ownSentences{"GPGGA", "GPVTG", "GPGLL", "GPHDT"};

bool isAddressCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The address of a sentence ("GPGGA", "PGRME"); empty when the line is no sentence.
std::string_view sentenceAddress(std::string_view line)
{
    if (line.empty() || (line.front() != '$' && line.front() != '!')) return {};
    std::size_t end = 1;
    while (end < line.size() && isAddressCharacter(line[end])) ++end;
    if (end < line.size() && line[end] != ',' && line[end] != '*') return {};
    const auto address = line.substr(1, end - 1);
    if (address.size() < 3 || address.size() > 10) return {};
    return address;
}

// "GGA" for a talker's sentence, the whole address for a proprietary one.
std::string_view sentenceName(std::string_view address)
{
    if (address.front() != 'P' && address.size() == 5) return address.substr(2);
    return address;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The body between '$' and '*' when the line ends in a right checksum.
std::optional<std::string_view> checkedBody(std::string_view line)
{
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (line.size() < 4 || line[line.size() - 3] != '*') return std::nullopt;
    const int high = hexValue(line[line.size() - 2]);
    const int low = hexValue(line[line.size() - 1]);
    if (high < 0 || low < 0) return std::nullopt;
    const auto body = line.substr(1, line.size() - 4);
    unsigned char sum = 0;
    for (const char c : body) sum ^= static_cast<unsigned char>(c);
    if (sum != high * 16 + low) return std::nullopt;
    return body;
}

std::string_view field(std::string_view body, int index)
{
    for (int i = 0; i < index; ++i) {
        const auto comma = body.find(',');
        if (comma == std::string_view::npos) return {};
        body.remove_prefix(comma + 1);
    }
    return body.substr(0, body.find(','));
}

bool twoDigits(std::string_view text, std::size_t at, int limit, std::int64_t& value)
{
    if (text[at] < '0' || text[at] > '9' || text[at + 1] < '0' || text[at + 1] > '9') return false;
    value = (text[at] - '0') * 10 + (text[at + 1] - '0');
    return value < limit;
}

// hhmmss[.s...] as microseconds of the day; a leap second 60 is allowed.
std::optional<std::int64_t> parseTimeOfDay(std::string_view text)
{
    if (text.size() < 6) return std::nullopt;
    std::int64_t hours = 0, minutes = 0, seconds = 0;
    if (!twoDigits(text, 0, 24, hours) || !twoDigits(text, 2, 60, minutes) || !twoDigits(text, 4, 61, seconds))
        return std::nullopt;
    std::int64_t micros = 0;
    if (text.size() > 6) {
        if (text[6] != '.') return std::nullopt;
        std::int64_t scale = microsPerSecond / 10;
        for (std::size_t i = 7; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            micros += (text[i] - '0') * scale;  // digits beyond the microsecond drop out
            scale /= 10;
        }
    }
    return ((hours * 60 + minutes) * 60 + seconds) * microsPerSecond + micros;
}

std::string clockText(std::int64_t micros)
{
    const std::int64_t seconds = micros / microsPerSecond;
    return fmt::format("{:02}:{:02}:{:02}", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

// Cuts a byte stream into lines ending in LF, CR LF or a lone CR, whatever the chunks.
class LineSplitter {
public:
    template <typename OnLine>
    void feed(const char* data, std::size_t size, std::int64_t chunkOffset, OnLine&& onLine)
    {
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            const std::int64_t at = chunkOffset + static_cast<std::int64_t>(i);
            if (afterCr_) {
                afterCr_ = false;
                if (c == '\n') {  // the LF of a CR LF
                    start_ = at + 1;
                    continue;
                }
                loneCr_ = true;
            }
            if (c == '\n' || c == '\r') {
                onLine(start_, line_, overlong_);
                afterCr_ = c == '\r';
                start_ = at + 1;
                line_.clear();
                overlong_ = false;
                open_ = false;
                continue;
            }
            open_ = true;
            if (line_.size() < keptLineLength)
                line_.push_back(c);
            else
                overlong_ = true;
        }
    }
    template <typename OnLine>
    void finish(OnLine&& onLine)
    {
        if (open_) onLine(start_, line_, overlong_);
        if (afterCr_) loneCr_ = true;
    }
    bool lastLineOpen() const { return open_; }
    /// A line ended in CR without LF.
    bool sawLoneCr() const { return loneCr_; }

private:
    std::string line_;
    std::int64_t start_ = 0;
    bool afterCr_ = false;
    bool overlong_ = false;
    bool open_ = false;
    bool loneCr_ = false;
};

}  // namespace

std::optional<std::int64_t> sentenceFixTime(std::string_view line)
{
    if (line.size() > longestSentence) return std::nullopt;
    const auto address = sentenceAddress(line);
    if (address.size() != 5 || address.front() == 'P') return std::nullopt;
    const auto type = address.substr(2);
    int timeField = 0;
    if (type == "GGA" || type == "RMC" || type == "GNS" || type == "ZDA")
        timeField = 1;
    else if (type == "GLL")
        timeField = 5;
    else
        return std::nullopt;
    const auto body = checkedBody(line);
    if (!body) return std::nullopt;
    return parseTimeOfDay(field(*body, timeField));
}

ReceiverLog readReceiverLog(const std::filesystem::path& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in) throw Error(fmt::format("cannot open {}", fileName));

    ReceiverLog log;
    std::vector<std::int64_t> times;  // microseconds of the day, one per epoch
    std::vector<long long> lineNumbers;
    long long lineNumber = 0;
    std::optional<std::int64_t> currentTime;

    const auto onLine = [&](std::int64_t offset, const std::string& line, bool overlong) {
        ++lineNumber;
        const auto address = sentenceAddress(line);
        if (!address.empty()) {
            const auto name = sentenceName(address);
            if (std::find(log.sentenceNames.begin(), log.sentenceNames.end(), name) == log.sentenceNames.end())
                log.sentenceNames.emplace_back(name);
            // Only a sound sentence tells the kind: noise that looks like one does not.
            if (lineNumber > 1 && !overlong && checkedBody(line) &&
                std::find(ownSentences.begin(), ownSentences.end(), address) == ownSentences.end())
                log.ownKind = false;
        }
        if (overlong) return;
        const auto time = sentenceFixTime(line);
        if (!time || time == currentTime) return;
        // The lines before the first fix belong to the first epoch.
        log.epochs.push_back({times.empty() ? 0 : offset, 0.0});
        times.push_back(*time);
        lineNumbers.push_back(lineNumber);
        currentTime = time;
    };

    LineSplitter splitter;
    std::vector<char> buffer(1 << 16);
    std::int64_t offset = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) break;
        splitter.feed(buffer.data(), got, offset, onLine);
        offset += static_cast<std::int64_t>(got);
    }
    if (in.bad()) throw Error(fmt::format("cannot read {}", fileName));
    splitter.finish(onLine);
    log.fileSize = offset;
    log.lastLineOpen = splitter.lastLineOpen();
    // Lines that end in CR alone are a receiver's, when the file holds fixes at all.
    if (splitter.sawLoneCr() && !log.epochs.empty()) log.ownKind = false;

    // Steps between fixes in microseconds; one that goes back by more than half a day
    // crossed midnight, one that goes back by less starts a new segment.
    std::vector<std::int64_t> steps(times.size(), 0);
    std::vector<std::int64_t> forward;
    for (std::size_t i = 1; i < times.size(); ++i) {
        std::int64_t step = times[i] - times[i - 1];
        if (step < -microsPerDay / 2) step += microsPerDay;
        steps[i] = step;
        if (step > 0) forward.push_back(step);
    }
    if (forward.empty()) return log;
    std::nth_element(forward.begin(), forward.begin() + static_cast<std::ptrdiff_t>(forward.size() / 2), forward.end());
    const std::int64_t median = forward[forward.size() / 2];
    log.interval = static_cast<double>(median) / microsPerSecond;

    std::size_t backRemarks = 0, gapRemarks = 0, backCount = 0, gapCount = 0;
    std::int64_t elapsed = 0;
    for (std::size_t i = 1; i < times.size(); ++i) {
        std::int64_t step = steps[i];
        if (step < 0) {
            ++backCount;
            if (backRemarks++ < remarksPerKind)
                log.notes.push_back(
                    fmt::format("time goes back from {} to {} at line {}: played as a new segment "
                                "one interval later",
                                clockText(times[i - 1]), clockText(times[i]), lineNumbers[i]));
            step = median;
        } else if (static_cast<double>(step) > remarkableGap * static_cast<double>(median)) {
            ++gapCount;
            if (gapRemarks++ < remarksPerKind)
                log.notes.push_back(fmt::format("gap of {:.1f} s after {} at line {}",
                                                static_cast<double>(step) / microsPerSecond, clockText(times[i - 1]),
                                                lineNumbers[i]));
        }
        elapsed += step;
        log.epochs[i].time = static_cast<double>(elapsed) / microsPerSecond;
    }
    if (backCount > remarksPerKind)
        log.notes.push_back(fmt::format("time goes back {} more times", backCount - remarksPerKind));
    if (gapCount > remarksPerKind) log.notes.push_back(fmt::format("{} more gaps", gapCount - remarksPerKind));
    log.length = static_cast<double>(elapsed + median) / microsPerSecond;
    return log;
}

std::vector<double> playbackTimes(const ReceiverLog& log, double maxGap)
{
    std::vector<double> times(log.epochs.size(), 0.0);
    for (std::size_t i = 1; i < times.size(); ++i) {
        double step = log.epochs[i].time - log.epochs[i - 1].time;
        if (maxGap > 0.0 && step > maxGap) step = maxGap;
        times[i] = times[i - 1] + step;
    }
    return times;
}

}  // namespace trajix

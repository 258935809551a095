#include "replay/engine.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/platform.hpp"

namespace trajix {

namespace {
constexpr std::string_view lineEnd = "\r\n";
}  // namespace

double replaySpeedFactor(int index)
{
    if (index < 0 || index >= static_cast<int>(replaySpeedFactors.size())) return 1.0;
    return replaySpeedFactors[static_cast<std::size_t>(index)];
}

std::optional<int> replayBaudRate(int index)
{
    if (index < 0 || index >= static_cast<int>(baudRates.size())) return std::nullopt;
    return baudRates[static_cast<std::size_t>(index)];
}

ReplayEngine::ReplayEngine(SerialPort& port, PeriodicTimer& timer, UserPrompt& prompt, ReplayView& view)
    : port_(port), timer_(timer), prompt_(prompt), view_(view)
{
}

bool ReplayEngine::useReplayFile(const std::string& fileName, const ScanResult& scan)
{
    if (!scan.measured) return false;
    // A file being played belongs to the previous replay file.
    if (state_.replayFileOpen) endPlayback();
    state_.replayFileName = fileName;
    state_.replaySentenceCount = scan.count;
    state_.replayHasExtraSentences = scan.replayHasExtraSentences;
    state_.replayLog = scan.receiverLog ? scan.log : nullptr;
    return true;
}

bool ReplayEngine::connect(std::string_view portText, std::optional<int> baudRate)
{
    const std::string device = comPortDevice(portText);
    if (baudRate) baudRate_ = *baudRate;
    if (state_.comPortOpen) disconnect();
    if (!port_.open(device, baudRate_)) {
        state_.comPortOpen = false;
        prompt_.information("cannot open COM port");
        return false;
    }
    state_.comPortOpen = true;
    view_.portChanged(true);
    return true;
}

bool ReplayEngine::connectTo(const std::string& target, std::optional<int> baudRate)
{
    const std::string& device = target;
    if (baudRate) baudRate_ = *baudRate;
    if (state_.comPortOpen) disconnect();
    if (!port_.open(device, baudRate_)) {
        state_.comPortOpen = false;
        prompt_.information(port_.errorText());
        return false;
    }
    state_.comPortOpen = true;
    view_.portChanged(true);
    return true;
}

void ReplayEngine::disconnect()
{
    view_.portChanged(false);
    port_.purge();
    port_.close();
    state_.comPortOpen = false;
}

void ReplayEngine::start(long long rateHz, double speed)
{
    if (state_.replayFileName.empty()) {
        prompt_.information("No filename for replay file");
        return;
    }
    const bool epochs = state_.replayLog != nullptr;
    if (!epochs && rateHz <= 0) throw Error(fmt::format("output rate {} Hz: the replay needs a rate above 0", rateHz));
    if (!(speed > 0.0) || !std::isfinite(speed))
        throw Error(fmt::format("output speed {}: the replay needs a speed above 0", speed));
    if (epochs && playback_ == Playback::Playing) {  // playing already: only the speed changes
        setSpeed(speed);
        return;
    }
    if (!state_.replayFileOpen) {
        if (!file_.open(state_.replayFileName)) {
            prompt_.information("Unable to open replay file");
            stopTimer(Playback::Idle);
            return;
        }
        state_.replayFileOpen = true;
        nextEpoch_ = 0;
        view_.gaugeMaximum(state_.replaySentenceCount);
    }
    rateHz_ = rateHz;
    speed_ = speed;
    if (epochs) {
        epochTimes_ = playbackTimes(*state_.replayLog, options_.maxGap);
        timer_.setRate(speed);
        scheduleEpochs();
    } else {
        timer_.setSchedule({});
        timer_.setRate(1.0);
        timer_.setPeriod((1.0 / static_cast<double>(rateHz)) / speed);
    }
    timer_.enable();
    setPlayback(Playback::Playing);
}

void ReplayEngine::setSpeed(double speed)
{
    if (!(speed > 0.0) || !std::isfinite(speed)) return;
    speed_ = speed;
    if (playback_ != Playback::Playing) return;  // Start takes it
    if (state_.replayLog)
        timer_.setRate(speed);
    else if (rateHz_ > 0)
        timer_.setPeriod((1.0 / static_cast<double>(rateHz_)) / speed);
}

// Tick n sends the epoch n - 1 after the one playback resumes with; a tick one
// interval after the last epoch ends the file.
void ReplayEngine::scheduleEpochs()
{
    firstScheduled_ = nextEpoch_;
    delivered_ = 0;
    ticks_ = 0;
    const auto times = std::make_shared<const std::vector<double>>(epochTimes_);
    const double interval = state_.replayLog->interval;
    const std::size_t first = firstScheduled_;
    timer_.setSchedule([times, interval, first](long long tick) {
        const std::size_t index = first + static_cast<std::size_t>(tick - 1);
        const double origin = (*times)[std::min(first, times->size() - 1)];
        if (index < times->size()) return (*times)[index] - origin;
        return times->back() - origin + interval * static_cast<double>(index - times->size() + 1);
    });
}

void ReplayEngine::pause()
{
    stopTimer(state_.replayFileOpen ? Playback::Paused : Playback::Idle);
}

void ReplayEngine::stop()
{
    setPosition(0);
    nextEpoch_ = 0;
    if (state_.replayFileOpen) file_.rewind();
    stopTimer(state_.replayFileOpen ? Playback::Stopped : Playback::Idle);
}

void ReplayEngine::endPlayback()
{
    if (state_.replayFileOpen) {
        file_.close();
        state_.replayFileOpen = false;
        nextEpoch_ = 0;
        setPosition(0);
    }
    stopTimer(Playback::Idle);
}

void ReplayEngine::step()
{
    step(0);
}

void ReplayEngine::step(long long lastDue)
{
    if (state_.replayLog) ticks_ = std::max(++delivered_, lastDue);
    if (!state_.comPortOpen) {
        prompt_.information("COM port not open");
        stopTimer(state_.replayFileOpen ? Playback::Paused : Playback::Idle);
        return;
    }
    if (!state_.replayFileOpen) {  // a tick that outlived the playback
        stopTimer(Playback::Idle);
        return;
    }
    // A backlog in the port's queue means the port is slower than the file: this
    // step is dropped rather than added to the backlog.
    if (port_.bytesQueued() > outputQueueLimit) {
        view_.bufferText(bufferFullText);
        return;
    }
    view_.bufferText("");
    if (state_.replayLog) {
        stepEpochs();
        return;
    }

    if (file_.atEnd()) {
        endOfFile();
        return;
    }
    std::int64_t unsent = file_.offset();
    readLine(line_);
    if (!options_.sendVtg && line_.find("VTG") != std::string::npos) {
        unsent = file_.offset();
        // A VTG line at the very end has no fix after it: that is the end of the file.
        if (!readLine(line_)) {
            endOfFile();
            return;
        }
    }
    out_.assign(line_).append(lineEnd);
    bool written = port_.write(out_);
    std::string preview = line_;
    if (written && state_.replayHasExtraSentences && options_.sendVtg) {
        unsent = file_.offset();
        // The fix's second sentence; a file that ends after the first has none.
        if (readLine(line_)) {
            out_.assign(line_).append(lineEnd);
            written = port_.write(out_);
            if (written) preview = line_ + "\n" + preview;
        }
    }
    if (!written) {
        // What was not sent is read again when playback resumes.
        file_.seek(unsent);
        prompt_.information("Cannot write to Com port");
        stopTimer(Playback::Paused);
        return;
    }
    view_.previewText(preview);
    setPosition(state_.replayPosition + 1);
}

void ReplayEngine::stepEpochs()
{
    const ReceiverLog& log = *state_.replayLog;
    const std::size_t count = log.epochs.size();
    if (nextEpoch_ >= count) {
        endOfFile();
        if (options_.repeat) scheduleEpochs();  // the first epoch follows at once, one interval after the last
        return;
    }
    // A tick skipped for a full queue, or one that fell due while the owner was busy, is
    // made up here: every epoch due is sent. Nothing may be due yet when an earlier tick
    // already caught up.
    const std::size_t due = std::min(count - 1, firstScheduled_ + static_cast<std::size_t>(ticks_ - 1));
    const std::size_t first = nextEpoch_;
    if (due < first) return;
    // Each epoch goes out in a write of its own (a UDP datagram each), however many
    // fell due at once.
    for (std::size_t index = first; index <= due && index < count; ++index) {
        out_.clear();
        file_.readBytes(log.epochs[index].offset, log.epochSize(index), out_);
        if (index + 1 == count && log.lastLineOpen && !out_.empty() && out_.back() != '\n' && out_.back() != '\r')
            out_.append(lineEnd);
        if (!port_.write(out_)) {
            prompt_.information("Cannot write to Com port");
            stopTimer(Playback::Paused);
            return;
        }
        nextEpoch_ = index + 1;
    }
    // The preview shows the last epoch sent, one line per sentence.
    std::string preview;
    for (std::size_t i = 0; i < out_.size(); ++i) {
        const char c = out_[i];
        if (c != '\r' && c != '\n')
            preview.push_back(c);
        else if (!preview.empty() && preview.back() != '\n')
            preview.push_back('\n');
    }
    if (!preview.empty() && preview.back() == '\n') preview.pop_back();
    view_.previewText(preview);
    setPosition(static_cast<long long>(nextEpoch_));
}

void ReplayEngine::endOfFile()
{
    if (options_.repeat) {
        file_.rewind();
        nextEpoch_ = 0;
    } else {
        file_.close();
        state_.replayFileOpen = false;
        stopTimer(Playback::Idle);
    }
    setPosition(0);
    if (!options_.repeat) view_.playbackFinished();
}

bool ReplayEngine::readLine(std::string& line)
{
    return file_.readLine(line);
}

void ReplayEngine::stopTimer(Playback state)
{
    timer_.disable();
    setPlayback(state);
}

void ReplayEngine::setPlayback(Playback state)
{
    if (state == playback_) return;
    playback_ = state;
    view_.playbackChanged(state);
}

void ReplayEngine::setPosition(long long position)
{
    state_.replayPosition = position;
    view_.gaugePosition(position);
}

}  // namespace trajix

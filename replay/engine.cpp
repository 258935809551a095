#include "replay/engine.hpp"

#include <array>
#include <cmath>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/platform.hpp"

namespace trajix {

namespace {
constexpr std::array<double, 8> speedFactors{0.1, 0.25, 0.5, 1.0, 1.5, 2.0, 5.0, 10.0};
constexpr std::array<int, 8> baudRates{1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr std::string_view lineEnd = "\r\n";
}  // namespace

double replaySpeedFactor(int index)
{
    if (index < 0 || index >= static_cast<int>(speedFactors.size())) return 1.0;
    return speedFactors[static_cast<std::size_t>(index)];
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
    if (rateHz <= 0) throw Error(fmt::format("output rate {} Hz: the replay needs a rate above 0", rateHz));
    if (!(speed > 0.0) || !std::isfinite(speed))
        throw Error(fmt::format("output speed {}: the replay needs a speed above 0", speed));
    if (!state_.replayFileOpen) {
        if (!file_.open(state_.replayFileName)) {
            prompt_.information("Unable to open replay file");
            stopTimer(Playback::Idle);
            return;
        }
        state_.replayFileOpen = true;
        view_.gaugeMaximum(state_.replaySentenceCount);
    }
    timer_.setPeriod((1.0 / static_cast<double>(rateHz)) / speed);
    timer_.enable();
    setPlayback(Playback::Playing);
}

void ReplayEngine::pause()
{
    stopTimer(state_.replayFileOpen ? Playback::Paused : Playback::Idle);
}

void ReplayEngine::stop()
{
    setPosition(0);
    if (state_.replayFileOpen) file_.rewind();
    stopTimer(state_.replayFileOpen ? Playback::Stopped : Playback::Idle);
}

void ReplayEngine::endPlayback()
{
    if (state_.replayFileOpen) {
        file_.close();
        state_.replayFileOpen = false;
        setPosition(0);
    }
    stopTimer(Playback::Idle);
}

void ReplayEngine::step()
{
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

void ReplayEngine::endOfFile()
{
    if (options_.repeat) {
        file_.rewind();
    } else {
        file_.close();
        state_.replayFileOpen = false;
        stopTimer(Playback::Idle);
    }
    setPosition(0);
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

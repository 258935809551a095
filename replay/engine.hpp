#pragma once
// The serial replay: plays a scanned NMEA file to a serial port, one fix per timer
// tick, and keeps the port and playback states of the "Serial Output" tab. A file of
// our own writers' kind plays one step per period; a receiver log plays each fix
// epoch when the playback clock reaches its time.
//
// Port states: Closed and Open (connect / disconnect). Playback states: Idle (file
// closed, timer off), Playing (timer on), Paused (file open at its line, timer off)
// and Stopped (file open and rewound, timer off). Everything runs on the owner's
// thread: the owner connects the timer's ticks to step().
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/baud_rates.hpp"
#include "common/prompt.hpp"
#include "common/replay_speeds.hpp"
#include "replay/line_reader.hpp"
#include "replay/scan.hpp"
#include "replay/timer.hpp"

namespace trajix {

/// The serial port as the replay uses it. Writes are queued: write() returns before
/// the bytes have left the port.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    /// Opens device (e.g. "/dev/ttyS0", "/dev/pts/3") at baudRate, 8N1, no flow
    /// control, DTR and RTS off. Returns false and keeps errorText() when it cannot.
    virtual bool open(const std::string& device, int baudRate) = 0;
    virtual void close() = 0;
    /// Discards queued output and received input.
    virtual void purge() = 0;
    /// Queues bytes; false when the port cannot take them (closed, gone, I/O error).
    virtual bool write(std::string_view bytes) = 0;
    /// Bytes queued and not yet sent.
    virtual long long bytesQueued() = 0;
    /// The reason of the last failure, for the user.
    virtual std::string errorText() const = 0;
};

/// What the tab shows; every call has a do-nothing default.
class ReplayView {
public:
    enum class Playback { Idle, Playing, Paused, Stopped };
    virtual ~ReplayView() = default;
    virtual void gaugeMaximum(long long /*maximum*/) {}
    /// The progress gauge: replay steps sent since the file was opened or rewound.
    virtual void gaugePosition(long long /*position*/) {}
    /// The text of BufferLabel: empty, or the output-buffer warning.
    virtual void bufferText(std::string_view /*text*/) {}
    /// The sentences of the last step, the later one first, separated by "\n".
    virtual void previewText(std::string_view /*text*/) {}
    virtual void portChanged(bool /*open*/) {}
    virtual void playbackChanged(Playback /*state*/) {}
    /// Playback reached the end of the file and stopped (not with repeat).
    virtual void playbackFinished() {}
};

inline constexpr const char* bufferFullText = "Output buffer full - playback rate too fast";
inline constexpr long long outputQueueLimit = 4096;

/// Replay speed factors of the speed list (replaySpeedNames), by index; an index
/// outside the list gives 1.
double replaySpeedFactor(int index);
/// Baud rates of the baud list (baudRates), by index; nothing for an index outside it.
std::optional<int> replayBaudRate(int index);

/// The state the scan and the replay share.
struct ReplayState {
    std::string replayFileName;
    long long replaySentenceCount = 0;
    bool replayHasExtraSentences = false;
    long long replayPosition = 0;
    bool replayFileOpen = false;
    bool comPortOpen = false;
    /// The epochs of a receiver log; empty for a file of our own kind.
    std::shared_ptr<const ReceiverLog> replayLog;
};

struct ReplayOptions {
    bool repeat = false;   ///< "Repeat": start again at the end of the file
    bool sendVtg = false;  ///< VTGBox: send VTG sentences (files of our own kind only)
    /// Gaps between the epochs of a receiver log longer than this many seconds play
    /// this long; no limit when not above 0. Taken at Start.
    double maxGap = 0.0;
};

class ReplayEngine {
public:
    using Playback = ReplayView::Playback;

    /// port, timer, prompt and view must outlive the engine.
    ReplayEngine(SerialPort& port, PeriodicTimer& timer, UserPrompt& prompt, ReplayView& view);

    ReplayState& state() { return state_; }
    const ReplayState& state() const { return state_; }
    ReplayOptions& options() { return options_; }
    Playback playback() const { return playback_; }

    /// Makes fileName the replay file with what its scan found. A scan that measured
    /// no rate changes nothing and returns false. Closes a file being played. The
    /// step count and the extra-sentence flag are only ever taken with their file: a
    /// writer's output scanned for the labels alone leaves the replay as it is.
    bool useReplayFile(const std::string& fileName, const ScanResult& scan);
    /// Connect: opens the port given as a COM number ("3" is /dev/ttyS2) or a device
    /// path, at baudRate (nothing keeps the previous rate, defaultBaudRate at first). Shows
    /// "cannot open COM port" and returns false when it cannot. Throws Error for a
    /// port text that is neither.
    bool connect(std::string_view portText, std::optional<int> baudRate);
    /// Connect to an output named as the port expects it (a network address, a set of
    /// outputs): shows the port's own error text and returns false when it cannot.
    bool connectTo(const std::string& target, std::optional<int> baudRate);
    /// Disconnect: purges and closes the port. Playback goes on until its next step.
    void disconnect();

    /// Start: plays from the current line at rateHz x speed fixes per second,
    /// opening the replay file first when it is not open. Throws Error for a rate
    /// or speed not greater than 0.
    /// A receiver log plays its epochs at their own times x speed; rateHz is not used.
    void start(long long rateHz, double speed);
    /// A new speed, taken at once by a running playback without a jump: what has
    /// played stays played and the rest follows at the new pace.
    void setSpeed(double speed);
    void pause();
    /// Rewinds the file (it stays open) and stops the timer.
    void stop();
    /// Closes the file and stops the timer (a tab change ends playback).
    void endPlayback();

    /// One timer tick: sends the next fix.
    void step();
    /// One timer tick when lastDue ticks have fallen due (TimerTick::lastDue): a receiver
    /// log sends every epoch due by then, so an owner that fell behind catches up with
    /// the clock at once instead of one epoch per tick. A file of our own kind sends its
    /// next fix as step() does.
    void step(long long lastDue);

private:
    void stopTimer(Playback state);
    void setPlayback(Playback state);
    void setPosition(long long position);
    void endOfFile();
    bool readLine(std::string& line);
    bool open(Playback failedState);
    void stepEpochs();
    void scheduleEpochs();

    SerialPort& port_;
    PeriodicTimer& timer_;
    UserPrompt& prompt_;
    ReplayView& view_;
    ReplayState state_;
    ReplayOptions options_;
    LineReader file_;
    int baudRate_ = defaultBaudRate;
    Playback playback_ = Playback::Idle;
    std::string line_;
    std::string out_;
    long long rateHz_ = 0;
    double speed_ = 1.0;
    // Receiver logs: epoch playback times, the next epoch to send, the epoch the
    // schedule counts from, the ticks delivered since and the ticks fallen due since.
    std::vector<double> epochTimes_;
    std::size_t nextEpoch_ = 0;
    std::size_t firstScheduled_ = 0;
    long long delivered_ = 0;
    long long ticks_ = 0;
};

}  // namespace trajix

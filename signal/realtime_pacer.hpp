#pragma once
// Paces a recording at the signal's own rate, for a radio or a receiver that reads it
// as it comes: each piece of samples leaves a short lead before its signal time, never
// earlier, and a piece that could not leave by its signal time counts as falling behind.
#include <functional>
#include <string>

namespace trajix {

class RealTimePacer {
public:
    /// Seconds on a monotonic clock, and a sleep of that many seconds.
    using Clock = std::function<double()>;
    using Sleep = std::function<void(double seconds)>;
    /// note receives a line each time the samples fall behind real time. Without clock
    /// and sleep, the steady clock and the thread's sleep.
    explicit RealTimePacer(std::function<void(const std::string&)> note, Clock clock = {}, Sleep sleep = {});

    /// How far ahead of its signal time a piece may leave, seconds.
    static constexpr double lead = 0.1;

    /// Waits until the piece of signal that starts signalStart seconds after the
    /// recording's start may leave. The first piece leaves at once. A piece that is
    /// ready only after its signal start time has passed starts a note (once per stretch
    /// of late pieces); the pace then starts afresh from it.
    void beforePiece(double signalStart);

    /// Stretches of late pieces so far, and the seconds lost in them.
    int timesBehind() const { return timesBehind_; }
    double secondsBehind() const { return secondsBehind_; }

private:
    std::function<void(const std::string&)> note_;
    Clock clock_;
    Sleep sleep_;
    bool started_ = false;
    double origin_ = 0;  // clock time at which the signal's time 0 is due
    bool behind_ = false;
    int timesBehind_ = 0;
    double secondsBehind_ = 0;
};

}  // namespace trajix

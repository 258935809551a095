#pragma once
// The receiver's path from a live NMEA stream: LiveNmeaReader turns the stream's bytes
// into good fixes (GGA, dated by RMC where present) and a note for everything it
// refuses; LivePath turns the latest fixes into the receiver's position at each piece
// of signal, as the generator makes it.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/calendar.hpp"
#include "signal/receiver_path.hpp"

namespace trajix {

using LiveNote = std::function<void(const std::string& note)>;

struct LiveFix {
    double latitude = 0, longitude = 0, height = 0;  ///< degrees, metres above the ellipsoid
    Ecef position;
    double streamSeconds = 0;          ///< the fix's UTC time of day, counted on over midnights
    std::string clock;                 ///< its time as the stream gave it: "hhmmss.ss"
    std::optional<CalendarDate> date;  ///< from an RMC sentence of the same day, if any came
    double timeOfDay() const;          ///< seconds after midnight UTC
};

class LiveNmeaReader {
public:
    /// note receives a line for each thing refused: garbage, a bad checksum, a field
    /// that is not a number, a sentence without a fix, a jump, time going backwards.
    explicit LiveNmeaReader(LiveNote note);

    /// Takes the next bytes of the stream (lines may be split anywhere) and returns the
    /// good fixes completed by them, in order. A fix is good when its time lies after
    /// the last good fix's and it lies within reach of it (1 km plus 600 m/s).
    std::vector<LiveFix> feed(std::string_view bytes);

    const std::optional<LiveFix>& lastGood() const { return last_; }
    /// The date at timeOfDay (seconds after midnight UTC) by the latest RMC sentence.
    std::optional<CalendarDate> dateAt(double timeOfDay) const;

    static constexpr std::size_t longestLine = 160;
    static constexpr double reachMetres = 1000, reachSpeed = 600;

private:
    void line(std::string_view text, std::vector<LiveFix>& out);
    void refuse(const std::string& kind, const std::string& note);

    LiveNote note_;
    std::string pending_;
    bool overlong_ = false;
    std::optional<LiveFix> last_;
    std::optional<CalendarDate> date_;  // the latest RMC's date
    double dateTimeOfDay_ = 0;          // and its time of day
    double dayOffset_ = 0;
    bool withoutFix_ = false;  // the last GGA had no fix (noted once until a fix comes)
    std::vector<std::pair<std::string, long long>> counts_;
};

/// The receiver's position as the live fixes give it, fixed piece by piece as the
/// generator asks (commitUntil) so that every worker sees the same path. At a piece's
/// end: the latest fix that had arrived by the lead before it (in signal time), moved
/// on with the velocity of the last two fixes for the time since it arrived; once the stream has
/// been silent for maxExtrapolation seconds (and a piece's grace) when a piece is
/// fixed, the receiver holds still, with a note. The step to a new fix from where the
/// old one led is spread over blendSeconds. Positions between the piece ends are
/// linear. A piece fixed late, after fixes that arrived past its end, still takes the
/// fix of its own time: the path depends on when the fixes came, not on when the
/// generator got round to it.
class LivePath {
public:
    using Clock = std::function<double()>;  ///< seconds on a monotonic clock
    /// first: the fix the signal starts at, arrived at `arrival` on the clock. log: the
    /// fixes followed and the notes.
    LivePath(const LiveFix& first, double arrival, LiveNote log, Clock clock = {});
    /// The seconds on the clock at which the signal's time 0 is due; without it, the
    /// first commitUntil's.
    void setOrigin(double clockSeconds);
    /// The steady clock in seconds, the default clock.
    static double steadySeconds();

    static constexpr double maxExtrapolation = 1.0;
    static constexpr double blendSeconds = 0.1;
    /// How far ahead of the clock commitUntil lets the signal's path be fixed.
    static constexpr double lead = 0.18;
    /// The longest extrapolation, in signal time: the silence, its grace and the lead.
    static constexpr double longestMove = maxExtrapolation + 0.05 + lead;

    /// A fix from the stream (any thread), arrived now.
    void addFix(const LiveFix& fix);
    /// The stream has ended (or failed).
    void endStream();
    /// The stream has ended and its last fix is in the path before a piece ending at
    /// signalSeconds: the recording is complete without that piece.
    bool endedBefore(double signalSeconds) const;
    /// Waits until the clock reaches signalSeconds less the lead (the signal's time 0
    /// is the first call's clock time), then fixes the path up to signalSeconds.
    /// Without waiting when pace is false (tests).
    void commitUntil(double signalSeconds, bool pace = true);
    /// Position at t seconds of signal, t within the committed path (clamped to it).
    /// Safe from any thread.
    Ecef positionAt(double t) const;
    /// Fixes followed so far.
    long long fixesFollowed() const;

private:
    struct Knot {
        double time;
        Ecef position;
    };
    // A fix as it arrived, with what the path makes of it.
    struct Arrival {
        LiveFix fix;
        Ecef velocity;    // metres per second
        Ecef correction;  // where the fix before led less this fix, at its arrival
        double arrival;   // clock time of its arrival
        long long number;
    };
    // The arrival that places the receiver at signal time t: the latest that had come
    // by the lead before it, when the piece ending at t is due to be fixed (the latest of
    // all before the origin is set); with mutex_ held.
    const Arrival& takenAt(double t) const;
    // Where arrival a puts the receiver at signal time t.
    Ecef estimateAt(const Arrival& a, double t) const;

    mutable std::mutex mutex_;
    LiveNote log_;
    Clock clock_;
    std::optional<double> origin_;  // clock time of signal time 0
    std::deque<Arrival> arrivals_;  // from the one the last piece took on
    long long lastFollowed_ = -1;   // the number of the arrival the last piece took
    bool holding_ = false;
    bool ended_ = false;
    double lastFollowedAt_ = 0;  // signal time of the knot that followed the latest fix
    long long followed_ = 0;
    std::vector<Knot> knots_;
};

}  // namespace trajix

#pragma once
// Motion command scripts: the command language, the jerk-limited motion primitives
// that advance the vehicle in 1 ms steps, and the writer that turns the recorded
// steps into an NMEA file.
//
// A script is one command per line, ended by ".end". Each line is lower-cased first:
//   name=value          set a start value (lat, long, height, vel, hdg or heading, time)
//   name=target@amount  change vel, hdg or height over metres ("m" anywhere in the
//                       line) or seconds (otherwise)
//   wait xxs            stand (or keep moving) for xx seconds
// Anything else has no effect; the run lists such lines (blank lines aside).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/output.hpp"
#include "common/progress.hpp"
#include "common/prompt.hpp"
#include "geo/geodesy.hpp"
#include "nmea/dates.hpp"

namespace trajix {

inline constexpr double scriptGravity = 9.81;                 ///< m/s^2 per g
inline constexpr double integrationStep = 0.001;              ///< s, one step of script time
inline constexpr std::int64_t scriptMemoryLimit = 1LL << 32;  ///< bytes the step arrays may take
inline constexpr int scriptMaxLines = 10000;                  ///< lines read from a script
inline constexpr double scriptMaxSpeed = 100000;              ///< km/h, the fastest speed a script may ask for

/// The values of a run that the front end supplies (the tabs' edits, the CLI's flags).
struct ScriptOptions {
    double outputRate = 20;       ///< Hz, the output update rate
    double userMaxJerk = 1;       ///< g/s, jerk of every speed change (must be > 0)
    double routeJerk = 2;         ///< g/s, jerk of climbs until the first speed change; floored at 0.1 g/s
    bool hdtAndGll = false;       ///< write GLL + HDT instead of GGA (no run-out)
    bool standardGll = false;     ///< GLL in NMEA 0183's layout (position, time, status, mode)
    bool stepwiseSearch = false;  ///< find speed changes' peaks the plain way (same result, slower)
    DateSentences dates;          ///< RMC and ZDA sentences, and the date of the first sample
};

/// One point of the preview charts, taken on the first step and every 25th after it.
struct ScriptChartPoint {
    double east = 0, north = 0;  ///< m, the track
    double time = 0;             ///< s of script time
    double height = 0;           ///< m
    double speedKmh = 0;         ///< km/h
};

/// Receives the preview charts' points; the GUI plots them, the CLI may print them.
class ScriptCharts {
public:
    virtual ~ScriptCharts() = default;
    /// A run begins: the track axes go back to automatic and all series are emptied.
    virtual void clear() {}
    virtual void addPoint(const ScriptChartPoint& point) { (void)point; }
};

/// An axis range of a chart, in metres.
struct AxisRange {
    double minimum = 0, maximum = 0;
};

/// Widens the shorter of the track chart's two axes so that both span equal ranges:
/// the difference of the spans, truncated to whole metres, is split over both ends.
void squareTrackAxes(AxisRange& horizontal, AxisRange& vertical);

/// The working data of script runs. The caller owns it and reuses it: the start point
/// (geoLatitude, geoLongitude) and currentHeight carry over from one run to the next,
/// everything else is reset by each run.
struct ScriptState {
    // Carried over between runs.
    long double geoLatitude = 0;   ///< degrees, start point; after a written run its last sample
    long double geoLongitude = 0;  ///< degrees
    double currentHeight = 0;      ///< m

    // Reset by every run.
    double currentSpeed = 0;                     ///< m/s
    double currentHeading = 0;                   ///< degrees clockwise from north, not reduced to [0, 360)
    double localEastPos = 0, localNorthPos = 0;  ///< m from the start point
    double maxJerk = 0;                          ///< m/s^3; also the vertical acceleration of climbs
    bool runOk = true;                           ///< cleared by a speed change that cannot be achieved
    bool previewOnly = false;
    OutputState output;  ///< outputInterval is the 1 ms step while a script runs
    GeoState geo;

    /// Per-step record. Index k holds the speed, heading and height of step k and the
    /// position reached after k-1 steps; index 0 is the seed. sampleSpeed, sampleHeading
    /// and sampleHeight hold sampleCount elements, sampleEast and sampleNorth one more
    /// (the position after the last step). The up component is always 0 and not stored.
    /// With keepStride s above 1 only the steps the writer reads are kept: element j of
    /// sampleSpeed, sampleHeading and sampleHeight holds step 1 + j * s, element j of
    /// sampleEast and sampleNorth the position reached after j * s steps; no seed.
    std::vector<float> sampleSpeed, sampleHeading, sampleHeight, sampleEast, sampleNorth;
    std::int64_t sampleCount = 0;  ///< steps recorded + the seed, whatever is kept
    std::int64_t keepStride = 1;   ///< 1: every step is kept; s: every s-th, as the writer reads them
    std::int64_t keepPhase = 0;    ///< (sampleCount - 1) mod keepStride
    /// The position increment of the last step and the heading, speed and interval it came
    /// from: a step that drives on unchanged adds the very same increment.
    double trigHeading = 0, trigSpeed = 0, trigInterval = 0;
    double eastStep = 0, northStep = 0;
    bool trigValid = false;
    int chartCountdown = 0;
    std::int64_t stepLimit = 0;  ///< most 1 ms steps the memory limit allows, every keepStride-th kept
};

/// Bytes of the per-step arrays for one step.
inline constexpr std::int64_t scriptBytesPerStep = 5 * sizeof(float);

/// What a run hands back to the front end.
enum class ScriptOutcome {
    Written,       ///< the NMEA file was written
    Preview,       ///< a preview: charts only, nothing written
    Unachievable,  ///< a speed change could not be achieved: nothing written
    NoMotion,      ///< the script records no step: nothing written
};

/// A script line that matches no command (a typo, free text): it has no effect.
struct UnmatchedLine {
    int line = 0;      ///< 1-based
    std::string text;  ///< the line as written
};

struct ScriptResult {
    ScriptOutcome outcome = ScriptOutcome::Preview;
    std::int64_t sampleCount = 0;               ///< recorded steps + the seed
    std::int64_t sentences = 0;                 ///< sentences written (GLL + HDT count as two)
    std::vector<UnmatchedLine> unmatchedLines;  ///< in line order; blank lines are not listed
};

/// Callbacks and options of one run.
struct ScriptEnvironment {
    const ScriptOptions& options;
    ProgressSink& progress;
    UserPrompt& prompt;
    ScriptCharts& charts;
    int line = 0;  ///< the script line being carried out (1-based), for messages
};

/// The text of a speed change the jerk limit cannot achieve.
std::string unachievableMessage(double jerk, double vStart, double vTarget, double amount, bool byDistance);

/// The message of a wait while moving.
inline constexpr std::string_view waitInMotionMessage = "Error - Wait command used whilst still in motion";

// ---- Reading scripts ----------------------------------------------------------------

/// Splits a script text into lines at CR LF, LF or CR.
std::vector<std::string> splitScriptLines(std::string_view text);

/// One command of a script line. A line gives up to two: a set or change, and a wait.
struct ScriptCommand {
    enum class Kind { Set, Change, Wait };
    /// The quantity a set or change line names: "lat", "long", "height", "vel", "hdg"
    /// (or "heading", as a set only) and "time". Changes name only Height, Vel and Hdg.
    enum class Name { None, Lat, Long, Height, Vel, Hdg, Time };
    Kind kind = Kind::Set;
    int line = 0;            ///< 1-based
    Name name = Name::None;  ///< None for a wait
    double value = 0;        ///< set value, change target, or wait seconds
    double amount = 0;       ///< change amount
    bool metres = false;     ///< change amount is metres (else seconds)
};

/// The commands of a script and its lines that match none.
struct ParsedScript {
    std::vector<ScriptCommand> commands;
    std::vector<UnmatchedLine> unmatchedLines;  ///< lines other than blank ones that give no command
};

/// Reads the commands of the lines up to ".end" (at most 10000 lines). Throws Error
/// naming the line for a value that is not a number.
ParsedScript parseScript(const std::vector<std::string>& lines);

/// The message that lists lines matching no command, one a line with its number (the
/// first 20, then how many more; long lines cut, control bytes shown as \xNN). Empty
/// when there are none.
std::string unmatchedLinesMessage(const std::vector<UnmatchedLine>& lines);

/// Checks a parsed script before it runs: refuses (Error naming the line) a max jerk
/// <= 0, a time, distance or radius <= 0, a speed below 0 or above scriptMaxSpeed, a
/// latitude beyond 90 degrees, a negative time, a value beyond 1e15, a climb over
/// distance while standing, and a script whose kept steps (every keepStride-th, as a
/// written run keeps them) would need more memory than scriptMemoryLimit. Returns the
/// estimated number of 1 ms steps. (The output rate is checked by ConvertCmdFile when it
/// writes a file.)
std::int64_t checkScript(const std::vector<ScriptCommand>& commands, const ScriptOptions& options,
                         std::int64_t keepStride = 1);

/// Runs a script. target is the NMEA file to write, or "preview" for charts only.
/// The file is written beside the target and renamed on success, so a refused or
/// failed run leaves an existing file of that name untouched. A speed change that
/// cannot be achieved shows its message and the run goes on without writing; a script
/// that records no step writes nothing and says so (both through prompt). The result
/// lists the lines that matched no command, for the front end to show. Throws Error
/// for a refused script, a value that is not a number, or a cancelled run. progress
/// shows the run through the script ("Generating NMEA file"), saving the write of the
/// file ("Saving NMEA file").
ScriptResult ConvertCmdFile(ScriptState& state, const std::vector<std::string>& lines, const std::string& target,
                            const ScriptOptions& options, ProgressSink& progress, ProgressSink& saving,
                            UserPrompt& prompt, ScriptCharts& charts);
/// The same with one progress for both steps.
inline ScriptResult ConvertCmdFile(ScriptState& state, const std::vector<std::string>& lines, const std::string& target,
                                   const ScriptOptions& options, ProgressSink& progress, UserPrompt& prompt,
                                   ScriptCharts& charts)
{
    return ConvertCmdFile(state, lines, target, options, progress, progress, prompt, charts);
}

// ---- Motion primitives (1 ms steps) ------------------------------------------------

/// Resets the trajectory for a new run and records the seed (index 0). keepStride above 1
/// keeps only every keepStride-th step (the writer's stride), so that memory grows with
/// the written samples rather than the 1 ms steps.
void resetTrajectory(ScriptState& state, const ScriptOptions& options, std::int64_t expectedSteps = 0,
                     std::int64_t keepStride = 1);

/// One integration step: records speed, heading and height, advances the position by
/// the heading and speed, plots every 25th step, records the new position.
void updatePos(ScriptState& state, ScriptEnvironment& env);

/// Jerk-limited speed change to vTarget (m/s) lasting time seconds.
void acceltime(ScriptState& state, ScriptEnvironment& env, double vTarget, double time);
/// Jerk-limited speed change to vTarget (m/s) over distance metres.
void accelDist(ScriptState& state, ScriptEnvironment& env, double vTarget, double distance);
/// Turn by delta degrees (positive clockwise) on a radius in metres; nothing at rest.
void turnRadius(ScriptState& state, ScriptEnvironment& env, double delta, double radius);
/// Turn by delta degrees at a constant rate within time seconds.
void turnTime(ScriptState& state, ScriptEnvironment& env, double delta, double time);
/// Height change to hTarget (m) with a ramped vertical speed over time seconds.
void climbTime(ScriptState& state, ScriptEnvironment& env, double hTarget, double time);
/// Height change to hTarget (m) over distance metres travelled (speed must be > 0).
void climbDist(ScriptState& state, ScriptEnvironment& env, double hTarget, double distance);
/// Keeps going unchanged for time seconds; warns when moving.
void wait(ScriptState& state, ScriptEnvironment& env, double time);

// ---- The peak-acceleration search ---------------------------------------------------

/// A jerk-limited speed-change profile simulated at 1 ms steps.
struct ProfileRun {
    std::int64_t steps = 0;      ///< loop passes over all three phases
    double duration = 0;         ///< 0.001 added once per pass, in double
    double distance = 0;         ///< m
    std::int64_t rampSteps = 0;  ///< passes of the first phase (the acceleration ramps up)
    std::int64_t holdSteps = 0;  ///< passes of the second (the acceleration held)
};

/// Simulates the change from vStart to vTarget (m/s, different) with peak acceleration
/// peak (m/s^2, the sign of the change) and jerk (m/s^3, > 0).
ProfileRun simulateProfile(double vStart, double vTarget, double peak, double jerk);

struct PeakSearch {
    bool found = false;  ///< false: the change cannot be achieved
    double peak = 0;     ///< m/s^2, the peak acceleration to drive
    std::int64_t iterations = 0;
};

/// Finds the peak acceleration of a change from vStart to vTarget (different) that
/// lasts amount seconds (byDistance false) or covers amount metres (true).
/// Contract, which a faster search must reproduce bit for bit:
///  - A starts at (vTarget - vStart) / T, or (vTarget^2 - vStart^2) / (2 D), and each
///    iteration adds 0.0001 in the sign of the change (A = A + 0.0001 in double) and
///    simulates the profile; error = duration - T (or distance - D).
///  - The grid goes on while error > 0.01 and fewer than 100000 iterations were made.
///  - If the first iteration already has error < -0.01, the peak is bisected between
///    the start value and the first iteration's value (midpoint in double, slow half
///    when the error is positive) until |error| <= 0.01 or 60 halvings.
///  - By distance, a rise whose A passes 98.1 or a fall below -49.05 after any
///    iteration fails at once.
///  - Not found when the grid ends with error > 0.01.
/// gauge receives trunc((iteration + 1) / 1000) (0..100) whenever it changes.
PeakSearch findPeakAcceleration(double vStart, double vTarget, double amount, bool byDistance, double jerk,
                                ProgressSink& gauge);

/// The search of findPeakAcceleration done the plain way, one simulation per grid
/// point; same results, kept as the reference that the fast search is checked against.
PeakSearch findPeakAccelerationStepwise(double vStart, double vTarget, double amount, bool byDistance, double jerk,
                                        ProgressSink& gauge);

// ---- Writing ---------------------------------------------------------------------------

/// The step stride of an output rate: round(1 / rate / 0.001), halves away from zero.
/// Throws Error for a rate that is not positive or gives a stride below 1.
std::int64_t sampleStrideForRate(double rate);

/// Writes the recorded run as NMEA to the file named state.output.outputFileName
/// (atomically): every stride-th step from index 1, GGA (altitude "####.00") padded to
/// the next whole second, or GLL + HDT without padding. Leaves geoLatitude and
/// geoLongitude at the last written sample. Returns the number of sentences.
std::int64_t saveNMEA(ScriptState& state, const ScriptOptions& options, ProgressSink& progress);

}  // namespace trajix

#pragma once
// Google Earth routes: a path drawn in Google Earth and saved as KML is read, turned
// into a dense smooth path in a local frame, given a jerk-limited speed profile between
// its corners, driven through time and written as an NMEA file.
//
// `LoadKML` runs the steps below in order over one RouteState; each step is a function
// of its own so that tests and the preview can run them one at a time.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/progress.hpp"
#include "common/prompt.hpp"
#include "common/units.hpp"
#include "geo/geodesy.hpp"
#include "nmea/dates.hpp"
#include "sky/sky_model.hpp"

namespace trajix::route {

/// The limits and settings of one run, as entered on the tab or on the command line.
struct RouteParameters {
    double outputRate = 20;                ///< Hz: output update rate; the profile samples at the same rate
    bool writeVtg = false;                 ///< write a VTG sentence after every GGA
    double maxSpeedKmh = 100;              ///< km/h, > 0
    double maxLatAccG = 1;                 ///< g, > 0
    double maxLongAccG = 1;                ///< g, > 0
    double maxJerkGs = 2;                  ///< g/s; a value below 0.1 g/s is raised to 0.981 m/s^3
    double smoothFactor = 100;             ///< position smoothing factor, truncated toward zero, >= 1
    double stationaryStart = 80;           ///< s at rest before the motion (whole seconds when writing)
    double stationaryEnd = 5;              ///< s at rest after the motion (whole seconds when writing)
    double startTime = nineOClockSeconds;  ///< s of day of the first sentence (whole seconds when writing)
    std::string path;                      ///< the path to drive: empty for the first, a 1-based index or a name
    bool heights = false;                  ///< write the heights of the file's points instead of the fixed altitude
    DateSentences dates;                   ///< RMC and ZDA sentences, and the date of the first sample
};

/// Chart points and result texts, for the tab's charts and captions. Any may be empty.
struct RouteCallbacks {
    std::function<void(double east, double north)> rawPoint;       ///< every KML point, metres
    std::function<void(double east, double north)> smoothedPoint;  ///< every 50th smoothed point
    std::function<void(double time, double speedKmh)> speedPoint;  ///< one per profile sample
    std::function<void(const std::string& distanceText, const std::string& timeText)> totals;
};

/// One corner entry: the speed to reach at a path point.
struct Corner {
    double cornerSpeed = 0;     ///< m/s
    double cornerDistance = 0;  ///< m along the path
    std::int32_t cornerIndex = 0;
};

/// The jerk-limited plan of one stretch between two corners (six phases: S1 jerk up,
/// S2 constant acceleration, S3 jerk down; S4 jerk down, S5 constant deceleration,
/// S6 jerk back to zero). Distances in m, speeds in m/s.
struct SegmentProfile {
    double maxJerk = 0;     ///< m/s^3
    double maxLongAcc = 0;  ///< m/s^2
    double segmentLength = 0, startSpeed = 0, endSpeed = 0, peakSpeed = 0;
    double jerkSpeedGain = 0;
    double accelHalf = 0, decelHalf = 0;
    bool accelTrapezoid = false, decelTrapezoid = false;
    double S1 = 0, S2 = 0, S3 = 0, S4 = 0, S5 = 0, S6 = 0;
    double riseDistance = 0, fallDistance = 0, neededDistance = 0;
};

/// All working data of one run. Path arrays are indexed 1..pathCount (element 0 unused,
/// except pathDistance[0] = 0); sample arrays from 0.
struct RouteState {
    // limits in SI units
    double maxSpeed = 0, maxLatAcc = 0, maxLongAcc = 0, maxJerk = 0;
    int smoothFactor = 100;
    double interpSpacing = 0.1;
    double outputInterval = 0.05;  ///< s, 1 / rate held as a double; also the profile interval
    std::int64_t intervalTicks = 500;

    GeoState geo;
    std::vector<float> rawEast, rawNorth, rawUp;  ///< 1..rawCount
    std::vector<float> rawHeight;                 ///< 1..rawCount, file altitudes (m); empty without heights
    std::size_t rawCount = 0;
    std::vector<double> pathEast, pathNorth, pathUp, pathStep, pathDistance, pathTurn;
    std::vector<double> pathHeight;  ///< densified rawHeight; empty without heights
    std::size_t pathCount = 0;

    std::vector<Corner> corners;
    std::size_t limitCorners = 0;  ///< corners the lateral limit check added; 0 when the plan held the limit
    SegmentProfile profile;

    std::vector<double> sampleSpeed, sampleDistance, sampleEast, sampleNorth;
    std::vector<double> sampleHeight;  ///< altitude written for each sample; empty without heights
    std::int64_t sampleCount = 0;
    double routeDistance = 0;
    double profileTime = 0;
    std::int64_t stepCount = 0;  ///< 0.0001 s steps driven so far over the whole route

    std::string distanceText, timeText;
    double totalTime = 0;  ///< s: the stationary periods and the samples between, as timeText gives it
    double maxLateralAcc = 0, maxLongitudinalAcc = 0;  ///< m/s^2: the highest reached (measureAccelerations)
    std::string accelerationText;                      ///< both, in g, for the summary and the speed chart
};

/// Longitude and latitude of one path point, degrees, and its altitude in metres when
/// the file gives one.
struct KmlCoordinate {
    double longitude = 0, latitude = 0;
    double altitude = 0;
    bool hasAltitude = false;
};

/// Reads the points of the first path (LineString, LinearRing or gx:Track) in KML text;
/// coordinate lists of Points before it are skipped. Tuples are separated by blanks,
/// tabs or line breaks, the numbers of a tuple by commas (longitude, latitude, optional
/// altitude); a gx:coord holds them separated by blanks. A last tuple of one number is
/// dropped. Throws Error naming source for a file without a path, or a path without a
/// complete point, or with a malformed tuple or number (see readKmlPaths).
std::vector<KmlCoordinate> readKmlCoordinates(std::string_view text, std::string_view source);

/// Puts the KML points into the local frame: east, north, up of each point at 100 m
/// height relative to the first one, stored as 32-bit floats; chooses interpSpacing
/// (1.0 m when the end lies more than 500 km from the start, else 0.1 m).
void loadRawPoints(RouteState& state, const std::vector<KmlCoordinate>& points, const RouteCallbacks& callbacks);

/// East and north (metres) of a latitude and longitude (degrees) in the frame
/// loadRawPoints puts the path in, and back: for maps drawn under the path.
struct FramePoint {
    double east = 0, north = 0;
};
FramePoint toRouteFrame(const RouteState& state, double latitude, double longitude);
/// The latitude (first) and longitude (second) of a point of the frame, degrees.
std::pair<double, double> fromRouteFrame(const RouteState& state, double east, double north);

/// Number of path points densifying would make; Error when the arrays would exceed 4 GiB.
std::size_t densifiedPointCount(const RouteState& state);

/// Densifies the raw points (and rawHeight when there is one) to interpSpacing.
/// Throws Error when fewer than 3 points result.
void densifyPath(RouteState& state, ProgressSink& progress);

/// Forward then backward first-order low-pass of east and north with weight
/// 1/smoothFactor; every 50th point of the backward pass goes to smoothedPoint.
void smoothPath(RouteState& state, ProgressSink& progress, const RouteCallbacks& callbacks);

/// pathStep and pathDistance from the smoothed path.
void calculateDistances(RouteState& state, ProgressSink& progress);

/// pathTurn: deflection in degrees at each inner point (0 straight, 180 folded back).
void calculateDeflections(RouteState& state, ProgressSink& progress);

/// The corner list: start, the corners slower than maxSpeed, end.
void findCorners(RouteState& state, ProgressSink& progress);

/// Lowers corner speeds until every stretch can be driven within its length.
void makeCornersFeasible(RouteState& state);

/// Holds the lateral limit at every path point: wherever the planned speed exceeds
/// sqrt(radius x maxLatAcc) (radius from the corner rule's circle length, without its
/// 500 m cap), the worst point of each run over the limit becomes a corner with that
/// speed, and corner speeds are lowered until every stretch fits within its length,
/// until no point exceeds the limit. A plan that already holds the limit is left as it
/// is. Returns the number of corners added.
std::size_t holdLateralLimit(RouteState& state, ProgressSink& progress);

/// Plans one stretch (length L, speeds in m/s) into profile, lowering peakSpeed when
/// the stretch is too short; the distance the plan needs is left in neededDistance.
/// Expects maxJerk, maxLongAcc set and peakSpeed = maxSpeed on entry.
void calcDistance(SegmentProfile& profile, double segmentLength, double endSpeed, double startSpeed);
/// The rise (S1..S3, accelHalf, accelTrapezoid, riseDistance) for the current peakSpeed.
void recalcS1S2S3(SegmentProfile& profile, double endSpeed, double startSpeed);
/// The fall (S4..S6, decelHalf, decelTrapezoid, fallDistance) for the current peakSpeed.
void recalcS4S5S6(SegmentProfile& profile, double endSpeed, double startSpeed);

/// Drives one stretch planned by calcDistance in 0.0001 s steps and takes a sample
/// whenever the route-wide step count is a multiple of intervalTicks. Reports an
/// overshoot of more than 0.1 m through prompt.
void plotSpeedProfile(RouteState& state, double segmentLength, double endSpeed, double startSpeed,
                      const RouteCallbacks& callbacks, UserPrompt& prompt);

/// Plans and drives every stretch, then sets the two result texts. Throws Error when
/// the route has no moving sample.
void runProfilePass(RouteState& state, const RouteParameters& parameters, ProgressSink& progress,
                    const RouteCallbacks& callbacks, UserPrompt& prompt);

/// Maps every sample's distance to a position on the path (one forward walk), and to a
/// height when the path has heights.
void calculatePositions(RouteState& state);

/// Radius of the circle at inner path point i by the corner rule (circle length
/// 360 / pathTurn x pathStep over 2 pi) without its 500 m cap, m; infinite where the
/// path runs straight.
double pathRadius(const RouteState& state, std::size_t i);

/// The highest lateral and longitudinal acceleration of the driven samples: lateral
/// v^2 / pathRadius at every path point passed, the speed taken between the samples
/// on either side; longitudinal from the speed change between consecutive samples.
/// Sets maxLateralAcc, maxLongitudinalAcc and accelerationText.
void measureAccelerations(RouteState& state);

/// Writes the NMEA file: stationary start, moving samples, stationary end and the
/// run-out to a whole second, through an atomic file.
void saveNMEA(RouteState& state, const RouteParameters& parameters, const std::filesystem::path& outputFileName,
              ProgressSink& progress);

/// The sky of the first fix saveNMEA writes (its time, place and altitude), as the
/// file's first GSA and GSV report it; nullopt without the sky. Throws Error as the
/// writer does when the sky file covers no satellite then.
std::optional<sky::SkyView> firstFixSky(RouteState& state, const RouteParameters& parameters);

/// Where the first fix saveNMEA writes lies: degrees, and its course (degrees from north)
/// as the street takes it.
struct FirstFix {
    double latitude = 0, longitude = 0, course = 0;
};
FirstFix firstFix(RouteState& state, const RouteParameters& parameters);

/// With a street (parameters.dates.street): for each sample (indices of sampleEast and
/// sampleNorth), whether the file saveNMEA writes has lost the fix there (fewer than 4
/// satellites received) at any of its writings. Empty without a street.
std::vector<bool> lostFixSamples(RouteState& state, const RouteParameters& parameters);

/// Checks the parameters and converts the limits into state (SI units, intervals).
/// forWriting also requires whole-second stationary periods and start time.
void applyParameters(RouteState& state, const RouteParameters& parameters, bool forWriting);

/// The whole pipeline on a path file (KML, KMZ or GPX; the path parameters.path names,
/// the first by default); writes outputFileName unless it is empty.
RouteState LoadKML(const std::filesystem::path& kmlFileName, const RouteParameters& parameters,
                   const std::filesystem::path& outputFileName, ProgressSink& progress, UserPrompt& prompt,
                   const RouteCallbacks& callbacks = {});

/// Square chart ranges: the smaller of the two ranges is widened at both ends by half
/// the difference of the ranges, the difference first truncated to whole metres.
void squareChartRanges(double& minX, double& maxX, double& minY, double& maxY);

}  // namespace trajix::route

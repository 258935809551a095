#pragma once
// The sky a GNSS receiver sees: which satellites of GPS, Galileo, BeiDou and GLONASS are
// up at a time and place, where they are in its sky, how strong their signals arrive,
// and the dilution of precision of the ones it uses. One model for the NMEA writers and
// the signal generator, so a file and the signal of the same scenario tell the same
// story.
//
// Times are seconds of GPS time since the start of the model's base GPS week (they may
// run past the week's end), whatever the satellite's system. A GPS satellite's
// ephemeris at a time is:
// - from an almanac: sets made from the almanac every 2 hours, the first with its toe on
//   the 16 s grid nearest the anchor (the start of the run), each in force from 1 hour
//   before its toe (the first from any earlier time);
// - from broadcast ephemerides: the set with the latest toe among those whose fit
//   interval (centred on toe) holds the time; a satellite whose set is unhealthy is not
//   in the sky.
// A Galileo, BeiDou or GLONASS satellite's record at a time is the one with the nearest
// reference time within its validity (Galileo and BeiDou 2 h either side, GLONASS
// 30 min), unless it is unhealthy for the signal used (Galileo: E1). Of Galileo, the
// I/NAV records are used, the F/NAV ones only for a satellite without I/NAV records.
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "sky/ecef.hpp"
#include "sky/gnss_system.hpp"
#include "sky/gps_orbit.hpp"
#include "sky/rinex_navigation.hpp"
#include "sky/system_set.hpp"
#include "sky/yuma_almanac.hpp"

namespace trajix::sky {

/// A satellite's signal as received at a time: its position when it sent (turned with
/// the Earth during the travel), the travel time and its clock offset then.
struct Signal {
    Ecef position;           ///< ECEF of the reception instant, metres
    double travel = 0;       ///< seconds
    double clockOffset = 0;  ///< satellite clock minus its system's time (GPS, GST, BDT, GLONASS), seconds
};

/// Turns a satellite's state sent `travel` seconds before reception into the ECEF frame
/// of reception and returns the light time of its range to the receiver.
inline double receivedAfter(gps::SatelliteState& state, double travel, const Ecef& receiver)
{
    const double turn = gps::earthRotationRate * travel;
    const double x = state.x * std::cos(turn) + state.y * std::sin(turn);
    const double y = -state.x * std::sin(turn) + state.y * std::cos(turn);
    state.x = x;
    state.y = y;
    const double range = std::sqrt((x - receiver.x) * (x - receiver.x) + (y - receiver.y) * (y - receiver.y) +
                                   (state.z - receiver.z) * (state.z - receiver.z));
    return range / gps::speedOfLight;
}

/// The signal of a satellite received at t (seconds since the start of baseWeek) by a
/// receiver at ECEF receiver, its position and clock from the set setAt(transmit) gives
/// (a const gps::BroadcastEphemeris*, nullptr when there is none): the light time found
/// by `iterations` passes from 75 ms, the satellite turned with the Earth during the
/// travel. Nothing when a pass finds no set.
template <class SetAt>
std::optional<Signal> signalFrom(SetAt&& setAt, int baseWeek, double t, const Ecef& receiver, int iterations = 4)
{
    double travel = 0.075;
    gps::SatelliteState state;
    for (int iteration = 0; iteration < iterations; ++iteration) {
        const double transmit = t - travel;
        const gps::BroadcastEphemeris* eph = setAt(transmit);
        if (!eph) return std::nullopt;
        state = gps::satelliteState(*eph, transmit - static_cast<double>(eph->week - baseWeek) * gps::secondsPerWeek);
        travel = receivedAfter(state, travel, receiver);
    }
    return Signal{{state.x, state.y, state.z}, travel, state.clockOffset};
}

/// The zenith C/N0 and the drop towards the horizon: C/N0 = zenith - noise figure -
/// 3 (1 - sin(elevation)) dB-Hz.
struct SignalStrength {
    double zenithCn0 = 45;  ///< dB-Hz at zenith with a noise figure of 0 dB
    double noiseFigureDb = 0;
};

/// C/N0 in dB-Hz of a satellite at elevationDegrees (below the horizon as at it).
double carrierToNoise(double elevationDegrees, const SignalStrength& strength);

/// The receiver's local vertical and horizontal directions (geodetic, WGS-84), with its
/// position; computed once per position.
struct ReceiverFrame {
    Ecef position;
    double upX = 0, upY = 0, upZ = 0;
    double eastX = 0, eastY = 0;
    double northX = 0, northY = 0, northZ = 0;
};
ReceiverFrame receiverFrame(const Ecef& receiver);

/// Elevation in degrees (-90..90) of a satellite at ECEF position from the receiver.
double elevationDegrees(const ReceiverFrame& frame, const Ecef& satellite);
/// Azimuth in degrees [0, 360), clockwise from true north.
double azimuthDegrees(const ReceiverFrame& frame, const Ecef& satellite);

/// The times a sky file serves, in seconds since the start of GPS week 0 (GPS time).
struct SkyCoverage {
    double first = 0;  ///< the earliest time it covers
    double last = 0;   ///< the latest
    /// Where a run that asks for a time outside is best moved: an almanac's time of
    /// applicability, a navigation file's first covered time.
    double suggestedStart = 0;
};

/// A time the file does not cover; what() names the file, the time and the span it
/// covers (UTC), and the span comes along for an offer to move the start inside.
class SkyNotCovered : public Error {
public:
    SkyNotCovered(const std::string& message, SkyCoverage coverage, double time)
        : Error(message), coverage_(coverage), time_(time)
    {
    }
    const SkyCoverage& coverage() const { return coverage_; }
    /// The time asked for, seconds since the start of GPS week 0.
    double time() const { return time_; }

private:
    SkyCoverage coverage_;
    double time_ = 0;
};

/// "YYYY-MM-DD hh:mm:ss UTC" of a GPS time in seconds since the start of GPS week 0
/// (the leap seconds of its week taken off).
std::string utcText(double gpsSeconds);

class SkyModel {
public:
    /// Satellites of a YUMA almanac (unhealthy ones left out) whose records belong to
    /// full GPS week almanacWeek. source names the file in messages.
    static SkyModel fromAlmanac(const std::vector<AlmanacRecord>& records, int almanacWeek, std::string source);
    /// Satellites of a RINEX navigation file: every system its reader kept.
    static SkyModel fromRinex(const RinexNavigation& navigation, std::string source);
    /// Reads a YUMA almanac or a RINEX navigation file (told apart by the RINEX header
    /// line), keeping the satellites of `systems`; an almanac's 10-bit week is taken as
    /// the full week nearest nearWeek. Throws Error naming the file for unreadable ones
    /// and for files without a satellite of the systems asked for (an almanac holds GPS
    /// alone; other systems asked for are a line in skipped()).
    static SkyModel fromFile(const std::filesystem::path& file, int nearWeek, const SystemSet& systems = gpsOnly);

    /// Sets the base week of all times and the start of the run (seconds since the base
    /// week began), on which an almanac's sets are laid.
    void anchor(int baseWeek, double startSeconds);
    int baseWeek() const { return baseWeek_; }

    bool fromAlmanac() const { return almanac_; }
    const std::string& source() const { return source_; }
    /// What the reader of the file left out, one line each.
    const std::vector<std::string>& skipped() const { return skipped_; }

    /// Number of satellites and the number of each in its system (GLONASS: the slot),
    /// by system (GPS, Galileo, BeiDou, GLONASS) and number.
    std::size_t size() const { return satellites_.size(); }
    int prn(std::size_t satellite) const { return satellites_[satellite].prn; }
    GnssSystem system(std::size_t satellite) const { return satellites_[satellite].system; }
    /// A GLONASS satellite's frequency channel (-7..+6, from its latest record); nullopt
    /// for the other systems.
    std::optional<int> glonassChannel(std::size_t satellite) const { return satellites_[satellite].channel; }

    /// The system's time minus UTC in seconds at t: the file's offset (TIME SYSTEM CORR
    /// or STO: GPUT, GAUT, BDUT, GLUT) over the leap seconds, or the leap seconds alone
    /// (the file's LEAP SECONDS, else the standard table) when it has none. GLONASS time
    /// is taken without its 3 h; BeiDou time runs 14 s behind GPS time.
    double systemMinusUtc(GnssSystem system, double t) const;

    /// A GPS satellite's set in force at t, or nullptr when the satellite has no valid
    /// healthy one (and for satellites of other systems).
    const gps::BroadcastEphemeris* ephemerisAt(std::size_t satellite, double t) const;

    /// A Galileo satellite's record in force at t (the one signalAt uses), or nullptr
    /// when it has none valid and healthy for E1 (and for satellites of other systems).
    const galileo::Ephemeris* galileoEphemerisAt(std::size_t satellite, double t) const;

    /// The file's system time offsets (TIME SYSTEM CORR lines or STO records), GPGA
    /// (GPS - Galileo) among them, in the order of the file.
    const std::vector<RinexTimeCorrection>& timeCorrections() const { return timeCorrections_; }

    /// The first `count` almanac sets of a satellite, as the generator broadcasts them
    /// (almanac models only).
    std::vector<gps::BroadcastEphemeris> almanacEphemerides(std::size_t satellite, long long count) const;

    /// The satellite's signal received at t by a receiver at ECEF receiver, the light
    /// time found by `iterations` passes from 75 ms (two reach the nanosecond, the
    /// generator makes four); nullopt when it has no set in force.
    std::optional<Signal> signalAt(std::size_t satellite, double t, const Ecef& receiver, int iterations = 4) const;
    /// signalAt of two satellites, bit for bit; two GLONASS ones take little more than
    /// the time of one.
    std::array<std::optional<Signal>, 2> signalsAt(std::size_t first, std::size_t second, double t,
                                                   const Ecef& receiver, int iterations = 4) const;

    /// Throws SkyNotCovered naming the file and the time when no satellite has a set in
    /// force at t (or the almanac lies further from t than its validity), with the span
    /// the file covers in UTC.
    void checkCovers(double t) const;
    /// The span the file covers: an almanac its validity either side of its time of
    /// applicability, a navigation file from its first set's fit interval to its last.
    SkyCoverage coverage() const;

    /// How long an almanac stays usable before and after its time of applicability.
    static constexpr double almanacValiditySeconds = 26.0 * gps::secondsPerWeek;

private:
    struct Satellite {
        GnssSystem system = GnssSystem::gps;
        int prn = 0;
        std::optional<int> channel;                   // GLONASS
        std::vector<galileo::Ephemeris> galileoSets;  // by toe
        std::vector<beidou::Ephemeris> beidouSets;    // by toe
        std::vector<glonass::Ephemeris> glonassSets;  // by epoch
        std::vector<double> reference;                // other systems: toe (tb) in GPS seconds since week 0
        AlmanacRecord almanac;                        // almanac models
        std::vector<gps::BroadcastEphemeris> sets;    // broadcast models, by toe
        std::vector<double> validFrom, validTo;       // seconds since GPS week 0
        // Almanac sets made so far, by index; an entry never moves once made, so the
        // pointers ephemerisAt hands out stay valid (the generator's threads share them).
        mutable std::map<long long, gps::BroadcastEphemeris> made;
    };
    double weekOffset(const gps::BroadcastEphemeris& e) const
    {
        return static_cast<double>(e.week - baseWeek_) * gps::secondsPerWeek;
    }
    gps::BroadcastEphemeris almanacSet(const Satellite& s, long long index) const;
    std::string describeSpan() const;
    /// A Galileo, BeiDou or GLONASS satellite's state at t (GPS seconds since the base
    /// week), ECEF of that instant; nullopt without a valid healthy record.
    std::optional<gps::SatelliteState> otherStateAt(const Satellite& s, double t) const;
    /// The index of a Galileo, BeiDou or GLONASS satellite's record in force at t (the
    /// nearest reference time within its validity), healthy or not.
    std::optional<std::size_t> recordAt(const Satellite& s, double t) const;
    /// A GLONASS satellite's healthy record in force at t and dt, t's distance from its
    /// epoch; nullptr without one.
    const glonass::Ephemeris* glonassRecordAt(const Satellite& s, double t, double& dt) const;

    bool almanac_ = false;
    int almanacWeek_ = 0;
    std::string source_;
    std::vector<std::string> skipped_;
    std::vector<Satellite> satellites_;
    std::vector<RinexTimeCorrection> timeCorrections_;
    std::optional<int> leapSeconds_;  // the file's LEAP SECONDS
    int baseWeek_ = 0;
    int firstToe_ = 0;  // almanac sets: toe of the first, seconds since the base week began
    std::shared_ptr<std::mutex> madeLock_ = std::make_shared<std::mutex>();
};

/// One satellite above the mask as a receiver reports it.
struct SatelliteView {
    GnssSystem system = GnssSystem::gps;
    int prn = 0;           ///< the system's own number (GLONASS: slot)
    double elevation = 0;  ///< degrees
    double azimuth = 0;    ///< degrees [0, 360)
    double cn0 = 0;        ///< dB-Hz; NaN for a satellite the street hides
    bool used = false;     ///< among the satellites in use
};

/// The sky at one time and place: satellites above the mask by PRN; the DOPs of the
/// ones in use (absent with fewer than 4 or a singular geometry).
struct SkyView {
    std::vector<SatelliteView> satellites;
    int usedCount = 0;
    std::optional<double> pdop, hdop, vdop;
};

/// The view of satellites at the given positions: those at or above maskDegrees, the
/// up to maxUsed highest of them in use (ties by PRN), their DOPs.
struct SatellitePosition {
    GnssSystem system = GnssSystem::gps;
    int prn = 0;
    Ecef position;
};
SkyView viewOf(const std::vector<SatellitePosition>& satellites, const ReceiverFrame& frame, double maskDegrees,
               int maxUsed, const SignalStrength& strength);

/// Marks the up to maxUsed highest satellites of the view in use (ties by system, then
/// PRN), among those received (a finite cn0: the street leaves the others at NaN), and
/// sets usedCount and the DOPs of the ones in use (none with fewer than 4).
void chooseSatellitesInUse(SkyView& view, int maxUsed);

/// Follows the sky along a path for the NMEA writers. The sky is computed at whole
/// seconds, from the receiver's position at the first time asked within the second
/// (the satellites' signals once a second); in between, elevations, azimuths, C/N0 and
/// DOPs are interpolated towards the next second's, and the satellites and the ones in
/// use stay those of the second's start. Over a second a receiver moves a few tens of
/// metres at most, which turns no angle by a ten-thousandth of a degree. A satellite
/// below the mask is left alone for 6 s per degree it lies below (10 degrees a minute):
/// it climbs under a degree a minute, and a receiver crossing the Earth at airliner
/// speed turns its sky by less than that. (A satellite 10 degrees below a mask at the
/// horizon thus rests a minute, as it always has.)
class SkyTracker {
public:
    SkyTracker(SkyModel model, double maskDegrees, int maxUsed = 12, SignalStrength strength = {});

    /// True when at(t) needs the receiver's position (t lies in a new second).
    bool needsReceiver(double t) const;

    /// The sky at t (seconds since the model's base week) from receiver (used only when
    /// needsReceiver(t)). Times should grow. With interpolateAngles false, only the
    /// DOPs are interpolated and the satellites keep the angles of the second's start
    /// (the NMEA writers print angles once a second). Throws Error when the file covers
    /// no satellite at a whole second reached.
    const SkyView& at(double t, const Ecef& receiver, bool interpolateAngles = true);

    const SkyModel& model() const { return model_; }

private:
    void computeSecond(long long second, const Ecef& receiver, std::vector<std::optional<Ecef>>& out) const;
    SkyView viewFrom(const std::vector<std::optional<Ecef>>& atSecond, const ReceiverFrame& frame);

    SkyModel model_;
    double mask_;
    int maxUsed_;
    SignalStrength strength_;
    long long second_ = 0;
    bool haveSecond_ = false;
    std::vector<std::optional<Ecef>> atSecond_, atNext_;
    std::vector<long long> dormantUntil_;  // per satellite: the first second it is followed again
    std::vector<SatellitePosition> positions_;
    SkyView viewAtSecond_, viewAtNext_, view_;
    long long viewSecond_ = 0;     // second whose satellites view_ holds
    bool viewHoldsStart_ = false;  // with their angles at the second's start
};

}  // namespace trajix::sky

#pragma once
// The sky in an NMEA file: GGA's satellites in use and HDOP, GSA (the satellites in use
// and their DOPs) and GSV (every satellite above the mask with its elevation, azimuth
// and SNR), from the sky model at each sample's date, time and place.
#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/calendar.hpp"
#include "nmea/systems.hpp"
#include "sky/receiver_solution.hpp"
#include "sky/sky_model.hpp"
#include "street/street_model.hpp"

namespace trajix {

struct NmeaStamp;

/// A DOP as the "0.00" picture prints it (halves of the exact binary value away from zero).
std::string formatDop(double value);

/// "$GPGGA,TIME,LAT,NS,LON,EW,1,NN,HDOP,ALT,M,-21.3213,M,,*CS" CR LF: NN the satellites
/// in use (two digits), HDOP with "0.00" (empty without a DOP).
std::string ggaSentence(std::string_view time, long double latitude, long double longitude, std::string_view altitude,
                        const sky::SkyView& view);

/// A receiver without a fix: "$GPGGA,TIME,,,,,0,NN,,,M,,M,,*CS" CR LF, quality 0, NN the
/// satellites it still receives in use, no position, HDOP or altitude.
std::string ggaSentenceWithoutFix(std::string_view time, const sky::SkyView& view);

/// "$GPGSA,A,3,P1,...,P12,PDOP,HDOP,VDOP*CS" CR LF: the PRNs in use ascending, twelve
/// fields; mode 1 and empty DOPs without a DOP (fewer than four in use). More than twelve
/// in use take further sentences of twelve.
std::string gsaSentence(const sky::SkyView& view);
/// The same with the DOP fields already printed.
std::string gsaSentence(const sky::SkyView& view, std::string_view pdop, std::string_view hdop, std::string_view vdop);
/// The GSA sentences of a file of the given systems: gsaSentence's for GPS alone;
/// otherwise one per system in system ID order, from the system's own talker, with the
/// satellites of that system in use by their NMEA numbers, the DOPs of all of them and
/// the system ID last: "$GAGSA,A,3,P1,...,P12,PDOP,HDOP,VDOP,3*CS" (a system with more
/// than twelve in use takes further sentences).
std::string gsaSentences(const sky::SkyView& view, const NmeaSystems& systems, std::string_view pdop,
                         std::string_view hdop, std::string_view vdop);

/// The GSV sentences of the view, four satellites each ("PRN,elevation,azimuth,SNR" as
/// "00,00,000,00", by PRN; the SNR empty for a satellite not received, a NaN cn0); one
/// sentence with a count of 00 for an empty sky.
std::string gsvSentences(const sky::SkyView& view);
/// The GSV sentences of a file of the given systems: gsvSentences' for GPS alone;
/// otherwise each system's own sentences in system ID order, from its own talker (GP, GL,
/// GA, GB), its satellites by NMEA number and its signal ID last:
/// "$GAGSV,2,1,05,...,7*CS"; a system with no satellite above the mask gives
/// "$GAGSV,1,1,00,7*CS".
std::string gsvSentences(const sky::SkyView& view, const NmeaSystems& systems);

/// The sky of a file's samples. The first sample anchors the model: its GPS week is the
/// base week and its time the start of an almanac's sets.
/// The sky model of an almanac or RINEX navigation file for a file whose first sample
/// lies on date (an almanac's 10-bit week is taken as the full week nearest the date's).
/// Only the satellites of systems are read (GPS alone by default). Throws Error naming
/// the file when it cannot be read.
std::shared_ptr<const sky::SkyModel> skyModelFor(const std::filesystem::path& file, const CalendarDate& date,
                                                 const NmeaSystems& systems = {});

/// Throws Error naming the file and the systems when the model holds no satellite of one
/// of the chosen systems.
void checkSkySystems(const sky::SkyModel& model, const NmeaSystems& systems);

/// GPS time (seconds since the start of GPS week 0) of a file's first sample on date at
/// clock (seconds since that date's midnight as the sentences print them, UTC; it may
/// pass 24 h), with the leap seconds of the date's GPS week as the sky takes them.
double firstSampleGpsTime(const CalendarDate& date, long double clock);

/// A start as a file takes it: its date and the seconds since that midnight (UTC).
struct FileStart {
    CalendarDate date;
    long long secondOfDay = 0;
};

/// The start inside a file's coverage to offer when a run falls outside it: the
/// suggested start, put on the next whole minute when that is still covered.
FileStart suggestedFileStart(const sky::SkyCoverage& coverage);

/// The first date on which the time of day (UTC) of gpsTime falls inside the coverage:
/// the date to move a file to whose times of day are fixed. Nothing when no day does.
std::optional<CalendarDate> dateCoveringTimeOfDay(const sky::SkyCoverage& coverage, double gpsTime);

/// Throws sky::SkyNotCovered (naming the file, the time and the span it covers, UTC)
/// when model has no satellite for the first sample of a file on date at clock.
void checkSkyCoversStart(const sky::SkyModel& model, const CalendarDate& date, long double clock);

class SkySentences {
public:
    /// The sky of model above maskDegrees written for systems (the model holds their
    /// satellites), the up to maxUsed highest in use (systems.defaultMaxUsed() when 0).
    /// With a street, a satellite the buildings hide is not received (no SNR, not in
    /// use), one received by a reflection only is weaker by the reflection loss, and
    /// under a tunnel nothing is received; the ones in use and the DOPs come from those
    /// received.
    /// With receiver errors, the position written is the one a receiver solves from the
    /// satellites in use (receiverFix).
    SkySentences(std::shared_ptr<const sky::SkyModel> model, double maskDegrees, NmeaSystems systems = {},
                 int maxUsed = 0, std::shared_ptr<const street::StreetModel> street = nullptr,
                 std::optional<sky::ReceiverErrorModel> errors = std::nullopt);

    /// Computes the sky of a sample: its stamp (date and time of day, UTC), position in
    /// degrees and the GGA altitude text (metres above the geoid; the geoid lies
    /// 21.3213 m below the ellipsoid as GGA says). Throws Error when the file covers no
    /// satellite at that time.
    /// heading (degrees from north; nullopt standing) says whether the receiver runs
    /// along a tunnel it is over.
    const sky::SkyView& observe(const NmeaStamp& stamp, long double latitude, long double longitude,
                                std::string_view altitude, std::optional<double> heading = std::nullopt);

    /// With a street: fewer than 4 satellites in use at the latest sample, so no fix.
    bool fixLost() const { return street_ && view_ && view_->usedCount < 4; }

    /// The position a receiver reports at the latest sample observed, from the true one
    /// (degrees, and GGA's altitude text, which keeps its decimals; "" leaves it out):
    /// the true one moved by the error of the receiver's solution. The error is solved at
    /// the first sample of every second (and again when a tunnel changes the satellites
    /// in use), from the satellites in use at their positions of that whole second, and
    /// held until the next: the street is seen once a second too. Without receiver
    /// errors, or when the satellites give no solution, the true position.
    struct ReceiverFix {
        long double latitude = 0, longitude = 0;
        std::string altitude;
    };
    ReceiverFix receiverFix(long double latitude, long double longitude, std::string_view altitude = {}) const;
    /// The error of the latest solution: east, north, up in metres.
    const std::array<double, 3>& receiverError() const { return error_; }

    /// The GSA sentences of the latest sample observed.
    std::string gsa();
    /// The GSV sentences of the latest sample observed.
    std::string gsv() const;

    /// The sky of the latest sample observed.
    const sky::SkyView& view() const { return view_ ? *view_ : empty_; }

    /// Days since the start of GPS time (1980-01-06) of a date.
    static long long gpsDay(const CalendarDate& date);

private:
    const sky::SkyView& streetView(const sky::SkyView& open, double latitude, double longitude,
                                   std::optional<double> heading);

    void solveReceiver(double latitude, double longitude, double height);

    std::shared_ptr<const sky::SkyModel> model_;
    double mask_;
    NmeaSystems systems_;
    int maxUsed_;
    std::unique_ptr<sky::SkyTracker> tracker_;
    std::shared_ptr<const street::StreetModel> street_;
    // The street's view of the latest second (recomputed when the second or the cover
    // changes): the sky's satellites with the hidden ones at NaN and the reflected ones
    // weaker, and whether that changed the satellites in use.
    sky::SkyView streetView_;
    std::vector<street::SatelliteInStreet> streetSeen_;  // what the street does to each of them
    long long streetSecond_ = -1;
    bool streetCovered_ = false;
    bool streetChangedUse_ = false;
    int leapSeconds_ = 0;
    const sky::SkyView* view_ = nullptr;  // owned by the tracker
    long long lastSecond_ = 0;            // the whole second of the latest sample
    std::string gsa_, gsaPdop_, gsaHdop_, gsaVdop_;
    std::array<long long, 3> gsaKeys_{};  // the DOPs of gsa_ in printed hundredths
    long long gsaSecond_ = -1;
    bool gsaCovered_ = false;
    sky::SkyView empty_;
    // The receiver's errors: the model, each satellite's place in the sky model, the
    // second (and cover) of the latest solution and its error.
    std::optional<sky::ReceiverErrorModel> errors_;
    std::map<std::pair<sky::GnssSystem, int>, std::size_t> satelliteIndex_;
    long long errorSecond_ = -1;
    bool errorCovered_ = false;
    std::array<double, 3> error_{};
};

}  // namespace trajix

#pragma once
// Dates for the sentences that carry one (RMC, ZDA), and the clock that prints a
// file's time fields: undated it prints the seconds of day as they are (hours past 24
// included); dated it wraps at midnight and counts the days from the first sample.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/calendar.hpp"
#include "nmea/sentences.hpp"
#include "nmea/systems.hpp"

namespace trajix {

namespace sky {
class SkyModel;
}
namespace street {
class StreetModel;
}
class SkySentences;

/// The first and the last date a file may start on: the start of GPS time and the
/// last day of 2099 (RMC carries a two-digit year).
inline constexpr CalendarDate firstFileDate{1980, 1, 6};
inline constexpr CalendarDate lastFileDate{2099, 12, 31};

/// Reads "YYYY-MM-DD" (blanks around it allowed) and checks it as checkFileDate does.
/// Throws Error quoting the text when it is not a calendar date in that form.
CalendarDate parseFileDate(std::string_view text);

/// Throws Error naming the date when it is not a calendar date, lies before 1980-01-06
/// or after 2099.
void checkFileDate(const CalendarDate& date);

/// The date n days after date (n may be negative).
CalendarDate addDays(const CalendarDate& date, long long days);

/// "$GPRMC,TIME,A,LAT,NS,LON,EW,KNOTS,COURSE,DDMMYY,,,A*CS" CR LF: status A, the
/// latitude and longitude texts of GGA, knots = km/h / 1.852 and the course printed as
/// VTG prints them in style, no magnetic variation, mode A.
std::string rmcSentence(std::string_view time, long double latitude, long double longitude, long double speedKmh,
                        long double course, const CalendarDate& date, VtgStyle style);

/// A receiver without a fix: "$GPRMC,TIME,V,,,,,,,DDMMYY,,,N*CS" CR LF (status V, mode
/// N, no position, speed or course).
std::string rmcSentenceWithoutFix(std::string_view time, const CalendarDate& date);

/// "$GPZDA,TIME,DD,MM,YYYY,00,00*CS" CR LF (local zone 00:00).
std::string zdaSentence(std::string_view time, const CalendarDate& date);

/// The seed of the receiver's noise when none is given.
inline constexpr std::uint64_t defaultReceiverSeed = 37;

/// The date and time sentences a writer adds to its own.
struct DateSentences {
    bool rmc = false;  ///< an RMC sentence after each GGA (after each GLL and HDT pair)
    bool zda = false;  ///< a ZDA sentence on the first sample of every second
    /// The date of the first sample. With a date, the time fields of every sentence of
    /// the file wrap at midnight and the date advances; RMC and ZDA need one.
    std::optional<CalendarDate> date;
    /// The satellites (nmea/sky_sentences.hpp): with them every sample adds GSA and the
    /// first of every second GSV, and GGA's satellites and HDOP come from the sky at the
    /// sample's date, time and place. Needs a date.
    std::shared_ptr<const sky::SkyModel> sky{};
    double maskDegrees = 5;  ///< elevation mask of the sky, degrees (0 up to 90)
    /// The systems of the sky's satellites, and with them the talkers of every sentence
    /// (nmea/systems.hpp); GPS alone writes the files as they have always been.
    NmeaSystems systems{};
    /// The satellites in use at most (1 up to 99); 0 for systems.defaultMaxUsed().
    int maxUsed = 0;
    /// The buildings and tunnels around the receiver (street/street_model.hpp), with a
    /// sky only: the satellites they hide are not received, and with fewer than 4 in use
    /// the fix is lost (GGA quality 0 without a position, RMC status V, GSA mode 1).
    std::shared_ptr<const street::StreetModel> street{};
    /// The receiver's own errors, with a sky only: the position written (GGA, GLL, RMC) is
    /// the least-squares solution of the satellites in use, their ranges erring by the
    /// street's reflected paths and echoes and by noise that grows as C/N0 falls
    /// (sky/receiver_solution.hpp); speed, course and heading stay the true ones.
    bool receiverErrors = false;
    /// The seed of the receiver's noise: the same seed, the same file.
    std::uint64_t seed = defaultReceiverSeed;
};

/// The longest count of satellites in use: GGA prints it with two digits.
inline constexpr int maxUsedLimit = 99;

/// Throws Error for a bad date, for RMC, ZDA or a sky without a date, a bad mask, a
/// count of satellites in use out of range, and a sky file without a chosen system.
void checkDateSentences(const DateSentences& options);

/// The time of one sample as its sentences print it.
struct NmeaStamp {
    std::string time;   ///< hhmmss.ss
    CalendarDate date;  ///< the sample's date (only on a dated clock)
};

/// Prints sample times. Undated, the time field is formatNmeaTime's, hours past 24
/// included. Dated, the clock is split into whole days and a time of day before
/// printing; a time that prints as 24:00:00.00 becomes 00:00:00.00 of the next day, so
/// the time text and the date always agree. The day of firstClock is date.
class NmeaClock {
public:
    /// An undated clock; decimals as formatNmeaTime takes them.
    explicit NmeaClock(int decimals = 2) : decimals_(decimals) {}
    /// Throws Error naming the date when checkFileDate refuses it.
    NmeaClock(const CalendarDate& date, long double firstClock, int decimals = 2);

    bool dated() const { return dated_; }
    NmeaStamp stamp(long double clock) const;

private:
    bool dated_ = false;
    int decimals_ = 2;
    CalendarDate firstDate_;
    long long firstDay_ = 0;
};

/// The sentences a writer adds for its options, and the time fields of all of them.
/// Writers print every sample's time through stamp() and add rmc() and zda() in the
/// fixed order: GGA (or GLL and HDT), RMC, VTG, then ZDA.
class SampleSentences {
public:
    /// firstClock is the time of the file's first sample and interval the seconds
    /// between samples, which set the decimals of the time fields
    /// (timeDecimalsForInterval); style picks the number pictures of the writer's VTG
    /// for RMC's speed and course. Throws Error (before anything is written) for a bad
    /// date, RMC or ZDA without a date, and a rate too high for the time field.
    SampleSentences(const DateSentences& options, long double firstClock, long double interval, VtgStyle style);

    /// The stamp of the sample at clock.
    NmeaStamp stamp(long double clock) const { return clock_.stamp(clock); }

    /// The RMC sentence of a sample, or "" without the option. Speed in km/h and course
    /// in degrees are those the writer's VTG would print. With the fix lost at the sample
    /// last passed to gga() or gll(), rmcSentenceWithoutFix's.
    std::string rmc(const NmeaStamp& stamp, long double latitude, long double longitude, long double speedKmh,
                    long double course) const;

    /// The ZDA sentence when the option is on and stamp is the file's first sample or
    /// the first of a new second (its printed hhmmss differs from the last one's);
    /// otherwise "". Samples must be passed in the order they are written.
    std::string zda(const NmeaStamp& stamp);

    /// The GGA sentence of a sample: ggaSentence's, or with the sky its satellites in
    /// use and HDOP (the sky is computed here for the sample; altitude is GGA's text).
    /// heading (degrees) tells the street whether the receiver runs along a tunnel; with
    /// the fix lost, ggaSentenceWithoutFix's.
    std::string gga(const NmeaStamp& stamp, long double latitude, long double longitude, std::string_view altitude,
                    std::optional<double> heading = std::nullopt);
    /// The GLL sentence of a sample; with the sky, computes it as gga() does. With the fix
    /// lost the standard layout says so: "$GPGLL,,,,,TIME,V,N*CS".
    std::string gll(const NmeaStamp& stamp, long double latitude, long double longitude, std::string_view altitude,
                    GllLayout layout = GllLayout::TimeFirst, std::optional<double> heading = std::nullopt);
    /// With a street: the fix is lost at the sample last passed to gga() or gll().
    bool fixLost() const;
    /// The GSA sentences of the sample last passed to gga() or gll(), or "" without the sky.
    std::string gsa() const;
    /// The GSV sentences on the first sample of every second (as zda()), or "".
    std::string gsv(const NmeaStamp& stamp);
    /// vtgSentence's in the writer's style, from the file's talker.
    std::string vtg(long double course, long double speedKmh) const;
    /// hdtSentence's from the file's talker.
    std::string hdt(long double heading) const;

private:
    // The sentence from the file's talker.
    std::string talk(std::string sentence) const;

    DateSentences options_;
    VtgStyle style_;
    std::string_view talker_ = "GP";
    NmeaClock clock_;
    std::string lastSecond_;
    std::shared_ptr<SkySentences> sky_;
    std::string lastSkySecond_;
    CalendarDate lastSkyDate_;
};

}  // namespace trajix

#pragma once
// NMEA 0183 sentences as every writer of the tool produces them: "$GP" + type, comma
// separated fields, "*", two upper-case hexadecimal checksum digits, CR LF.
#include <string>
#include <string_view>

namespace trajix {

/// XOR of all bytes of text (already stripped of "$" and "*") as two upper-case hex digits.
std::string nmeaChecksum(std::string_view text);

/// Completes a sentence whose text runs from "$" up to and including "*": appends the
/// checksum of the bytes between them and CR LF.
std::string finishSentence(std::string_view textWithStar);

/// finishSentence in place: text runs from "$" up to and including "*"; the checksum
/// and CR LF are appended to it (no formatting machinery: the sky's sentences are
/// written many times a second).
void finishSentenceInPlace(std::string& textWithStar);

/// The sentence (as finishSentence gives it) with the talker after "$" replaced by
/// talker (two letters, "GN") and its checksum mended; as it was when it has that
/// talker already.
std::string withTalker(std::string sentence, std::string_view talker);

/// hhmmss.ss for a clock in seconds of day (not wrapped at 24 h: 90000 s gives
/// "250000.00"). Hours and minutes are taken with a 0.0001 s nudge, seconds print with
/// "00.00", and seconds that print as 60.00 carry into the minutes (and 60 minutes into
/// the hours): 32459.997 gives "090100.00". With more decimals (a file above 100 Hz)
/// the seconds print with that many and the nudge shrinks by as many tenths: 3
/// decimals give "090000.005".
std::string formatNmeaTime(long double secondsOfDay, int decimals = 2);

/// The decimals of the time field for samples interval seconds apart: 2 at 100 Hz and
/// below (and for any interval of 0.01 s or more), above that the fewest that tell
/// consecutive samples apart (3 up to 1000 Hz, 4 up to 10 kHz). Throws Error naming
/// the rate when samples come faster than 10 kHz, or the interval is not a positive
/// finite number.
int timeDecimalsForInterval(long double interval);

struct NmeaCoordinate {
    std::string text;  ///< ddmm.mmmmmmmm (latitude) or dddmm.mmmmmmmm (longitude)
    char letter;       ///< N/S or E/W
};

/// Latitude in degrees: |d * 100 + (lat - d) * 60| with "0000.00000000", minutes that
/// round to 60 carried into the degrees; "N" when lat > 0, otherwise "S".
NmeaCoordinate formatNmeaLatitude(long double degrees);
/// Longitude in degrees with "00000.00000000"; "E" when lon >= 0, otherwise "W".
NmeaCoordinate formatNmeaLongitude(long double degrees);

/// Brings a heading into [0, 360) by whole turns. Throws Error when not finite.
long double normaliseHeading(long double degrees);

/// A direction printed with picture; one that would print as 360 prints as 0.
std::string formatDirection(long double degrees, std::string_view picture);

/// The GGA altitude text of the fixed-height writers.
inline constexpr std::string_view fixedAltitude = "160.00";

/// "$GPGGA,TIME,LAT,NS,LON,EW,1,05,2.87,ALT,M,-21.3213,M,,*CS" CR LF.
std::string ggaSentence(long double time, long double latitude, long double longitude, std::string_view altitude);
/// The same with the time field already printed (hhmmss.ss).
std::string ggaSentence(std::string_view time, long double latitude, long double longitude, std::string_view altitude);

/// The two VTG number styles: the route writer's forced digits, the logger's optional
/// ones. RMC prints its speed and course in the style of the writer's VTG.
enum class VtgStyle { Route, Logger };

/// "$GPVTG,COURSE,T,,M,KNOTS,N,KMH,K,A*CS" CR LF; knots = km/h / 1.852. Route style
/// prints "000.00" / "000.000", logger style "##0.00" / "##0.000".
std::string vtgSentence(long double course, long double speedKmh, VtgStyle style);

/// The two GLL layouts: the time first and no status, as the "HDT and GLL only" files
/// have always carried it, or NMEA 0183's position, time, status A and mode A.
enum class GllLayout { TimeFirst, Standard };

/// "$GPGLL,TIME,LAT,NS,LON,EW*CS" CR LF.
std::string gllSentence(long double time, long double latitude, long double longitude);
/// The same with the time field already printed (hhmmss.ss); the standard layout is
/// "$GPGLL,LAT,NS,LON,EW,TIME,A,A*CS" CR LF.
std::string gllSentence(std::string_view time, long double latitude, long double longitude,
                        GllLayout layout = GllLayout::TimeFirst);

/// "$GPHDT,HEADING,T*CS" CR LF; heading normalised to [0, 360), printed "000.000".
std::string hdtSentence(long double heading);

}  // namespace trajix

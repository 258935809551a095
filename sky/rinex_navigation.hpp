#pragma once
// GPS broadcast ephemerides from RINEX navigation files, versions 2.x and 3.x: every
// GPS record with its orbit, clock and validity, the header's ionosphere and UTC
// parameters, and a report of what the reader left out. Records of other systems (in a
// version 3 mixed file) are counted and skipped.
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sky/gps_orbit.hpp"

namespace trajix {

/// One GPS ephemeris record as the file gives it, in SI units (seconds, metres,
/// radians), times in GPS time.
struct RinexEphemeris {
    int prn = 0;         ///< 1..32
    long long line = 0;  ///< line of the record's first line in the file
    int week = 0;        ///< full GPS week of toe (a week written modulo 1024 is resolved with the record's date)
    double toe = 0;      ///< seconds into week, 0 <= toe < 604800
    int tocWeek = 0;     ///< full GPS week of toc (the record's epoch)
    double toc = 0;      ///< seconds into tocWeek
    double af0 = 0, af1 = 0, af2 = 0;           ///< clock bias s, drift s/s, drift rate s/s^2
    int iode = 0;                               ///< issue of data, ephemeris
    int iodc = 0;                               ///< issue of data, clock
    double crs = 0, crc = 0;                    ///< m
    double cus = 0, cuc = 0, cis = 0, cic = 0;  ///< rad
    double deltaN = 0;                          ///< rad/s
    double m0 = 0;                              ///< rad
    double eccentricity = 0;
    double sqrtA = 0;                        ///< sqrt(m)
    double omega0 = 0;                       ///< rad
    double i0 = 0;                           ///< rad
    double omega = 0;                        ///< argument of perigee, rad
    double omegaDot = 0;                     ///< rad/s
    double idot = 0;                         ///< rad/s
    double tgd = 0;                          ///< s
    double uraMetres = 0;                    ///< SV accuracy as written
    int uraIndex = 0;                        ///< the accuracy index (0..15) of uraMetres
    int health = 0;                          ///< the 6-bit health; 0 is healthy
    double fitHours = 4;                     ///< curve fit interval; a blank or a value below 4 reads as 4
    std::optional<double> transmissionTime;  ///< seconds into week, when given

    /// Seconds of the set's toe since the start of GPS week 0.
    double toeSeconds() const { return static_cast<double>(week) * gps::secondsPerWeek + toe; }
};

/// Klobuchar coefficients (alpha in s, s/semicircle, ...; beta in s, s/semicircle, ...).
struct RinexIonosphere {
    std::array<double, 4> alpha{};
    std::array<double, 4> beta{};
};

/// GPS to UTC: A0 (s), A1 (s/s), reference time of week and full week.
struct RinexUtc {
    double a0 = 0, a1 = 0;
    int referenceTime = 0;
    int referenceWeek = 0;  ///< full week (a week written modulo 1024 is resolved near the records')
};

struct RinexNavigation {
    std::string version;  ///< as written, e.g. "2", "2.11", "3.03"
    /// Every usable GPS record, ordered by PRN and then by toe (file order for equal toe).
    std::vector<RinexEphemeris> ephemerides;
    std::optional<RinexIonosphere> ionosphere;  ///< when the header has both alpha and beta
    std::optional<RinexUtc> utc;
    std::optional<int> leapSeconds;  ///< GPS minus UTC, from "LEAP SECONDS"
    /// What was left out and why, one line each (other systems, records whose values do
    /// not fit the broadcast message).
    std::vector<std::string> skipped;
};

/// True when text begins like a RINEX file (its first line ends in the label
/// "RINEX VERSION / TYPE").
bool looksLikeRinex(std::string_view text);

/// Reads a RINEX 2.x or 3.x navigation file. Throws Error naming the file and line for
/// an unreadable file, a version other than 2 or 3, a file that is not a GPS or mixed
/// navigation file, a header without "END OF HEADER", a truncated record, a value that
/// is not a number, a date that is not one, and a file without a single GPS record.
RinexNavigation readRinexNavigation(const std::filesystem::path& file);

/// The same from the file's text; source names it in messages.
RinexNavigation parseRinexNavigation(std::string_view text, const std::string& source);

/// The record as the satellite broadcasts it: each value rounded to its field's scale.
/// Broadcast values written to 12 digits come back exactly. The reader leaves out
/// records whose values do not fit, so this never clamps for them.
gps::BroadcastEphemeris toBroadcastEphemeris(const RinexEphemeris& record);

/// The accuracy index (IS-GPS-200 URA table) of an accuracy in metres.
int uraIndexOf(double metres);

}  // namespace trajix

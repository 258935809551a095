#pragma once
// Broadcast ephemerides from RINEX navigation files, versions 2.x (GPS), 3.02 to 3.05
// and 4.00 (mixed): the records of the systems asked for (GPS, Galileo, BeiDou,
// GLONASS) with their orbits, clocks and validity, the ionosphere and the systems'
// time offsets, and a report of what the reader left out. Records of other systems,
// QZSS, NavIC and SBAS among them, are counted and skipped. In a version 3 or 4 file a
// broken record is skipped with a note naming its line, and the rest is read.
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sky/beidou_orbit.hpp"
#include "sky/galileo_orbit.hpp"
#include "sky/glonass_orbit.hpp"
#include "sky/gps_orbit.hpp"
#include "sky/system_set.hpp"

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

/// A system time's offset as TIME SYSTEM CORR (version 3) or an STO record (version 4)
/// gives it: kind "GPUT" (GPS - UTC), "GAUT", "BDUT", "GLUT" (GLONASS - UTC, the 3 h
/// left out), "GPGA" (GPS - Galileo) ..., CORR = a0 + a1 (t - reference) seconds.
struct RinexTimeCorrection {
    std::string kind;
    double a0 = 0, a1 = 0;
    int referenceTime = 0;  ///< seconds into referenceWeek
    int referenceWeek = 0;  ///< as written (the week of the first system of the pair)
};

struct RinexNavigation {
    std::string version;  ///< as written, e.g. "2", "2.11", "3.03", "4.00"
    /// Every usable GPS record, ordered by PRN and then by toe (file order for equal toe).
    std::vector<RinexEphemeris> ephemerides;
    /// The Galileo, BeiDou and GLONASS records, when asked for, ordered the same way
    /// (GLONASS by slot and epoch). Galileo I/NAV and F/NAV records both stay.
    std::vector<galileo::Ephemeris> galileo;
    std::vector<beidou::Ephemeris> beidou;
    std::vector<glonass::Ephemeris> glonass;
    std::vector<RinexTimeCorrection> timeCorrections;  ///< in the order of the file
    std::optional<RinexIonosphere> ionosphere;         ///< when the header has both alpha and beta
    /// Galileo's NeQuick coefficients ai0 (sfu), ai1 (sfu/deg), ai2 (sfu/deg^2): the
    /// header's "GAL" line or version 4's first Galileo ION record.
    std::optional<std::array<double, 3>> galileoIonosphere;
    std::optional<RinexUtc> utc;
    std::optional<int> leapSeconds;  ///< GPS minus UTC, from "LEAP SECONDS"
    /// What was left out and why, one line each (other systems, records whose values do
    /// not fit the broadcast message).
    std::vector<std::string> skipped;
};

/// True when text begins like a RINEX file (its first line ends in the label
/// "RINEX VERSION / TYPE").
bool looksLikeRinex(std::string_view text);

/// Reads a RINEX 2.x, 3.x or 4.00 navigation file, keeping the records of `systems`.
/// Throws Error naming the file and line for an unreadable file, a version other than
/// 2, 3 or 4, a file that is not a navigation file or holds another system alone, a
/// header without "END OF HEADER", and a file without a single usable record of the
/// systems asked for. In a version 2 file a truncated record, a value that is not a
/// number and a date that is not one end the reading too; in version 3 and 4 files
/// they leave out the record, with a note in `skipped`.
RinexNavigation readRinexNavigation(const std::filesystem::path& file, const sky::SystemSet& systems = sky::gpsOnly);

/// The same from the file's text; source names it in messages.
RinexNavigation parseRinexNavigation(std::string_view text, const std::string& source,
                                     const sky::SystemSet& systems = sky::gpsOnly);

/// The record as the satellite broadcasts it: each value rounded to its field's scale.
/// Broadcast values written to 12 digits come back exactly. The reader leaves out
/// records whose values do not fit, so this never clamps for them.
gps::BroadcastEphemeris toBroadcastEphemeris(const RinexEphemeris& record);

/// The accuracy index (IS-GPS-200 URA table) of an accuracy in metres.
int uraIndexOf(double metres);

}  // namespace trajix

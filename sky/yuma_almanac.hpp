#pragma once
// The satellite records of a YUMA almanac file: one block of "Label: value" lines per
// satellite, in the units the format uses (radians, seconds, metres).
#include <filesystem>
#include <vector>

namespace trajix {

struct AlmanacRecord {
    int prn = 0;                      ///< ID, 1..32
    int health = 0;                   ///< 0 is healthy
    double eccentricity = 0;          ///< e
    double timeOfApplicability = 0;   ///< toa, seconds into the almanac week
    double inclination = 0;           ///< i, radians
    double rateOfRightAscension = 0;  ///< OMEGADOT, radians per second
    double sqrtSemiMajorAxis = 0;     ///< sqrt(A), sqrt(metres)
    double rightAscensionAtWeek = 0;  ///< OMEGA0, radians
    double argumentOfPerigee = 0;     ///< omega, radians
    double meanAnomaly = 0;           ///< M0 at toa, radians
    double clockBias = 0;             ///< af0, seconds
    double clockDrift = 0;            ///< af1, seconds per second
    int week = 0;                     ///< the 10-bit week of toa as written
};

/// Reads every satellite record of a YUMA almanac. A record begins at its "ID:" line and
/// needs all thirteen fields. Throws Error naming the file and line for an unreadable
/// file, a value that is not a number, a PRN outside 1..32 or given twice, an incomplete
/// record, and a file without any record.
std::vector<AlmanacRecord> readYumaAlmanac(const std::filesystem::path& almanacFile);

}  // namespace trajix

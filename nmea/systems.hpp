#pragma once
// The satellite systems an NMEA file reports, and how its sentences name them.
//
// GPS alone keeps the layout the files have always had: the talker GP everywhere, GSA
// and GSV without NMEA 4.11's system and signal IDs. Any other choice writes NMEA 4.11:
// with several systems the position sentences (GGA, RMC, VTG, GLL, ZDA, HDT) take the
// talker GN; with one system other than GPS they take that system's talker (GA, GB or
// GL), as a receiver tracking that system alone reports. GSA and GSV come one set per
// system from the system's own talker, GSA with the system ID last and GSV with the
// signal ID last. (GSA from GN with the system ID is NMEA 4.11's other reading, but
// readers such as gpsd take its Galileo and BeiDou numbers 1-36 for GPS satellites.)
#include <string>
#include <string_view>
#include <vector>

#include "sky/gnss_system.hpp"
#include "sky/system_set.hpp"

namespace trajix {

class NmeaSystems {
public:
    /// GPS alone.
    NmeaSystems() = default;
    /// The systems given, in any order and with repeats; throws Error for none.
    explicit NmeaSystems(const std::vector<sky::GnssSystem>& systems);

    /// The systems in NMEA system ID order (GPS, GLONASS, Galileo, BeiDou).
    const std::vector<sky::GnssSystem>& list() const { return systems_; }
    bool contains(sky::GnssSystem system) const;
    /// The systems as the sky's readers take them.
    sky::SystemSet set() const { return {systems_.begin(), systems_.end()}; }
    /// GPS alone: the layout without system and signal IDs.
    bool gpsOnly() const { return systems_.size() == 1 && systems_.front() == sky::GnssSystem::gps; }
    /// The talker of the position sentences: GP for GPS alone, the system's own for one
    /// other system, GN for several.
    std::string_view talker() const;
    /// The satellites in use a receiver of these systems reports at most: 12 for GPS
    /// alone (GSA's twelve fields, as the files have always had), 24 otherwise.
    int defaultMaxUsed() const { return gpsOnly() ? 12 : 24; }
    /// "gps,galileo": the names in list order, as --systems and the settings file take them.
    std::string names() const;

    bool operator==(const NmeaSystems&) const = default;

private:
    std::vector<sky::GnssSystem> systems_{sky::GnssSystem::gps};
};

/// Reads "gps,galileo,beidou,glonass" (any subset in any order, blanks around the names
/// allowed, case ignored). Throws Error quoting a name it does not know and for an empty
/// list.
NmeaSystems parseNmeaSystems(std::string_view text);

/// The satellite number NMEA 4.11 gives a satellite: GPS 1-32, Galileo 1-36 and BeiDou
/// 1-63 as their own numbers, GLONASS 65-96 (64 + slot).
int nmeaSatelliteNumber(sky::GnssSystem system, int number);

/// The NMEA 4.11 signal ID of the signal the sky reports for a system: GPS L1 C/A 1,
/// Galileo E1 B/C 7, BeiDou B1I 1, GLONASS L1 C/A 1.
int nmeaSignalId(sky::GnssSystem system);

}  // namespace trajix

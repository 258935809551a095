#pragma once
// A choice of satellite systems, as a command line or a profile names them.
#include <optional>
#include <set>
#include <string_view>

#include "sky/gnss_system.hpp"

namespace trajix::sky {

/// The systems a reader keeps or a sky holds.
using SystemSet = std::set<GnssSystem>;

/// GPS alone: the default of every reader and writer.
inline const SystemSet gpsOnly{GnssSystem::gps};

/// The system of its lower-case name ("gps", "galileo", "beidou", "glonass"); nullopt
/// for any other text.
inline std::optional<GnssSystem> systemNamed(std::string_view name)
{
    for (const GnssSystem system : {GnssSystem::gps, GnssSystem::galileo, GnssSystem::beidou, GnssSystem::glonass})
        if (systemName(system) == name) return system;
    return std::nullopt;
}

/// The name of a system as messages print it: GPS, Galileo, BeiDou, GLONASS.
constexpr std::string_view displayName(GnssSystem system)
{
    switch (system) {
        case GnssSystem::gps:
            return "GPS";
        case GnssSystem::galileo:
            return "Galileo";
        case GnssSystem::beidou:
            return "BeiDou";
        case GnssSystem::glonass:
            return "GLONASS";
    }
    return "";
}

}  // namespace trajix::sky

#pragma once
// The satellite systems the sky holds, and how files and sentences name them.
#include <string_view>

namespace trajix::sky {

enum class GnssSystem { gps, galileo, beidou, glonass };

/// The letter a RINEX 3/4 file gives the system: G, E, C or R.
constexpr char rinexLetter(GnssSystem system)
{
    switch (system) {
        case GnssSystem::gps:
            return 'G';
        case GnssSystem::galileo:
            return 'E';
        case GnssSystem::beidou:
            return 'C';
        case GnssSystem::glonass:
            return 'R';
    }
    return '?';
}

/// The talker of the system's own GSV sentences: GP, GA, GB or GL.
constexpr std::string_view talker(GnssSystem system)
{
    switch (system) {
        case GnssSystem::gps:
            return "GP";
        case GnssSystem::galileo:
            return "GA";
        case GnssSystem::beidou:
            return "GB";
        case GnssSystem::glonass:
            return "GL";
    }
    return "GN";
}

/// The NMEA 4.11 system ID (GSA and GSV): 1 GPS, 2 GLONASS, 3 Galileo, 4 BeiDou.
constexpr int nmeaSystemId(GnssSystem system)
{
    switch (system) {
        case GnssSystem::gps:
            return 1;
        case GnssSystem::glonass:
            return 2;
        case GnssSystem::galileo:
            return 3;
        case GnssSystem::beidou:
            return 4;
    }
    return 0;
}

/// The lower-case name used on command lines and in profiles: gps, galileo, beidou, glonass.
constexpr std::string_view systemName(GnssSystem system)
{
    switch (system) {
        case GnssSystem::gps:
            return "gps";
        case GnssSystem::galileo:
            return "galileo";
        case GnssSystem::beidou:
            return "beidou";
        case GnssSystem::glonass:
            return "glonass";
    }
    return "";
}

}  // namespace trajix::sky

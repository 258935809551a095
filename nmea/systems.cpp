#include "nmea/systems.hpp"

#include <algorithm>
#include <array>
#include <cctype>

#include <fmt/format.h>

#include "common/error.hpp"

namespace trajix {

namespace {

constexpr std::array allSystems{sky::GnssSystem::gps, sky::GnssSystem::galileo, sky::GnssSystem::beidou,
                                sky::GnssSystem::glonass};

}  // namespace

NmeaSystems::NmeaSystems(const std::vector<sky::GnssSystem>& systems) : systems_(systems)
{
    if (systems_.empty()) throw Error("no satellite system chosen");
    std::sort(systems_.begin(), systems_.end(),
              [](sky::GnssSystem a, sky::GnssSystem b) { return sky::nmeaSystemId(a) < sky::nmeaSystemId(b); });
    systems_.erase(std::unique(systems_.begin(), systems_.end()), systems_.end());
}

bool NmeaSystems::contains(sky::GnssSystem system) const
{
    return std::find(systems_.begin(), systems_.end(), system) != systems_.end();
}

std::string_view NmeaSystems::talker() const
{
    return systems_.size() == 1 ? sky::talker(systems_.front()) : std::string_view("GN");
}

std::string NmeaSystems::names() const
{
    std::string text;
    for (const sky::GnssSystem system : systems_) {
        if (!text.empty()) text += ',';
        text += sky::systemName(system);
    }
    return text;
}

NmeaSystems parseNmeaSystems(std::string_view text)
{
    if (text.find_first_not_of(" \t") == std::string_view::npos) throw Error("no satellite system chosen");
    std::vector<sky::GnssSystem> systems;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        std::string name(text.substr(start, comma - start));
        name.erase(0, name.find_first_not_of(" \t"));
        name.erase(name.find_last_not_of(" \t") + 1);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const auto known = std::find_if(allSystems.begin(), allSystems.end(),
                                        [&](sky::GnssSystem s) { return sky::systemName(s) == name; });
        if (known == allSystems.end())
            throw Error(fmt::format("'{}' is not a satellite system: choose from gps, galileo, beidou and glonass",
                                    name.empty() ? std::string(text) : name));
        systems.push_back(*known);
        start = comma + 1;
    }
    return NmeaSystems(systems);
}

int nmeaSatelliteNumber(sky::GnssSystem system, int number)
{
    return system == sky::GnssSystem::glonass ? 64 + number : number;
}

int nmeaSignalId(sky::GnssSystem system)
{
    return system == sky::GnssSystem::galileo ? 7 : 1;
}

}  // namespace trajix

#include "street/street_sky.hpp"

#include <limits>

#include <fmt/format.h>

#include "common/error.hpp"

namespace trajix::street {

std::vector<SatelliteInStreet> receptionsOf(const StreetModel& street, const Place& place, const sky::SkyView& view)
{
    std::vector<SatelliteInStreet> receptions;
    receptions.reserve(view.satellites.size());
    for (const sky::SatelliteView& s : view.satellites)
        receptions.push_back(street.satellite(place, s.azimuth, s.elevation));
    return receptions;
}

void applyReceptions(sky::SkyView& view, const std::vector<SatelliteInStreet>& receptions, int maxUsed)
{
    for (std::size_t i = 0; i < view.satellites.size() && i < receptions.size(); ++i) {
        sky::SatelliteView& s = view.satellites[i];
        if (receptions[i].reception == Reception::blocked)
            s.cn0 = std::numeric_limits<double>::quiet_NaN();
        else if (receptions[i].reception == Reception::reflected)
            s.cn0 -= receptions[i].reflection->lossDb;
    }
    sky::chooseSatellitesInUse(view, maxUsed);
}

void applyStreetChoices(const StreetChoices& choices, StreetReadOptions& read, StreetModelOptions& model)
{
    if (choices.defaultBuildingHeight) {
        if (!(*choices.defaultBuildingHeight > 0 && *choices.defaultBuildingHeight <= 1000))
            throw Error(fmt::format("--default-building-height {} is not a height from 0 up to 1000 m",
                                    *choices.defaultBuildingHeight));
        read.heights.defaultHeight = *choices.defaultBuildingHeight;
    }
    if (choices.heightAttribute) read.heights.heightAttribute = *choices.heightAttribute;
    read.railTunnels = choices.railTunnels;
    if (choices.antennaHeight) {
        if (!(*choices.antennaHeight >= 0 && *choices.antennaHeight <= 1000))
            throw Error(fmt::format("--antenna-height {} is not a height from 0 to 1000 m", *choices.antennaHeight));
        model.antennaHeight = *choices.antennaHeight;
    }
    if (choices.reflectionLoss) {
        if (!(*choices.reflectionLoss >= 0 && *choices.reflectionLoss <= 60))
            throw Error(fmt::format("--reflection-loss {} is not a loss from 0 to 60 dB", *choices.reflectionLoss));
        model.reflectionLossDb = *choices.reflectionLoss;
    }
}

}  // namespace trajix::street

#include "street/street_sky.hpp"

#include <limits>

namespace trajix::street {

std::vector<SatelliteInStreet> receptionsOf(const StreetModel& street, const Place& place, const sky::SkyView& view)
{
    std::vector<std::pair<double, double>> directions;
    directions.reserve(view.satellites.size());
    for (const sky::SatelliteView& s : view.satellites) directions.emplace_back(s.azimuth, s.elevation);
    return street.satellites(place, directions);
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

}  // namespace trajix::street

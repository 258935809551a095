#pragma once
// The street applied to the sky: what the buildings do to each satellite of a sky view,
// for the NMEA writers and the signal generator alike, so that a file and a recording
// of one scenario agree satellite by satellite.
#include <vector>

#include "sky/sky_model.hpp"
#include "street/street_model.hpp"

namespace trajix::street {

/// What arrives of each satellite of view at place: satellite() with the view's azimuth
/// and elevation, in the view's order.
std::vector<SatelliteInStreet> receptionsOf(const StreetModel& street, const Place& place, const sky::SkyView& view);

/// The view as a receiver in the street reports it: a satellite not received loses its
/// C/N0 (NaN), one received by a reflection only is weaker by the reflection's loss; the
/// ones in use are chosen again among those received (up to maxUsed).
void applyReceptions(sky::SkyView& view, const std::vector<SatelliteInStreet>& receptions, int maxUsed);

}  // namespace trajix::street

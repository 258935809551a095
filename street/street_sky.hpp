#pragma once
// The street applied to the sky: what the buildings do to each satellite of a sky view,
// for the NMEA writers and the signal generator alike, so that a file and a recording
// of one scenario agree satellite by satellite.
#include <optional>
#include <string>
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

/// The choices of the street a user may give beside its file, each checked.
struct StreetChoices {
    std::optional<double> defaultBuildingHeight;  ///< metres, above 0 up to 1000
    std::optional<std::string> heightAttribute;
    bool railTunnels = false;
    std::optional<double> antennaHeight;   ///< metres, 0 to 1000
    std::optional<double> reflectionLoss;  ///< dB, 0 to 60
    bool any() const
    {
        return defaultBuildingHeight || heightAttribute || railTunnels || antennaHeight || reflectionLoss;
    }
};

/// Puts the choices into the reader's and the model's options. Throws Error naming the
/// option (--default-building-height, --antenna-height, --reflection-loss) and its value
/// when it is out of range.
void applyStreetChoices(const StreetChoices& choices, StreetReadOptions& read, StreetModelOptions& model);

}  // namespace trajix::street

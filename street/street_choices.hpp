#pragma once
// The street as a user chooses it: a buildings file and the few values around it, as
// the command line's --buildings and its options give them and as the window's
// Settings tab does. One place checks the values and builds the model for both.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "street/street_model.hpp"

namespace trajix::street {

struct StreetChoices {
    std::filesystem::path buildings;  ///< buildings and tunnels file; empty for an open sky
    std::optional<double> defaultBuildingHeight;
    std::optional<std::string> heightAttribute;
    bool railTunnels = false;
    std::optional<double> antennaHeight;
    std::optional<double> reflectionLoss;
    /// Whether any value beside the file is given.
    bool any() const
    {
        return defaultBuildingHeight || heightAttribute || railTunnels || antennaHeight || reflectionLoss;
    }
    bool operator==(const StreetChoices&) const = default;
};

/// How messages name the values that can be out of range: the command line's options,
/// unless a caller (the window) has its own captions for them.
struct StreetChoiceNames {
    std::string defaultBuildingHeight = "--default-building-height";
    std::string antennaHeight = "--antenna-height";
    std::string reflectionLoss = "--reflection-loss";
};

/// Puts the values into the reader's and the model's options. Throws Error naming the
/// value as names does (--default-building-height, --antenna-height, --reflection-loss)
/// and giving it when it is out of range.
void applyStreetChoices(const StreetChoices& choices, StreetReadOptions& read, StreetModelOptions& model,
                        const StreetChoiceNames& names = {});

/// The street of the choices, or nothing without a buildings file. Throws Error for a
/// value out of range (before the file is opened) and for a file the reader refuses
/// (naming the file and what GDAL said); what the reader left out goes to *summary.
std::shared_ptr<const StreetModel> streetModelFor(const StreetChoices& choices, StreetReadSummary* summary = nullptr,
                                                  const StreetChoiceNames& names = {});

}  // namespace trajix::street

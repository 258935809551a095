#include "street/street_choices.hpp"

#include <fmt/format.h>

#include "common/error.hpp"

namespace trajix::street {

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

std::shared_ptr<const StreetModel> streetModelFor(const StreetChoices& choices, StreetReadSummary* summary)
{
    if (choices.buildings.empty()) return nullptr;
    StreetReadOptions read;
    StreetModelOptions model;
    applyStreetChoices(choices, read, model);
    return std::make_shared<const StreetModel>(StreetModel::fromFile(choices.buildings, read, model, summary));
}

}  // namespace trajix::street

#include "street/street_choices.hpp"

#include <fmt/format.h>

#include "common/error.hpp"

namespace trajix::street {

void applyStreetChoices(const StreetChoices& choices, StreetReadOptions& read, StreetModelOptions& model,
                        const StreetChoiceNames& names)
{
    if (choices.defaultBuildingHeight) {
        if (!(*choices.defaultBuildingHeight > 0 && *choices.defaultBuildingHeight <= 1000))
            throw Error(fmt::format("{} {} is not a height from 0 up to 1000 m", names.defaultBuildingHeight,
                                    *choices.defaultBuildingHeight));
        read.heights.defaultHeight = *choices.defaultBuildingHeight;
    }
    if (choices.heightAttribute) read.heights.heightAttribute = *choices.heightAttribute;
    read.railTunnels = choices.railTunnels;
    if (choices.antennaHeight) {
        if (!(*choices.antennaHeight >= 0 && *choices.antennaHeight <= 1000))
            throw Error(
                fmt::format("{} {} is not a height from 0 to 1000 m", names.antennaHeight, *choices.antennaHeight));
        model.antennaHeight = *choices.antennaHeight;
    }
    if (choices.reflectionLoss) {
        if (!(*choices.reflectionLoss >= 0 && *choices.reflectionLoss <= 60))
            throw Error(
                fmt::format("{} {} is not a loss from 0 to 60 dB", names.reflectionLoss, *choices.reflectionLoss));
        model.reflectionLossDb = *choices.reflectionLoss;
    }
}

std::shared_ptr<const StreetModel> streetModelFor(const StreetChoices& choices, StreetReadSummary* summary,
                                                  const StreetChoiceNames& names)
{
    if (choices.buildings.empty()) return nullptr;
    StreetReadOptions read;
    StreetModelOptions model;
    applyStreetChoices(choices, read, model, names);
    return std::make_shared<const StreetModel>(StreetModel::fromFile(choices.buildings, read, model, summary));
}

}  // namespace trajix::street

// Our part of reading buildings: the OSM driver's other_tags text, then key=value lines,
// to heights and to covering ways. Heights come out finite with the top above the
// bottom, or with a reason; widths finite and positive. No hang, no crash.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "street/building_tags.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto firstBreak = text.find('\n');
    trajix::street::Tags tags;
    trajix::street::appendOtherTags(text.substr(0, firstBreak), tags);
    if (firstBreak != std::string_view::npos) {
        std::string_view rest = text.substr(firstBreak + 1);
        while (!rest.empty()) {
            const auto end = rest.find('\n');
            const std::string_view line = rest.substr(0, end);
            const auto equals = line.find('=');
            if (equals != std::string_view::npos)
                tags.emplace_back(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
            if (end == std::string_view::npos) break;
            rest.remove_prefix(end + 1);
        }
    }
    for (const char* attribute : {"", "height", "HEIGHT_ROOF"}) {
        trajix::street::HeightRules rules;
        rules.heightAttribute = attribute;
        const auto result = trajix::street::buildingHeights(tags, rules);
        if (result.heights) {
            const auto& h = *result.heights;
            if (!std::isfinite(h.height) || !std::isfinite(h.minHeight) || !(h.height > h.minHeight) || h.minHeight < 0)
                __builtin_trap();
        } else if (result.problem.empty()) {
            __builtin_trap();
        }
    }
    for (const auto& [key, value] : tags) {
        if (const auto length = trajix::street::parseLength(value); length && !(*length >= 0 && *length <= 1000))
            __builtin_trap();
    }
    for (const bool rail : {false, true}) {
        const auto width = trajix::street::coveringWidth(tags, rail);
        if (width && !(std::isfinite(*width) && *width > 0)) __builtin_trap();
    }
    trajix::street::buildingKind(tags, false);
    trajix::street::coversArea(tags);
    return 0;
}

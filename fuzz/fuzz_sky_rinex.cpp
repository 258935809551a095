// RINEX navigation files: any text gives GPS records, each one broadcastable, and a sky
// at the first record's time; or an Error naming the file. No hang, no crash.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "sky/rinex_navigation.hpp"
#include "sky/sky_model.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const trajix::RinexNavigation navigation = trajix::parseRinexNavigation(text, "fuzzed.rnx");
        if (navigation.ephemerides.empty()) __builtin_trap();
        for (const auto& record : navigation.ephemerides)
            if (record.prn < 1 || record.prn > 32 || !(record.toe >= 0 && record.toe < 604800) || record.fitHours < 4)
                __builtin_trap();
        auto model = trajix::sky::SkyModel::fromRinex(navigation, "fuzzed.rnx");
        const auto& first = navigation.ephemerides.front();
        model.anchor(first.week, first.toe);
        trajix::sky::SkyTracker tracker(model, 5);
        const auto& view = tracker.at(first.toe + 0.5, trajix::geodeticToEcef(48, 11, 500));
        for (const auto& s : view.satellites)
            if (!(s.elevation >= 5 && s.elevation <= 90.0000001) || !(s.azimuth >= 0 && s.azimuth < 360))
                __builtin_trap();
    } catch (const trajix::Error& e) {
        if (std::string(e.what()).find("fuzzed.rnx") == std::string::npos) __builtin_trap();
    }
    return 0;
}

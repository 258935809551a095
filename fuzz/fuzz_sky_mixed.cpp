// Mixed RINEX 3 and 4 navigation files read for every system: any text gives records
// within their ranges and a sky of all four systems at the first record's time, or an
// Error naming the file. No hang, no crash.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "sky/rinex_navigation.hpp"
#include "sky/sky_model.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using trajix::sky::GnssSystem;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const trajix::sky::SystemSet every{GnssSystem::gps, GnssSystem::galileo, GnssSystem::beidou, GnssSystem::glonass};
    try {
        const trajix::RinexNavigation n = trajix::parseRinexNavigation(text, "fuzzed.rnx", every);
        if (n.ephemerides.empty() && n.galileo.empty() && n.beidou.empty() && n.glonass.empty()) __builtin_trap();
        double firstSeconds = 0;
        for (const auto& r : n.galileo) {
            if (r.prn < 1 || r.prn > 36 || !(r.orbit.toe >= 0 && r.orbit.toe < 604800)) __builtin_trap();
            firstSeconds = r.toeSeconds();
        }
        for (const auto& r : n.beidou) {
            if (r.prn < 1 || r.prn > 63 || !(r.orbit.toe >= 0 && r.orbit.toe < 604800)) __builtin_trap();
            firstSeconds = r.toeSeconds();
        }
        for (const auto& r : n.glonass) {
            if (r.slot < 1 || r.slot > 32 || r.channel < -7 || r.channel > 13) __builtin_trap();
            firstSeconds = static_cast<double>(r.epochUtc);
        }
        for (const auto& r : n.ephemerides) {
            if (r.prn < 1 || r.prn > 32 || !(r.toe >= 0 && r.toe < 604800)) __builtin_trap();
            firstSeconds = r.toeSeconds();
        }
        auto model = trajix::sky::SkyModel::fromRinex(n, "fuzzed.rnx");
        const int week = static_cast<int>(std::floor(firstSeconds / 604800));
        const double start = firstSeconds - week * 604800.0;
        model.anchor(week, start);
        trajix::sky::SkyTracker tracker(model, 5, 24);
        const auto& view = tracker.at(std::floor(start) + 0.5, trajix::geodeticToEcef(48, 11, 500));
        for (const auto& s : view.satellites)
            if (!(s.elevation >= 5 && s.elevation <= 90.0000001) || !(s.azimuth >= 0 && s.azimuth < 360))
                __builtin_trap();
    } catch (const trajix::Error& e) {
        if (std::string(e.what()).find("fuzzed.rnx") == std::string::npos) __builtin_trap();
    }
    return 0;
}

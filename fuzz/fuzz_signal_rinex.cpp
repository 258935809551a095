// A RINEX navigation file as the signal generator takes it: records or an Error naming
// the file; every satellite's schedule of sets and its message around the first record.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "signal/gps_l1ca.hpp"
#include "sky/rinex_navigation.hpp"
#include "sky/sky_model.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace trajix;
    try {
        const RinexNavigation navigation =
            parseRinexNavigation(std::string_view(reinterpret_cast<const char*>(data), size), "day.rnx");
        sky::SkyModel sky = sky::SkyModel::fromRinex(navigation, "day.rnx");
        const RinexEphemeris& first = navigation.ephemerides.front();
        sky.anchor(first.week, 0);
        const gps::UtcParameters utc = gps::utcParametersOf(navigation, first.week, 0);
        const auto frame = static_cast<std::int64_t>(std::floor(first.toe / 30));
        for (std::size_t i = 0; i < sky.size(); ++i) {
            gps::BroadcastSchedule schedule = gps::broadcastSchedule(sky, i, frame - 10, frame + 10);
            if (schedule.validFrames.size() != 21) __builtin_trap();
            if (schedule.sets.empty()) continue;
            gps::NavigationMessage message(schedule.sets, {}, first.week, utc, first.week);
            message.scheduleBroadcasts(schedule.broadcastFrom);
            for (std::int64_t k = (frame - 10) * 5; k < (frame + 10) * 5; k += 7) message.subframe(k);
        }
    } catch (const Error& e) {
        if (std::string(e.what()).find("day.rnx") == std::string::npos) __builtin_trap();
    }
    return 0;
}

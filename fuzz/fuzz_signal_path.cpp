// The generator's receiver path and profile: any NMEA file gives fixes in time order
// or an Error naming the file; any profile gives settings or an Error naming it.
#include <cmath>
#include <cstdint>
#include <string>

#include "common/error.hpp"
#include "fuzz/fuzz_support.hpp"
#include "signal/generator.hpp"
#include "signal/receiver_path.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto file = trajix::fuzz::tempFolder().write("drive.nme", data, size);
    try {
        const auto path = trajix::ReceiverPath::fromNmea(file);
        double previous = -1;
        for (const auto& fix : path.fixes()) {
            if (!(fix.time > previous) || !std::isfinite(fix.position.x)) __builtin_trap();
            previous = fix.time;
        }
        const auto p = path.positionAt(path.fixes().back().time / 2);
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) __builtin_trap();
    } catch (const trajix::Error& e) {
        if (std::string(e.what()).find("drive.nme") == std::string::npos) __builtin_trap();
    }
    const auto profile = trajix::fuzz::tempFolder().write("profile.txt", data, size);
    try {
        trajix::readGeneratorProfile(profile);
    } catch (const trajix::Error& e) {
        const std::string message = e.what();
        if (message.find("profile.txt") == std::string::npos && message.find("drive.nme") == std::string::npos &&
            message.find("NMEA") == std::string::npos)
            __builtin_trap();
    }
    return 0;
}

// Scanning an NMEA file before replay, both kinds: any file gives a result, nothing, or
// an Error; a measured rate has a positive interval and a count of at least 0.
#include <cmath>
#include <cstdint>

#include "common/error.hpp"
#include "fuzz/fuzz_support.hpp"
#include "replay/scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto file = trajix::fuzz::tempFolder().write("replay.nmea", data, size);
    for (const bool hdtGllOnly : {false, true}) {
        try {
            const auto result = trajix::scanfile(file, hdtGllOnly);
            if (!result) __builtin_trap();  // the file exists
            if (result->measured && (!(result->interval > 0) || result->count < 0 || result->typeText.empty()))
                __builtin_trap();
        } catch (const trajix::Error&) {
        }
    }
    return 0;
}

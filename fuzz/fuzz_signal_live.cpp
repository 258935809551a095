// The live NMEA reader: any bytes, split anywhere, give fixes in time order within reach
// of each other, finite, and notes that fit on a line.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "signal/live_path.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    trajix::LiveNmeaReader reader([](const std::string& note) {
        if (note.empty() || note.size() > 300 || note.find('\n') != std::string::npos) __builtin_trap();
    });
    // The first byte chooses where the stream is cut.
    const std::size_t step = size > 0 ? 1 + data[0] % 97 : 1;
    std::optional<trajix::LiveFix> previous;
    for (std::size_t at = 0; at < size; at += step)
        for (const auto& fix : reader.feed(bytes.substr(at, step))) {
            if (!std::isfinite(fix.position.x) || !std::isfinite(fix.position.y) || !std::isfinite(fix.position.z))
                __builtin_trap();
            if (previous && !(fix.streamSeconds > previous->streamSeconds)) __builtin_trap();
            previous = fix;
        }
    if (previous) {
        trajix::LivePath path(*previous, 0, {}, [] { return 0.0; });
        path.commitUntil(0.04, false);
        const auto p = path.positionAt(0.02);
        if (!std::isfinite(p.x)) __builtin_trap();
    }
    return 0;
}

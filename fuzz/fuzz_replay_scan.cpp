// Scanning an NMEA file before replay, both kinds: any file gives a result, nothing, or
// an Error; a measured rate has a positive interval and a count of at least 0. Read as
// a receiver log, the epochs cover the file exactly, in order, at times that never go
// back, and the scan of a receiver log counts them.
#include <cmath>
#include <cstdint>

#include "common/error.hpp"
#include "fuzz/fuzz_support.hpp"
#include "replay/receiver_log.hpp"
#include "replay/scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto file = trajix::fuzz::tempFolder().write("replay.nmea", data, size);
    const auto log = trajix::readReceiverLog(file);
    if (log.fileSize != static_cast<std::int64_t>(size)) __builtin_trap();
    for (std::size_t i = 0; i < log.epochs.size(); ++i) {
        if (log.epochSize(i) <= 0 || (i == 0 && log.epochs[i].offset != 0)) __builtin_trap();
        if (i > 0 && log.interval > 0.0 && !(log.epochs[i].time > log.epochs[i - 1].time)) __builtin_trap();
    }
    if (log.interval > 0.0 && !(log.length > log.epochs.back().time)) __builtin_trap();
    for (const bool hdtGllOnly : {false, true}) {
        try {
            const auto result = trajix::scanfile(file, hdtGllOnly);
            if (!result) __builtin_trap();  // the file exists
            if (result->measured && (!(result->interval > 0) || result->count < 0 || result->typeText.empty()))
                __builtin_trap();
            if (result->receiverLog && result->count != static_cast<long long>(log.epochs.size())) __builtin_trap();
        } catch (const trajix::Error&) {
        }
    }
    return 0;
}

// The almanac week: any file gives a week or an Error naming the file.
#include <cstdint>
#include <string>

#include "common/error.hpp"
#include "fuzz/fuzz_support.hpp"
#include "scenario/almanac.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto file = trajix::fuzz::tempFolder().write("week.alm", data, size);
    try {
        trajix::readAlmanacWeek(file);
    } catch (const trajix::Error& e) {
        if (std::string(e.what()).find("week.alm") == std::string::npos) __builtin_trap();
    }
    return 0;
}

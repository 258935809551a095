// The YUMA almanac records: any file gives records or an Error naming the file.
#include <cstdint>
#include <string>

#include "common/error.hpp"
#include "fuzz/fuzz_support.hpp"
#include "sky/yuma_almanac.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto file = trajix::fuzz::tempFolder().write("constellation.alm", data, size);
    try {
        for (const auto& record : trajix::readYumaAlmanac(file))
            if (record.prn < 1 || record.prn > 32) __builtin_trap();
    } catch (const trajix::Error& e) {
        if (std::string(e.what()).find("constellation.alm") == std::string::npos) __builtin_trap();
    }
    return 0;
}

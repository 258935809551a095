// Number parsing and pictures: any text either parses to a finite number or is
// refused with trajix::Error; any finite number formats with every picture.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/picture.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const double value = trajix::parseDouble(text);
        if (!std::isfinite(value)) __builtin_trap();
        for (const char* picture : {"0000.00000000", "##0.000", "####.00", "000.00", "###", "#####.#", "00.00"})
            (void)trajix::formatPicture(value, picture);
    } catch (const trajix::Error&) {
    }
    try {
        (void)trajix::parseInteger(text);
    } catch (const trajix::Error&) {
    }
    if (size >= sizeof(long double)) {
        long double raw;
        std::memcpy(&raw, data, sizeof raw);
        try {
            (void)trajix::formatPicture(raw, "0.00");
        } catch (const trajix::Error&) {
            if (std::isfinite(raw)) __builtin_trap();
        }
    }
    return 0;
}

// The KMZ reader: any bytes either give the main KML document, no larger than the limit
// and then read as KML, or an Error naming the file. The limit is small here so that a
// zip bomb the fuzzer builds is refused long before the memory limit of the run.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "route/path_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace trajix::route;
    constexpr std::uint64_t limit = 1 << 20;
    const std::string_view archive(reinterpret_cast<const char*>(data), size);
    try {
        const std::string document = readKmzDocument(archive, "fuzz.kmz", limit);
        if (document.size() > limit) __builtin_trap();
        const auto paths = readKmlPaths(document, "fuzz.kmz");
        if (paths.empty()) __builtin_trap();
    } catch (const trajix::Error& e) {
        if (std::string_view(e.what()).find("fuzz.kmz") == std::string_view::npos) __builtin_trap();
    }
    return 0;
}

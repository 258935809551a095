// The logger import: any .kel file converts or gives an Error; nothing is left in the
// temporary folder but the input and, on success, the output.
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "common/error.hpp"
#include "convert/kelo_import.hpp"
#include "fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto& folder = trajix::fuzz::tempFolder();
    trajix::convert::KeloParameters parameters;
    parameters.inputFileName = folder.write("in.kel", data, size).string();
    parameters.outputFileName = (folder.path() / "out.nmea").string();
    // Short framing periods keep each input fast.
    parameters.stationaryPeriodText = "1";
    parameters.stationaryPeriodEndText = "1";
    std::filesystem::remove(parameters.outputFileName);
    trajix::fuzz::NoPrompt prompt;
    trajix::NullProgress progress;
    bool written = false;
    try {
        trajix::convert::loadKelFile(parameters, prompt, progress);
        written = true;
    } catch (const trajix::Error& e) {
        // Every refusal names the file.
        if (std::string_view(e.what()).find("in.kel") == std::string_view::npos) __builtin_trap();
    }
    if (std::filesystem::exists(parameters.outputFileName) != written) __builtin_trap();
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) (void)entry, ++files;
    if (files != (written ? 2u : 1u)) __builtin_trap();
    return 0;
}

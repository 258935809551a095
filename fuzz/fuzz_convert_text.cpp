// The text list conversion and the NMEA correction: any input converts or gives an
// Error, and no temporary file is left behind.
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "common/error.hpp"
#include "common/progress.hpp"
#include "convert/nmea_correction.hpp"
#include "convert/text_conversion.hpp"
#include "fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto& folder = trajix::fuzz::tempFolder();
    trajix::convert::TextConversionParameters parameters;
    parameters.inputFileName = folder.write("list.txt", data, size).string();
    parameters.outputFileName = (folder.path() / "out.nmea").string();
    parameters.stationaryPeriodText = "1";
    parameters.stationaryPeriodEndText = "1";
    // Timed rows may span up to a day: at 1 Hz that is 86400 samples, not 1.7 million.
    parameters.sampleRateText = "1";
    trajix::fuzz::NoPrompt prompt;
    trajix::NullProgress progress;
    try {
        trajix::convert::convertTextFile(parameters, prompt, progress);
    } catch (const trajix::Error& e) {
        if (std::string_view(e.what()).find("list.txt") == std::string_view::npos) __builtin_trap();
    }
    try {
        const auto result = trajix::convert::correctNmeaFile(parameters.inputFileName, progress);
        if (result.linesKept < 0) __builtin_trap();
    } catch (const trajix::Error&) {
    }
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        const auto name = entry.path().filename().string();
        if (name != "list.txt" && name != "out.nmea" && name != "list_mod.txt") __builtin_trap();
        ++files;
    }
    (void)files;
    return 0;
}

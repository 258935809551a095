// The settings reader: any file text reads to valid settings, and writing them back
// and reading again gives the same settings.
#include <cstdint>
#include <string_view>

#include "common/settings.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    trajix::IniFile ini = trajix::IniFile::parse(text);
    const trajix::Settings settings = trajix::readSettings(ini);
    if (settings.baudRateIndex < 0 || settings.baudRateIndex > 7) __builtin_trap();
    trajix::IniFile copy = trajix::IniFile::parse(ini.text());
    trajix::writeSettings(copy, settings);
    const trajix::Settings again = trajix::readSettings(trajix::IniFile::parse(copy.text()));
    // Texts are kept except where the writer had to normalise them.
    if (again.baudRateIndex != settings.baudRateIndex || again.includeVtg != settings.includeVtg ||
        again.hdtOnly != settings.hdtOnly)
        __builtin_trap();
    return 0;
}

#include "common/settings.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <utility>

#include <unistd.h>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/platform.hpp"
#include "common/text_lines.hpp"

namespace trajix {

namespace {

std::string_view trimLine(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The section a line opens, if it is a section line.
std::optional<std::string_view> sectionOf(std::string_view line)
{
    line = trimLine(line);
    if (line.size() >= 2 && line.front() == '[') {
        const auto close = line.find(']');
        if (close != std::string_view::npos) return trimLine(line.substr(1, close - 1));
    }
    return std::nullopt;
}

// The key and value of a key line; comments and lines without "=" have none.
bool splitKey(std::string_view line, std::string_view& key, std::string_view& value)
{
    const std::string_view trimmed = trimLine(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return false;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return false;
    key = trimLine(line.substr(0, equals));
    value = trimLine(line.substr(equals + 1));
    return !key.empty();
}

}  // namespace

IniFile IniFile::parse(std::string_view text)
{
    IniFile ini;
    for (const std::string_view line : textLines(text)) ini.lines_.emplace_back(line);
    return ini;
}

std::optional<std::string> IniFile::get(std::string_view section, std::string_view key) const
{
    bool inSection = false;
    for (const auto& line : lines_) {
        if (auto name = sectionOf(line)) {
            inSection = sameName(*name, section);
            continue;
        }
        std::string_view k, v;
        if (inSection && splitKey(line, k, v) && sameName(k, key)) return std::string(v);
    }
    return std::nullopt;
}

void IniFile::set(std::string_view section, std::string_view key, std::string_view value)
{
    const std::string newLine = fmt::format("{}={}", key, value);
    bool inSection = false;
    std::optional<std::size_t> sectionEnd;  // index after the last non-blank line of the section
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (auto name = sectionOf(lines_[i])) {
            inSection = sameName(*name, section);
            if (inSection) sectionEnd = i + 1;
            continue;
        }
        if (!inSection) continue;
        std::string_view k, v;
        if (splitKey(lines_[i], k, v) && sameName(k, key)) {
            lines_[i] = newLine;
            return;
        }
        if (!trimLine(lines_[i]).empty()) sectionEnd = i + 1;
    }
    if (sectionEnd) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*sectionEnd), newLine);
        return;
    }
    if (!lines_.empty() && !trimLine(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back(fmt::format("[{}]", section));
    lines_.push_back(newLine);
}

std::string IniFile::text() const
{
    std::string out;
    for (const auto& line : lines_) {
        out += line;
        out += "\r\n";
    }
    return out;
}

Settings readSettings(const IniFile& ini)
{
    Settings s;
    auto integer = [&](std::string_view section, std::string_view key, long long fallback) {
        long long value = fallback;
        if (auto text = ini.get(section, key); !text || !tryParseInteger(*text, value)) value = fallback;
        return value;
    };
    if (auto v = ini.get("Alamanc", "filename")) s.almanacFileName = *v;
    if (auto v = ini.get("Output update rate", "Hz")) s.profileRate = *v;
    if (auto v = ini.get("Com port", "port"); v && !v->empty() && v->front() == '/')
        s.comPort = *v;
    else
        s.comPort = std::to_string(integer("Com port", "port", 1));
    s.includeVtg = integer("Include VTG", "VTG", 0) != 0;
    s.hdtOnly = integer("HDT only", "HDT", 0) != 0;
    const long long baud = integer("Baud rate", "Baud", defaultBaudRateIndex);
    s.includeRmc = integer("Include RMC", "RMC", 0) != 0;
    s.includeZda = integer("Include ZDA", "ZDA", 0) != 0;
    if (auto v = ini.get("NMEA date", "Date")) s.nmeaDate = *v;
    s.signalGeneratorFeatures = integer("Signal generator", "Features", 0) != 0;
    s.sky = integer("Sky", "On", 0) != 0;
    if (auto v = ini.get("Sky", "File")) s.skyFile = *v;
    if (auto v = ini.get("Sky", "Mask"); v && !v->empty()) s.skyMask = *v;
    if (auto v = ini.get("Sky", "Systems"); v && !v->empty()) s.skySystems = *v;
    if (auto v = ini.get("Street", "Buildings")) s.buildingsFile = *v;
    if (auto v = ini.get("Street", "HeightField")) s.buildingsHeightField = *v;
    if (auto v = ini.get("Street", "DefaultHeight"); v && !v->empty()) s.defaultBuildingHeight = *v;
    s.railTunnels = integer("Street", "RailTunnels", 0) != 0;
    if (auto v = ini.get("Street", "AntennaHeight"); v && !v->empty()) s.antennaHeight = *v;
    if (auto v = ini.get("Street", "ReflectionLoss"); v && !v->empty()) s.reflectionLoss = *v;
    s.baudRateIndex = baud >= 0 && baud < static_cast<long long>(std::size(baudRates)) ? static_cast<int>(baud)
                                                                                       : defaultBaudRateIndex;
    for (const std::string_view kind : fileKinds)
        if (auto v = ini.get("Folders", kind); v && !v->empty()) s.folders[std::string(kind)] = *v;
    return s;
}

std::vector<std::string> writeSettings(IniFile& ini, const Settings& s)
{
    std::vector<std::string> warnings;
    ini.set("Alamanc", "filename", s.almanacFileName);
    ini.set("Output update rate", "Hz", s.profileRate);
    const std::string_view port = trimBlanks(s.comPort);
    long long number = 0;
    if (!port.empty() && port.front() == '/')
        ini.set("Com port", "port", port);
    else if (tryParseInteger(port, number))
        ini.set("Com port", "port", std::to_string(number));
    else
        warnings.push_back(fmt::format("'{}' is not a valid integer value; the COM port setting was not saved",
                                       visibleText(s.comPort)));
    ini.set("Include VTG", "VTG", s.includeVtg ? "1" : "0");
    ini.set("HDT only", "HDT", s.hdtOnly ? "1" : "0");
    ini.set("Baud rate", "Baud", std::to_string(s.baudRateIndex));
    // The date keys join a file only once they are used, so older files keep their six keys.
    if (s.includeRmc || s.includeZda || ini.get("Include RMC", "RMC") || ini.get("Include ZDA", "ZDA")) {
        ini.set("Include RMC", "RMC", s.includeRmc ? "1" : "0");
        ini.set("Include ZDA", "ZDA", s.includeZda ? "1" : "0");
        ini.set("NMEA date", "Date", s.nmeaDate);
    }
    // Likewise the features switch, once switched on.
    if (s.signalGeneratorFeatures || ini.get("Signal generator", "Features"))
        ini.set("Signal generator", "Features", s.signalGeneratorFeatures ? "1" : "0");
    // And the sky, once switched on or given a file or a mask of its own.
    if (s.sky || !s.skyFile.empty() || s.skyMask != "5" || s.skySystems != "gps" || ini.get("Sky", "On")) {
        ini.set("Sky", "On", s.sky ? "1" : "0");
        ini.set("Sky", "File", s.skyFile);
        ini.set("Sky", "Mask", s.skyMask);
        // The systems join the section once more than GPS was chosen.
        if (s.skySystems != "gps" || ini.get("Sky", "Systems")) ini.set("Sky", "Systems", s.skySystems);
    }
    // And the street, once given a buildings file.
    if (!s.buildingsFile.empty() || ini.get("Street", "Buildings")) ini.set("Street", "Buildings", s.buildingsFile);
    // Its values join it together once one of them is changed from its default.
    const std::pair<std::string_view, std::string> street[] = {{"HeightField", s.buildingsHeightField},
                                                               {"DefaultHeight", s.defaultBuildingHeight},
                                                               {"RailTunnels", s.railTunnels ? "1" : "0"},
                                                               {"AntennaHeight", s.antennaHeight},
                                                               {"ReflectionLoss", s.reflectionLoss}};
    const Settings defaults;
    const bool changed = s.buildingsHeightField != defaults.buildingsHeightField ||
                         s.defaultBuildingHeight != defaults.defaultBuildingHeight ||
                         s.railTunnels != defaults.railTunnels || s.antennaHeight != defaults.antennaHeight ||
                         s.reflectionLoss != defaults.reflectionLoss;
    if (changed || std::any_of(std::begin(street), std::end(street),
                               [&](const auto& key) { return ini.get("Street", key.first).has_value(); }))
        for (const auto& [key, value] : street) ini.set("Street", key, value);
    for (const auto& [kind, folder] : s.folders)
        if (!folder.empty()) ini.set("Folders", kind, folder);
    return warnings;
}

Settings loadSettings(const std::filesystem::path& path, std::string* warning)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return Settings{};
    try {
        return readSettings(IniFile::parse(readFile(path)));
    } catch (const Error& e) {
        if (warning) *warning = e.what();
        return Settings{};
    }
}

std::vector<std::string> saveSettings(const std::filesystem::path& path, const Settings& settings)
{
    IniFile ini;
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        try {
            ini = IniFile::parse(readFile(path));
        } catch (const Error&) {
            ini = IniFile{};  // an unreadable file is replaced
        }
    }
    auto warnings = writeSettings(ini, settings);
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    writeFileAtomically(path, ini.text());
    return warnings;
}

std::filesystem::path settingsFilePath(const std::filesystem::path& executableFolder)
{
    if (const char* explicitPath = std::getenv("TRAJIX_CONFIG"); explicitPath && *explicitPath) return explicitPath;
    // An installed program (bin/ beside share/trajix) never writes into its folder,
    // even when it is writable, as /usr/bin is for root.
    std::error_code ec;
    const bool installed = std::filesystem::is_directory(installedDataDirectory(executableFolder), ec);
    if (!installed && ::access(executableFolder.c_str(), W_OK) == 0) return executableFolder / "trajix-gui.ini";
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::filesystem::path(home) / ".config";
    else
        base = ".";
    return base / "trajix" / "trajix-gui.ini";
}

}  // namespace trajix

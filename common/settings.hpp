#pragma once
// The settings file: an INI file as a Windows INI writer produces it (section lines,
// key=value lines, CR LF), with six keys and the folders last used. Reading accepts CR LF or LF, keys in any
// order and any case, and keeps keys it does not know when the file is written back.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/baud_rates.hpp"

namespace trajix {

/// An INI file's lines, kept in order so that writing it back changes only the keys set.
class IniFile {
public:
    static IniFile parse(std::string_view text);
    /// The value of key in section (names compared ignoring case), trimmed of blanks.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;
    /// Sets key in section, replacing its value in place or adding it (and the section).
    void set(std::string_view section, std::string_view key, std::string_view value);
    /// The file's text, each line ended by CR LF.
    std::string text() const;

private:
    std::vector<std::string> lines_;
};

struct Settings {
    std::string almanacFileName = "\\gpstools\\179.alm";  ///< [Alamanc] filename
    std::string profileRate = "20";                       ///< [Output update rate] Hz
    std::string comPort = "1";                            ///< [Com port] port: a number or a device path
    bool includeVtg = false;                              ///< [Include VTG] VTG
    bool hdtOnly = false;                                 ///< [HDT only] HDT
    int baudRateIndex = defaultBaudRateIndex;             ///< [Baud rate] Baud: index into baudRates
    bool includeRmc = false;                              ///< [Include RMC] RMC
    bool includeZda = false;                              ///< [Include ZDA] ZDA
    std::string nmeaDate;                                 ///< [NMEA date] Date: YYYY-MM-DD, empty for today
    bool signalGeneratorFeatures = false;                 ///< [Signal generator] Features
    bool sky = false;                                     ///< [Sky] On
    std::string skyFile;                                  ///< [Sky] File: almanac or RINEX navigation file
    std::string skyMask = "5";                            ///< [Sky] Mask: degrees, as typed
    std::string skySystems = "gps";                       ///< [Sky] Systems: "gps,galileo,beidou,glonass" or part
    std::string buildingsFile;                            ///< [Street] Buildings: buildings and tunnels file
    /// The street's values beside the file, as typed ([Street] HeightField, DefaultHeight,
    /// RailTunnels, AntennaHeight, ReflectionLoss); an empty or missing key reads as its default.
    std::string buildingsHeightField;          ///< the file's height field; empty for its height and levels tags
    std::string defaultBuildingHeight = "10";  ///< metres
    bool railTunnels = false;
    std::string antennaHeight = "1.5";  ///< metres
    std::string reflectionLoss = "6";   ///< dB
    /// [Folders] kind=folder: the folder last used for each kind of file (fileKinds);
    /// only kinds that were used are written.
    std::map<std::string, std::string> folders;
};

/// The kinds of file whose folder the settings keep, named by their extension.
inline constexpr std::string_view fileKinds[] = {"kml", "txt", "kel", "dsf", "bin", "alm"};

/// Reads the six keys; a missing key or one that does not convert gives its default.
Settings readSettings(const IniFile& ini);

/// Writes the six keys into ini. A COM port text that is neither an integer nor a
/// device path is not written (the file keeps its previous value) and a warning is
/// returned; the other keys are written all the same.
std::vector<std::string> writeSettings(IniFile& ini, const Settings& settings);

/// Loads the settings file; a missing file gives the defaults. An unreadable file
/// gives the defaults and a warning in *warning.
Settings loadSettings(const std::filesystem::path& path, std::string* warning = nullptr);

/// Writes the settings into the file (creating its folder), keeping unknown keys.
/// Returns warnings; throws Error when the file cannot be written.
std::vector<std::string> saveSettings(const std::filesystem::path& path, const Settings& settings);

/// Where the GUI keeps its settings: $TRAJIX_CONFIG when set; else trajix-gui.ini
/// beside the executable when that folder is writable and is not an installed bin/
/// folder (one beside ../share/trajix); else $XDG_CONFIG_HOME/trajix/trajix-gui.ini
/// (~/.config when XDG_CONFIG_HOME is unset).
std::filesystem::path settingsFilePath(const std::filesystem::path& executableFolder);

}  // namespace trajix

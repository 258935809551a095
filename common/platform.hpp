#pragma once
// Where Windows names of the original setting land on Linux.
//  - A drive is the user's home directory: startDrive() is that directory, and the
//    simulator tool directory is startDrive() + toolDir.
//  - In Windows path texts a drive letter ("c:\...") or a leading backslash means the
//    home directory, backslashes are separators, and each name matches an existing
//    entry case-insensitively when there is one.
//  - COM port n is /dev/ttyS(n-1); a device path is used as it is.
#include <filesystem>
#include <string>
#include <string_view>

namespace trajix {

inline constexpr std::string_view toolDir = "/GPStools";

/// The user's home directory ($HOME, else the password database), e.g. "/home/ann".
std::string startDrive();

/// startDrive() + toolDir, e.g. "/home/ann/GPStools".
std::filesystem::path toolDirectory();

/// Maps a Windows path text to a file on this system (see above). A relative text
/// stays relative to the current directory. home overrides the home directory.
std::filesystem::path resolveWindowsPath(std::string_view text, const std::string& home = startDrive());

/// The serial device for a COM port edit's text: "3" gives "/dev/ttyS2", "COM3"
/// gives the same, a text starting with "/" is used as it is. Throws Error otherwise.
std::string comPortDevice(std::string_view text);

/// The folder holding the running executable.
std::filesystem::path executableDirectory();

/// The shared data folder of an installed copy whose programs are in executableFolder:
/// executableFolder/../share/trajix (whether or not it exists).
std::filesystem::path installedDataDirectory(const std::filesystem::path& executableFolder);

/// The folder of the example routes: the installed one beside this program
/// (bin/../share/trajix/examples) when it exists, else empty.
std::filesystem::path examplesDirectory();

}  // namespace trajix

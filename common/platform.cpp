#include "common/platform.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"

namespace trajix {

std::string startDrive()
{
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

std::filesystem::path toolDirectory() { return std::filesystem::path(startDrive() + std::string(toolDir)); }

namespace {

bool equalIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The entry of folder named like name, ignoring case; name itself when none exists
// or the exact name exists.
std::string matchEntry(const std::filesystem::path& folder, const std::string& name)
{
    std::error_code ec;
    if (name == "." || name == ".." || std::filesystem::exists(folder / name, ec)) return name;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string candidate = it->path().filename().string();
        if (equalIgnoringCase(candidate, name)) return candidate;
    }
    return name;
}

}  // namespace

std::filesystem::path resolveWindowsPath(std::string_view text, const std::string& home)
{
    std::string path(text);
    std::replace(path.begin(), path.end(), '\\', '/');
    std::filesystem::path result;
    std::string_view rest = path;
    if (rest.size() >= 2 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':') {
        result = home;
        rest.remove_prefix(2);
    } else if (!text.empty() && text.front() == '\\') {
        result = home;
    } else if (!rest.empty() && rest.front() == '/') {
        result = "/";
    } else {
        result = ".";
    }
    std::size_t start = 0;
    while (start <= rest.size()) {
        const std::size_t slash = rest.find('/', start);
        const std::string_view part = rest.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (!part.empty()) result /= matchEntry(result, std::string(part));
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    if (result.string().rfind("./", 0) == 0) return result.lexically_relative(".");
    return result;
}

std::string comPortDevice(std::string_view text)
{
    std::string_view body = trimBlanks(text);
    if (!body.empty() && body.front() == '/') return std::string(body);
    if (body.size() > 3 && equalIgnoringCase(body.substr(0, 3), "com")) body.remove_prefix(3);
    long long number = 0;
    if (!tryParseInteger(body, number) || number < 1 || number > 256)
        throw Error(fmt::format("'{}' is not a COM port number or device path", text));
    return fmt::format("/dev/ttyS{}", number - 1);
}

std::filesystem::path executableDirectory()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path();
    return exe.parent_path();
}

std::filesystem::path installedDataDirectory(const std::filesystem::path& executableFolder)
{
    return executableFolder.parent_path() / "share" / "trajix";
}

std::filesystem::path examplesDirectory()
{
    std::error_code ec;
    auto folder = installedDataDirectory(executableDirectory()) / "examples";
    return std::filesystem::is_directory(folder, ec) ? folder : std::filesystem::path{};
}

}  // namespace trajix

#pragma once
// The readers of user files as the command line runs them, for the fault tests.
#include <filesystem>
#include <string>
#include <vector>

namespace trajix::test {

struct ReaderCommand {
    std::string name;
    /// Arguments for reading input; output names the file written (empty: the reader
    /// writes none or picks the name itself).
    std::vector<std::string> (*arguments)(const std::string& input, const std::string& output);
    /// Signal recordings: any bytes are samples, so garbage is no fault for them.
    bool rawRecording = false;
};

inline std::vector<ReaderCommand> readerCommands()
{
    return {
        {"route", [](const std::string& in, const std::string& out) {
             return std::vector<std::string>{"route", in, "-o", out};
         }},
        {"script", [](const std::string& in, const std::string& out) {
             return std::vector<std::string>{"script", in, "-o", out};
         }},
        {"kelo", [](const std::string& in, const std::string& out) {
             return std::vector<std::string>{"kelo", in, "-o", out};
         }},
        {"txt2nmea", [](const std::string& in, const std::string& out) {
             return std::vector<std::string>{"txt2nmea", in, "-o", out};
         }},
        {"correct", [](const std::string& in, const std::string&) {
             return std::vector<std::string>{"correct", in};
         }},
        {"scan", [](const std::string& in, const std::string&) {
             return std::vector<std::string>{"scan", in};
         }},
        {"scan-hdt-gll", [](const std::string& in, const std::string&) {
             return std::vector<std::string>{"scan", "--hdt-gll", in};
         }},
        {"dsf2bin", [](const std::string& in, const std::string& out) {
             return std::vector<std::string>{"dsf2bin", in, "-o", out};
         }, true},
        {"dropout", [](const std::string& in, const std::string&) {
             return std::vector<std::string>{"dropout", in};
         }, true},
    };
}

/// Names in folder, sorted.
inline std::vector<std::string> folderEntries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace trajix::test

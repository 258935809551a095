#pragma once
// Shared pieces of the fuzz targets that read files: one private temporary folder per
// process (removed at exit) and a prompt that answers No.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

#include <unistd.h>

#include "common/prompt.hpp"

namespace trajix::fuzz {

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "trajix-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        path_ = pattern;
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

    /// Writes the fuzzer's input to name inside the folder and returns its path.
    std::filesystem::path write(std::string_view name, const std::uint8_t* data, std::size_t size) const
    {
        const std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) std::abort();
        return file;
    }

private:
    std::filesystem::path path_;
};

/// One folder for the whole run of a target.
inline const TempFolder& tempFolder()
{
    static const TempFolder folder;
    return folder;
}

class NoPrompt final : public UserPrompt {
public:
    void information(std::string_view) override {}
    bool askYesNo(std::string_view) override { return false; }
};

}  // namespace trajix::fuzz

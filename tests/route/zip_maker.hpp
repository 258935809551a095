#pragma once
// Zip archives for the KMZ tests, written with libzip, and a patch that makes one lie.
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <zip.h>

#include "test_support.hpp"

namespace trajix::test {

// A zip archive of the given entries (name, content), written with libzip; encrypted
// with a password when one is given.
inline std::string makeZip(const TempDir& dir, const std::vector<std::pair<std::string, std::string>>& entries,
                           const char* password = nullptr)
{
    if (entries.empty()) return std::string("PK\x05\x06", 4) + std::string(18, '\0');  // libzip writes no empty archive
    const auto file = dir / "made.zip";
    std::filesystem::remove(file);
    int error = 0;
    zip_t* zip = zip_open(file.string().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    EXPECT_NE(zip, nullptr);
    for (const auto& [name, content] : entries) {
        zip_source_t* source = zip_source_buffer(zip, content.data(), content.size(), 0);
        const zip_int64_t index = zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8);
        EXPECT_GE(index, 0);
        if (password) {
            EXPECT_EQ(zip_file_set_encryption(zip, static_cast<zip_uint64_t>(index), ZIP_EM_TRAD_PKWARE, password), 0);
        }
    }
    EXPECT_EQ(zip_close(zip), 0);
    return readFileBytes(file);
}

// Sets the uncompressed size of every entry, in the local headers and the central
// directory alike, to size: an archive that lies about what it unpacks to.
inline std::string withDeclaredSize(std::string zip, std::uint32_t size)
{
    const auto put = [&](std::size_t at) {
        for (int b = 0; b < 4; ++b) zip[at + static_cast<std::size_t>(b)] = static_cast<char>((size >> (8 * b)) & 0xFF);
    };
    for (std::size_t i = 0; i + 46 <= zip.size(); ++i) {
        if (zip.compare(i, 4, "PK\x03\x04", 4) == 0) put(i + 22);
        if (zip.compare(i, 4, "PK\x01\x02", 4) == 0) put(i + 24);
    }
    return zip;
}

}  // namespace trajix::test

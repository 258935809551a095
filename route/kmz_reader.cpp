// The main KML document of a KMZ (zipped KML) archive, read with libzip.
#include <algorithm>
#include <cctype>
#include <memory>
#include <string>

#include <fmt/format.h>
#include <zip.h>

#include "common/error.hpp"
#include "route/path_file.hpp"

namespace trajix::route {

namespace {

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

bool endsWithKml(std::string_view name)
{
    if (name.size() < 4) return false;
    std::string suffix(name.substr(name.size() - 4));
    std::transform(suffix.begin(), suffix.end(), suffix.begin(), [](unsigned char c) { return std::tolower(c); });
    return suffix == ".kml";
}

bool isDocKml(std::string_view name)
{
    return name.size() == 7 && endsWithKml(name) && std::tolower(static_cast<unsigned char>(name[0])) == 'd' &&
           std::tolower(static_cast<unsigned char>(name[1])) == 'o' &&
           std::tolower(static_cast<unsigned char>(name[2])) == 'c';
}

}  // namespace

std::string readKmzDocument(std::string_view archive, std::string_view source, std::uint64_t limit)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
    if (!buffer) {
        const std::string reason = zip_error_strerror(&error);
        zip_error_fini(&error);
        throw Error(fmt::format("{} cannot be opened as a KMZ (zip) archive: {}", source, reason));
    }
    // ZIP_CHECKCONS compares every local header with the central directory, so a
    // patched or cut archive is refused before anything is unpacked.
    std::unique_ptr<zip_t, ArchiveCloser> zip(zip_open_from_source(buffer, ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!zip) {
        zip_source_free(buffer);
        const std::string reason = zip_error_strerror(&error);
        zip_error_fini(&error);
        throw Error(fmt::format("{} is not a readable KMZ (zip) archive: {}", source, reason));
    }
    zip_error_fini(&error);

    const zip_int64_t entries = zip_get_num_entries(zip.get(), 0);
    zip_int64_t chosen = -1;
    std::string chosenName, nestedKml;
    for (zip_int64_t i = 0; i < entries; ++i) {
        const char* raw = zip_get_name(zip.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
        if (!raw) continue;
        const std::string_view name(raw);
        if (!endsWithKml(name)) continue;
        if (name.find('/') != std::string_view::npos || name.find('\\') != std::string_view::npos) {
            if (nestedKml.empty()) nestedKml = name;
            continue;
        }
        if (isDocKml(name)) {
            chosen = i;
            chosenName = name;
            break;
        }
        if (chosen < 0) {
            chosen = i;
            chosenName = name;
        }
    }
    if (chosen < 0)
        throw Error(fmt::format("{} (KMZ) holds no KML document at its root{}", source,
                                nestedKml.empty() ? std::string(" (no .kml file at all)")
                                                  : fmt::format(" (only {} in a folder)", nestedKml)));

    const auto index = static_cast<zip_uint64_t>(chosen);
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(zip.get(), index, 0, &stat) != 0)
        throw Error(fmt::format("{} of {} (KMZ) cannot be read: {}", chosenName, source, zip_strerror(zip.get())));
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
        throw Error(fmt::format("{} of {} (KMZ) is encrypted; save it without a password", chosenName, source));
    if (!(stat.valid & ZIP_STAT_SIZE))
        throw Error(fmt::format("{} of {} (KMZ) does not declare its size", chosenName, source));
    if (stat.size > limit)
        throw Error(fmt::format("{} of {} (KMZ) would unpack to {} bytes, more than the {} allowed", chosenName, source,
                                stat.size, limit));
    if ((stat.valid & ZIP_STAT_COMP_METHOD) && !zip_compression_method_supported(stat.comp_method, 0))
        throw Error(fmt::format("{} of {} (KMZ) is compressed with a method that cannot be read (method {})",
                                chosenName, source, stat.comp_method));

    std::unique_ptr<zip_file_t, EntryCloser> entry(zip_fopen_index(zip.get(), index, 0));
    if (!entry)
        throw Error(fmt::format("{} of {} (KMZ) cannot be unpacked: {}", chosenName, source, zip_strerror(zip.get())));
    // The declared size is not trusted: bytes are counted while inflating and the
    // unpacking stops as soon as they exceed it.
    std::string document;
    document.reserve(static_cast<std::size_t>(std::min<zip_uint64_t>(stat.size, zip_uint64_t{64} << 20)));
    char chunk[1 << 16];
    for (;;) {
        const zip_int64_t got = zip_fread(entry.get(), chunk, sizeof chunk);
        if (got < 0)
            throw Error(
                fmt::format("{} of {} (KMZ) is corrupt: {}", chosenName, source, zip_file_strerror(entry.get())));
        if (got == 0) break;
        if (document.size() + static_cast<std::uint64_t>(got) > stat.size)
            throw Error(
                fmt::format("{} of {} (KMZ) unpacks to more than the {} bytes it declares: a corrupt archive "
                            "or a zip bomb",
                            chosenName, source, stat.size));
        document.append(chunk, static_cast<std::size_t>(got));
    }
    if (document.size() != stat.size)
        throw Error(fmt::format("{} of {} (KMZ) unpacks to {} bytes, not the {} it declares", chosenName, source,
                                document.size(), stat.size));
    return document;
}

}  // namespace trajix::route

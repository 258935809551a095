#include "common/atomic_file.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/error.hpp"

namespace trajix {

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target))
{
    std::error_code ec;
    if (std::filesystem::is_directory(target_, ec))
        throw Error(fmt::format("cannot write '{}': it is a directory", target_.string()));
    const std::filesystem::path folder = target_.parent_path().empty() ? "." : target_.parent_path();
    std::string pattern = (folder / ("." + target_.filename().string() + ".partial-XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw Error(fmt::format("cannot write '{}': {}", target_.string(), std::strerror(errno)));
    // mkstemp makes the file private; give it the permissions a plain create would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    temporary_ = pattern;
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        std::filesystem::remove(temporary_, ec);
        throw Error(fmt::format("cannot write '{}': {}", target_.string(), std::strerror(errno)));
    }
    // Each file has its own buffer: two files open at once, on one thread or several,
    // must never share the bytes waiting to be written.
    buffer_ = std::make_unique_for_overwrite<char[]>(bufferSize);
    std::setvbuf(file_, buffer_.get(), _IOFBF, bufferSize);
}

AtomicFile::~AtomicFile()
{
    discard();
}

void AtomicFile::fail(std::string_view what)
{
    const int error = errno;
    discard();
    throw Error(fmt::format("cannot write '{}': {}", target_.string(), error ? std::strerror(error) : what));
}

void AtomicFile::write(const void* data, std::size_t size)
{
    if (!file_) throw Error(fmt::format("cannot write '{}': the file is closed", target_.string()));
    errno = 0;
    if (size && std::fwrite(data, 1, size, file_) != size) fail("write failed");
    written_ += size;
}

void AtomicFile::write(std::string_view bytes)
{
    write(bytes.data(), bytes.size());
}

void AtomicFile::commit()
{
    if (!file_) throw Error(fmt::format("cannot write '{}': the file is closed", target_.string()));
    errno = 0;
    if (std::fflush(file_) != 0) fail("flush failed");
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) {
        const int error = errno;
        std::error_code ec;
        std::filesystem::remove(temporary_, ec);
        temporary_.clear();
        throw Error(fmt::format("cannot write '{}': {}", target_.string(), std::strerror(error)));
    }
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        std::error_code ec;
        std::filesystem::remove(temporary_, ec);
        temporary_.clear();
        throw Error(fmt::format("cannot write '{}': {}", target_.string(), std::strerror(error)));
    }
    temporary_.clear();
}

void AtomicFile::discard()
{
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        std::error_code ec;
        std::filesystem::remove(temporary_, ec);
        temporary_.clear();
    }
}

void writeFileAtomically(const std::filesystem::path& target, std::string_view contents)
{
    AtomicFile file(target);
    file.write(contents);
    file.commit();
}

std::string readFile(const std::filesystem::path& path)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw Error(fmt::format("cannot read '{}': it is a directory", path.string()));
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(fmt::format("cannot open '{}': {}", path.string(), std::strerror(errno)));
    std::ostringstream contents;
    contents << in.rdbuf();
    if (in.bad()) throw Error(fmt::format("cannot read '{}'", path.string()));
    return std::move(contents).str();
}

}  // namespace trajix

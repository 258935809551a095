#include "common/atomic_file.hpp"

#include <algorithm>
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
    if (size >= bufferSize) {
        // A piece as large as the buffer goes straight to the file: the buffer would
        // only copy it once more.
        if (std::fflush(file_) != 0) fail("flush failed");
        writeDirectly(static_cast<const char*>(data), size);
    } else if (size && std::fwrite(data, 1, size, file_) != size) {
        fail("write failed");
    }
    written_ += size;
}

void AtomicFile::writeDirectly(const char* data, std::size_t size)
{
    const int fd = ::fileno(file_);
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) fail("write failed");
        data += done;
        size -= static_cast<std::size_t>(done);
    }
}

std::uint64_t AtomicFile::copyFrom(int source, std::uint64_t offset, std::uint64_t length)
{
    if (!file_) throw Error(fmt::format("cannot write '{}': the file is closed", target_.string()));
    errno = 0;
    if (std::fflush(file_) != 0) fail("flush failed");
    const int fd = ::fileno(file_);
    std::uint64_t copied = 0;
    // The kernel copies from file to file; where it cannot (another file system on an
    // older kernel, a special file), the bytes go through a buffer instead.
    bool inKernel = true;
    std::unique_ptr<char[]> buffer;
    while (copied < length) {
        const std::uint64_t wanted = std::min<std::uint64_t>(length - copied, 1 << 30);
        ssize_t done = -1;
        if (inKernel) {
            auto from = static_cast<off_t>(offset + copied);
            done = ::copy_file_range(source, &from, fd, nullptr, static_cast<std::size_t>(wanted), 0);
            if (done < 0 && errno == EINTR) continue;
            if (done < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
                inKernel = false;
                continue;
            }
            if (done < 0) fail("copy failed");
        } else {
            if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(bufferSize);
            done = ::pread(source, buffer.get(), static_cast<std::size_t>(std::min<std::uint64_t>(wanted, bufferSize)),
                           static_cast<off_t>(offset + copied));
            if (done < 0 && errno == EINTR) continue;
            if (done < 0) fail("read failed");
            writeDirectly(buffer.get(), static_cast<std::size_t>(done));
        }
        if (done == 0) break;  // the source ended
        copied += static_cast<std::uint64_t>(done);
    }
    written_ += copied;
    return copied;
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

#pragma once
// A file written beside its target and renamed onto it on success, so that a failed
// run never leaves a truncated file under the final name and never destroys a good
// file of that name.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace trajix {

class AtomicFile {
public:
    /// Creates a temporary file in the target's folder. Throws Error when it cannot.
    explicit AtomicFile(std::filesystem::path target);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    /// Removes the temporary file unless commit() succeeded.
    ~AtomicFile();

    /// Appends bytes. Throws Error when the write fails (disk full, I/O error).
    void write(std::string_view bytes);
    void write(const void* data, std::size_t size);
    /// Appends length bytes of the open file source from offset, copied by the kernel
    /// where it can. Returns the bytes copied: fewer only when the source ended first.
    /// Throws Error when the copy fails.
    std::uint64_t copyFrom(int source, std::uint64_t offset, std::uint64_t length);
    /// Flushes, closes and renames the temporary file onto the target. Throws Error
    /// on failure, leaving the target as it was.
    void commit();
    /// Drops the temporary file; the target stays as it was.
    void discard();

    const std::filesystem::path& target() const { return target_; }
    std::uint64_t bytesWritten() const { return written_; }

private:
    void fail(std::string_view what);
    void writeDirectly(const char* data, std::size_t size);

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    static constexpr std::size_t bufferSize = 1 << 16;
    std::unique_ptr<char[]> buffer_;  // stdio's buffer for file_; outlives it
    std::FILE* file_ = nullptr;
    std::uint64_t written_ = 0;
};

/// Writes a whole file atomically.
void writeFileAtomically(const std::filesystem::path& target, std::string_view contents);

/// Reads a whole file. Throws Error naming the file when it cannot be read.
std::string readFile(const std::filesystem::path& path);

}  // namespace trajix

#include "scenario/recording.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"

namespace trajix {

namespace {

// An input recording read whole block by whole block. Blocks are mapped from the page
// cache rather than copied out of it, which saves a pass over every byte; where the
// file cannot be mapped they are read into a buffer instead.
class BlockReader {
public:
    explicit BlockReader(const std::filesystem::path& path) : path_(path)
    {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec))
            throw Error(fmt::format("cannot read '{}': it is a directory", path.string()));
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) throw Error(fmt::format("cannot open '{}': {}", path.string(), std::strerror(errno)));
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;
    ~BlockReader()
    {
        unmap();
        ::close(fd_);
    }

    // The bytes of block index (counted from 0), valid until the next call. A file that
    // has become shorter than the block is an error, never a crash on the mapping.
    const std::uint8_t* block(std::int64_t index)
    {
        unmap();
        const auto size = static_cast<std::size_t>(recordingBlockSize);
        const off_t offset = static_cast<off_t>(index) * recordingBlockSize;
        struct stat status {};
        if (::fstat(fd_, &status) != 0 || status.st_size < offset + recordingBlockSize)
            throw Error(fmt::format("'{}' ended inside block {}: the file is shorter than when it was measured",
                                    path_.string(), index + 1));
        const off_t aligned = offset & ~static_cast<off_t>(::sysconf(_SC_PAGESIZE) - 1);
        const std::size_t length = size + static_cast<std::size_t>(offset - aligned);
        void* mapping = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, fd_, aligned);
        if (mapping != MAP_FAILED) {
            mapping_ = mapping;
            mappedLength_ = length;
            return static_cast<const std::uint8_t*>(mapping) + (offset - aligned);
        }
        buffer_.resize(size);
        readAt(buffer_.data(), size, offset, index + 1);
        return buffer_.data();
    }

private:
    void unmap()
    {
        if (mapping_) ::munmap(mapping_, mappedLength_);
        mapping_ = nullptr;
    }

    void readAt(std::uint8_t* data, std::size_t size, off_t offset, std::int64_t blockNumber)
    {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t got = ::pread(fd_, data + done, size - done, offset + static_cast<off_t>(done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0)
                throw Error(
                    fmt::format("cannot read block {} of '{}': {}", blockNumber, path_.string(), std::strerror(errno)));
            if (got == 0)
                throw Error(fmt::format("'{}' ended inside block {}: the file is shorter than when it was measured",
                                        path_.string(), blockNumber));
            done += static_cast<std::size_t>(got);
        }
    }

    std::filesystem::path path_;
    int fd_ = -1;
    void* mapping_ = nullptr;
    std::size_t mappedLength_ = 0;
    std::vector<std::uint8_t> buffer_;
};

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec)) return true;
    return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
}

void checkCancelled(ProgressSink& progress, std::string_view what)
{
    if (progress.cancelled()) throw Error(fmt::format("{} cancelled; nothing was written", what));
}

}  // namespace

std::uint64_t BigFileSize(const std::filesystem::path& fileName)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(fileName, ec);
    return ec ? 0 : static_cast<std::uint64_t>(size);
}

std::int64_t recordingBlockCount(std::uint64_t fileSize)
{
    return static_cast<std::int64_t>(fileSize / static_cast<std::uint64_t>(recordingBlockSize));
}

std::array<std::uint8_t, 256> bitReversalTable()
{
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        int reversed = 0;
        for (int k = 7; k >= 0; --k)
            if (i & (1 << k)) reversed += 1 << (7 - k);
        table[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(reversed);
    }
    return table;
}

void reverseWordBits(const std::uint8_t* source, std::uint8_t* target, std::size_t size,
                     const std::array<std::uint8_t, 256>& table)
{
    // Eight bytes at a time: reversing the bits of each byte and swapping the two bytes
    // of each word gives the same bytes as the table, several times faster (the
    // compiler vectorises it), which keeps the conversion close to a plain copy.
    std::size_t p = 0;
    for (; p + 8 <= size; p += 8) {
        std::uint64_t x;
        std::memcpy(&x, source + p, 8);
        x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
        x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
        x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
        x = ((x >> 8) & 0x00FF00FF00FF00FFull) | ((x & 0x00FF00FF00FF00FFull) << 8);
        std::memcpy(target + p, &x, 8);
    }
    // Swapping the two bytes and reversing each reverses all 16 bits of the word.
    for (; p + 1 < size; p += 2) {
        const std::uint8_t low = source[p];
        const std::uint8_t high = source[p + 1];
        target[p] = table[high];
        target[p + 1] = table[low];
    }
}

void reverseWordBits(std::uint8_t* data, std::size_t size, const std::array<std::uint8_t, 256>& table)
{
    reverseWordBits(data, data, size, table);
}

std::string binNameFor(const std::string& dsfName)
{
    return (dsfName.size() >= 3 ? dsfName.substr(0, dsfName.size() - 3) : std::string()) + "bin";
}

std::int64_t convertDSF(const std::filesystem::path& input, const std::filesystem::path& output, ProgressSink& progress)
{
    // A name like x.bin maps onto itself: writing it would destroy the input.
    if (sameFile(input, output))
        throw Error(fmt::format("the output '{}' is the input recording; choose another name", output.string()));
    const std::int64_t blockCount = recordingBlockCount(BigFileSize(input));
    BlockReader reader(input);
    AtomicFile out(output);
    progress.start("Converting file", blockCount);
    const auto table = bitReversalTable();
    // Reversed a piece at a time into a buffer that stays in the cache while the write
    // copies it on: a whole 2 MB block would go out to memory and be read back.
    constexpr std::size_t piece = 128 * 1024;
    static_assert(piece % 2 == 0, "pieces must hold whole words");
    const auto blockSize = static_cast<std::size_t>(recordingBlockSize);
    std::vector<std::uint8_t> buffer(piece);
    for (std::int64_t n = 1; n <= blockCount; ++n) {
        checkCancelled(progress, "conversion");
        progress.position(n);
        const std::uint8_t* block = reader.block(n - 1);
        for (std::size_t p = 0; p < blockSize; p += piece) {
            const std::size_t size = std::min(piece, blockSize - p);
            reverseWordBits(block + p, buffer.data(), size, table);
            out.write(buffer.data(), size);
        }
    }
    out.commit();
    progress.finish();
    return blockCount;
}

std::string dropoutOutputName(const std::string& binName)
{
    return (binName.size() >= 4 ? binName.substr(0, binName.size() - 4) : std::string()) + "_mod.bin";
}

std::filesystem::path createDropouts(const DropoutRequest& request, ProgressSink& progress)
{
    const std::filesystem::path output = dropoutOutputName(request.input.string());
    std::error_code ec;
    if (!std::filesystem::exists(request.input, ec))
        throw Error(fmt::format("cannot open '{}': no such file", request.input.string()));
    const std::int64_t blockCount = recordingBlockCount(BigFileSize(request.input));
    const long long start = request.start;
    const long long duration = request.duration;
    if (start != 0) {
        if (start < 0)
            throw Error(
                fmt::format("dropout start {} is negative; it must lie between 1 and {} (the recording's seconds)",
                            start, blockCount));
        if (duration < -1) throw Error(fmt::format("dropout duration {} is below -1", duration));
        if (start + duration + 1 > blockCount)
            throw Error(
                fmt::format("a dropout from second {} for duration {} reaches second {}, past the end of '{}' "
                            "({} whole seconds)",
                            start, duration, start + duration + 1, request.input.string(), blockCount));
    }
    // Blocks are counted from 0 here: second s is block s.
    const long long firstBlank = start;
    const long long lastBlank = start == 0 ? -1 : start + duration;

    BlockReader reader(request.input);
    AtomicFile out(output);
    progress.start("Creating dropouts", blockCount);
    const std::vector<std::uint8_t> zeroBlock(static_cast<std::size_t>(recordingBlockSize), 0);
    for (std::int64_t s = 0; s < blockCount; ++s) {
        checkCancelled(progress, "dropout");
        const std::uint8_t* block = reader.block(s);
        const bool blank = start != 0 && s >= firstBlank && s <= lastBlank;
        out.write(blank ? zeroBlock.data() : block, zeroBlock.size());
        progress.position(s + 1);
    }
    out.commit();
    progress.finish();
    return output;
}

}  // namespace trajix

#include "scenario/recording.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "scenario/word_bits.hpp"

namespace trajix {

namespace {

// An input recording read front to back in large pieces. The file is read into the
// caller's buffer with read(2): one copy out of the page cache, into a buffer small
// enough to stay in the processor's cache while it is changed and written on.
class RecordingInput {
public:
    explicit RecordingInput(const std::filesystem::path& path) : path_(path)
    {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec))
            throw Error(fmt::format("cannot read '{}': it is a directory", path.string()));
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) throw Error(fmt::format("cannot open '{}': {}", path.string(), std::strerror(errno)));
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    RecordingInput(const RecordingInput&) = delete;
    RecordingInput& operator=(const RecordingInput&) = delete;
    ~RecordingInput() { ::close(fd_); }

    int descriptor() const { return fd_; }

    // Reads size bytes at offset. A file that has become shorter than it was measured is
    // an error naming the block (counted from 1) where it now ends.
    void read(std::uint8_t* data, std::size_t size, std::uint64_t offset) const
    {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t got = ::pread(fd_, data + done, size - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            const auto blockNumber =
                static_cast<std::int64_t>((offset + done) / static_cast<std::uint64_t>(recordingBlockSize)) + 1;
            if (got < 0)
                throw Error(
                    fmt::format("cannot read block {} of '{}': {}", blockNumber, path_.string(), std::strerror(errno)));
            if (got == 0) throw shrunk(blockNumber);
            done += static_cast<std::size_t>(got);
        }
    }

    Error shrunk(std::int64_t blockNumber) const
    {
        return Error(fmt::format("'{}' ended inside block {}: the file is shorter than when it was measured",
                                 path_.string(), blockNumber));
    }

private:
    std::filesystem::path path_;
    int fd_ = -1;
};

// A buffer aligned to the page, so that the copies in and out of the page cache run
// on whole pages and the vector instructions on aligned words.
class PageBuffer {
public:
    explicit PageBuffer(std::size_t size)
        : data_(static_cast<std::uint8_t*>(std::aligned_alloc(4096, (size + 4095) / 4096 * 4096)))
    {
        if (!data_) throw std::bad_alloc();
    }
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;
    ~PageBuffer() { std::free(data_); }
    std::uint8_t* data() { return data_; }

private:
    std::uint8_t* data_;
};

// A block is handled in eight pieces of 255750 bytes (whole words): small enough for the
// processor's cache, large enough that system calls cost little.
constexpr std::size_t piecesPerBlock = 8;
constexpr std::size_t pieceSize = static_cast<std::size_t>(recordingBlockSize) / piecesPerBlock;
static_assert(pieceSize * piecesPerBlock == static_cast<std::size_t>(recordingBlockSize) && pieceSize % 2 == 0,
              "a block splits into pieces of whole words");

// The conversion reads and writes pieces of whole pages, about the size of a block's piece.
constexpr std::size_t alignedPieceSize = 256 * 1024;

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec)) return true;
    return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
}

void checkCancelled(ProgressSink& progress, std::string_view what)
{
    throwIfCancelled(progress, fmt::format("{} cancelled; nothing was written", what));
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
    // The table stays the definition; the processor's fastest way gives the same bytes.
    (void)table;
    reverseWordBitsWith(fastestWordReversal(), source, target, size);
}

void reverseWordBits(std::uint8_t* data, std::size_t size, const std::array<std::uint8_t, 256>& table)
{
    reverseWordBits(data, data, size, table);
}

std::int64_t checkRecordingInput(const std::filesystem::path& input)
{
    const RecordingInput reader(input);  // says what keeps the file from being read
    return recordingBlockCount(BigFileSize(input));
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
    const RecordingInput reader(input);
    AtomicFile out(output);
    progress.start("Converting file", blockCount);
    // Each piece is read into the buffer, reversed there and written on: the bytes are
    // copied once in and once out, as a plain copy through a program copies them. The
    // pieces are whole pages of the file, so that no page is copied in two parts.
    const WordReversal way = fastestWordReversal();
    PageBuffer buffer(alignedPieceSize);
    const auto blockSize = static_cast<std::uint64_t>(recordingBlockSize);
    const std::uint64_t total = static_cast<std::uint64_t>(blockCount) * blockSize;
    std::int64_t announced = 0;
    for (std::uint64_t offset = 0; offset < total;) {
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(alignedPieceSize, total - offset));
        // Every block the piece reaches into is announced (and may be cancelled) first.
        const auto lastBlock = static_cast<std::int64_t>((offset + size - 1) / blockSize) + 1;
        while (announced < lastBlock) {
            checkCancelled(progress, "conversion");
            progress.position(++announced);
        }
        reader.read(buffer.data(), size, offset);
        reverseWordBitsWith(way, buffer.data(), buffer.data(), size);
        out.write(buffer.data(), size);
        offset += size;
    }
    out.commit();
    progress.finish();
    return blockCount;
}

std::string dropoutOutputName(const std::string& binName)
{
    return (binName.size() >= 4 ? binName.substr(0, binName.size() - 4) : std::string()) + "_mod.bin";
}

std::int64_t checkDropoutRequest(const DropoutRequest& request)
{
    std::error_code ec;
    if (std::filesystem::is_directory(request.input, ec))
        throw Error(fmt::format("cannot read '{}': it is a directory", request.input.string()));
    if (!std::filesystem::exists(request.input, ec))
        throw Error(fmt::format("cannot open '{}': no such file", request.input.string()));
    const std::int64_t blockCount = checkRecordingInput(request.input);
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
    return blockCount;
}

std::filesystem::path createDropouts(const DropoutRequest& request, ProgressSink& progress)
{
    const std::filesystem::path output = dropoutOutputName(request.input.string());
    const std::int64_t blockCount = checkDropoutRequest(request);
    const long long start = request.start;
    const long long duration = request.duration;
    // Blocks are counted from 0 here: second s is block s.
    const long long firstBlank = start;
    const long long lastBlank = start == 0 ? -1 : start + duration;

    const RecordingInput reader(request.input);
    AtomicFile out(output);
    progress.start("Creating dropouts", blockCount);
    // The blocks kept are copied by the kernel from file to file, without passing through
    // this program, a run of them at a time in pieces that end on whole pages (a block is
    // not a whole number of pages, and a copy per block costs half as much again as one
    // for the run); a blank block is written from a buffer of zeros.
    constexpr std::uint64_t copyPiece = 16ull << 20;
    const auto blockSize = static_cast<std::uint64_t>(recordingBlockSize);
    const std::vector<std::uint8_t> zeroPiece(pieceSize, 0);
    std::int64_t s = 0;
    while (s < blockCount) {
        checkCancelled(progress, "dropout");
        if (start != 0 && s >= firstBlank && s <= lastBlank) {
            for (std::size_t k = 0; k < piecesPerBlock; ++k) out.write(zeroPiece.data(), pieceSize);
            progress.position(++s);
            continue;
        }
        const std::int64_t runEnd = start != 0 && s < firstBlank ? firstBlank : blockCount;
        std::uint64_t from = static_cast<std::uint64_t>(s) * blockSize;
        const std::uint64_t to = static_cast<std::uint64_t>(runEnd) * blockSize;
        while (from < to) {
            checkCancelled(progress, "dropout");
            const std::uint64_t next = std::min(to, (from / copyPiece + 1) * copyPiece);
            const std::uint64_t copied = out.copyFrom(reader.descriptor(), from, next - from);
            if (copied != next - from) throw reader.shrunk(static_cast<std::int64_t>((from + copied) / blockSize) + 1);
            from = next;
            progress.position(static_cast<long long>(from / blockSize));
        }
        s = runEnd;
    }
    out.commit();
    progress.finish();
    return output;
}

}  // namespace trajix

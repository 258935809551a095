#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "test_support.hpp"

using namespace trajix;
using trajix::test::TempDir;

namespace {
std::size_t entries(const std::filesystem::path& folder)
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

// The byte at `position` of the file numbered `file`: distinct in every file and
// position (within the 251-byte cycle), so a byte from the wrong file or place shows.
char patternByte(int file, std::size_t position)
{
    return static_cast<char>((position * 7 + static_cast<std::size_t>(file) * 101 + position / 251) % 256);
}

std::string expectedContents(int file, std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = patternByte(file, i);
    return bytes;
}

// Opens `count` files numbered from `first` and writes them in turns, in pieces of
// changing size (small ones stay in the stdio buffer, large ones go past it), so the
// files' buffered bytes would mix if they shared a buffer.
void writeInterleaved(const std::filesystem::path& folder, int first, int count, std::size_t size)
{
    std::vector<std::unique_ptr<AtomicFile>> files;
    for (int f = first; f < first + count; ++f)
        files.push_back(std::make_unique<AtomicFile>(folder / ("file" + std::to_string(f) + ".bin")));
    std::vector<std::size_t> written(files.size(), 0);
    const std::size_t pieces[] = {1, 17, 4096, 70000, 3, 65536, 999, 150000};
    for (std::size_t turn = 0, done = 0; done < files.size(); ++turn) {
        done = 0;
        for (std::size_t k = 0; k < files.size(); ++k) {
            const std::size_t piece = std::min(pieces[(turn + k) % std::size(pieces)], size - written[k]);
            if (piece == 0) {
                ++done;
                continue;
            }
            std::string bytes(piece, '\0');
            for (std::size_t i = 0; i < piece; ++i) bytes[i] = patternByte(first + static_cast<int>(k), written[k] + i);
            files[k]->write(bytes);
            written[k] += piece;
        }
    }
    for (auto& file : files) file->commit();
}

void expectEveryByte(const std::filesystem::path& folder, int count, std::size_t size)
{
    for (int f = 0; f < count; ++f) {
        const std::string contents = test::readFileBytes(folder / ("file" + std::to_string(f) + ".bin"));
        ASSERT_EQ(contents.size(), size) << "file " << f;
        EXPECT_TRUE(contents == expectedContents(f, size)) << "file " << f << " holds bytes of another";
    }
}
}  // namespace

TEST(AtomicFile, CommitReplacesTheTarget)
{
    TempDir dir;
    test::writeFileBytes(dir / "out.txt", "old");
    {
        AtomicFile file(dir / "out.txt");
        file.write("new ");
        file.write("text");
        EXPECT_EQ(test::readFileBytes(dir / "out.txt"), "old");  // untouched until commit
        file.commit();
    }
    EXPECT_EQ(test::readFileBytes(dir / "out.txt"), "new text");
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicFile, AnAbandonedWriteKeepsTheGoodFileAndLeavesNoPartial)
{
    TempDir dir;
    test::writeFileBytes(dir / "out.txt", "good");
    {
        AtomicFile file(dir / "out.txt");
        file.write("half a fi");
    }  // an exception unwinding through here drops the partial file
    EXPECT_EQ(test::readFileBytes(dir / "out.txt"), "good");
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicFile, FilesOpenAtOnceOnOneThreadKeepTheirOwnBytes)
{
    for (const int count : {2, 3}) {
        TempDir dir;
        writeInterleaved(dir.path(), 0, count, 600000);
        expectEveryByte(dir.path(), count, 600000);
    }
}

TEST(AtomicFile, FilesOpenAtOnceOnTwoThreadsKeepTheirOwnBytes)
{
    for (const int perThread : {1, 2, 3}) {
        TempDir dir;
        std::thread other([&] { writeInterleaved(dir.path(), perThread, perThread, 600000); });
        writeInterleaved(dir.path(), 0, perThread, 600000);
        other.join();
        expectEveryByte(dir.path(), 2 * perThread, 600000);
    }
}

TEST(AtomicFile, CopiesRangesOfAnotherFileBetweenWrites)
{
    TempDir dir;
    std::string source(300000, '\0');
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = patternByte(7, i);
    // On the same file system as the target (copied in the kernel), and on another one
    // where there is one (/dev/shm: copied through a buffer on kernels that refuse).
    std::vector<std::filesystem::path> sources{dir / "source.bin"};
    if (std::filesystem::is_directory("/dev/shm"))
        sources.push_back(fmt::format("/dev/shm/trajix-copy-{}", ::getpid()));
    for (const auto& path : sources) {
        test::writeFileBytes(path, source);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0) << path;
        {
            AtomicFile file(dir / "out.bin");
            file.write("head");
            EXPECT_EQ(file.copyFrom(fd, 5, 200000), 200000u);
            file.write(std::string(70000, 'x'));  // straight past the buffer
            file.write("mid");
            // Asked past the end: the bytes there are, and how many.
            EXPECT_EQ(file.copyFrom(fd, 299990, 100), 10u);
            file.write("tail");
            EXPECT_EQ(file.bytesWritten(), 4u + 200000u + 70000u + 3u + 10u + 4u);
            file.commit();
        }
        ::close(fd);
        std::filesystem::remove(path);
        EXPECT_TRUE(test::readFileBytes(dir / "out.bin") == "head" + source.substr(5, 200000) +
                                                                std::string(70000, 'x') + "mid" +
                                                                source.substr(299990) + "tail")
            << path;
    }
}

TEST(AtomicFile, AMissingFolderIsAnError)
{
    TempDir dir;
    EXPECT_THROW(AtomicFile(dir / "missing-folder" / "x.txt"), Error);
}

TEST(AtomicFile, RefusesADirectoryAsTarget)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "sub");
    EXPECT_THROW(AtomicFile(dir / "sub"), Error);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "sub"));
}

TEST(ReadFile, NamesTheFileItCannotRead)
{
    TempDir dir;
    try {
        readFile(dir / "nope.txt");
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("nope.txt"), std::string::npos);
    }
    EXPECT_THROW(readFile(dir.path()), Error);
}

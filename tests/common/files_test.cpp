#include <gtest/gtest.h>

#include <filesystem>

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

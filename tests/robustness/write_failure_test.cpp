// Writers whose disk fills up part way: a small tmpfs mounted for the test, nearly full,
// holding a good file under the output's name. The run must fail with a message, leave
// the good file as it was, and leave no temporary file; without a good file, no file
// may appear under the final name.
#include <sys/mount.h>

#include <gtest/gtest.h>

#include "readers.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

constexpr std::size_t diskBytes = 256 * 1024;
constexpr std::size_t freeBytes = 12 * 1024;  // less than any of the outputs below

class FullDisk : public ::testing::Test {
protected:
    void SetUp() override
    {
        mountPoint = dir / "disk";
        std::filesystem::create_directory(mountPoint);
        if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, ("size=" + std::to_string(diskBytes)).c_str()) != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
        mounted = true;
    }
    void TearDown() override
    {
        if (mounted) ::umount2(mountPoint.c_str(), MNT_DETACH);
    }
    /// Fills the disk up to freeBytes, after the files already on it.
    void fill()
    {
        std::size_t used = 0;
        for (const auto& entry : std::filesystem::directory_iterator(mountPoint))
            used += (entry.file_size() + 4095) / 4096 * 4096;
        writeFileBytes(mountPoint / "filler", std::string(diskBytes - used - freeBytes, 'x'));
    }
    /// Runs the writer twice: onto a good file, then with no file of that name.
    void expectCleanFailure(const std::vector<std::string>& arguments, const std::filesystem::path& output)
    {
        const std::string good = "$GPGGA,good file\r\n";
        writeFileBytes(output, good);
        auto before = folderEntries(mountPoint);
        auto result = runTrajix(arguments);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_NE(result.err.find("error"), std::string::npos) << result.err;
        EXPECT_EQ(readFileBytes(output), good) << "the good file was destroyed";
        EXPECT_EQ(folderEntries(mountPoint), before) << "a temporary file was left";

        std::filesystem::remove(output);
        before = folderEntries(mountPoint);
        result = runTrajix(arguments);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_FALSE(std::filesystem::exists(output)) << "a truncated file under the final name";
        EXPECT_EQ(folderEntries(mountPoint), before);
    }

    TempDir dir;
    std::filesystem::path mountPoint;
    bool mounted = false;
};

TEST_F(FullDisk, RouteKeepsGoodFile)
{
    fill();
    expectCleanFailure({"route", dataFile("route/corner.kml").string(), "-o", (mountPoint / "route.nmea").string()},
                       mountPoint / "route.nmea");
}

TEST_F(FullDisk, ScriptKeepsGoodFile)
{
    fill();
    expectCleanFailure({"script", dataFile("script/drive.txt").string(), "-o", (mountPoint / "drive.nmea").string()},
                       mountPoint / "drive.nmea");
}

TEST_F(FullDisk, LoggerImportKeepsGoodFile)
{
    fill();
    expectCleanFailure({"kelo", dataFile("convert/log10hz.kel").string(), "-o", (mountPoint / "log.nmea").string()},
                       mountPoint / "log.nmea");
}

TEST_F(FullDisk, TextListKeepsGoodFile)
{
    writeFileBytes(dir / "list.txt", "title\n51.5 -0.25\n51.5001 -0.2501\n");
    fill();
    expectCleanFailure({"txt2nmea", (dir / "list.txt").string(), "-o", (mountPoint / "list.nmea").string()},
                       mountPoint / "list.nmea");
}

TEST_F(FullDisk, CorrectionKeepsGoodFile)
{
    // The corrected file goes beside its input, so the input lies on the small disk too.
    writeFileBytes(mountPoint / "run.txt", readFileBytes(dataFile("script/drive_20hz.nmea")).substr(0, 40000));
    fill();
    expectCleanFailure({"correct", (mountPoint / "run.txt").string()}, mountPoint / "run_mod.txt");
}

}  // namespace
}  // namespace trajix::test

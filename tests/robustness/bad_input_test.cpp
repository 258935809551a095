// Every reader of user files, run from the command line on inputs it cannot use: a
// directory, a file that is gone, a file it may not read, and binary garbage. Each must
// end with exit code 1 and a message naming the file, write nothing and leave nothing.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "readers.hpp"
#include "scenario/almanac.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

std::string cliPath()
{
    return std::string(TRAJIX_BINARY_DIR) + "/cli/trajix";
}

void expectRefusalNaming(const CommandResult& result, const std::string& reader, const std::string& path)
{
    EXPECT_EQ(result.exitCode, 1) << reader << " stderr: " << result.err;
    EXPECT_NE(result.err.find(path), std::string::npos) << reader << " does not name " << path << ": " << result.err;
    EXPECT_EQ(result.err.find("AddressSanitizer"), std::string::npos) << result.err;
}

TEST(BadInput, DirectoryGivenAsFileIsRefusedByEveryReader)
{
    for (const auto& reader : readerCommands()) {
        TempDir dir;
        const auto input = dir / "input.dat";
        std::filesystem::create_directory(input);
        const auto result = runTrajix(reader.arguments(input.string(), (dir / "out.nmea").string()));
        expectRefusalNaming(result, reader.name, input.string());
        EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"input.dat"}) << reader.name;
    }
}

TEST(BadInput, FileThatVanishedAfterItWasChosenIsRefusedByEveryReader)
{
    for (const auto& reader : readerCommands()) {
        TempDir dir;
        const auto input = dir / "chosen.txt";
        writeFileBytes(input, "title\n51 -1\n");
        std::filesystem::remove(input);
        const auto result = runTrajix(reader.arguments(input.string(), (dir / "out.nmea").string()));
        expectRefusalNaming(result, reader.name, input.string());
        EXPECT_TRUE(folderEntries(dir.path()).empty()) << reader.name;
    }
}

TEST(BadInput, UnreadableFileIsRefusedByEveryReader)
{
    // Root reads any file, so the command runs as nobody.
    if (runProgram("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "/bin/true"}).exitCode != 0)
        GTEST_SKIP() << "cannot run a command as another user";
    for (const auto& reader : readerCommands()) {
        TempDir dir;
        ::chmod(dir.path().c_str(), 0777);
        const auto input = dir / "secret.kml";
        writeFileBytes(input, readFileBytes(dataFile("route/corner.kml")));
        ::chmod(input.c_str(), 0);
        std::vector<std::string> arguments{"--reuid=65534", "--regid=65534", "--clear-groups", cliPath()};
        for (const auto& a : reader.arguments(input.string(), (dir / "out.nmea").string())) arguments.push_back(a);
        const auto result = runProgram("/usr/bin/setpriv", arguments);
        expectRefusalNaming(result, reader.name, input.string());
        EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"secret.kml"}) << reader.name;
    }
}

TEST(BadInput, BinaryGarbageIsRefusedByEveryReaderWithoutLeftovers)
{
    std::mt19937 random(13);
    std::string garbage(256 * 1024, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    ASSERT_EQ(garbage.find("GGA"), std::string::npos);
    for (const auto& reader : readerCommands()) {
        if (reader.rawRecording) continue;
        TempDir dir;
        const auto input = dir / "garbage.bin";
        writeFileBytes(input, garbage);
        const auto result = runTrajix(reader.arguments(input.string(), (dir / "out.nmea").string()));
        if (reader.name == "correct") {
            // Garbage holds no GGA line (checked above): the correct result is an empty file.
            EXPECT_EQ(result.exitCode, 0) << result.err;
            EXPECT_EQ(readFileBytes(dir / "garbage_mod.txt"), "");
            continue;
        }
        if (reader.name == "script") {
            // Lines that are no command have no effect; they are listed after the run,
            // the first few, cut short and with their control bytes escaped.
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_EQ(result.err.rfind("trajix: The script records no motion: no NMEA file written\ntrajix: ", 0), 0u)
                << result.err;
            EXPECT_NE(result.err.find(" lines match no command and had no effect:\nline 1: "), std::string::npos);
            EXPECT_LT(result.err.size(), 3000u);
            for (const char c : result.err) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
        } else if (reader.name == "scan-hdt-gll") {
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_NE(result.err.find("does not contain GPGLL messages"), std::string::npos) << result.err;
        } else {
            expectRefusalNaming(result, reader.name, input.string());
        }
        EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"garbage.bin"}) << reader.name;
    }
}

TEST(BadInput, AlmanacThatIsADirectoryMissingOrGarbageIsRefusedNamingIt)
{
    // The almanac is read by the scenario step, which has no command of its own.
    TempDir dir;
    std::filesystem::create_directory(dir / "folder.alm");
    writeFileBytes(dir / "garbage.alm", std::string("\x89PNG\r\n\x1a\n\0\0week\0\xff", 16));
    for (const char* name : {"folder.alm", "gone.alm", "garbage.alm"}) {
        const auto file = dir / name;
        try {
            readAlmanacWeek(file);
            ADD_FAILURE() << name << " gave a week";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace trajix::test

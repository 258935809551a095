#include "convert/nmea_correction.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/error.hpp"
#include "convert_test_helpers.hpp"

namespace trajix::test {
namespace {

using convert::correctedFileName;
using convert::correctNmeaFile;

TEST(NmeaCorrection, OutputNameReplacesTheWholeExtension)
{
    EXPECT_EQ(correctedFileName("/data/run.txt"), "/data/run_mod.txt");
    EXPECT_EQ(correctedFileName("track.nmea"), "track_mod.txt");  // was track._mod.txt
    EXPECT_EQ(correctedFileName("a.b"), "a_mod.txt");             // was _mod.txt
    EXPECT_EQ(correctedFileName("archive.tar.gz"), "archive.tar_mod.txt");
    EXPECT_EQ(correctedFileName("log."), "log_mod.txt");
    // No extension: nothing of the name is cut (four characters were).
    EXPECT_EQ(correctedFileName("mylog"), "mylog_mod.txt");
    EXPECT_EQ(correctedFileName("/data/dir.v2/log"), "/data/dir.v2/log_mod.txt");
    // A hidden file's leading dot is part of its name.
    EXPECT_EQ(correctedFileName(".log"), ".log_mod.txt");
    EXPECT_EQ(correctedFileName("/home/ann/.gps.nmea"), "/home/ann/.gps_mod.txt");
}

TEST(NmeaCorrection, WritesBesideTheInputWhateverItsName)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "dir.v2");
    NullProgress progress;
    for (const char* name : {"dir.v2/log", ".log", "log.nmea"}) {
        writeFileBytes(dir / name, "$GPGGA,1*00\n");
        const auto result = correctNmeaFile((dir / name).string(), progress);
        EXPECT_EQ(result.outputFileName, correctedFileName((dir / name).string()));
        EXPECT_EQ(readFileBytes(result.outputFileName), "$GPGGA,1*00\r\n") << name;
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "dir.v2" / "log_mod.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir / ".log_mod.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir / "log_mod.txt"));
}

TEST(NmeaCorrection, KeepsGgaLinesByteForByte)
{
    TempDir dir;
    const std::string gga1 = "$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
    const std::string gga2 = "$GPGGA,123520.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*4F  ";
    const std::string comment = "# the GGA sentences follow";
    const std::string input = gga1 + "\r\n$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48\r\n" +
                              "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\n" + comment +
                              "\n$gpgga,lower,case\r\n" + gga2 + "\r" + "$GPGSA,A,3*00";
    writeFileBytes(dir / "run.txt", input);
    RecordingProgress progress;
    const auto result = correctNmeaFile((dir / "run.txt").string(), progress);
    EXPECT_EQ(result.outputFileName, (dir / "run_mod.txt").string());
    EXPECT_EQ(result.finishedText, "Finished - output file:" + (dir / "run_mod.txt").string());
    EXPECT_EQ(result.linesKept, 3);
    EXPECT_EQ(readFileBytes(dir / "run_mod.txt"), gga1 + "\r\n" + comment + "\r\n" + gga2 + "\r\n");
    ASSERT_FALSE(progress.captions.empty());
    EXPECT_EQ(progress.captions[0], "Scanning file");
}

TEST(NmeaCorrection, NoGgaGivesEmptyFileAndRunningTwiceOverwrites)
{
    TempDir dir;
    writeFileBytes(dir / "x.txt", "$GPVTG,1*00\r\n");
    NullProgress progress;
    const auto result = correctNmeaFile((dir / "x.txt").string(), progress);
    EXPECT_EQ(readFileBytes(dir / "x_mod.txt"), "");
    EXPECT_EQ(result.linesKept, 0);

    writeFileBytes(dir / "x.txt", "GGA\n");
    correctNmeaFile((dir / "x.txt").string(), progress);
    correctNmeaFile((dir / "x.txt").string(), progress);
    EXPECT_EQ(readFileBytes(dir / "x_mod.txt"), "GGA\r\n");
}

TEST(NmeaCorrection, TheGaugeMovesThroughAFileOfFewGgaLines)
{
    // The window is kept alive from the gauge: it must move however few lines are kept.
    TempDir dir;
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += i == 10000 ? "$GPGGA,1*00\r\n" : "$GPVTG,0.00,T,,M,0.000,N,0.000,K,A*3D\r\n";
    writeFileBytes(dir / "few.txt", text);
    RecordingProgress progress;
    EXPECT_EQ(correctNmeaFile((dir / "few.txt").string(), progress).linesKept, 1);
    ASSERT_GE(progress.positions.size(), 4u);
    EXPECT_TRUE(std::is_sorted(progress.positions.begin(), progress.positions.end()));
    EXPECT_LT(progress.positions.front(), static_cast<long long>(text.size()) / 4);
    EXPECT_LE(progress.positions.back(), static_cast<long long>(text.size()));
}

TEST(NmeaCorrection, UnreadableInputLeavesNoOutput)
{
    TempDir dir;
    NullProgress progress;
    EXPECT_THROW(correctNmeaFile((dir / "absent.txt").string(), progress), Error);
    EXPECT_FALSE(std::filesystem::exists(dir / "absent_mod.txt"));
    std::filesystem::create_directory(dir / "folder.txt");
    EXPECT_THROW(correctNmeaFile((dir / "folder.txt").string(), progress), Error);
}

}  // namespace
}  // namespace trajix::test

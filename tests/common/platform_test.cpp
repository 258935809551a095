#include <gtest/gtest.h>

#include <filesystem>

#include "common/error.hpp"
#include "common/platform.hpp"
#include "test_support.hpp"

using namespace trajix;

TEST(Platform, ComPortNumbersAndDevicePaths)
{
    EXPECT_EQ(comPortDevice("1"), "/dev/ttyS0");
    EXPECT_EQ(comPortDevice(" 3 "), "/dev/ttyS2");
    EXPECT_EQ(comPortDevice("COM4"), "/dev/ttyS3");
    EXPECT_EQ(comPortDevice("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(comPortDevice("/dev/pts/3"), "/dev/pts/3");
    EXPECT_THROW(comPortDevice("0"), Error);
    EXPECT_THROW(comPortDevice("abc"), Error);
    EXPECT_THROW(comPortDevice(""), Error);
}

TEST(Platform, WindowsPathsMapIntoTheHomeDirectoryIgnoringCase)
{
    test::TempDir home;
    std::filesystem::create_directories(home / "GPStools");
    test::writeFileBytes(home / "GPStools" / "179.ALM", "x");
    EXPECT_EQ(resolveWindowsPath("\\gpstools\\179.alm", home.path().string()), home / "GPStools" / "179.ALM");
    EXPECT_EQ(resolveWindowsPath("c:\\GPSTOOLS\\new.alm", home.path().string()), home / "GPStools" / "new.alm");
    EXPECT_EQ(resolveWindowsPath("c:\\trajixV2\\almanacs\\", home.path().string()), home / "trajixV2" / "almanacs");
    EXPECT_EQ(resolveWindowsPath("/etc/hostname", home.path().string()), std::filesystem::path("/etc/hostname"));
    EXPECT_EQ(resolveWindowsPath("sub\\file.txt", home.path().string()), std::filesystem::path("sub/file.txt"));
}

TEST(Platform, StartDriveIsTheHomeDirectory)
{
    const char* saved = std::getenv("HOME");
    ::setenv("HOME", "/home/ann", 1);
    EXPECT_EQ(startDrive(), "/home/ann");
    EXPECT_EQ(toolDirectory(), std::filesystem::path("/home/ann/GPStools"));
    if (saved) ::setenv("HOME", saved, 1);
}

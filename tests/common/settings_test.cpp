#include <gtest/gtest.h>

#include <cstdlib>

#include "common/settings.hpp"
#include "test_support.hpp"

using namespace trajix;
using trajix::test::TempDir;

TEST(Settings, MissingFileGivesTheDefaults)
{
    TempDir dir;
    const Settings s = loadSettings(dir / "none.ini");
    EXPECT_EQ(s.almanacFileName, "\\gpstools\\179.alm");
    EXPECT_EQ(s.profileRate, "20");
    EXPECT_EQ(s.comPort, "1");
    EXPECT_FALSE(s.includeVtg);
    EXPECT_FALSE(s.hdtOnly);
    EXPECT_EQ(s.baudRateIndex, 7);
}

TEST(Settings, SavedFileIsAWindowsIniAndReadsBack)
{
    TempDir dir;
    Settings s;
    s.almanacFileName = "c:\\alm\\610.alm";
    s.profileRate = "10";
    s.comPort = "3";
    s.includeVtg = true;
    s.baudRateIndex = 3;
    EXPECT_TRUE(saveSettings(dir / "t.ini", s).empty());
    EXPECT_EQ(test::readFileBytes(dir / "t.ini"),
              "[Alamanc]\r\nfilename=c:\\alm\\610.alm\r\n\r\n"
              "[Output update rate]\r\nHz=10\r\n\r\n"
              "[Com port]\r\nport=3\r\n\r\n"
              "[Include VTG]\r\nVTG=1\r\n\r\n"
              "[HDT only]\r\nHDT=0\r\n\r\n"
              "[Baud rate]\r\nBaud=3\r\n");
    const Settings back = loadSettings(dir / "t.ini");
    EXPECT_EQ(back.almanacFileName, s.almanacFileName);
    EXPECT_EQ(back.profileRate, "10");
    EXPECT_EQ(back.comPort, "3");
    EXPECT_TRUE(back.includeVtg);
    EXPECT_EQ(back.baudRateIndex, 3);
}

TEST(Settings, ReadsLfFilesAnyKeyOrderAndCaseAndKeepsUnknownKeys)
{
    TempDir dir;
    test::writeFileBytes(dir / "t.ini",
                         "; comment\n[baud rate]\nBAUD = 2\nExtra=keep me\n[HDT only]\nHDT=1\n[Mine]\nx=y\n");
    Settings s = loadSettings(dir / "t.ini");
    EXPECT_EQ(s.baudRateIndex, 2);
    EXPECT_TRUE(s.hdtOnly);
    s.baudRateIndex = 5;
    saveSettings(dir / "t.ini", s);
    const std::string text = test::readFileBytes(dir / "t.ini");
    EXPECT_NE(text.find("Extra=keep me\r\n"), std::string::npos);
    EXPECT_NE(text.find("[Mine]\r\nx=y\r\n"), std::string::npos);
    EXPECT_NE(text.find("Baud=5\r\n"), std::string::npos);
    EXPECT_EQ(text.find("[Baud rate]"), std::string::npos);  // no second section
}

TEST(Settings, MalformedValuesFallBackToDefaults)
{
    TempDir dir;
    test::writeFileBytes(dir / "t.ini",
                         "garbage line\n[Com port]\nport=abc\n[Baud rate]\nBaud=99\n[Include VTG]\nVTG=yes\n[\n=\n");
    const Settings s = loadSettings(dir / "t.ini");
    EXPECT_EQ(s.comPort, "1");
    EXPECT_EQ(s.baudRateIndex, 7);
    EXPECT_FALSE(s.includeVtg);
}

TEST(Settings, ABadComPortDoesNotStopTheOtherKeys)
{
    TempDir dir;
    Settings s;
    s.comPort = "COMx";
    s.hdtOnly = true;
    s.baudRateIndex = 4;
    const auto warnings = saveSettings(dir / "t.ini", s);
    ASSERT_EQ(warnings.size(), 1u);
    const Settings back = loadSettings(dir / "t.ini");
    EXPECT_TRUE(back.hdtOnly);
    EXPECT_EQ(back.baudRateIndex, 4);
    EXPECT_EQ(back.comPort, "1");
}

TEST(Settings, ADevicePathIsSavedAsText)
{
    TempDir dir;
    Settings s;
    s.comPort = "/dev/ttyUSB0";
    saveSettings(dir / "t.ini", s);
    EXPECT_EQ(loadSettings(dir / "t.ini").comPort, "/dev/ttyUSB0");
}

TEST(Settings, UnreadableFileGivesDefaultsAndAWarning)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "t.ini");  // a folder where the file should be
    std::string warning;
    const Settings s = loadSettings(dir / "t.ini", &warning);
    EXPECT_EQ(s.profileRate, "20");
    EXPECT_FALSE(warning.empty());
}

TEST(Settings, FilePathFollowsTheEnvironment)
{
    TempDir dir;
    ::setenv("TRAJIX_CONFIG", (dir / "x.ini").c_str(), 1);
    EXPECT_EQ(settingsFilePath("/usr/bin"), dir / "x.ini");
    ::unsetenv("TRAJIX_CONFIG");
    EXPECT_EQ(settingsFilePath(dir.path()), dir / "trajix-gui.ini");
    ::setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
    if (::geteuid() != 0) {
        EXPECT_EQ(settingsFilePath("/proc"), dir / "cfg" / "trajix" / "trajix-gui.ini");
    }
    EXPECT_EQ(settingsFilePath("/nonexistent-folder"), dir / "cfg" / "trajix" / "trajix-gui.ini");
    // An installed copy keeps its settings per user even where its bin/ is writable
    // (as /usr/bin is for root): never beside the program in a system folder.
    std::filesystem::create_directories(dir / "prefix" / "bin");
    std::filesystem::create_directories(dir / "prefix" / "share" / "trajix");
    EXPECT_EQ(settingsFilePath(dir / "prefix" / "bin"), dir / "cfg" / "trajix" / "trajix-gui.ini");
    ::unsetenv("XDG_CONFIG_HOME");
}

// The buildings file joins the file in a section of its own once chosen; a file from
// before it reads with none and is written back without the section.
TEST(Settings, BuildingsFileRoundTripsAndOlderFilesStayAsTheyWere)
{
    TempDir dir;
    Settings s;
    s.buildingsFile = "/data/city blocks/manhattan.osm.pbf";
    EXPECT_TRUE(saveSettings(dir / "street.ini", s).empty());
    const std::string text = test::readFileBytes(dir / "street.ini");
    EXPECT_NE(text.find("\r\n[Street]\r\nBuildings=/data/city blocks/manhattan.osm.pbf\r\n"), std::string::npos)
        << text;
    EXPECT_EQ(loadSettings(dir / "street.ini").buildingsFile, s.buildingsFile);

    const std::string old = "[Alamanc]\r\nfilename=a.alm\r\n\r\n[Sky]\r\nOn=1\r\nFile=b.rnx\r\n";
    test::writeFileBytes(dir / "old.ini", old);
    Settings back = loadSettings(dir / "old.ini");
    EXPECT_EQ(back.buildingsFile, "");
    EXPECT_TRUE(back.sky);
    EXPECT_TRUE(saveSettings(dir / "old.ini", back).empty());
    EXPECT_EQ(test::readFileBytes(dir / "old.ini").find("Street"), std::string::npos);

    // Emptied again, the key stays and says so.
    test::writeFileBytes(dir / "cleared.ini", text);
    back = loadSettings(dir / "cleared.ini");
    back.buildingsFile.clear();
    EXPECT_TRUE(saveSettings(dir / "cleared.ini", back).empty());
    EXPECT_NE(test::readFileBytes(dir / "cleared.ini").find("[Street]\r\nBuildings=\r\n"), std::string::npos);
    EXPECT_EQ(loadSettings(dir / "cleared.ini").buildingsFile, "");
}

// The street's values beside the file join its section together, as typed, once one
// differs from its default; a file without them, or with them empty, reads the defaults.
TEST(Settings, StreetValuesRoundTripAndOlderFilesReadTheDefaults)
{
    TempDir dir;
    test::writeFileBytes(dir / "old.ini", "[Street]\r\nBuildings=city.osm\r\n");
    // The street's section as written: the other settings follow it.
    const auto street = [&] {
        const std::string text = test::readFileBytes(dir / "old.ini");
        return text.substr(0, text.find("\r\n\r\n"));
    };
    Settings s = loadSettings(dir / "old.ini");
    EXPECT_EQ(
        "[" + s.buildingsHeightField + "] " + s.defaultBuildingHeight + " " + s.antennaHeight + " " + s.reflectionLoss,
        "[] 10 1.5 6");
    EXPECT_FALSE(s.railTunnels);
    EXPECT_TRUE(saveSettings(dir / "old.ini", s).empty());
    EXPECT_EQ(street(), "[Street]\r\nBuildings=city.osm");

    s.reflectionLoss = "7.5";
    saveSettings(dir / "old.ini", s);
    EXPECT_EQ(street(),
              "[Street]\r\nBuildings=city.osm\r\nHeightField=\r\nDefaultHeight=10\r\nRailTunnels=0\r\n"
              "AntennaHeight=1.5\r\nReflectionLoss=7.5");
    s.buildingsHeightField = "HEIGHT_ROOF";
    s.railTunnels = true;
    saveSettings(dir / "old.ini", s);
    const Settings back = loadSettings(dir / "old.ini");
    EXPECT_EQ(back.buildingsHeightField, "HEIGHT_ROOF");
    EXPECT_TRUE(back.railTunnels);
    EXPECT_EQ(back.reflectionLoss, "7.5");

    test::writeFileBytes(dir / "empty.ini", "[street]\nDefaultHeight=\nantennaheight=\nReflectionLoss=\n");
    const Settings empty = loadSettings(dir / "empty.ini");
    EXPECT_EQ(empty.defaultBuildingHeight + " " + empty.antennaHeight + " " + empty.reflectionLoss, "10 1.5 6");
}

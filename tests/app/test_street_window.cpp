// The street in the window: the Settings tab's "Buildings" file reaches every file the
// route writes exactly as the command line's --buildings does, the position chart
// draws the buildings, tunnels and the stretches without a fix, and the sky plot the
// skyline and how each satellite arrives.
#ifdef TRAJIX_WITH_ROUTE

#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <string>

#include "app/sky_view.hpp"
#include "app/street_map.hpp"
#include "app_fixture.hpp"

namespace trajix::test {
namespace {

QString qpath(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

// Down West Street through the Battery Park Underpass, then east among the towers.
std::string driveKml()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>"
           "<Placemark><name>fidi</name><LineString><coordinates>"
           "-74.01535,40.7087,0 -74.0154267,40.7082794,0 -74.0155846,40.7078839,0 -74.0156213,40.7077505,0 "
           "-74.0156323,40.7076216,0 -74.0156171,40.7074936,0 -74.0155691,40.707372,0 -74.0154667,40.7072608,0 "
           "-74.0152333,40.7071139,0 -74.015121,40.7070406,0 -74.0150235,40.7069397,0 "
           "-74.0140,40.7066,0 -74.0125,40.7062,0 -74.0113,40.7057,0"
           "</coordinates></LineString></Placemark></Document></kml>\n";
}

class StreetWindowTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        form = startWindow();
        form->setDialogs(&dialogs);
    }
    void TearDown() override
    {
        form.reset();
        AppTest::TearDown();
    }
    // The drive of the command-line test, with RMC, the sky of 2010-07-01 at 01:00 and
    // the Lower Manhattan buildings.
    void chooseStreetDrive()
    {
        writeFileBytes(dir / "fidi.kml", driveKml());
        dialogs.openAnswers.push_back(qpath(dir / "fidi.kml"));
        tab<gui::GoogleEarthTab>(*form)->pickPathFile();
        control<QLineEdit>(*form, "StartTimeEdit")->setText("3600");
        control<QCheckBox>(*form, "RMCBox")->setChecked(true);
        control<QCheckBox>(*form, "SkyBox")->setChecked(true);
        control<QDateEdit>(*form, "NmeaDateEdit")->setDate(QDate(2010, 7, 1));
        control<QLineEdit>(*form, "SkyFileEdit")->setText(qpath(dataFile("sky/brdc1820_0000-0400.10n")));
        control<QLineEdit>(*form, "BuildingsEdit")->setText(qpath(dataFile("street/lower-manhattan-cut.osm")));
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<gui::MainWindow> form;
};

TEST_F(StreetWindowTest, TheBuildingsFileReachesTheFileAsTheCommandLinesDoes)
{
    chooseStreetDrive();
    const auto written = dir / "street.txt";
    dialogs.saveAnswers.push_back(qpath(written));
    tab<gui::GoogleEarthTab>(*form)->generate();
    ASSERT_TRUE(std::filesystem::exists(written)) << (prompt.messages.empty() ? "" : prompt.messages.front());

    const auto cliFile = dir / "cli.nmea";
    const auto cli = runTrajix({"route", (dir / "fidi.kml").string(), "--rmc", "--date", "2010-07-01", "--start-time",
                                "3600", "--sky", dataFile("sky/brdc1820_0000-0400.10n").string(), "--buildings",
                                dataFile("street/lower-manhattan-cut.osm").string(), "-o", cliFile.string()});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    const std::string bytes = readFileBytes(written);
    EXPECT_EQ(bytes, readFileBytes(cliFile));
    // The buildings hide satellites (an empty SNR, last in a GSV sentence or before the
    // next satellite) and the underpass takes the fix (GGA quality 0).
    EXPECT_TRUE(std::regex_search(bytes, std::regex(R"(\$GPGSV,[^*]*,\d\d,\d\d,\d\d\d,(\*|,))")));
    const std::regex lostGga(R"(\$GPGGA,\d{6}\.\d\d,,,,,0,)");
    const auto lostCount = std::distance(std::sregex_iterator(bytes.begin(), bytes.end(), lostGga), {});
    EXPECT_GT(lostCount, 0);

    // The chart holds the street around the path and the stretches without a fix; the
    // map's samples are the file's moving samples without a fix (the stationary
    // periods repeat a sample, so the file may have more).
    auto* chart = control<QChartView>(*form, "Chart1");
    const gui::StreetMap& map = gui::streetMapOf(chart);
    EXPECT_GT(map.buildings.size(), 20);
    EXPECT_FALSE(map.coveredWays.isEmpty());
    ASSERT_FALSE(map.lostFix.isEmpty());
    qsizetype lostPoints = 0;
    for (const QPolygonF& stretch : map.lostFix) lostPoints += stretch.size();
    EXPECT_LE(lostPoints, lostCount);
    EXPECT_GT(lostPoints, 0);
    // The footprints lie around the path: one of them within 60 m of its first point.
    const QPointF start = series(*form, "Series1")->at(0);
    bool nearStart = false;
    for (const QPainterPath& building : map.buildings) {
        const QRectF box = building.boundingRect();
        nearStart = nearStart || box.adjusted(-60, -60, 60, 60).contains(start);
    }
    EXPECT_TRUE(nearStart);

    // The sky plot: a skyline all round and one reception per satellite, the hidden
    // ones those the file lists without an SNR.
    auto* plot = form->findChild<gui::SkyPlot*>("SkyPlot");
    ASSERT_TRUE(plot->sky());
    ASSERT_TRUE(plot->street());
    EXPECT_EQ(plot->street()->skyline.size(), 180u);
    ASSERT_EQ(plot->street()->reception.size(), plot->sky()->satellites.size());
    for (std::size_t k = 0; k < plot->sky()->satellites.size(); ++k)
        EXPECT_EQ(std::isnan(plot->sky()->satellites[k].cn0),
                  plot->street()->reception[k] == street::Reception::blocked)
            << plot->sky()->satellites[k].prn;
    plot->grab();

    // Without the file the street goes away and the file is the open sky's.
    control<QLineEdit>(*form, "BuildingsEdit")->clear();
    dialogs.saveAnswers.push_back(qpath(dir / "open.txt"));
    tab<gui::GoogleEarthTab>(*form)->generate();
    EXPECT_TRUE(gui::streetMapOf(chart).empty());
    EXPECT_FALSE(plot->street());
    EXPECT_EQ(readFileBytes(dir / "open.txt").find(",,,,,0,"), std::string::npos);
}

TEST_F(StreetWindowTest, AnUnreadableBuildingsFileIsNamedWithGdalsReasonAndNothingIsWritten)
{
    chooseStreetDrive();
    const auto city = dir / "city.osm";
    writeFileBytes(city, "this is no map\n");
    control<QLineEdit>(*form, "BuildingsEdit")->setText(qpath(city));
    const auto kept = dir / "drive.txt";
    writeFileBytes(kept, "keep me");
    dialogs.saveAnswers.push_back(qpath(kept));
    const auto asked = dialogs.asked.size();
    tab<gui::GoogleEarthTab>(*form)->generate();
    EXPECT_EQ(dialogs.asked.size(), asked);  // refused before the save dialog
    ASSERT_EQ(prompt.messages.size(), 1u);
    const std::string& message = prompt.messages[0];
    const auto named = message.find(city.string() + ": ");
    ASSERT_NE(named, std::string::npos) << message;
    EXPECT_GT(message.size(), named + city.string().size() + 4) << "GDAL's reason follows the name: " << message;
    EXPECT_EQ(readFileBytes(kept), "keep me");
    EXPECT_TRUE(gui::streetMapOf(control<QChartView>(*form, "Chart1")).empty());
}

TEST_F(StreetWindowTest, TheBuildingsFileIsKeptInTheSettingsAndOlderSettingsHaveNone)
{
    // A settings file from before the street: the edit is empty, and stays out of the file.
    writeSettingsFile("[Sky]\r\nOn=1\r\nFile=nav.10n\r\n");
    form = startWindow();
    EXPECT_EQ(control<QLineEdit>(*form, "BuildingsEdit")->text(), QString());
    EXPECT_TRUE(control<QCheckBox>(*form, "SkyBox")->isChecked());
    form->closeDown();
    EXPECT_EQ(settingsText().find("Street"), std::string::npos) << settingsText();

    // Browse puts the chosen file in the edit; closing keeps it, and the next start shows it.
    form->setDialogs(&dialogs);
    const QString chosen = qpath(dir / "blocks" / "manhattan.osm.pbf");
    dialogs.openAnswers.push_back(chosen);
    control<QPushButton>(*form, "BuildingsBrowseButton")->click();
    EXPECT_EQ(control<QLineEdit>(*form, "BuildingsEdit")->text(), chosen);
    form->closeDown();
    EXPECT_NE(settingsText().find("[Street]\r\nBuildings=" + chosen.toStdString() + "\r\n"), std::string::npos)
        << settingsText();
    form = startWindow();
    EXPECT_EQ(control<QLineEdit>(*form, "BuildingsEdit")->text(), chosen);
    auto* label = form->PageControl1->findChild<QLabel*>("BuildingsLabel");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), qs("Buildings"));
    // The buildings take satellites out of the sky: without the sky they are greyed out.
    EXPECT_TRUE(control<QLineEdit>(*form, "BuildingsEdit")->isEnabled());
    control<QCheckBox>(*form, "SkyBox")->setChecked(false);
    EXPECT_FALSE(control<QLineEdit>(*form, "BuildingsEdit")->isEnabled());
    EXPECT_FALSE(control<QPushButton>(*form, "BuildingsBrowseButton")->isEnabled());
    EXPECT_FALSE(label->isEnabled());
}

TEST_F(StreetWindowTest, TheStreetValuesAreKeptInTheSettingsAndOlderSettingsReadTheDefaults)
{
    writeSettingsFile("[Sky]\r\nOn=1\r\nFile=nav.10n\r\n\r\n[Street]\r\nBuildings=city.osm\r\n");
    form = startWindow();
    const char* edits[] = {"BuildingsHeightAttributeEdit", "DefaultBuildingHeightEdit", "AntennaHeightEdit",
                           "ReflectionLossEdit"};
    const auto shown = [&] {
        QStringList texts;
        for (const char* name : edits) texts << control<QLineEdit>(*form, name)->text();
        return texts << (control<QCheckBox>(*form, "RailTunnelsBox")->isChecked() ? "rail" : "road");
    };
    EXPECT_EQ(shown(), (QStringList{"", "10", "1.5", "6", "road"}));
    const QStringList chosen{"HEIGHT_ROOF", "12", "2.5", "8", "rail"};
    for (int k = 0; k < 4; ++k) control<QLineEdit>(*form, edits[k])->setText(chosen[k]);
    control<QCheckBox>(*form, "RailTunnelsBox")->setChecked(true);
    form->closeDown();
    form = startWindow();
    EXPECT_EQ(shown(), chosen);

    // Each has its label, and like the buildings they wait for the sky.
    control<QCheckBox>(*form, "SkyBox")->setChecked(false);
    for (const char* name : edits) {
        auto* edit = control<QLineEdit>(*form, name);
        const auto labels = form->PageControl1->findChildren<QLabel*>();
        EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](QLabel* l) { return l->buddy() == edit; })) << name;
        EXPECT_FALSE(edit->isEnabled()) << name;
    }
    EXPECT_FALSE(control<QCheckBox>(*form, "RailTunnelsBox")->isEnabled());
    EXPECT_FALSE(form->PageControl1->findChild<QLabel*>("AntennaHeightLabel")->isEnabled());
}

TEST_F(StreetWindowTest, AStreetValueTheCoreRefusesIsNamedByItsCaptionAndNothingIsWritten)
{
    chooseStreetDrive();
    const auto kept = dir / "drive.txt";
    writeFileBytes(kept, "keep me");
    const auto asked = dialogs.asked.size();
    control<QLineEdit>(*form, "AntennaHeightEdit")->setText("-1");
    dialogs.saveAnswers.push_back(qpath(kept));
    tab<gui::GoogleEarthTab>(*form)->generate();
    control<QLineEdit>(*form, "AntennaHeightEdit")->setText("1.5");
    control<QLineEdit>(*form, "DefaultBuildingHeightEdit")->setText("ten");
    tab<gui::GoogleEarthTab>(*form)->generate();
    EXPECT_EQ(dialogs.asked.size(), asked);  // refused before the save dialog
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"Antenna height -1 is not a height from 0 to 1000 m",
                                                         "'ten' is not a valid number (Default height)"}));
    EXPECT_EQ(readFileBytes(kept), "keep me");
}

TEST_F(StreetWindowTest, WhatTheReaderLeftOutIsSaidOnceForEachTimeTheFileIsRead)
{
    chooseStreetDrive();
    // A block by the start of the drive, and a building whose height is no height.
    const auto city = dir / "city.geojson";
    writeFileBytes(city, R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"building":"yes","@id":"way/1","height":"30"},"geometry":{"type":"Polygon","coordinates":[[[-74.0150,40.7085],[-74.0148,40.7085],[-74.0148,40.7087],[-74.0150,40.7087],[-74.0150,40.7085]]]}},
{"type":"Feature","properties":{"building":"yes","@id":"way/2","height":"tall"},"geometry":{"type":"Polygon","coordinates":[[[-74.0160,40.7085],[-74.0158,40.7085],[-74.0158,40.7087],[-74.0160,40.7085]]]}}
]})");
    control<QLineEdit>(*form, "BuildingsEdit")->setText(qpath(city));
    tab<gui::GoogleEarthTab>(*form)->preview();
    tab<gui::GoogleEarthTab>(*form)->preview();
    const std::string said = city.string() + ": 1 building, 0 covered ways and 0 covered areas read; 1 left out:\n" +
                             city.string() + ": feature way/2: height 'tall' is not a height; left out";
    EXPECT_EQ(prompt.messages, std::vector<std::string>{said});
    EXPECT_EQ(form->statusPanel(1),
              qs("Buildings: 1 building, 0 covered ways and 0 covered areas read from city.geojson; 1 left out"));
    // Another value reads the file again, and says so again.
    control<QLineEdit>(*form, "AntennaHeightEdit")->setText("3");
    tab<gui::GoogleEarthTab>(*form)->preview();
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{said, said}));
}

// Pictures for a person to look at, with TRAJIX_SCREENSHOT_DIR set: the Settings tab,
// the position chart over the buildings and the sky plot with its skyline.
TEST_F(StreetWindowTest, ScreenshotsOfTheStreet)
{
    const char* folder = std::getenv("TRAJIX_SCREENSHOT_DIR");
    if (!folder || !*folder) GTEST_SKIP() << "TRAJIX_SCREENSHOT_DIR is not set";
    const QDir out(QString::fromLocal8Bit(folder));
    ASSERT_TRUE(out.exists() || QDir().mkpath(out.path()));
    chooseStreetDrive();
    control<QLineEdit>(*form, "SkyMaskEdit")->setText("0");
    form->resize(1280, 800);
    form->show();
    tab<gui::GoogleEarthTab>(*form)->preview();
    QApplication::processEvents();
    EXPECT_TRUE(form->grab().save(out.filePath("street_route_tab.png")));
    EXPECT_TRUE(control<QChartView>(*form, "Chart1")->grab().save(out.filePath("street_chart.png")));
    auto* plot = form->findChild<gui::SkyPlot*>("SkyPlot");
    plot->resize(600, 290);
    EXPECT_TRUE(plot->grab().save(out.filePath("street_skyplot.png")));
    form->showTab(tab<gui::SettingsTab>(*form));
    QApplication::processEvents();
    EXPECT_TRUE(tab<gui::SettingsTab>(*form)->grab().save(out.filePath("street_settings.png")));
}

}  // namespace
}  // namespace trajix::test

#endif

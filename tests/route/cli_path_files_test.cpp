// trajix route on GPX, KMZ and gx:Track files, several paths, and heights.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "zip_maker.hpp"

using trajix::test::makeZip;
using trajix::test::readFileBytes;
using trajix::test::runTrajix;
using trajix::test::TempDir;
using trajix::test::withDeclaredSize;
using trajix::test::writeFileBytes;

namespace {

// The example loop's points, with heights that are a linear function of latitude and
// longitude, so that any point on a straight leg between them has a known height.
struct LoopPoint {
    const char* longitude;
    const char* latitude;
};
constexpr LoopPoint loop[] = {{"10.000000", "50.000000"}, {"10.006000", "50.000500"}, {"10.010500", "50.002000"},
                              {"10.011000", "50.005500"}, {"10.007500", "50.008000"}, {"10.003000", "50.007000"},
                              {"9.999000", "50.004500"},  {"9.998500", "50.002000"},  {"10.000000", "50.000000"}};

double heightAt(double latitude, double longitude)
{
    return 300 + 5000 * (latitude - 50) + 2500 * (longitude - 10);
}

std::string heightText(const LoopPoint& p)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", heightAt(std::stod(p.latitude), std::stod(p.longitude)));
    return text;
}

std::string loopKml()
{
    std::string coordinates;
    for (const auto& p : loop) coordinates += std::string(p.longitude) + "," + p.latitude + "," + heightText(p) + "\n";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n"
           "<Placemark><name>Loop</name><LineString><tessellate>1</tessellate><coordinates>\n" +
           coordinates + "</coordinates></LineString></Placemark>\n</Document>\n</kml>\n";
}

// A bike computer's track, split into two segments at the fifth point.
std::string loopGarminGpx()
{
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx creator=\"Edge\" version=\"1.1\" "
        "xmlns=\"http://www.topografix.com/GPX/1/1\" "
        "xmlns:gpxtpx=\"http://www.garmin.com/xmlschemas/TrackPointExtension/v1\">\n"
        "<metadata><time>2024-05-01T10:00:00Z</time></metadata>\n<trk><name>Loop</name><type>cycling</type><trkseg>\n";
    int n = 0;
    for (const auto& p : loop) {
        if (n++ == 5) text += "</trkseg><trkseg>\n";
        text += std::string("<trkpt lat=\"") + p.latitude + "\" lon=\"" + p.longitude + "\"><ele>" + heightText(p) +
                "</ele><time>2024-05-01T10:00:00Z</time><extensions><gpxtpx:TrackPointExtension><gpxtpx:hr>120"
                "</gpxtpx:hr></gpxtpx:TrackPointExtension></extensions></trkpt>\n";
    }
    return text + "</trkseg></trk>\n</gpx>\n";
}

// A route planner's route, with a waypoint before it.
std::string loopPlannerGpx()
{
    std::string text =
        "<?xml version=\"1.0\"?>\n<gpx version=\"1.0\" creator=\"planner\" "
        "xmlns=\"http://www.topografix.com/GPX/1/0\">\n<wpt lat=\"50.1\" lon=\"10.1\"><name>Hut</name></wpt>\n"
        "<rte><name>Loop</name>\n";
    for (const auto& p : loop)
        text += std::string("<rtept lon='") + p.longitude + "' lat='" + p.latitude + "'><ele>" + heightText(p) +
                "</ele></rtept>\n";
    return text + "</rte>\n</gpx>\n";
}

// A Google Earth recording of the loop.
std::string loopTrackKml()
{
    std::string whens, coords;
    for (const auto& p : loop) {
        whens += "<when>2024-05-01T10:00:00Z</when>\n";
        coords += std::string("<gx:coord>") + p.longitude + " " + p.latitude + " " + heightText(p) + "</gx:coord>\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\" "
           "xmlns:gx=\"http://www.google.com/kml/ext/2.2\">\n<Document><Placemark><name>Loop</name><gx:Track>\n"
           "<altitudeMode>absolute</altitudeMode>\n" +
           whens + coords + "</gx:Track></Placemark></Document></kml>\n";
}

std::vector<std::string> splitFields(const std::string& line)
{
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
    return fields;
}

double degrees(const std::string& text, const std::string& hemisphere, int degreeDigits)
{
    const double value = std::stod(text.substr(0, static_cast<std::size_t>(degreeDigits))) +
                         std::stod(text.substr(static_cast<std::size_t>(degreeDigits))) / 60;
    return hemisphere == "S" || hemisphere == "W" ? -value : value;
}

}  // namespace

TEST(RouteCommand, GpxKmzAndGxTrackOfTheLoopWriteTheSameFileAsItsKml)
{
    TempDir dir;
    writeFileBytes(dir / "loop.kml", loopKml());
    writeFileBytes(dir / "garmin.gpx", loopGarminGpx());
    writeFileBytes(dir / "planner.gpx", loopPlannerGpx());
    writeFileBytes(dir / "track.kml", loopTrackKml());
    writeFileBytes(dir / "loop.kmz", makeZip(dir, {{"doc.kml", loopKml()}, {"files/x.png", "png"}}));
    for (const bool heights : {false, true}) {
        std::vector<std::string> options{"--vtg", "--smooth", "1", "--stationary-start", "2"};
        if (heights) options.push_back("--heights");
        const auto run = [&](const std::string& input) {
            std::vector<std::string> arguments{"route", (dir / input).string(), "-o", (dir / "out.txt").string()};
            arguments.insert(arguments.end(), options.begin(), options.end());
            auto r = runTrajix(arguments);
            EXPECT_EQ(r.exitCode, 0) << input << ": " << r.err;
            return readFileBytes(dir / "out.txt");
        };
        const std::string expected = run("loop.kml");
        ASSERT_GT(expected.size(), 1000u);
        for (const char* input : {"garmin.gpx", "planner.gpx", "track.kml", "loop.kmz"})
            EXPECT_TRUE(run(input) == expected) << input << (heights ? " with heights" : "");
        if (!heights) {
            // Altitudes in the file change nothing by default.
            EXPECT_TRUE(run("../" + dir.path().filename().string() + "/loop.kml") == expected);
            auto plain = runTrajix({"route", trajix::test::dataFile("../../examples/loop.kml").string(), "-o",
                                    (dir / "plain.txt").string(), "--vtg", "--smooth", "1", "--stationary-start", "2"});
            ASSERT_EQ(plain.exitCode, 0);
            EXPECT_TRUE(readFileBytes(dir / "plain.txt") == expected);
            continue;
        }
        // Every written height is the file's height at the written position (the legs
        // are straight and the heights linear in latitude and longitude), to 0.05 m:
        // the written positions lie up to 0.4 m off the path (the fixed 100 m up of the
        // writer), worth 0.02 m of height here.
        std::stringstream lines(expected);
        int checked = 0;
        double highest = -1e9, lowest = 1e9;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("$GPGGA", 0) != 0) continue;
            const auto f = splitFields(line);
            const double latitude = degrees(f[2], f[3], 2), longitude = degrees(f[4], f[5], 3);
            const double written = std::stod(f[9]);
            ASSERT_NEAR(written, heightAt(latitude, longitude), 0.05) << line;
            highest = std::max(highest, written);
            lowest = std::min(lowest, written);
            ++checked;
        }
        EXPECT_GT(checked, 1000);
        EXPECT_GT(highest - lowest, 50);  // the heights span the loop's 60 m of rise
    }
}

TEST(RouteCommand, ListsThePathsAndDrivesTheOneChosen)
{
    TempDir dir;
    const std::string two =
        "<kml><Document>"
        "<Placemark><name>Short</name><LineString><coordinates>10,50 10.003,50"
        "</coordinates></LineString></Placemark>"
        "<Placemark><name>Loop</name><LineString><coordinates>" +
        [] {
            std::string c;
            for (const auto& p : loop) c += std::string(p.longitude) + "," + p.latitude + " ";
            return c;
        }() +
        "</coordinates></LineString></Placemark></Document></kml>";
    writeFileBytes(dir / "two.kml", two);
    writeFileBytes(dir / "two.kmz", makeZip(dir, {{"doc.kml", two}}));
    auto listing = runTrajix({"route", "--list-paths", (dir / "two.kmz").string()});
    ASSERT_EQ(listing.exitCode, 0) << listing.err;
    // GeodSolve gives 215.092 m for the short leg.
    EXPECT_EQ(listing.out, "1\tShort\t2\t215.1\n2\tLoop\t9\t2830.6\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.txt"));

    const std::string plain = trajix::test::dataFile("../../examples/loop.kml").string();
    auto r = runTrajix({"route", plain, "-o", (dir / "expected.txt").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* choice : {"2", "Loop"}) {
        r = runTrajix({"route", (dir / "two.kml").string(), "--path", choice, "-o", (dir / "out.txt").string()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "Scenario distance = 2.80 km\nTotal time = 194.25s\n");
        EXPECT_TRUE(readFileBytes(dir / "out.txt") == readFileBytes(dir / "expected.txt")) << choice;
    }
    EXPECT_EQ(runTrajix({"route", "--list-paths", plain, "-o", (dir / "x.txt").string()}).exitCode, 2);
    EXPECT_EQ(runTrajix({"route", (dir / "two.kml").string()}).exitCode, 2);  // no -o
}

TEST(RouteCommand, BadPathFilesFailWithAMessageNamingTheFileAndLeaveTheOutputAlone)
{
    TempDir dir;
    const auto out = dir / "out.txt";
    writeFileBytes(out, "keep me");
    const std::string kml = loopKml();
    const std::string goodKmz = makeZip(dir, {{"doc.kml", kml}});
    const std::string trk = "<gpx><trk><trkseg>";
    struct Case {
        std::string file, content, expected;
        std::vector<std::string> extra = {};
    };
    const Case cases[] = {
        {"empty.gpx", "<gpx version=\"1.1\"><wpt lat=\"1\" lon=\"2\"/></gpx>",
         "empty.gpx holds no track or route point"},
        {"nolat.gpx", trk + "<trkpt lon=\"2\"/></trkseg></trk></gpx>", "trkpt 1 on line 1 of"},
        {"nolon.gpx", trk + "<trkpt lat=\"2\"></trkpt></trkseg></trk></gpx>", "nolon.gpx has no lon attribute"},
        {"pole.gpx", trk + "<trkpt lat=\"90.0001\" lon=\"2\"/></trkseg></trk></gpx>", "latitude 90.0001 of trkpt 1"},
        {"south.kml", "<LineString><coordinates>1,2 1,-91</coordinates></LineString>", "'1,-91'"},
        {"nokml.kmz", makeZip(dir, {{"files/a.png", "x"}}), "nokml.kmz (KMZ) holds no KML document"},
        {"corrupt.kmz", goodKmz.substr(0, goodKmz.size() - 30), "corrupt.kmz is not a readable KMZ (zip) archive"},
        {"locked.kmz", makeZip(dir, {{"doc.kml", kml}}, "pw"), "locked.kmz (KMZ) is encrypted"},
        {"bomb.kmz", withDeclaredSize(goodKmz, 200), "unpacks to more than the 200 bytes it declares"},
        {"text.kmz", kml, "text.kmz is not a KMZ (zip) archive"},
        {"loop.kml", kml, "loop.kml holds 1 path(s): there is no path 2", {"--path", "2"}},
        {"loop.kml", kml, "loop.kml holds no path named 'Lap' (its paths: 1 'Loop')", {"--path", "Lap"}},
        {"flat.kml",
         "<LineString><coordinates>10,50 10.01,50 10.01,50.01</coordinates></LineString>",
         "flat.kml: the path carries no heights",
         {"--heights"}},
    };
    for (const Case& c : cases) {
        writeFileBytes(dir / c.file, c.content);
        std::vector<std::string> arguments{"route", (dir / c.file).string(), "-o", out.string()};
        arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
        auto r = runTrajix(arguments);
        EXPECT_EQ(r.exitCode, 1) << c.file;
        EXPECT_NE(r.err.find("trajix: error: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << c.file << ": " << r.err;
        EXPECT_EQ(readFileBytes(out), "keep me") << c.file;
        std::filesystem::remove(dir / c.file);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // out.txt, made.zip
}

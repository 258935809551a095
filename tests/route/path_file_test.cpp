// GPX, KMZ and gx:Track files in the layouts the apps write, each read to the same
// points as the equivalent KML; several paths in one file; files that must be refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "route/path_file.hpp"
#include "test_support.hpp"
#include "zip_maker.hpp"

using trajix::Error;
using trajix::route::choosePath;
using trajix::route::KmlCoordinate;
using trajix::route::pathListing;
using trajix::route::readKmzDocument;
using trajix::route::readRoutePaths;
using trajix::route::RoutePath;
using trajix::test::makeZip;
using trajix::test::readFileBytes;
using trajix::test::runProgram;
using trajix::test::TempDir;
using trajix::test::withDeclaredSize;
using trajix::test::writeFileBytes;

namespace {

// A bike computer's track: GPX 1.1, metadata, two segments (a pause), per-point time and
// heart-rate extensions, a comment and a processing instruction between the points.
const std::string garminGpx = R"(<?xml version="1.0" encoding="UTF-8" standalone="no" ?>
<gpx xmlns="http://www.topografix.com/GPX/1/1" xmlns:gpxx="http://www.garmin.com/xmlschemas/GpxExtensions/v3"
 xmlns:gpxtpx="http://www.garmin.com/xmlschemas/TrackPointExtension/v1" creator="Edge 530" version="1.1"
 xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
  <metadata><link href="http://www.garmin.com"><text>Garmin International</text></link>
    <time>2024-05-01T10:00:00Z</time></metadata>
  <trk>
    <name>Morning Ride &amp; Coffee</name>
    <extensions><gpxx:TrackExtension><gpxx:DisplayColor>Cyan</gpxx:DisplayColor></gpxx:TrackExtension></extensions>
    <trkseg>
      <trkpt lat="47.376900" lon="8.541700"><ele>408.2</ele><time>2024-05-01T10:00:00Z</time>
        <extensions><gpxtpx:TrackPointExtension><gpxtpx:atemp>18.0</gpxtpx:atemp><gpxtpx:hr>92</gpxtpx:hr>
        <gpxtpx:cad>0</gpxtpx:cad></gpxtpx:TrackPointExtension></extensions></trkpt>
      <trkpt lat="47.377800" lon="8.542900"><ele>409.0</ele><time>2024-05-01T10:00:20Z</time>
        <extensions><gpxtpx:TrackPointExtension><gpxtpx:hr>101</gpxtpx:hr></gpxtpx:TrackPointExtension></extensions></trkpt>
      <!-- <trkpt lat="10" lon="10"></trkpt> paused here -->
      <?garmin lap="1"?>
    </trkseg>
    <trkseg>
      <trkpt lat="47.378200" lon="8.544600"><ele>411.6</ele><time>2024-05-01T10:05:00Z</time></trkpt>
      <trkpt lat="47.377300" lon="8.545800"><ele>410.4</ele><time>2024-05-01T10:05:30Z</time></trkpt>
    </trkseg>
  </trk>
</gpx>
)";

// A phone logger: GPX 1.0 with a prefixed namespace, single-quoted attributes in the
// other order, speed and course per point, a point without elevation, CDATA in the
// name, an empty segment and a trailing empty track.
const std::string phoneGpx = R"(<?xml version='1.0' encoding='UTF-8'?>
<!DOCTYPE gpx [ <!ENTITY logger "a > b"> ]>
<g:gpx version='1.0' creator='GPS Logger for Android' xmlns:g='http://www.topografix.com/GPX/1/0'>
<g:time>2024-05-01T10:00:00Z</g:time>
<g:trk><g:name><![CDATA[20240501 <walk>]]></g:name><g:trkseg/>
<g:trkseg>
<g:trkpt lon='8.541700' lat='47.376900'><g:ele>408.2</g:ele><g:speed>1.2</g:speed><g:course>45.0</g:course><g:sat>9</g:sat></g:trkpt>
<g:trkpt lon='8.542900' lat='47.377800'><g:speed>1.3</g:speed></g:trkpt>
<g:trkpt lon = '8.544600'  lat = "47.378200" ><g:ele>411.6</g:ele></g:trkpt>
<g:trkpt lon='8.545800' lat='47.377300'><g:ele>410.4</g:ele><g:desc>a &lt;b&gt; &#x41;</g:desc></g:trkpt>
</g:trkseg></g:trk>
<g:trk><g:name>empty</g:name><g:trkseg></g:trkseg></g:trk>
</g:gpx>
)";

// A route planner: waypoints (ignored), then two routes; the first carries a
// device's shaping points in its extensions, which are not part of the route.
const std::string plannerGpx = R"(<?xml version="1.0" encoding="UTF-8"?>
<gpx version="1.1" creator="Route planner" xmlns="http://www.topografix.com/GPX/1/1"
 xmlns:gpxx="http://www.garmin.com/xmlschemas/GpxExtensions/v3">
<wpt lat="47.0" lon="8.0"><name>Start cafe</name></wpt>
<rte><name>Lake loop</name><desc>planned</desc>
<rtept lat="47.376900" lon="8.541700"><name>A</name>
 <extensions><gpxx:RoutePointExtension><gpxx:rpt lat="47.3770" lon="8.5420"/></gpxx:RoutePointExtension></extensions>
</rtept>
<rtept lat="47.377800" lon="8.542900"><name>B</name></rtept>
<rtept lat="47.378200" lon="8.544600"/>
<rtept lat="47.377300" lon="8.545800"></rtept>
</rte>
<rte><name>Back</name><rtept lat="47.377300" lon="8.545800"/><rtept lat="47.376900" lon="8.541700"/></rte>
</gpx>
)";

// The same four points as a Google Earth LineString, with and without altitudes.
std::string kmlLine(const std::string& name, const std::string& coordinates)
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2" xmlns:gx="http://www.google.com/kml/ext/2.2">
<Document><name>x.kml</name><Placemark><name>)" +
           name + R"(</name><LineString><tessellate>1</tessellate><coordinates>
)" + coordinates +
           R"(
</coordinates></LineString></Placemark></Document></kml>
)";
}
const std::string withHeights =
    "8.541700,47.376900,408.2 8.542900,47.377800,409.0 8.544600,47.378200,411.6 8.545800,47.377300,410.4";
const std::string withoutHeights = "8.541700,47.376900 8.542900,47.377800 8.544600,47.378200 8.545800,47.377300";

// A Google Earth recording: a gx:Track with times, coordinates and extended data.
const std::string googleEarthTrack = R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2" xmlns:gx="http://www.google.com/kml/ext/2.2">
<Document><name>Track.kml</name>
<Schema id="schema"><gx:SimpleArrayField name="heartrate" type="int"/></Schema>
<Placemark><name>Recorded</name><styleUrl>#track</styleUrl>
<gx:Track><altitudeMode>absolute</altitudeMode>
<when>2024-05-01T10:00:00Z</when><when>2024-05-01T10:00:20Z</when><when>2024-05-01T10:05:00Z</when><when>2024-05-01T10:05:30Z</when>
<gx:coord>8.541700 47.376900 408.2</gx:coord>
<gx:coord>8.542900 47.377800 409.0</gx:coord>
<gx:coord>8.544600	47.378200  411.6</gx:coord>
<gx:coord>
  8.545800 47.377300 410.4
</gx:coord>
<gx:angles>0 0 0</gx:angles>
<ExtendedData><SchemaData schemaUrl="#schema"><gx:SimpleArrayData name="heartrate">
<gx:value>92</gx:value><gx:value>101</gx:value></gx:SimpleArrayData></SchemaData></ExtendedData>
</gx:Track></Placemark></Document></kml>
)";

void expectSamePoints(const std::vector<KmlCoordinate>& a, const std::vector<KmlCoordinate>& b, const char* what)
{
    ASSERT_EQ(a.size(), b.size()) << what;
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].longitude, b[i].longitude) << what << " point " << i;
        EXPECT_EQ(a[i].latitude, b[i].latitude) << what << " point " << i;
        EXPECT_EQ(a[i].hasAltitude, b[i].hasAltitude) << what << " point " << i;
        if (a[i].hasAltitude && b[i].hasAltitude) {
            EXPECT_EQ(a[i].altitude, b[i].altitude) << what << " point " << i;
        }
    }
}

std::vector<KmlCoordinate> joined(const std::vector<RoutePath>& paths)
{
    std::vector<KmlCoordinate> points;
    for (const RoutePath& p : paths) points.insert(points.end(), p.points.begin(), p.points.end());
    return points;
}

std::string errorOf(const std::string& content, const std::string& source)
{
    try {
        readRoutePaths(content, source);
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(GpxReader, AppLayoutsReadToTheSamePointsAsTheEquivalentKml)
{
    const auto kml = readRoutePaths(kmlLine("x", withHeights), "line.kml");
    const auto kmlFlat = readRoutePaths(kmlLine("x", withoutHeights), "flat.kml");

    const auto garmin = readRoutePaths(garminGpx, "garmin.gpx");
    ASSERT_EQ(garmin.size(), 1u);  // two segments joined, extensions not looked into
    EXPECT_EQ(garmin[0].name, "Morning Ride & Coffee");
    EXPECT_EQ(garmin[0].kind, "trk");
    expectSamePoints(garmin[0].points, kml[0].points, "garmin");

    const auto phone = readRoutePaths(phoneGpx, "phone.gpx");
    ASSERT_EQ(phone.size(), 1u);  // the empty track is no path
    EXPECT_EQ(phone[0].name, "20240501 <walk>");
    auto expected = kml[0].points;
    expected[1].hasAltitude = false;
    expectSamePoints(phone[0].points, expected, "phone");

    const auto planner = readRoutePaths(plannerGpx, "planner.gpx");
    ASSERT_EQ(planner.size(), 2u);
    EXPECT_EQ(planner[0].name, "Lake loop");
    EXPECT_EQ(planner[1].name, "Back");
    EXPECT_EQ(planner[0].kind, "rte");
    expectSamePoints(planner[0].points, kmlFlat[0].points, "planner");

    const auto track = readRoutePaths(googleEarthTrack, "track.kml");
    ASSERT_EQ(track.size(), 1u);
    EXPECT_EQ(track[0].name, "Recorded");
    EXPECT_EQ(track[0].kind, "gx:Track");
    expectSamePoints(track[0].points, kml[0].points, "gx:Track");
}

TEST(GpxReader, GpsbabelsKmlOfEachLayoutHoldsTheSamePoints)
{
    // gpsbabel writes each track as LineStrings (one per segment), or as a gx:Track when
    // its points carry times, and each route as a LineString, all with nine decimals:
    // the same numbers as written, and two numbers for a point without elevation. It
    // does not read prefixed GPX elements, so the phone's file goes to it unprefixed.
    const std::string gpsbabel = "/usr/bin/gpsbabel";
    TRAJIX_REQUIRE_TOOLS(gpsbabel);
    std::string unprefixedPhone = phoneGpx;
    for (std::size_t at; (at = unprefixedPhone.find("g:")) != std::string::npos;) unprefixedPhone.erase(at, 2);
    const std::string lines = "kml,points=0,prec=9", track = "kml,points=0,prec=9,track=1,lines=0";
    struct Case {
        std::string name, gpx, options;
    };
    const Case cases[] = {{"garmin", garminGpx, lines},
                          {"garmin", garminGpx, track},
                          {"phone", unprefixedPhone, lines},
                          {"planner", plannerGpx, lines}};
    TempDir dir;
    for (const Case& c : cases) {
        const auto in = dir / (c.name + ".gpx");
        writeFileBytes(in, c.gpx);
        const auto ours = readRoutePaths(c.gpx, in.string());
        const auto out = dir / "babel.kml";
        auto r = runProgram(gpsbabel, {"-i", "gpx", "-f", in.string(), "-o", c.options, "-F", out.string()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto theirs = readRoutePaths(readFileBytes(out), out.string());
        expectSamePoints(joined(theirs), joined(ours), (c.name + " " + c.options).c_str());
        EXPECT_EQ(joined(ours).size(), c.name == "planner" ? 6u : 4u);
    }
}

TEST(GpxReader, BadFilesEndWithAMessageNamingTheFileAndPoint)
{
    const auto gpx = [](const std::string& body) { return "<gpx version=\"1.1\">" + body + "</gpx>"; };
    struct Case {
        std::string content;
        std::string expected;
    };
    const Case cases[] = {
        {gpx(""), "x.gpx holds no track or route point"},
        {gpx("<wpt lat=\"1\" lon=\"2\"/><trk><trkseg/></trk>"), "1 waypoint(s)"},
        {gpx("<trk><trkseg>\n<trkpt lon=\"2\"/></trkseg></trk>"), "trkpt 1 on line 2 of x.gpx has no lat attribute"},
        {gpx("<rte><rtept lat=\"1\" lon=\"2\"/><rtept lat=\"1\"/></rte>"), "rtept 2 on line 1 of x.gpx has no lon"},
        {gpx("<trk><trkseg><trkpt lat=\"90.5\" lon=\"2\"/></trkseg></trk>"), "latitude 90.5 of trkpt 1"},
        {gpx("<trk><trkseg><trkpt lat=\"-91\" lon=\"2\"/></trkseg></trk>"), "beyond +-90"},
        {gpx("<trk><trkseg><trkpt lat=\"1\" lon=\"180.5\"/></trkseg></trk>"), "beyond +-180"},
        {gpx("<trk><trkseg><trkpt lat=\"1x\" lon=\"2\"/></trkseg></trk>"), "'1x' is not a valid floating point value"},
        {gpx("<trk><trkseg><trkpt lat=\"nan\" lon=\"2\"/></trkseg></trk>"), "'nan'"},
        {gpx("<trk><trkseg><trkpt lat=\"1\" lon=\"2\"><ele>high</ele></trkpt></trkseg></trk>"), "'high'"},
        {"<gpx><trk><trkseg><trkpt lat=\"1\" lon=", "x.gpx ends inside a start tag"},
        {"<gpx><!-- <trk>", "x.gpx ends inside a comment (begun on line 1)"},
        {"<gpx><trk><name><![CDATA[x", "ends inside a CDATA section"},
    };
    for (const Case& c : cases) {
        const std::string message = errorOf(c.content, "x.gpx");
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.content << "\n" << message;
    }
    // Leading zeros, blanks and an element end without its start do not matter.
    EXPECT_EQ(errorOf(gpx("<trk></name><trkseg><trkpt lat=\" 01.5 \" lon=\"2\"/></trkseg></trk>"), "x.gpx"),
              "no error");
}

TEST(KmzReader, GoogleEarthArchivesReadLikeTheirKml)
{
    TempDir dir;
    const std::string kml = kmlLine("Drive", withHeights);
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(3000, '\x07');
    // Google Earth: doc.kml first, its images in files/.
    auto zip = makeZip(dir, {{"doc.kml", kml}, {"files/icon.png", png}});
    expectSamePoints(readRoutePaths(zip, "drive.kmz")[0].points, readRoutePaths(kml, "drive.kml")[0].points, "doc");
    // doc.kml wins wherever it stands; without it the first KML at the root.
    zip = makeZip(dir, {{"files/other.kml", kmlLine("Nested", withoutHeights)},
                        {"Route.KML", kml},
                        {"second.kml", kmlLine("Second", withoutHeights)}});
    EXPECT_EQ(readRoutePaths(zip, "x.kmz")[0].name, "Drive");
    zip = makeZip(dir, {{"a.kml", kmlLine("A", withoutHeights)}, {"doc.kml", kml}});
    EXPECT_EQ(readRoutePaths(zip, "x.kmz")[0].name, "Drive");
    // The KMZ is found by its content, whatever its name.
    EXPECT_EQ(readRoutePaths(zip, "x.kml")[0].name, "Drive");
}

TEST(KmzReader, CorruptEncryptedAndBombArchivesAreRefused)
{
    TempDir dir;
    const std::string kml = kmlLine("Drive", withHeights) + std::string(20000, ' ');
    const std::string good = makeZip(dir, {{"doc.kml", kml}});
    ASSERT_EQ(readKmzDocument(good, "x.kmz"), kml);
    struct Case {
        std::string archive;
        std::string expected;
    };
    std::string flipped = good;
    flipped[60] = static_cast<char>(flipped[60] ^ 0x55);  // inside the compressed data
    const Case cases[] = {
        {makeZip(dir, {{"files/doc.kml", kml}}), "x.kmz (KMZ) holds no KML document at its root (only files/doc.kml"},
        {makeZip(dir, {{"readme.txt", "x"}}), "no .kml file at all"},
        {makeZip(dir, {}), "x.kmz"},
        {good.substr(0, good.size() / 2), "x.kmz is not a readable KMZ (zip) archive"},
        {std::string("PK\x03\x04", 4) + std::string(100, '\0'), "x.kmz is not a readable KMZ"},
        {flipped, "doc.kml of x.kmz (KMZ)"},
        {makeZip(dir, {{"doc.kml", kml}}, "secret"), "doc.kml of x.kmz (KMZ) is encrypted"},
        {withDeclaredSize(good, 1000), "unpacks to more than the 1000 bytes it declares"},
        {withDeclaredSize(good, 30000), "not the 30000 it declares"},
    };
    for (const Case& c : cases) {
        std::string message = "no error";
        try {
            readRoutePaths(c.archive, "x.kmz");
        } catch (const Error& e) {
            message = e.what();
        }
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.expected << "\n" << message;
    }
    // The declared size is checked before anything is unpacked.
    EXPECT_THROW(
        {
            try {
                readKmzDocument(good, "x.kmz", 10000);
            } catch (const Error& e) {
                EXPECT_NE(std::string(e.what()).find("would unpack to " + std::to_string(kml.size())),
                          std::string::npos)
                    << e.what();
                throw;
            }
        },
        Error);
    EXPECT_NE(errorOf("<kml/>", "x.kmz").find("x.kmz is not a KMZ (zip) archive"), std::string::npos);
}

TEST(PathChoice, EveryPathIsListedAndChosenByIndexOrName)
{
    const std::string text = R"(<kml><Document>
<Placemark><name>Start</name><Point><coordinates>8.5,47.3,0</coordinates></Point></Placemark>
<Placemark><LineString><coordinates>8.5,47.3 8.5,47.31</coordinates></LineString><name>North	leg</name></Placemark>
<Placemark><name>Lap</name><gx:MultiTrack><gx:Track><gx:coord>8.5 47.3 1</gx:coord><gx:coord>8.51 47.3 2</gx:coord></gx:Track>
<gx:Track><gx:coord>8.51 47.3 2</gx:coord><gx:coord>8.52 47.3 2</gx:coord><gx:coord>8.53 47.3 2</gx:coord></gx:Track></gx:MultiTrack></Placemark>
<Placemark><name>Area</name><Polygon><outerBoundaryIs><LinearRing><coordinates>8.5,47.3 8.6,47.3 8.6,47.4 8.5,47.3</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark>
<Folder><LineString><coordinates>8.5,47.3 8.5,47.31</coordinates></LineString></Folder>
</Document></kml>)";
    const auto paths = readRoutePaths(text, "many.kml");
    ASSERT_EQ(paths.size(), 5u);
    EXPECT_EQ(paths[0].name, "North\tleg");  // the placemark's name, given after its geometry
    EXPECT_EQ(paths[1].name, "Lap");
    EXPECT_EQ(paths[2].name, "Lap");
    EXPECT_EQ(paths[3].kind, "LinearRing");
    EXPECT_EQ(paths[4].name, "");

    EXPECT_EQ(&choosePath(paths, "", "f"), &paths[0]);
    EXPECT_EQ(&choosePath(paths, "4", "f"), &paths[3]);
    EXPECT_EQ(&choosePath(paths, "005", "f"), &paths[4]);
    EXPECT_EQ(&choosePath(paths, "Area", "f"), &paths[3]);
    const auto message = [&](const std::string& choice) {
        try {
            choosePath(paths, choice, "many.kml");
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(message("6").find("many.kml holds 5 path(s): there is no path 6"), std::string::npos);
    EXPECT_NE(message("0").find("there is no path 0"), std::string::npos);
    EXPECT_NE(message("99999999999999999999").find("no path"), std::string::npos);
    EXPECT_NE(message("Start").find("many.kml holds no path named 'Start'"), std::string::npos);  // a Point
    EXPECT_NE(message("Lap").find("2 paths named 'Lap' (2, 3)"), std::string::npos);

    // Lengths are straight lines in the local frame at 100 m height: within 0.05 m of
    // GeographicLib's geodesics for these short legs (GeodSolve: 0.01 degree of latitude
    // at 47.3 degrees is 1111.768 m, 0.01 degree of longitude 756.292 m).
    EXPECT_EQ(pathListing(paths),
              "1\tNorth leg\t2\t1111.8\n2\tLap\t2\t756.3\n3\tLap\t3\t1512.6\n"
              "4\tArea\t4\t32123.3\n5\t\t2\t1111.8\n");
}

TEST(PathHeights, PointsWithoutAHeightTakeItFromTheirNeighboursByDistance)
{
    // Along a meridian: 0.001 degree steps, the third leg twice as long as the others.
    std::vector<KmlCoordinate> points;
    for (const double latitude : {47.0, 47.001, 47.002, 47.004, 47.005, 47.006})
        points.push_back({8.0, latitude, 0.0, false});
    points[1] = {8.0, 47.001, 100.0, true};
    points[4] = {8.0, 47.005, 200.0, true};
    trajix::route::RouteState state;
    trajix::route::loadRawPoints(state, points, {});
    trajix::route::loadRawHeights(state, points, "p.gpx");
    ASSERT_EQ(state.rawHeight.size(), 7u);
    EXPECT_EQ(state.rawHeight[1], 100.0f);  // the start takes the first height
    EXPECT_EQ(state.rawHeight[2], 100.0f);
    EXPECT_NEAR(state.rawHeight[3], 125.0, 0.01);  // a quarter of the way
    EXPECT_NEAR(state.rawHeight[4], 175.0, 0.01);  // three quarters
    EXPECT_EQ(state.rawHeight[6], 200.0f);         // the end takes the last
    for (auto& p : points) p.hasAltitude = false;
    EXPECT_THROW(trajix::route::loadRawHeights(state, points, "p.gpx"), Error);
    points[2] = {8.0, 47.002, 1e7, true};
    EXPECT_THROW(trajix::route::loadRawHeights(state, points, "p.gpx"), Error);
}

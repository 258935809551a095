// Reading buildings and covering ways from the real files in tests/data/street, from the
// same buildings written by GDAL in other formats and coordinate systems, and from bad
// files, which are refused or reported feature by feature.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include "common/error.hpp"
#include "street/street_reader.hpp"
#include "test_support.hpp"

namespace trajix::street {
namespace {

struct Collected final : StreetSink {
    std::vector<BuildingFootprint> buildings;
    std::vector<CoveredWay> ways;
    std::vector<CoveredArea> areas;
    void building(BuildingFootprint&& b) override { buildings.push_back(std::move(b)); }
    void coveredWay(CoveredWay&& w) override { ways.push_back(std::move(w)); }
    void coveredArea(CoveredArea&& a) override { areas.push_back(std::move(a)); }
};

std::string joined(const std::vector<std::string>& notes)
{
    std::string all;
    for (const auto& n : notes) all += n + "\n";
    return all;
}

TEST(StreetReader, LowerManhattanOsmWithPartsAndTunnels)
{
    const auto file = test::dataFile("street/lower-manhattan-cut.osm");
    Collected roads;
    const auto summary = readStreet(file, {}, roads);
    EXPECT_EQ(summary.buildings, 469u);
    EXPECT_EQ(summary.leftOut, 0u) << joined(summary.notes);
    std::size_t parts = 0, raised = 0, withHoles = 0;
    for (const auto& b : roads.buildings) {
        parts += b.part;
        raised += b.heights.minHeight > 0;
        withHoles += b.rings.size() > 1;
        ASSERT_GE(b.rings.front().size(), 3u);
        EXPECT_GT(b.heights.height, b.heights.minHeight);
        EXPECT_LE(b.heights.height, 300);
    }
    // The 3D parts reach the driver's lines layer as closed ways; they must still come.
    EXPECT_GT(parts, 300u);
    EXPECT_GT(raised, 20u);
    EXPECT_EQ(roads.ways.size(), 11u);  // road tunnels and building passages, no subway

    Collected trains;
    StreetReadOptions rail;
    rail.railTunnels = true;
    readStreet(file, rail, trains);
    EXPECT_EQ(trains.ways.size(), 18u);  // and the 7 subway runs under them
    EXPECT_EQ(trains.buildings.size(), roads.buildings.size());
}

TEST(StreetReader, UpperEastSideGeoJsonSkipsTheCrossingRingAndThePoints)
{
    const auto file = test::dataFile("street/upper-east-side-cut.geojson");
    Collected sink;
    const auto summary = readStreet(file, {}, sink);
    EXPECT_EQ(summary.buildings, 186u);
    EXPECT_EQ(summary.leftOut, 1u);
    ASSERT_EQ(summary.notes.size(), 1u);
    EXPECT_EQ(summary.notes[0], file.string() + ": feature way/266933396: a ring that crosses itself; left out");
    std::size_t holes = 0;
    for (const auto& b : sink.buildings) holes += b.rings.size() - 1;
    EXPECT_EQ(holes, 3u);
}

/// Writes the buildings as a new file through GDAL in another coordinate system, the
/// height in a field of the city's own name and no OSM tags at all.
void writeThroughGdal(const std::vector<BuildingFootprint>& buildings, const std::filesystem::path& file,
                      const char* driverName, int epsg)
{
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName);
    ASSERT_NE(driver, nullptr);
    std::unique_ptr<GDALDataset> dataset(driver->Create(file.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    ASSERT_NE(dataset, nullptr);
    OGRSpatialReference target, wgs84;
    target.importFromEPSG(epsg);
    target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    wgs84.SetWellKnownGeogCS("WGS84");
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRCoordinateTransformation> transform(OGRCreateCoordinateTransformation(&wgs84, &target));
    OGRLayer* layer = dataset->CreateLayer("footprints", &target, wkbPolygon, nullptr);
    ASSERT_NE(layer, nullptr);
    OGRFieldDefn height("heightroof", OFTReal);  // a shapefile field has at most 10 letters
    layer->CreateField(&height);
    for (const auto& b : buildings) {
        OGRPolygon polygon;
        for (const auto& ring : b.rings) {
            OGRLinearRing linear;
            for (const auto& p : ring) linear.addPoint(p.lon, p.lat);
            linear.addPoint(ring.front().lon, ring.front().lat);
            polygon.addRing(&linear);
        }
        ASSERT_EQ(polygon.transform(transform.get()), OGRERR_NONE);
        OGRFeature feature(layer->GetLayerDefn());
        feature.SetField("heightroof", b.heights.height);
        feature.SetGeometry(&polygon);
        ASSERT_EQ(layer->CreateFeature(&feature), OGRERR_NONE);
    }
}

TEST(StreetReader, ShapefileAndGeoPackageInProjectedSystemsGiveTheSameBuildings)
{
    Collected original;
    readStreet(test::dataFile("street/upper-east-side-cut.geojson"), {}, original);
    test::TempDir dir;
    struct Format {
        const char* driver;
        const char* name;
        int epsg;  // UTM 18 N in metres; New York Long Island state plane in US feet
    };
    for (const Format format :
         {Format{"ESRI Shapefile", "footprints.shp", 32618}, Format{"GPKG", "footprints.gpkg", 2263}}) {
        SCOPED_TRACE(format.driver);
        const auto file = dir / format.name;
        writeThroughGdal(original.buildings, file, format.driver, format.epsg);
        StreetReadOptions options;
        options.heights.heightAttribute = "heightroof";
        Collected read;
        const auto summary = readStreet(file, options, read);
        EXPECT_EQ(summary.leftOut, 0u) << joined(summary.notes);
        ASSERT_EQ(read.buildings.size(), original.buildings.size());
        for (std::size_t i = 0; i < read.buildings.size(); ++i) {
            const auto& a = original.buildings[i];
            const auto& b = read.buildings[i];
            EXPECT_DOUBLE_EQ(b.heights.height, a.heights.height);
            ASSERT_EQ(b.rings.size(), a.rings.size());
            for (std::size_t r = 0; r < a.rings.size(); ++r) {
                ASSERT_EQ(b.rings[r].size(), a.rings[r].size());
                for (std::size_t k = 0; k < a.rings[r].size(); ++k) {
                    // A shapefile turns rings to its own orientation: compare as sets of
                    // corners, each within a millimetre (1e-8 degrees).
                    bool found = false;
                    for (const auto& p : b.rings[r])
                        found |=
                            std::abs(p.lon - a.rings[r][k].lon) < 1e-8 && std::abs(p.lat - a.rings[r][k].lat) < 1e-8;
                    EXPECT_TRUE(found) << "building " << i << " ring " << r << " corner " << k;
                }
            }
        }
    }
}

// Bad input: a refusal names the file and says what went wrong; a bad feature is left
// out with a note naming it, and the others are read.
struct BadFile {
    const char* name;
    std::string text;
    const char* says;
};

TEST(StreetReader, BadFilesAreRefusedNamingTheFile)
{
    test::TempDir dir;
    const BadFile cases[] = {
        {"garbage.osm", "this is not a map\n", "no GDAL driver recognises it"},
        {"empty.geojson", R"({"type":"FeatureCollection","features":[]})", "no building in it"},
        {"points.geojson",
         R"({"type":"FeatureCollection","features":[{"type":"Feature","properties":{"entrance":"yes"},"geometry":{"type":"Point","coordinates":[-73.95,40.78]}}]})",
         "no building in it"},
        {"unknown-crs.geojson",
         R"({"type":"FeatureCollection","crs":{"type":"name","properties":{"name":"urn:ogc:def:crs:EPSG::999999"}},"features":[{"type":"Feature","properties":{"building":"yes"},"geometry":{"type":"Polygon","coordinates":[[[0,0],[10,0],[10,10],[0,0]]]}}]})",
         "coordinate system 'urn:ogc:def:crs:EPSG::999999' is not one PROJ knows"},
        {"truncated.osm", test::readFileBytes(test::dataFile("street/lower-manhattan-cut.osm")).substr(0, 2000),
         "no building in it"},
    };
    for (const auto& c : cases) {
        const auto file = dir / c.name;
        test::writeFileBytes(file, c.text);
        Collected sink;
        try {
            readStreet(file, {}, sink);
            ADD_FAILURE() << c.name << " was read";
        } catch (const Error& e) {
            const std::string message = e.what();
            EXPECT_EQ(message.rfind(file.string() + ": ", 0), 0u) << message;
            EXPECT_NE(message.find(c.says), std::string::npos) << message;
        }
    }
    Collected sink;
    EXPECT_THROW(readStreet(dir / "missing.osm", {}, sink), Error);
}

TEST(StreetReader, SiteGridShapefileIsRefusedNamingItsSystem)
{
    test::TempDir dir;
    Collected original;
    readStreet(test::dataFile("street/upper-east-side-cut.geojson"), {}, original);
    original.buildings.resize(3);
    writeThroughGdal(original.buildings, dir / "site.shp", "ESRI Shapefile", 32618);
    // A site's own grid: a coordinate system with no tie to the Earth.
    test::writeFileBytes(dir / "site.prj", R"(LOCAL_CS["Pier 17 site grid",UNIT["metre",1]])");
    Collected sink;
    try {
        readStreet(dir / "site.shp", {}, sink);
        ADD_FAILURE() << "read";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("'Pier 17 site grid'"), std::string::npos) << e.what();
    }
}

TEST(StreetReader, BadFeaturesAreNamedAndLeftOut)
{
    test::TempDir dir;
    const auto file = dir / "mixed.geojson";
    test::writeFileBytes(file, R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"building":"yes","@id":"way/1"},"geometry":{"type":"Polygon","coordinates":[[[-74.0,40.7],[-74.0,40.701],[-73.999,40.701],[-73.999,40.7]]]}},
{"type":"Feature","properties":{"building":"yes","@id":"way/2","height":"tall"},"geometry":{"type":"Polygon","coordinates":[[[-74.0,40.7],[-74.0,40.701],[-73.999,40.701],[-74.0,40.7]]]}},
{"type":"Feature","properties":{"building":"yes","@id":"way/3"},"geometry":{"type":"Polygon","coordinates":[[[-74.0,40.7],[-74.0,40.701],[-73.999,40.701],[-74.0,40.7]],[[-74.0,40.7],[-73.9995,40.7005],[-74.0,40.7005],[-73.9995,40.7],[-74.0,40.7]]]}},
{"type":"Feature","properties":{"building":"yes","@id":"way/4","building:levels":"5"},"geometry":{"type":"MultiPolygon","coordinates":[[[[-74.0,40.7],[-74.0,40.701],[-73.999,40.701],[-74.0,40.7]]],[[[-74.01,40.7],[-74.01,40.701],[-74.009,40.701],[-74.01,40.7]]]]}},
{"type":"Feature","properties":{"landuse":"grass"},"geometry":{"type":"Polygon","coordinates":[[[-74.0,40.7],[-74.0,40.701],[-73.999,40.701],[-74.0,40.7]]]}}
]})");
    Collected sink;
    const auto summary = readStreet(file, {}, sink);
    EXPECT_EQ(summary.notes,
              (std::vector<std::string>{
                  file.string() + ": feature way/1: a ring that does not close; left out",
                  file.string() + ": feature way/2: height 'tall' is not a height; left out",
                  file.string() + ": feature way/3: hole 1: a ring that crosses itself; the hole is skipped",
              }));
    ASSERT_EQ(sink.buildings.size(), 3u);  // way/3 without its hole, way/4's two polygons
    EXPECT_EQ(sink.buildings[0].rings.size(), 1u);
    EXPECT_DOUBLE_EQ(sink.buildings[1].heights.height, 15);
    EXPECT_DOUBLE_EQ(sink.buildings[2].heights.height, 15);
}

}  // namespace
}  // namespace trajix::street

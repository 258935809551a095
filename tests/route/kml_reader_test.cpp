#include <gtest/gtest.h>

#include <string>

#include "common/error.hpp"
#include "route/route.hpp"

using trajix::Error;
using trajix::route::readKmlCoordinates;

namespace {

std::string path(const std::string& coordinates)
{
    return "<kml><Document><Placemark><LineString><coordinates>" + coordinates +
           "</coordinates></LineString></Placemark></Document></kml>";
}

std::string errorOf(const std::string& text)
{
    try {
        readKmlCoordinates(text, "test.kml");
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(KmlReader, ReadsTuplesInEveryLayoutGoogleEarthAndOthersWrite)
{
    // One line, both tags on it.
    auto one = readKmlCoordinates(path("1.5,2.5,0 3,4,10"), "x");
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(one[0].longitude, 1.5);
    EXPECT_EQ(one[0].latitude, 2.5);
    EXPECT_EQ(one[1].longitude, 3);
    // Tag on its own line, tuples split over lines and tabs (the first tuple after the
    // opening tag must not be glued to it).
    auto lines = readKmlCoordinates("<LineString><coordinates>\n\t\t1,2,0\r\n\t3,4,0\t5,6,0\n</coordinates>", "x");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].longitude, 5);
    auto glued = readKmlCoordinates("<LineString><coordinates>1,2,0\n3,4,0</coordinates>", "x");
    ASSERT_EQ(glued.size(), 2u);
    EXPECT_EQ(glued[1].latitude, 4);
    // Two-number tuples (GDAL, My Maps) and blanks around commas.
    auto pairs = readKmlCoordinates(path("1,2 3,4 5 , 6"), "x");
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[2].longitude, 5);
    EXPECT_EQ(pairs[2].latitude, 6);
    // A cut-off last tuple of one number is dropped.
    auto cut = readKmlCoordinates(path("1,2,0 3,4,0 5"), "x");
    EXPECT_EQ(cut.size(), 2u);
}

TEST(KmlReader, TakesTheFirstPathOnlyAndSkipsPointsBeforeIt)
{
    const std::string text =
        "<Placemark><Point><coordinates>9,9,0</coordinates></Point></Placemark>"
        "<!-- <LineString><coordinates>5,5 6,6</coordinates></LineString> -->"
        "<Placemark><LineString><coordinates>1,2,0 3,4,0</coordinates></LineString></Placemark>"
        "<Placemark><gx:Track><gx:coord>1 1 1</gx:coord></gx:Track></Placemark>"
        "<Placemark><LineString><coordinates>7,8,0 9,10,0 11,12,0</coordinates></LineString></Placemark>";
    auto points = readKmlCoordinates(text, "x");
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].longitude, 1);
    auto ring = readKmlCoordinates(
        "<Polygon><outerBoundaryIs><LinearRing><coordinates>1,2 3,4 5,6 1,2"
        "</coordinates></LinearRing></outerBoundaryIs></Polygon>",
        "x");
    EXPECT_EQ(ring.size(), 4u);
}

TEST(KmlReader, BadFilesEndWithAMessageNamingTheProblem)
{
    EXPECT_NE(errorOf("<Point><coordinates>1,2,0</coordinates></Point>").find("1 Point"), std::string::npos);
    EXPECT_NE(errorOf("<gx:Track><when>x</when></gx:Track>").find("no complete point"), std::string::npos);
    // A track holding another geometry is closed by that one's end tag, not its own.
    EXPECT_NE(errorOf("<gx:Track><LineString></LineString></gx:Track>").find("no complete point"), std::string::npos);
    EXPECT_NE(errorOf("<gx:Track><Point><coordinates>1,2</coordinates></Point></gx:Track>"
                      "<LineString><coordinates>1,2 3,4</coordinates></LineString>")
                  .find("path 1 (gx:Track)"),
              std::string::npos);
    EXPECT_NE(errorOf("<gx:Track><gx:coord>1 2 3 4</gx:coord></gx:Track>").find("'1 2 3 4'"), std::string::npos);
    EXPECT_NE(errorOf("<gx:Track><gx:coord>1,2,3</gx:coord></gx:Track>").find("'1,2,3'"), std::string::npos);
    EXPECT_NE(errorOf("<gx:Track><gx:coord>1 2 3").find("gx:coord"), std::string::npos);
    EXPECT_NE(errorOf("<kml></kml>").find("no <coordinates>"), std::string::npos);
    EXPECT_NE(errorOf("<LineString><coordinates>1,2,0 3,4,0").find("</coordinates>"), std::string::npos);
    EXPECT_NE(errorOf(path("")).find("no complete point"), std::string::npos);
    EXPECT_NE(errorOf(path("5")).find("no complete point"), std::string::npos);
    EXPECT_NE(errorOf(path("1,2,3,4 5,6")).find("'1,2,3,4'"), std::string::npos);
    EXPECT_EQ(errorOf(path("1,2 5,6,7 8")), "no error");  // a one-number last tuple is dropped
    EXPECT_NE(errorOf(path("1,2 8 5,6")).find("'8'"), std::string::npos);
    EXPECT_NE(errorOf(path("1,2 3x,4")).find("'3x' is not a valid floating point value"), std::string::npos);
    EXPECT_NE(errorOf(path("1,2 3,95")).find("'3,95'"), std::string::npos);
    EXPECT_NE(errorOf(std::string("PK\x03\x04rest", 8)).find("KMZ"), std::string::npos);
}

TEST(KmlReader, TruncatedFilesEndWithAMessageNotACrash)
{
    for (const std::string text :
         {"<LineString><coordinates", "<LineString><coordinates>", "<LineString><coordinates>1,2", "<LineString>", "<",
          "<LineString><coordinates>1,2 3,4</coordinates"}) {
        EXPECT_NE(errorOf(text), "no error") << text;
    }
}

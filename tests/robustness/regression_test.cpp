// Faults the fuzz targets found, each with the input that found it.
#include <functional>

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "route/route.hpp"
#include "scenario/almanac.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

using namespace std::string_literals;

std::string refusal(const std::function<void()>& run)
{
    try {
        run();
    } catch (const Error& e) {
        return e.what();
    }
    ADD_FAILURE() << "no Error";
    return {};
}

TEST(FuzzRegression, NulByteInAlmanacWeekCutOffTheFileNameFromTheMessage)
{
    // A NUL quoted from the week line ended the message before the line and file.
    const auto file = dataFile("robustness/almanac_week_with_nul.alm");
    const std::string message = refusal([&] { readAlmanacWeek(file); });
    EXPECT_NE(message.find("line 4 of '" + file.string() + "'"), std::string::npos) << message;
    EXPECT_NE(message.find("anac f\\x01\\0\\0\\x08RN-01"), std::string::npos) << message;
}

TEST(FuzzRegression, NulByteInKmlCoordinateCutOffTheFileNameFromTheMessage)
{
    const std::string kml = "<LineString><coordinates>1,2 3,4\0x,5 6,7</coordinates></LineString>"s;
    const std::string message = refusal([&] { route::readKmlCoordinates(kml, "drawn.kml"); });
    EXPECT_NE(message.find("point 2 of drawn.kml"), std::string::npos) << message;
}

}  // namespace
}  // namespace trajix::test

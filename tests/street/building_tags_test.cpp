// Tags to heights and to covering ways: the values people and city files really write,
// and the ones that must not pass for a height.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "street/building_tags.hpp"

namespace trajix::street {
namespace {

struct HeightCase {
    Tags tags;
    std::string attribute;
    std::optional<double> height, minHeight;  // nullopt height: left out
};

TEST(BuildingTags, HeightsFromEveryRuleInOrder)
{
    const HeightCase cases[] = {
        {{{"height", "12"}}, "", 12, 0},
        {{{"height", "12.5 m"}}, "", 12.5, 0},
        {{{"height", " 12m "}}, "", 12, 0},
        {{{"height", "40 ft"}}, "", 12.192, 0},
        {{{"height", "40'"}}, "", 12.192, 0},
        {{{"building:levels", "4"}}, "", 12, 0},
        {{{"height", "20"}, {"building:levels", "40"}}, "", 20, 0},  // a height wins over levels
        {{{"building", "yes"}}, "", 10, 0},                          // neither: the default
        {{{"height", ""}, {"building:levels", "2"}}, "", 6, 0},      // an empty value is no value
        {{{"height", "30"}, {"min_height", "12"}}, "", 30, 12},
        {{{"height", "30"}, {"building:min_level", "2"}}, "", 30, 6},
        {{{"height", "30"}, {"min_height", "5"}, {"building:min_level", "9"}}, "", 30, 5},
        {{{"HEIGHT_ROOF", "87.3"}, {"height", "3"}}, "HEIGHT_ROOF", 87.3, 0},  // the named field first
        {{{"height", "9"}}, "HEIGHT_ROOF", 9, 0},                              // absent: the tags
        // Not heights: the feature is left out.
        {{{"height", "tall"}}, "", std::nullopt, 0},
        {{{"height", "-3"}}, "", std::nullopt, 0},
        {{{"height", "1,5"}}, "", std::nullopt, 0},
        {{{"height", "nan"}}, "", std::nullopt, 0},
        {{{"height", "inf"}}, "", std::nullopt, 0},
        {{{"height", "1e3"}}, "", std::nullopt, 0},
        {{{"height", "12 m m"}}, "", std::nullopt, 0},
        {{{"height", "."}}, "", std::nullopt, 0},
        {{{"height", "m"}}, "", std::nullopt, 0},
        {{{"height", "5000"}}, "", std::nullopt, 0},
        {{{"building:levels", "3;4"}}, "", std::nullopt, 0},
        {{{"height", "10"}, {"min_height", "10"}}, "", std::nullopt, 0},  // nothing between bottom and top
        {{{"height", "10"}, {"min_height", "low"}}, "", std::nullopt, 0},
        {{{"height", "0"}}, "", std::nullopt, 0},
        {{{"HEIGHT_ROOF", "n/a"}, {"height", "9"}}, "HEIGHT_ROOF", std::nullopt, 0},
    };
    HeightRules rules;
    for (const auto& c : cases) {
        rules.heightAttribute = c.attribute;
        const auto result = buildingHeights(c.tags, rules);
        const std::string label = c.tags.front().first + "=" + c.tags.front().second;
        if (!c.height) {
            EXPECT_FALSE(result.heights) << label;
            EXPECT_FALSE(result.problem.empty()) << label;
            continue;
        }
        ASSERT_TRUE(result.heights) << label << ": " << result.problem;
        EXPECT_NEAR(result.heights->height, *c.height, 1e-9) << label;
        EXPECT_NEAR(result.heights->minHeight, *c.minHeight, 1e-9) << label;
    }
}

TEST(BuildingTags, ProblemQuotesTheValueWithItsControlBytes)
{
    const auto result = buildingHeights({{"height", std::string("12\0m", 4)}}, {});
    ASSERT_FALSE(result.heights);
    EXPECT_EQ(result.problem, "height '12\\0m' is not a height");
}

TEST(BuildingTags, OtherTagsOfTheOsmDriver)
{
    Tags tags;
    appendOtherTags(R"("height"=>"74.6","name"=>"Say \"hi\"","path"=>"a\\b","building:part"=>"yes")", tags);
    ASSERT_EQ(tags.size(), 4u);
    EXPECT_EQ(tags[1].second, "Say \"hi\"");
    EXPECT_EQ(tags[2].second, "a\\b");
    EXPECT_EQ(*tagValue(tags, "building:part"), "yes");

    // A text that breaks off keeps the pairs before the break and nothing else.
    for (const char* broken :
         {R"("a"=>"1","b"=>"2)", R"("a"=>"1","b"=)", R"("a"=>"1"x"b"=>"2")", R"("a"=>"1",)", R"("a"=>"1","b"=>"2\)"}) {
        Tags some;
        appendOtherTags(broken, some);
        ASSERT_EQ(some.size(), 1u) << broken;
        EXPECT_EQ(some[0], (std::pair<std::string, std::string>{"a", "1"})) << broken;
    }
}

struct WayCase {
    Tags tags;
    bool rail;
    std::optional<double> width;
};

TEST(BuildingTags, WaysThatCoverTheSky)
{
    const WayCase cases[] = {
        {{{"highway", "motorway"}, {"tunnel", "yes"}}, false, 14},
        {{{"highway", "residential"}, {"tunnel", "building_passage"}}, false, 7},
        {{{"highway", "service"}, {"tunnel", "building_passage"}, {"width", "4.5 m"}}, false, 4.5},
        {{{"highway", "footway"}, {"covered", "yes"}}, false, 3},
        {{{"highway", "primary"}, {"tunnel", "yes"}, {"width", "wide"}}, false, 12},  // a bad width: the class's
        {{{"highway", "motorway"}, {"tunnel", "no"}}, false, std::nullopt},
        {{{"highway", "primary"}}, false, std::nullopt},
        {{{"highway", "primary"}, {"bridge", "yes"}}, false, std::nullopt},
        {{{"railway", "subway"}, {"tunnel", "yes"}}, false, std::nullopt},  // an avenue over a subway line
        {{{"railway", "subway"}, {"tunnel", "yes"}}, true, 9},
        {{{"railway", "rail"}}, true, std::nullopt},
        {{{"waterway", "stream"}, {"tunnel", "culvert"}}, true, std::nullopt},
        {{{"man_made", "pier"}, {"covered", "yes"}}, false, 6},
    };
    for (const auto& c : cases) {
        const auto width = coveringWidth(c.tags, c.rail);
        const std::string label = c.tags.front().first + "=" + c.tags.front().second + (c.rail ? " rail" : "");
        EXPECT_EQ(width.has_value(), c.width.has_value()) << label;
        if (width && c.width) {
            EXPECT_DOUBLE_EQ(*width, *c.width) << label;
        }
    }
}

}  // namespace
}  // namespace trajix::street

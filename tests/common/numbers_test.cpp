#include <gtest/gtest.h>

#include "common/error.hpp"
#include "common/numbers.hpp"

using namespace trajix;

TEST(Numbers, ParsesDecimalTextWithBlanksAround)
{
    EXPECT_DOUBLE_EQ(parseDouble("50"), 50);
    EXPECT_DOUBLE_EQ(parseDouble(" 50\t"), 50);
    EXPECT_DOUBLE_EQ(parseDouble("-2.5"), -2.5);
    EXPECT_DOUBLE_EQ(parseDouble(".5"), 0.5);
    EXPECT_DOUBLE_EQ(parseDouble("+1e3"), 1000);
    EXPECT_EQ(parseInteger(" 42 "), 42);
    EXPECT_EQ(parseInteger("-7"), -7);
}

TEST(Numbers, RefusesGarbageWithTheTextInTheMessage)
{
    try {
        parseDouble("12x");
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "'12x' is not a valid floating point value");
    }
    for (const char* bad : {"", " ", "1,5", "nan", "inf", "-inf", "1e999", "--1", "1 2", "0x10", "+"})
        EXPECT_THROW(parseDouble(bad), Error) << bad;
    EXPECT_THROW(parseInteger("1.5"), Error);
    EXPECT_THROW(parseInteger("99999999999999999999"), Error);
    double v = 7;
    EXPECT_FALSE(tryParseDouble("abc", v));
    EXPECT_EQ(v, 7);
}

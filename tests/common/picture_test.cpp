#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/error.hpp"
#include "common/picture.hpp"

using trajix::formatPicture;

TEST(Picture, ForcedDigitsPadAndRound)
{
    EXPECT_EQ(formatPicture(51.5 * 100, "0000.00000000"), "5150.00000000");
    EXPECT_EQ(formatPicture(15, "00000.00000000"), "00015.00000000");
    EXPECT_EQ(formatPicture(5.05L, "00.00"), "05.05");
    EXPECT_EQ(formatPicture(9, "00"), "09");
    EXPECT_EQ(formatPicture(123, "00"), "123");  // the integer part never truncates
    EXPECT_EQ(formatPicture(1.5, "000.000"), "001.500");
}

TEST(Picture, HalvesRoundAwayFromZeroOnTheExactBinaryValue)
{
    EXPECT_EQ(formatPicture(0.125, "0.00"), "0.13");
    EXPECT_EQ(formatPicture(-0.125, "0.00"), "-0.13");
    EXPECT_EQ(formatPicture(2.675, "0.00"), "2.67");  // the double nearest 2.675 lies below it
    EXPECT_EQ(formatPicture(2.5, "0"), "3");
    EXPECT_EQ(formatPicture(9.995, "0.00"), "9.99");
    EXPECT_EQ(formatPicture(99.9999, "00.00"), "100.00");  // a carry adds an integer digit
}

TEST(Picture, OptionalDecimalsDropTrailingZerosAndThePoint)
{
    EXPECT_EQ(formatPicture(60.0, "#####.#"), "60");
    EXPECT_EQ(formatPicture(12.34, "#####.#"), "12.3");
    EXPECT_EQ(formatPicture(0.04, "#####.#"), "");
    EXPECT_EQ(formatPicture(1.5, "0.0#"), "1.5");
    EXPECT_EQ(formatPicture(1.25, "0.0#"), "1.25");
}

TEST(Picture, OptionalIntegerDigitsPrintNothingForZero)
{
    EXPECT_EQ(formatPicture(0.5, "####.00"), ".50");
    EXPECT_EQ(formatPicture(0, "###"), "");
    EXPECT_EQ(formatPicture(20, "###"), "20");
    EXPECT_EQ(formatPicture(19.99999, "###"), "20");
    EXPECT_EQ(formatPicture(0.2, "##0.00"), "0.20");
    EXPECT_EQ(formatPicture(1234.5, "####.00"), "1234.50");
    EXPECT_EQ(formatPicture(-12.5, "####.00"), "-12.50");
}

TEST(Picture, AllZeroDigitsHaveNoMinusSign)
{
    EXPECT_EQ(formatPicture(-0.001, "####.00"), ".00");
    EXPECT_EQ(formatPicture(-1e-13L, "00.00"), "00.00");
    EXPECT_EQ(formatPicture(-0.0, "000.000"), "000.000");
    EXPECT_EQ(formatPicture(-0.004, "0.00"), "0.00");
    EXPECT_EQ(formatPicture(-0.005, "0.00"), "-0.01");
}

TEST(Picture, AbsurdValues)
{
    EXPECT_THROW(formatPicture(std::numeric_limits<double>::quiet_NaN(), "0.00"), trajix::Error);
    EXPECT_THROW(formatPicture(std::numeric_limits<double>::infinity(), "0.00"), trajix::Error);
    EXPECT_EQ(formatPicture(1e20L, "0"), "100000000000000000000");
    EXPECT_EQ(formatPicture(std::numeric_limits<double>::denorm_min(), "0.00"), "0.00");
    EXPECT_EQ(formatPicture(std::numeric_limits<long double>::max(), "0").size(), 4933u);
}

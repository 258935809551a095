// The random route sweep at scale: 600 more drawn paths than the ordinary suite's 36.
#include <gtest/gtest.h>

#include "../limits_property.hpp"

TEST(RouteLimitsSlow, SixHundredRandomDrawnPathsHoldEveryLimitAtEverySample)
{
    trajix::test::limits::expectRandomRoutesHoldLimits(600, 1000);
}

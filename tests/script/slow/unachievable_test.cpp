// The full 100000-iteration search of a speed change that cannot be achieved.
#include <gtest/gtest.h>

#include "../script_fixture.hpp"

namespace trajix::test {
namespace {

TEST(ScriptSpeedChangeSlow, OneSecondAtATenthOfAGIsUnachievableAndWritesNothing)
{
    TempDir dir;
    writeFileBytes(dir / "out.nmea", "keep");
    ScriptRun r;
    r.options.userMaxJerk = 0.1;
    const auto result = r.run("vel=100@1s\nwait 1s\n.end\n", (dir / "out.nmea").string());
    EXPECT_EQ(result.outcome, ScriptOutcome::Unachievable);
    ASSERT_EQ(r.prompt.messages.size(), 1u);
    EXPECT_EQ(
        r.prompt.messages[0],
        "Max jerk rate of 0.1 g/s is not high enough to achieve an acceleration from 0.0kmh to 100.0kmh in 001.00s");
    EXPECT_EQ(readFileBytes(dir / "out.nmea"), "keep");
    EXPECT_EQ(r.progress.innerPercents.back(), 100);
}

}  // namespace
}  // namespace trajix::test

#include <cmath>

#include <gtest/gtest.h>

#include "script_fixture.hpp"

namespace trajix::test {
namespace {

TEST(ScriptSpeedChange, ZeroTo100In10sEndsExactlyAtTargetAndLasts10s)
{
    ScriptRun r;
    r.run("vel=100@10s\n.end\n");
    EXPECT_EQ(r.state.currentSpeed, 100 / 3.6);
    EXPECT_EQ(r.state.sampleSpeed.back(), static_cast<float>(100 / 3.6));
    EXPECT_NEAR(static_cast<double>(r.steps()) * 0.001, 10.0, 0.01 + 1e-9);
    // The recorded speed never overshoots and never falls.
    for (std::size_t i = 2; i < r.state.sampleSpeed.size(); ++i) {
        EXPECT_LE(r.state.sampleSpeed[i - 1], r.state.sampleSpeed[i]) << i;
        EXPECT_LE(r.state.sampleSpeed[i], static_cast<float>(100 / 3.6)) << i;
    }
}

TEST(ScriptSpeedChange, DecelerationMirrorsTheRise)
{
    ScriptRun r;
    r.run("vel=100\nvel=0@10s\n.end\n");
    EXPECT_EQ(r.state.currentSpeed, 0.0);
    EXPECT_NEAR(static_cast<double>(r.steps()) * 0.001, 10.0, 0.01 + 1e-9);
    EXPECT_TRUE(r.prompt.messages.empty());
}

TEST(ScriptSpeedChange, GentleChangeLastsItsTime)
{
    // The first grid step already overshoots: without the bisection this lasted 96.5 s.
    ScriptRun r;
    r.run("vel=1@100s\n.end\n");
    EXPECT_NEAR(static_cast<double>(r.steps()) * 0.001, 100.0, 0.01 + 1e-9);
    EXPECT_EQ(r.state.currentSpeed, 1 / 3.6);
}

TEST(ScriptSpeedChange, RecordsAsManyStepsAsTheSearchSimulated)
{
    ScriptRun r;
    r.options.userMaxJerk = 0.5;
    r.run("vel=20\nvel=80@7.5s\n.end\n");
    NullProgress quiet;
    const PeakSearch search = findPeakAcceleration(20 / 3.6, 80 / 3.6, 7.5, false, 0.5 * 9.81, quiet);
    ASSERT_TRUE(search.found);
    EXPECT_EQ(r.steps(), simulateProfile(20 / 3.6, 80 / 3.6, search.peak, 0.5 * 9.81).steps);
}

TEST(ScriptSpeedChange, OverDistanceCoversTheDistance)
{
    ScriptRun r;
    r.run("vel=50@100m\n.end\n");
    EXPECT_EQ(r.state.currentSpeed, 50 / 3.6);
    // Each step is driven at the speed it starts with, so the track falls a little short
    // of the profile's distance (about half a step at the final speed).
    EXPECT_NEAR(r.state.localNorthPos, 100.0, 0.05);
    EXPECT_NEAR(r.state.sampleNorth.back(), 100.0f, 0.05f);
}

TEST(ScriptSpeedChange, UnachievableChangeGivesTheMessageAndGoesOn)
{
    ScriptRun r;
    r.options.userMaxJerk = 1000;  // short profiles keep the full search fast
    const auto result = r.run("vel=100@0.05s\nwait 1s\n.end\n");
    EXPECT_EQ(result.outcome, ScriptOutcome::Preview);
    EXPECT_FALSE(r.state.runOk);
    ASSERT_EQ(r.prompt.messages.size(), 1u);
    EXPECT_EQ(r.prompt.messages[0],
              "Max jerk rate of 1000.0 g/s is not high enough to achieve an acceleration from 0.0kmh to 100.0kmh in "
              "000.05s");
    EXPECT_EQ(r.state.currentSpeed, 0.0);
    EXPECT_EQ(r.steps(), 1000);  // the wait that follows is still carried out
    ASSERT_FALSE(r.progress.innerPercents.empty());
    EXPECT_EQ(r.progress.innerPercents.front(), 0);
    EXPECT_EQ(r.progress.innerPercents.back(), 100);
}

TEST(ScriptSpeedChange, UnachievableDecelerationOverDistanceNamesMetres)
{
    EXPECT_EQ(
        unachievableMessage(0.981, 100 / 3.6, 0, 12.5, true),
        "Max jerk rate of 0.1 g/s is not high enough to achieve a deceleration from 100.0kmh to 0.0kmh in 012.50m");
    // A distance change steeper than 5 g stops at once.
    ScriptRun r;
    r.run("vel=300\nvel=0@1m\n.end\n");
    EXPECT_FALSE(r.state.runOk);
    EXPECT_LE(r.progress.innerPercents.back(), 1);
}

TEST(ScriptSpeedChange, EqualSpeedHoldsForTheTimeOrDistance)
{
    ScriptRun r;
    r.run("vel=0@1s\n.end\n");
    EXPECT_EQ(r.steps(), 1001);
    r.run("vel=36\nvel=36@50m\n.end\n");
    EXPECT_EQ(r.steps(), 5001);
    r.run("vel=0@50m\n.end\n");
    EXPECT_EQ(r.steps(), 0);
}

TEST(ScriptWait, CountsWholeMillisecondsAndWarnsWhenMoving)
{
    ScriptRun r;
    r.run("wait 10s\n.end\n");
    EXPECT_EQ(r.steps(), 10000);
    EXPECT_TRUE(r.prompt.messages.empty());
    r.run("wait 10\n.end\n");  // the last character is always dropped: 1 s
    EXPECT_EQ(r.steps(), 1000);
    r.run("vel=36\nwait 10s\n.end\n");
    EXPECT_EQ(r.steps(), 10000);
    ASSERT_EQ(r.prompt.messages.size(), 1u);
    EXPECT_EQ(r.prompt.messages[0],
              "Error - Wait command used whilst still in motion (line 2): the speed is held through the wait");
    EXPECT_NEAR(r.state.localNorthPos, 100.0, 1e-9);
    EXPECT_NEAR(r.state.sampleNorth.back(), 100.0f, 1e-4f);
}

TEST(ScriptTurn, TurnsByTimeEvenAtRestAndKeepsTheSign)
{
    ScriptRun r;
    r.run("hdg=-90@9s\n.end\n");
    EXPECT_EQ(r.state.currentHeading, -90.0);
    EXPECT_NEAR(static_cast<double>(r.steps()), 9000, 1);
    EXPECT_NEAR(r.state.sampleHeading[1000], -10.0f, 1e-3f);
    r.run("hdg=90@50m\n.end\n");  // by radius at rest: nothing
    EXPECT_EQ(r.steps(), 0);
    EXPECT_EQ(r.state.currentHeading, 0.0);
}

TEST(ScriptTurn, QuarterCircleOnARadius)
{
    ScriptRun r;
    r.run("vel=36\nhdg=90@100m\n.end\n");
    EXPECT_EQ(r.state.currentHeading, 90.0);
    EXPECT_NEAR(static_cast<double>(r.steps()) * 0.001, 3.141592653589793 * 50 / 10, 0.002);
    EXPECT_NEAR(r.state.localEastPos, 100.0, 0.05);
    EXPECT_NEAR(r.state.localNorthPos, 100.0, 0.05);
}

TEST(ScriptClimb, EndsExactlyOnTargetWithoutOvershoot)
{
    ScriptRun r;
    r.run("height=0\nheight=100@20s\n.end\n");
    EXPECT_EQ(r.state.currentHeight, 100.0);
    // The vertical speed ramps at 2 g to 5 m/s and back: the climb takes T + rate / accel.
    EXPECT_NEAR(static_cast<double>(r.steps()) * 0.001, 20.0 + 5 / 19.62, 0.05);
    for (std::size_t i = 2; i < r.state.sampleHeight.size(); ++i) {
        ASSERT_LE(r.state.sampleHeight[i - 1], r.state.sampleHeight[i]) << i;
        ASSERT_LE(r.state.sampleHeight[i], 100.0f) << i;
    }
    r.run("height=-100@20s\n.end\n");  // carried over from 100
    EXPECT_EQ(r.state.currentHeight, -100.0);
    EXPECT_NEAR(static_cast<double>(r.steps()) * 0.001, 20.0 + 10 / 19.62, 0.05);
    for (std::size_t i = 2; i < r.state.sampleHeight.size(); ++i)
        ASSERT_GE(r.state.sampleHeight[i - 1], r.state.sampleHeight[i]);
}

TEST(ScriptClimb, UsesTheRouteJerkUntilTheFirstSpeedChange)
{
    auto climbSteps = [](double routeJerk, std::string_view prefix) {
        ScriptRun r;
        r.options.routeJerk = routeJerk;
        r.options.userMaxJerk = 5;
        r.run(std::string(prefix) + "height=0\nheight=20@10s\n.end\n");
        return r.steps();
    };
    EXPECT_EQ(climbSteps(0.01, ""), climbSteps(0.1, ""));  // floored at 0.981 m/s^3
    EXPECT_GT(climbSteps(0.1, ""), climbSteps(2, ""));
    // After a speed change climbs use the user's max jerk, whatever the route jerk.
    EXPECT_EQ(climbSteps(0.1, "vel=0@1s\n"), climbSteps(2, "vel=0@1s\n"));
}

TEST(ScriptClimb, OverDistanceFollowsTheSpeed)
{
    ScriptRun r;
    r.run("vel=36\nheight=0\nheight=10@100m\n.end\n");
    EXPECT_EQ(r.state.currentHeight, 10.0);
    EXPECT_NEAR(static_cast<double>(r.steps()) * 0.001, 10.0, 0.5);
}

}  // namespace
}  // namespace trajix::test

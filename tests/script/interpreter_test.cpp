#include <chrono>

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "script_fixture.hpp"

namespace trajix::test {
namespace {

std::string errorOf(ScriptRun& r, std::string_view script, const std::string& target = "preview")
{
    try {
        r.run(script, target);
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(ScriptLanguage, LinesAreLowerCasedAndUnitsFoundAnywhere)
{
    ScriptRun upper, lower;
    upper.run("VEL=50@100M\n.END\n");
    lower.run("vel=50@100m\n.end\n");
    EXPECT_EQ(upper.steps(), lower.steps());
    EXPECT_EQ(upper.state.currentSpeed, 50 / 3.6);
    EXPECT_EQ(upper.state.sampleNorth, lower.state.sampleNorth);
}

TEST(ScriptLanguage, AmountWithoutUnitSaysTheUnitIsMissing)
{
    ScriptRun r;
    const std::string message = errorOf(r, "vel=36\nhdg=90@10\n.end\n");
    EXPECT_NE(message.find("needs its amount in seconds or metres"), std::string::npos) << message;
    EXPECT_NE(message.find("line 2"), std::string::npos) << message;
    r.run("hdg=90@10s\n.end\n");
    EXPECT_EQ(r.state.currentHeading, 90.0);
}

TEST(ScriptLanguage, NamesAreComparedExactlyButValuesMayHaveBlanks)
{
    ScriptRun r;
    r.run("lat = 5\nheading =90\nfoo=bar\nvel= 36\n.end\n");
    EXPECT_EQ(r.state.geoLatitude, 0);
    EXPECT_EQ(r.state.currentHeading, 0);
    EXPECT_EQ(r.state.currentSpeed, 10.0);
    r.run("time=3600.5\nlong=-1.25\nlat=+51.5\nhdg=-30\n.end\n");
    EXPECT_EQ(r.state.output.outputClock, 3600.5L);
    EXPECT_EQ(r.state.geoLongitude, -1.25L);
    EXPECT_EQ(r.state.geoLatitude, 51.5L);
    EXPECT_EQ(r.state.currentHeading, -30.0);
}

TEST(ScriptLanguage, HeadingSetsTheInitialHeadingAsHdgDoes)
{
    ScriptRun byHdg, byHeading;
    byHdg.run("hdg=250\nvel=36\nwait 2s\n.end\n");
    const ScriptResult result = byHeading.run("Heading=250\nvel=36\nwait 2s\n.end\n");
    EXPECT_EQ(byHeading.state.currentHeading, 250.0);
    EXPECT_EQ(byHeading.state.sampleHeading, byHdg.state.sampleHeading);
    EXPECT_EQ(byHeading.state.sampleNorth, byHdg.state.sampleNorth);
    EXPECT_TRUE(result.unmatchedLines.empty());

    // Only the set form: turning stays "hdg".
    ScriptRun turn;
    const ScriptResult turned = turn.run("HEADING=30\nheading=90@10s\n.end\n");
    EXPECT_EQ(turn.state.currentHeading, 30.0);
    EXPECT_EQ(turn.steps(), 0);
    ASSERT_EQ(turned.unmatchedLines.size(), 1u);
    EXPECT_EQ(turned.unmatchedLines[0].line, 2);
}

TEST(ScriptLanguage, OnlySpeedHeadingAndHeightChangeOverAnAmount)
{
    const ParsedScript script =
        parseScript({"LAT=1@2s", "long=1@2m", "time=5@3s", "Vel=36@2s", "hdg=5@20m", "height=3@2s", ".end"});
    std::vector<int> unmatched;
    for (const auto& u : script.unmatchedLines) unmatched.push_back(u.line);
    EXPECT_EQ(unmatched, (std::vector<int>{1, 2, 3}));
    using Name = ScriptCommand::Name;
    std::vector<std::pair<Name, bool>> changes;
    for (const auto& c : script.commands)
        if (c.kind == ScriptCommand::Kind::Change) changes.emplace_back(c.name, c.metres);
    const std::vector<std::pair<Name, bool>> expected{{Name::Vel, false}, {Name::Hdg, true}, {Name::Height, false}};
    EXPECT_EQ(changes, expected);
    EXPECT_EQ(script.commands.size(), 3u);
}

TEST(ScriptLanguage, LinesMatchingNoCommandAreListedWithTheirNumbers)
{
    ScriptRun r;
    const ScriptResult result =
        r.run("lat=51\n\n \t\nVell=50@20s\nvel=36\n# to the gate\nlat = 5\nwait 1s\n.end \nwait 1s\n.END\nbeyond\n");
    EXPECT_EQ(r.steps(), 2000) << "free text still runs";
    std::vector<std::pair<int, std::string>> listed;
    for (const auto& u : result.unmatchedLines) listed.emplace_back(u.line, u.text);
    const std::vector<std::pair<int, std::string>> expected{
        {4, "Vell=50@20s"}, {6, "# to the gate"}, {7, "lat = 5"}, {9, ".end "}};
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(unmatchedLinesMessage(result.unmatchedLines),
              "4 lines match no command and had no effect:\nline 4: Vell=50@20s\nline 6: # to the gate\n"
              "line 7: lat = 5\nline 9: .end ");

    // Listed too when the script records no motion and nothing is written.
    TempDir dir;
    ScriptRun still;
    const ScriptResult none = still.run("lat=1\nVell=36@1s\n.end\n", (dir / "out.nmea").string());
    EXPECT_EQ(none.outcome, ScriptOutcome::NoMotion);
    ASSERT_EQ(none.unmatchedLines.size(), 1u);
    EXPECT_EQ(none.unmatchedLines[0].line, 2);
}

TEST(ScriptLanguage, ListOfUnmatchedLinesStaysShortAndPrintable)
{
    std::vector<UnmatchedLine> lines{{1, "1 line"}};
    EXPECT_EQ(unmatchedLinesMessage(lines), "1 line matches no command and had no effect:\nline 1: 1 line");
    EXPECT_EQ(unmatchedLinesMessage({}), "");
    lines.clear();
    for (int i = 1; i <= 25; ++i) lines.push_back({i, std::string("\x1b[2J\x7f") + std::string(100, 'x')});
    lines[1].text = std::string(59, 'a') + "\xc3\xa9tape";  // cut before the two-byte character
    const std::string message = unmatchedLinesMessage(lines);
    EXPECT_EQ(message.find('\x1b'), std::string::npos);
    EXPECT_NE(message.find("\nline 1: \\x1B[2J\\x7F" + std::string(55, 'x') + "...\n"), std::string::npos) << message;
    EXPECT_NE(message.find("\nline 2: " + std::string(59, 'a') + "...\n"), std::string::npos) << message;
    EXPECT_NE(message.find("\nline 20: "), std::string::npos);
    EXPECT_EQ(message.find("\nline 21: "), std::string::npos);
    EXPECT_EQ(message.substr(message.size() - 11), "\nand 5 more");
}

TEST(ScriptLanguage, BadNumberNamesTheTextAndLine)
{
    ScriptRun r;
    const std::string message = errorOf(r, "lat=51\n\nvel=12x\n.end\n");
    EXPECT_EQ(message, "line 3: '12x' is not a speed in km/h (in 'vel=12x')");
    EXPECT_EQ(r.state.geoLatitude, 0);  // nothing ran
    EXPECT_NE(errorOf(r, "wait\n.end\n").find("line 1"), std::string::npos);
    EXPECT_NE(errorOf(r, "vel=nan\n").find("'nan'"), std::string::npos);
    EXPECT_NE(errorOf(r, "vel=1e999\n").find("'1e999'"), std::string::npos);
}

TEST(ScriptLanguage, ReadingStopsAtEndOrAfter10000Lines)
{
    ScriptRun r;
    r.run("wait 1s\n.end\nwait 5s\n");
    EXPECT_EQ(r.steps(), 1000);
    std::string noEnd;
    for (int i = 0; i < 9999; ++i) noEnd += "\n";
    r.run(noEnd + "wait 2s\r\nwait 7s\n");  // line 10000 runs, 10001 does not
    EXPECT_EQ(r.steps(), 2000);
    EXPECT_EQ(r.progress.maxima.back(), 10000);
    r.run("vel=36\nwait 1s");  // no ".end": the gauge runs over the two lines
    EXPECT_EQ(r.progress.maxima.back(), 2);
}

TEST(ScriptLanguage, GarbageLinesHaveNoEffect)
{
    ScriptRun r;
    std::string garbage("\x01\x02\xff=@\0zz\t@@==", 14);
    const ScriptResult result = r.run(garbage + "\n@@@\n=\n===\nhello\n.end\n");
    EXPECT_EQ(r.steps(), 0);
    EXPECT_EQ(result.unmatchedLines.size(), 5u);
}

TEST(ScriptRefusals, EndlessOrMeaninglessCommandsAreRefusedNamingTheLine)
{
    const struct {
        const char* script;
        const char* expected;
    } cases[] = {
        {"wait 1s\nvel=50@0s\n", "line 2: a time of 0 s"},
        {"vel=50@-5m\n", "line 1: a distance of -5 m"},
        {"vel=36\nhdg=90@0m\n", "line 2: a radius of 0 m"},
        {"height=10@0s\n", "line 1: a time of 0 s"},
        {"vel=-10\n", "line 1: a speed of -10 km/h"},
        {"vel=-10@5s\n", "line 1: a speed of -10 km/h"},
        // The fuzzer's input: the search of the change from there ran for many seconds.
        {"Vel=5043200\nVel=30@100m\n", "line 1: a speed of 5043200 km/h: speeds must be at most 100000 km/h"},
        {"vel=30\nvel=100000.5@10s\n", "line 2: a speed of 100000.5 km/h"},
        {"height=0@100m\n", "line 1: a height change over a distance needs a speed above 0"},
        {"vel=36\nvel=0@1s\nheight=5@10m\n", "line 3: a height change over a distance"},
        {"lat=91\n", "line 1: a latitude of 91"},
        {"time=-1\n", "line 1: a time of -1 s"},
        {"wait 1000000000s\n", "GiB"},
        {"vel=36\nhdg=1e300\nhdg=10@1s\n", "line 2: the value 1e+300 is out of range"},
        {"height=-1e200@5s\n", "line 1: the value -1e+200 is out of range"},
        // A turn or climb too fine for the number's precision would never end.
        {"hdg=1e15\nhdg=1@1000s\n", "line 2: the heading 1000000000000000 is too large"},
        {"height=1e14\nheight=1.00000000000001e14@1000s\n", "line 2: the height 100000000000000 m is too large"},
        // A change without its unit letter, and two commands typed on one line.
        {"vel=36\nHdg=+90@5x\n", "line 2: 'Hdg=+90@5x' needs its amount in seconds or metres"},
        {"hdg=90@10\n", "line 1: 'hdg=90@10' needs its amount"},
        {"wait 10s vel=50@5s\n", "line 1: 'wait 10s vel=50@5s' holds more than one command"},
        // A value that is no number is named as typed, with what it should have been;
        // the target before the unit (the "s" of "fast" is no unit).
        {"Vel=fast@10s\n", "line 1: 'fast' is not a speed in km/h (in 'Vel=fast@10s')"},
        {"vel=36\nHDG=Left@5s\n", "line 2: 'Left' is not a heading in degrees (in 'HDG=Left@5s')"},
        {"Height=10@tenM\n", "line 1: 'ten' is not a distance in metres (in 'Height=10@tenM')"},
        {"wait forevers\n", "line 1: 'forever' is not a time in seconds (in 'wait forevers')"},
        {"lat=north\n", "line 1: 'north' is not a latitude in degrees"},
        {"time=noon\n", "line 1: 'noon' is not a time of day in seconds"},
        {"vel=@10s\n", "line 1: 'vel=@10s' gives no speed in km/h"},
        {"vel=36\nwait\n", "line 2: 'wait' gives no time in seconds"},
        {"vel=50@5s hdg=90@10m\n", "line 1: 'vel=50@5s hdg=90@10m' holds more than one command"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        writeFileBytes(dir / "out.nmea", "keep");
        ScriptRun r;
        const auto start = std::chrono::steady_clock::now();
        const std::string message = errorOf(r, c.script, (dir / "out.nmea").string());
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.script << " -> " << message;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.script;
        EXPECT_EQ(readFileBytes(dir / "out.nmea"), "keep") << c.script;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << c.script;
    }
}

TEST(ScriptRefusals, TheMemoryCheckCountsTheStepsAWrittenRunKeeps)
{
    // 100 hours standing: 3.6e8 steps of 1 ms, more than the arrays could hold one by one,
    // while a run written at 20 Hz keeps every 50th (7.2e6 steps).
    const auto commands = parseScript({"vel=0", "wait 360000s"}).commands;
    const ScriptOptions options;
    EXPECT_THROW(checkScript(commands, options, 1), Error);
    EXPECT_EQ(checkScript(commands, options, 50), 360000000);
    // 50 times longer again is too much even so.
    EXPECT_THROW(checkScript(parseScript({"wait 18000000s"}).commands, options, 50), Error);
    // A preview keeps every step: refused before it runs.
    ScriptRun r;
    EXPECT_NE(errorOf(r, "wait 360000s\n").find("GiB"), std::string::npos);
}

TEST(ScriptRefusals, MaxJerkAndOutputRateAreCheckedBeforeTheRun)
{
    ScriptRun r;
    r.options.userMaxJerk = 0;
    EXPECT_NE(errorOf(r, "wait 1s\n").find("max jerk 0 g/s"), std::string::npos);
    r.options.userMaxJerk = 1;
    TempDir dir;
    r.options.outputRate = 0;
    EXPECT_NE(errorOf(r, "wait 1s\n", (dir / "a").string()).find("rate 0 Hz"), std::string::npos);
    r.options.outputRate = 3000;
    EXPECT_NE(errorOf(r, "wait 1s\n", (dir / "a").string()).find("stride of 0"), std::string::npos);
    r.options.outputRate = 1000;
    r.run("wait 1s\n", (dir / "a").string());
    EXPECT_FALSE(std::filesystem::exists(dir / "a.tmp"));
    EXPECT_TRUE(std::filesystem::exists(dir / "a"));
}

TEST(ScriptRun, NoMotionWritesNothingAndSaysSo)
{
    TempDir dir;
    writeFileBytes(dir / "out.nmea", "keep");
    ScriptRun r;
    const auto result = r.run("lat=50\nvel=0@0.5m\n.end\n", (dir / "out.nmea").string());
    EXPECT_EQ(result.outcome, ScriptOutcome::NoMotion);
    ASSERT_EQ(r.prompt.messages.size(), 1u);
    EXPECT_EQ(r.prompt.messages[0], "The script records no motion: no NMEA file written");
    EXPECT_EQ(readFileBytes(dir / "out.nmea"), "keep");
}

TEST(ScriptRun, UnachievableChangeLeavesTheExistingFile)
{
    TempDir dir;
    writeFileBytes(dir / "out.nmea", "keep");
    ScriptRun r;
    r.options.userMaxJerk = 1000;
    const auto result = r.run("vel=100@0.05s\nwait 1s\n.end\n", (dir / "out.nmea").string());
    EXPECT_EQ(result.outcome, ScriptOutcome::Unachievable);
    EXPECT_EQ(readFileBytes(dir / "out.nmea"), "keep");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(ScriptRun, CancelledRunWritesNothing)
{
    TempDir dir;
    ScriptRun r;
    r.progress.cancelAfter = 1;
    EXPECT_EQ(errorOf(r, "wait 1s\nwait 1s\n.end\n", (dir / "out.nmea").string()), "the run was cancelled");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);

    // One long line is heard from while it runs (the window stays alive), and Cancel
    // stops it there, the gauge still on that line.
    ScriptRun longLine;
    longLine.progress.cancelAfter = 3;
    EXPECT_EQ(errorOf(longLine, "time=0\nwait 1000s\n.end\n", (dir / "out.nmea").string()), "the run was cancelled");
    EXPECT_EQ(longLine.progress.positions, (std::vector<long long>{0, 1, 1}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
}

TEST(ScriptRun, ChartsArePlottedEvery25StepsFromTheFirst)
{
    ScriptRun r;
    r.run("vel=36\nheight=3\nwait 1s\n.end\n");
    EXPECT_EQ(r.charts.cleared, 1);
    ASSERT_EQ(r.charts.points.size(), 40u);
    EXPECT_NEAR(r.charts.points[0].time, 0.002, 1e-12);
    EXPECT_NEAR(r.charts.points[1].time, 0.027, 1e-12);
    EXPECT_NEAR(r.charts.points[1].north, 0.26, 1e-9);
    EXPECT_EQ(r.charts.points[1].height, 3.0);
    EXPECT_NEAR(r.charts.points[1].speedKmh, 36.0, 1e-9);
    EXPECT_EQ(r.progress.captions, std::vector<std::string>{"Previewing the script"}) << "a preview writes nothing";
}

TEST(ScriptRun, TrackAxesAreSquaredOnTheShorterAxis)
{
    AxisRange h{0, 100}, v{0, 30.5};
    squareTrackAxes(h, v);
    EXPECT_EQ(v.minimum, -34.5);
    EXPECT_EQ(v.maximum, 65.0);
    EXPECT_EQ(h.minimum, 0.0);
    AxisRange h2{-10, 10}, v2{0, 50};
    squareTrackAxes(h2, v2);
    EXPECT_EQ(h2.minimum, -25.0);
    EXPECT_EQ(h2.maximum, 25.0);
}

}  // namespace
}  // namespace trajix::test

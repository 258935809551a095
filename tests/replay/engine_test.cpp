#include <gtest/gtest.h>

#include "common/error.hpp"
#include "engine_rig.hpp"
#include "replay/engine.hpp"
#include "replay_fixtures.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

using Playback = ReplayView::Playback;

TEST(ReplayEngine, GgaAndVtgFileWithVtgSendsBothSentencesInOneStep)
{
    EngineRig rig;
    const auto lines = fixLines(43200, 4, 20, true);
    rig.load(lines);
    rig.engine.options().sendVtg = true;
    rig.engine.start(20, 1.0);
    EXPECT_EQ(rig.tick(), lines[0] + "\r\n" + lines[1] + "\r\n");
    EXPECT_EQ(rig.view.preview, lines[1] + "\n" + lines[0]);
    EXPECT_EQ(rig.tick(), lines[2] + "\r\n" + lines[3] + "\r\n");
    EXPECT_EQ(rig.view.position, 2);
}

TEST(ReplayEngine, VtgOffSkipsOneVtgLinePerStep)
{
    EngineRig rig;
    const auto lines = fixLines(43200, 3, 20, true);
    rig.load(lines);
    rig.engine.start(20, 1.0);
    EXPECT_EQ(rig.tick(), lines[0] + "\r\n");
    EXPECT_EQ(rig.view.preview, lines[0]);
    EXPECT_EQ(rig.tick(), lines[2] + "\r\n");
    EXPECT_EQ(rig.tick(), lines[4] + "\r\n");
    // The last VTG line has no fix after it: nothing is sent, not an empty line.
    EXPECT_EQ(rig.tick(), "");
    EXPECT_EQ(rig.engine.playback(), Playback::Idle);
    EXPECT_FALSE(rig.timer.on);
}

TEST(ReplayEngine, GllAndHdtFileSendsOneSentencePerStep)
{
    EngineRig rig;
    const std::vector<std::string> lines{gll(10), hdt(1), gll(10.2L), hdt(2), gll(10.4L), hdt(3)};
    rig.load(lines, true);
    rig.engine.options().sendVtg = true;
    rig.engine.start(5, 1.0);
    for (const auto& line : lines) EXPECT_EQ(rig.tick(), line + "\r\n");
}

TEST(ReplayEngine, PauseContinuesAndStopRestartsAtTheHeaderLine)
{
    EngineRig rig;
    auto lines = fixLines(43200, 5, 20, false);
    lines.insert(lines.begin(), "# recorded on the ring road");
    rig.load(lines);
    rig.engine.start(20, 1.0);
    EXPECT_EQ(rig.view.maximum, 5);
    EXPECT_EQ(rig.tick(), lines[0] + "\r\n");
    EXPECT_EQ(rig.tick(), lines[1] + "\r\n");
    rig.engine.pause();
    EXPECT_FALSE(rig.timer.on);
    EXPECT_EQ(rig.engine.playback(), Playback::Paused);
    rig.engine.start(20, 1.0);
    EXPECT_EQ(rig.tick(), lines[2] + "\r\n");
    rig.engine.stop();
    EXPECT_EQ(rig.view.position, 0);
    EXPECT_EQ(rig.engine.playback(), Playback::Stopped);
    EXPECT_TRUE(rig.engine.state().replayFileOpen);
    rig.engine.start(20, 1.0);
    EXPECT_TRUE(rig.timer.on);
    EXPECT_EQ(rig.tick(), lines[0] + "\r\n");
    EXPECT_EQ(rig.view.position, 1);
}

TEST(ReplayEngine, EndOfFileWithAndWithoutRepeat)
{
    EngineRig rig;
    const auto lines = fixLines(43200, 3, 20, false);
    rig.load(lines);
    rig.engine.options().repeat = true;
    rig.engine.start(20, 1.0);
    for (const auto& line : lines) EXPECT_EQ(rig.tick(), line + "\r\n");
    EXPECT_EQ(rig.view.position, 3);
    // One step sends nothing and drops the gauge to 0, the next starts again.
    EXPECT_EQ(rig.tick(), "");
    EXPECT_EQ(rig.view.position, 0);
    EXPECT_TRUE(rig.timer.on);
    EXPECT_EQ(rig.tick(), lines[0] + "\r\n");
    EXPECT_EQ(rig.view.position, 1);

    rig.engine.options().repeat = false;
    EXPECT_EQ(rig.tick(), lines[1] + "\r\n");
    EXPECT_EQ(rig.tick(), lines[2] + "\r\n");
    EXPECT_EQ(rig.tick(), "");
    EXPECT_FALSE(rig.timer.on);
    EXPECT_FALSE(rig.engine.state().replayFileOpen);
    EXPECT_EQ(rig.engine.playback(), Playback::Idle);
    EXPECT_EQ(rig.view.position, 0);
    // Start from Idle opens the file again at its start.
    rig.engine.start(20, 1.0);
    EXPECT_EQ(rig.tick(), lines[0] + "\r\n");
}

TEST(ReplayEngine, FullOutputQueueSkipsTheStepWithoutLosingALine)
{
    EngineRig rig;
    const auto lines = fixLines(43200, 3, 20, false);
    rig.load(lines);
    rig.engine.start(20, 1.0);
    EXPECT_EQ(rig.tick(), lines[0] + "\r\n");
    rig.port.queued = 4097;
    EXPECT_EQ(rig.tick(), "");
    EXPECT_EQ(rig.view.buffer, "Output buffer full - playback rate too fast");
    EXPECT_EQ(rig.view.position, 1);
    rig.port.queued = 4096;
    EXPECT_EQ(rig.tick(), lines[1] + "\r\n");
    EXPECT_EQ(rig.view.buffer, "");
}

TEST(ReplayEngine, DisconnectDuringPlaybackStopsAtTheNextStepOnce)
{
    EngineRig rig;
    const auto lines = fixLines(43200, 4, 20, false);
    rig.load(lines);
    rig.engine.start(20, 1.0);
    rig.tick();
    rig.engine.disconnect();
    EXPECT_EQ(rig.port.purges, 1);
    EXPECT_FALSE(rig.port.isOpen);
    EXPECT_TRUE(rig.timer.on);  // a running replay is not stopped by Disconnect itself
    EXPECT_EQ(rig.tick(), "");
    EXPECT_EQ(rig.prompt.messages, std::vector<std::string>{"COM port not open"});
    EXPECT_FALSE(rig.timer.on);
    EXPECT_EQ(rig.engine.playback(), Playback::Paused);
}

TEST(ReplayEngine, WriteErrorStopsAndResumeResendsTheUnsentLine)
{
    EngineRig rig;
    const auto lines = fixLines(43200, 4, 20, true);
    rig.load(lines);
    rig.engine.options().sendVtg = true;
    rig.engine.start(20, 1.0);
    rig.tick();
    rig.port.failWrites = true;
    EXPECT_EQ(rig.tick(), "");
    EXPECT_EQ(rig.prompt.messages, std::vector<std::string>{"Cannot write to Com port"});
    EXPECT_FALSE(rig.timer.on);
    EXPECT_TRUE(rig.engine.state().replayFileOpen);
    EXPECT_EQ(rig.engine.playback(), Playback::Paused);
    EXPECT_EQ(rig.view.position, 1);
    rig.port.failWrites = false;
    rig.engine.start(20, 1.0);
    EXPECT_EQ(rig.tick(), lines[2] + "\r\n" + lines[3] + "\r\n");
}

TEST(ReplayEngine, StartRefusals)
{
    EngineRig rig;
    rig.engine.start(20, 1.0);
    EXPECT_EQ(rig.prompt.messages, std::vector<std::string>{"No filename for replay file"});
    EXPECT_FALSE(rig.timer.on);

    rig.load(fixLines(43200, 3, 20, false));
    EXPECT_THROW(rig.engine.start(0, 1.0), Error);
    EXPECT_THROW(rig.engine.start(20, 0.0), Error);
    EXPECT_FALSE(rig.timer.on);

    std::filesystem::remove(rig.dir / "replay.txt");
    rig.engine.start(20, 1.0);
    EXPECT_EQ(rig.prompt.messages.back(), "Unable to open replay file");
    EXPECT_FALSE(rig.timer.on);
    EXPECT_EQ(rig.engine.playback(), Playback::Idle);
}

TEST(ReplayEngine, TimerPeriodFromRateAndSpeed)
{
    EngineRig rig;
    rig.load(fixLines(43200, 3, 20, false));
    rig.engine.start(20, replaySpeedFactor(0));
    EXPECT_DOUBLE_EQ(rig.timer.period, 0.5);
    rig.engine.start(20, replaySpeedFactor(7));
    EXPECT_DOUBLE_EQ(rig.timer.period, 0.005);
    rig.engine.start(20, replaySpeedFactor(-1));  // no selection
    EXPECT_DOUBLE_EQ(rig.timer.period, 0.05);
    EXPECT_EQ(replayBaudRate(2), 4800);
    EXPECT_FALSE(replayBaudRate(8).has_value());
}

TEST(ReplayEngine, ConnectNamesTheDeviceAndKeepsTheLastBaudRate)
{
    EngineRig rig;
    EXPECT_TRUE(rig.engine.connect("3", std::nullopt));
    EXPECT_EQ(rig.port.openedDevice, "/dev/ttyS2");
    EXPECT_EQ(rig.port.openedBaud, 115200);
    EXPECT_TRUE(rig.view.portOpen);
    rig.engine.disconnect();
    EXPECT_TRUE(rig.engine.connect("/dev/ttyUSB0", 4800));
    rig.engine.disconnect();
    EXPECT_TRUE(rig.engine.connect("/dev/ttyUSB0", std::nullopt));
    EXPECT_EQ(rig.port.openedBaud, 4800);
    rig.engine.disconnect();

    rig.port.openSucceeds = false;
    EXPECT_FALSE(rig.engine.connect("2", std::nullopt));
    EXPECT_EQ(rig.prompt.messages, std::vector<std::string>{"cannot open COM port"});
    EXPECT_FALSE(rig.engine.state().comPortOpen);
    EXPECT_THROW(rig.engine.connect("two", std::nullopt), Error);
}

TEST(ReplayEngine, UnmeasuredScanKeepsThePreviousReplayFile)
{
    EngineRig rig;
    rig.load(fixLines(43200, 3, 20, true));
    const auto before = rig.engine.state();
    ScanResult failed;
    failed.count = 99;
    failed.message = "no rate";
    EXPECT_FALSE(rig.engine.useReplayFile("/elsewhere.txt", failed));
    EXPECT_EQ(rig.engine.state().replayFileName, before.replayFileName);
    EXPECT_EQ(rig.engine.state().replaySentenceCount, before.replaySentenceCount);
    EXPECT_TRUE(rig.engine.state().replayHasExtraSentences);
}

}  // namespace
}  // namespace trajix::test

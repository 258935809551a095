#include <random>

#include <gtest/gtest.h>

#include "engine_rig.hpp"
#include "receiver_logs.hpp"
#include "replay/engine.hpp"
#include "replay/receiver_log.hpp"
#include "replay/scan.hpp"
#include "replay_fixtures.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

ScanResult scanLog(const TempDir& dir, const std::string& text, bool hdtGll = false)
{
    const auto path = dir / "log.nmea";
    writeFileBytes(path, text);
    const auto result = scanfile(path, hdtGll);
    EXPECT_TRUE(result.has_value());
    return result.value_or(ScanResult{});
}

// The bytes of each epoch as the file holds them.
std::vector<std::string> epochBytes(const ReceiverLog& log, const std::string& text)
{
    std::vector<std::string> bytes;
    for (std::size_t i = 0; i < log.epochs.size(); ++i)
        bytes.push_back(
            text.substr(static_cast<std::size_t>(log.epochs[i].offset), static_cast<std::size_t>(log.epochSize(i))));
    return bytes;
}

TEST(ReceiverLogScan, LabelsOfEachShape)
{
    TempDir dir;
    struct Case {
        std::string text;
        std::string rate, length, type;
        long long steps;
    };
    const Case cases[] = {
        // A 20-minute car log: 1200 fixes of eight sentences each.
        {joinEpochs(carLog(12 * 3600 + 5, 1200)), "1", "File length : 1200s",
         "File type : Receiver log (RMC, VTG, GGA, GSA, GSV, GLL)", 1200},
        // 0.5 Hz with proprietary sentences and times without decimals: 90 fixes 2 s apart.
        {joinEpochs(handheldLog(8 * 3600, 90)), "0.5", "File length : 180s",
         "File type : Receiver log (RMC, GGA, GSA, PGRME, PGRMZ, PGRMM, BOD)", 90},
        // 10 Hz, GP and GN talkers, a 10-minute gap after fix 299: 599 steps of 0.1 s
        // less one, the gap, and one interval.
        {joinEpochs(rtkLog(10 * 3600, 600, 299, 600.0)), "10", "File length : 659.9s",
         "File type : Receiver log (GGA, RMC, GSA, GSV, ZDA)", 600},
        // Across midnight: 23:59:55 to 00:00:04.
        {joinEpochs(carLog(86395, 10)), "1", "File length : 10s",
         "File type : Receiver log (RMC, VTG, GGA, GSA, GSV, GLL)", 10},
    };
    for (const auto& c : cases) {
        const auto scan = scanLog(dir, c.text);
        ASSERT_TRUE(scan.measured) << scan.message;
        EXPECT_TRUE(scan.receiverLog);
        EXPECT_EQ(scan.rateText, c.rate);
        EXPECT_EQ(scan.lengthText, c.length);
        EXPECT_EQ(scan.typeText, c.type);
        EXPECT_EQ(scan.count, c.steps);
        // The "HDT and GLL only" box concerns our own files only.
        const auto gllMode = scanLog(dir, c.text, true);
        EXPECT_EQ(gllMode.typeText, c.type);
        EXPECT_EQ(gllMode.count, c.steps);
    }
    const auto gap = scanLog(dir, joinEpochs(rtkLog(10 * 3600, 600, 299, 600.0)));
    ASSERT_EQ(gap.notes.size(), 1u);
    EXPECT_NE(gap.notes[0].find("gap of 600.0 s after 10:00:29"), std::string::npos) << gap.notes[0];
}

TEST(ReceiverLogScan, OwnFilesKeepTheirScanAndOthersAreReceiverLogs)
{
    TempDir dir;
    // What our writers produce stays as it was, with or without a header line.
    const auto own = scanLog(dir, crlfLines(fixLines(43200, 5, 20, true)));
    EXPECT_FALSE(own.receiverLog);
    EXPECT_EQ(own.typeText, "File type : GGA and VTG");
    EXPECT_EQ(own.count, 3);  // the described count: the first line passed over, pairs halved
    EXPECT_FALSE(scanLog(dir, crlfLines({"header", gll(10), hdt(1), gll(10.2L), hdt(2)}), true).receiverLog);

    // GGA from another talker, GGA with RMC, and GGA lines ending in CR alone.
    std::string gnGga, withRmc, crOnly;
    for (int i = 0; i < 4; ++i) {
        const std::string t = clock(43200 + i);
        gnGga += sentence("GNGGA," + t + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") + "\r\n";
        withRmc += gga(43200 + i) + "\r\n" + sentence("GPRMC," + t + ",A,4807.038,N,01131.000,E,,,230394,,") + "\r\n";
        crOnly += gga(43200 + i) + "\r";
    }
    for (const auto& text : {gnGga, withRmc, crOnly}) {
        const auto scan = scanLog(dir, text);
        EXPECT_TRUE(scan.receiverLog) << text;
        EXPECT_EQ(scan.count, 4) << text;
        EXPECT_EQ(scan.lengthText, "File length : 4s") << text;
    }
}

TEST(ReceiverLogScan, EpochsHoldEveryLineInOrderWhateverTheLineEnds)
{
    TempDir dir;
    const auto epochs = carLog(3600, 6);
    for (const std::string lineEnd : {"\n", "\r\n", "\r"}) {
        // A cut first line and a comment go with the first fix; the last line has no end.
        const std::string before = "2,11,14,25,170,00,16,57,208,39*7A" + lineEnd + "# logger start" + lineEnd;
        std::string text = before + joinEpochs(epochs, lineEnd);
        text.resize(text.size() - lineEnd.size());
        const auto log = readReceiverLog((writeFileBytes(dir / "log.nmea", text), dir / "log.nmea"));
        ASSERT_EQ(log.epochs.size(), epochs.size());
        EXPECT_TRUE(log.lastLineOpen);
        const auto bytes = epochBytes(log, text);
        for (std::size_t i = 0; i < epochs.size(); ++i) {
            std::string expected = i == 0 ? before : "";
            expected += joinEpochs({epochs[i]}, lineEnd);
            if (i + 1 == epochs.size()) expected.resize(expected.size() - lineEnd.size());
            EXPECT_EQ(bytes[i], expected) << "epoch " << i << " with line end " << (lineEnd == "\r" ? "CR" : "LF");
            EXPECT_DOUBLE_EQ(log.epochs[i].time, static_cast<double>(i));
        }
    }
}

// Any mix of sentences, damaged lines and noise: the epochs cover the file exactly,
// and a new epoch starts exactly at each sound sentence whose time differs from the
// last sound time.
TEST(ReceiverLogScan, EpochsCoverAnyFileAndStartOnlyAtNewSoundTimes)
{
    TempDir dir;
    std::mt19937 random(16);
    for (int trial = 0; trial < 200; ++trial) {
        std::string text;
        std::vector<std::size_t> expectedStarts;
        std::string lastTime;
        double t = 30000 + trial;
        const int lines = 1 + static_cast<int>(random() % 60);
        for (int i = 0; i < lines; ++i) {
            const auto kind = random() % 8;
            const std::string lineEnd = std::vector<std::string>{"\n", "\r\n", "\r"}[random() % 3];
            std::string line;
            bool timed = false;
            std::string time = clock(t);
            if (kind == 0) {  // a sound fix, sometimes at a new time
                if (random() % 2) t += 0.2;
                time = clock(t);
                line = sentence("GNRMC," + time + ",A,4807.038,N,01131.000,E,,,230394,,");
                timed = true;
            } else if (kind == 1) {  // a bad checksum
                line = sentence("GPGGA," + clock(t + 7) + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
                line.back() = line.back() == '0' ? '1' : '0';
            } else if (kind == 2) {  // a fix sentence run together with the next: too long
                line = sentence("GPGGA," + clock(t + 9) + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") +
                       sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1");
            } else if (kind == 3) {  // binary noise without line ends
                for (int n = static_cast<int>(random() % 40); n > 0; --n) {
                    char c = static_cast<char>(random() % 256);
                    if (c != '\r' && c != '\n') line.push_back(c);
                }
            } else if (kind == 4) {  // an empty time field, as before a fix
                line = sentence("GPGGA,,,,,,0,00,99.99,,,,,,");
            } else {
                line = sentence("GPGSV,1,1,01,03,03,111,00");
            }
            if (timed && time != lastTime) expectedStarts.push_back(text.size());
            if (timed) lastTime = time;
            text += line + lineEnd;
        }
        if (random() % 2) text.pop_back();  // sometimes no end on the last line
        writeFileBytes(dir / "log.nmea", text);
        const auto log = readReceiverLog(dir / "log.nmea");
        ASSERT_EQ(log.epochs.size(), expectedStarts.size()) << "trial " << trial;
        std::string joined;
        for (const auto& bytes : epochBytes(log, text)) joined += bytes;
        if (!log.epochs.empty()) {
            EXPECT_EQ(joined, text) << "trial " << trial;
            for (std::size_t i = 1; i < log.epochs.size(); ++i)
                EXPECT_EQ(static_cast<std::size_t>(log.epochs[i].offset), expectedStarts[i]) << "trial " << trial;
        }
    }
}

TEST(ReceiverLogScan, BadInput)
{
    TempDir dir;
    // No time at all: said so, nothing to play.
    const auto none = scanLog(dir, joinEpochs({{sentence("GPGSA,A,1,,,,,,,,,,,,,,,"), sentence("PGRMZ,93,f,3")}}));
    EXPECT_FALSE(none.measured);
    EXPECT_NE(none.message.find("no fix time"), std::string::npos) << none.message;
    EXPECT_TRUE(none.typeText.empty());
    // One fix time only.
    EXPECT_FALSE(scanLog(dir, joinEpochs(carLog(100, 1))).measured);

    // Time goes back: a new segment one interval after the last fix, and a note.
    auto epochs = carLog(5000, 5);
    const auto again = carLog(4000, 3);
    epochs.insert(epochs.end(), again.begin(), again.end());
    const auto back = scanLog(dir, joinEpochs(epochs));
    ASSERT_TRUE(back.measured);
    EXPECT_EQ(back.count, 8);
    EXPECT_EQ(back.lengthText, "File length : 8s");
    ASSERT_EQ(back.notes.size(), 1u);
    EXPECT_NE(back.notes[0].find("time goes back from 01:23:24 to 01:06:40 at line 41"), std::string::npos)
        << back.notes[0];
    EXPECT_DOUBLE_EQ(back.log->epochs[5].time, 5.0);
}

// The engine playing a receiver log; text is the file as written.
struct LogRig : EngineRig {
    std::string text;

    void load(const std::string& fileText)
    {
        text = fileText;
        loadBytes("log.nmea", text, true);
    }
};

TEST(ReceiverLogReplay, EachEpochWholeOnItsOwnScheduleWithGapsShortened)
{
    LogRig rig;
    const auto epochs = rtkLog(86399.8, 6, 2, 30.0);  // across midnight, with a 30 s gap
    std::string text = joinEpochs(epochs);
    text.resize(text.size() - 2);  // the last line without line end
    rig.load(text);
    rig.engine.options().maxGap = 5.0;
    rig.engine.start(0, 2.0);
    EXPECT_DOUBLE_EQ(rig.timer.rate, 2.0);
    ASSERT_TRUE(rig.timer.schedule);
    // Playback seconds of each tick: the gap of 30 s plays as 5 s; then the end of the
    // file one interval after the last fix.
    const double expected[] = {0.0, 0.1, 0.2, 5.2, 5.3, 5.4, 5.5};
    for (long long n = 1; n <= 7; ++n) EXPECT_NEAR(rig.timer.schedule(n), expected[n - 1], 1e-9) << n;

    // VTG box off or on, a receiver log is sent whole, each epoch in one write.
    for (std::size_t i = 0; i < epochs.size(); ++i) {
        std::string expectedBytes = joinEpochs({epochs[i]});
        EXPECT_EQ(rig.tick(), expectedBytes) << i;
        EXPECT_EQ(rig.view.position, static_cast<long long>(i + 1));
    }
    EXPECT_EQ(rig.view.preview.substr(0, 7), "$GPGGA,");
    EXPECT_EQ(std::count(rig.view.preview.begin(), rig.view.preview.end(), '\n'), 4);
    EXPECT_EQ(rig.tick(), "");
    EXPECT_EQ(rig.engine.playback(), ReplayView::Playback::Idle);
}

TEST(ReceiverLogReplay, PauseRepeatFullQueueAndWriteErrorLoseNothing)
{
    LogRig rig;
    const auto epochs = carLog(600, 4);
    rig.load(joinEpochs(epochs));
    rig.engine.options().repeat = true;
    rig.engine.start(0, 1.0);
    EXPECT_EQ(rig.tick(), joinEpochs({epochs[0]}));
    // A full port queue skips the tick; the next one sends both epochs due.
    rig.port.queued = outputQueueLimit + 1;
    EXPECT_EQ(rig.tick(), "");
    EXPECT_EQ(rig.view.buffer, bufferFullText);
    rig.port.queued = 0;
    EXPECT_EQ(rig.tick(), joinEpochs({epochs[1], epochs[2]}));
    // Pause and Start: the schedule counts again from the next epoch.
    rig.engine.pause();
    rig.engine.start(0, 1.0);
    EXPECT_DOUBLE_EQ(rig.timer.schedule(1), 0.0);
    EXPECT_DOUBLE_EQ(rig.timer.schedule(2), 1.0);  // the end, one interval on
    rig.port.failWrites = true;
    EXPECT_EQ(rig.tick(), "");
    EXPECT_EQ(rig.engine.playback(), ReplayView::Playback::Paused);
    rig.port.failWrites = false;
    rig.engine.start(0, 1.0);
    EXPECT_EQ(rig.tick(), joinEpochs({epochs[3]}));
    // Repeat: the end tick rewinds and the first epoch follows at once.
    EXPECT_EQ(rig.tick(), "");
    EXPECT_EQ(rig.view.position, 0);
    EXPECT_DOUBLE_EQ(rig.timer.schedule(1), 0.0);
    EXPECT_EQ(rig.tick(), joinEpochs({epochs[0]}));
    // A new speed while playing goes to the running timer.
    rig.engine.setSpeed(5.0);
    EXPECT_DOUBLE_EQ(rig.timer.rate, 5.0);
}

// The engine on the real timer with a fake clock: each epoch leaves when the
// playback clock reaches its time, and a speed change mid-way does not jump.
TEST(ReceiverLogReplay, PacingAndSpeedChangeOnTheTimerClock)
{
    using namespace std::chrono_literals;
    FakePort port;
    ScriptedPrompt prompt;
    RecordingView view;
    FakeClock clock;
    QueueDispatcher dispatcher;
    HighPrecisionTimer timer(dispatcher, &clock);
    ReplayEngine engine(port, timer, prompt, view);
    std::vector<std::pair<std::chrono::nanoseconds, std::size_t>> sent;  // due time, bytes written so far
    timer.setHandler([&](const TimerTick& tick) {
        engine.step();
        sent.emplace_back(tick.due.time_since_epoch(), port.written.size());
    });
    TempDir dir;
    const auto epochs = handheldLog(100, 6);  // every 2 s
    writeFileBytes(dir / "log.nmea", joinEpochs(epochs));
    const auto scan = scanfile(dir / "log.nmea", false);
    ASSERT_TRUE(engine.useReplayFile((dir / "log.nmea").string(), *scan));
    ASSERT_TRUE(engine.connect("1", std::nullopt));
    const auto pump = [&] {
        while (dispatcher.runOne(150ms)) {
        }
    };
    engine.start(0, 1.0);  // at 1 s
    pump();
    clock.set(3s + 500ms);
    pump();
    ASSERT_EQ(sent.size(), 2u);  // at 1 s and 3 s
    EXPECT_EQ(sent[1].first, 3s);
    EXPECT_EQ(sent[1].second, joinEpochs({epochs[0], epochs[1]}).size());
    // At 4 s, half-way to the third fix, 2x: the third fix follows 0.5 s later.
    clock.set(4s);
    engine.setSpeed(2.0);
    clock.set(4s + 499ms);
    pump();
    EXPECT_EQ(sent.size(), 2u);
    clock.set(6s + 499ms);
    pump();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[2].first, 4s + 500ms);
    EXPECT_EQ(sent[3].first, 5s + 500ms);
    EXPECT_EQ(port.written, joinEpochs({epochs[0], epochs[1], epochs[2], epochs[3]}));
}

}  // namespace
// An owner that fell behind the clock (a busy loop, many clients) gets the overdue ticks
// one by one; the first of them sends every epoch due by then, the rest send nothing, so
// the playback keeps to the clock instead of slowing to one epoch per late tick.
TEST(ReceiverLogReplay, AnOwnerThatFellBehindCatchesUpWithTheClockAtOnce)
{
    using namespace std::chrono_literals;
    FakePort port;
    ScriptedPrompt prompt;
    RecordingView view;
    FakeClock clock;
    QueueDispatcher dispatcher;
    HighPrecisionTimer timer(dispatcher, &clock);
    ReplayEngine engine(port, timer, prompt, view);
    std::vector<std::size_t> written;  // bytes written so far, after each tick
    timer.setHandler([&](const TimerTick& tick) {
        engine.step(tick.lastDue);
        written.push_back(port.written.size());
    });
    TempDir dir;
    const auto epochs = handheldLog(100, 6);  // every 2 s
    writeFileBytes(dir / "log.nmea", joinEpochs(epochs));
    const auto scan = scanfile(dir / "log.nmea", false);
    ASSERT_TRUE(engine.useReplayFile((dir / "log.nmea").string(), *scan));
    ASSERT_TRUE(engine.connect("1", std::nullopt));
    const auto pump = [&] {
        while (dispatcher.runOne(150ms)) {
        }
    };
    engine.start(0, 1.0);  // at 1 s
    pump();
    clock.set(9s + 1ms);  // epochs 1 to 4 fell due at 3, 5, 7 and 9 s
    pump();
    ASSERT_EQ(written.size(), 5u);
    const std::size_t upToFour = joinEpochs({epochs[0], epochs[1], epochs[2], epochs[3], epochs[4]}).size();
    EXPECT_EQ(written[1], upToFour);
    EXPECT_EQ(written[4], upToFour);
    clock.set(10s);
    pump();
    EXPECT_EQ(written.size(), 5u);
    clock.set(11s);
    pump();
    ASSERT_EQ(written.size(), 6u);
    EXPECT_EQ(port.written, joinEpochs({epochs[0], epochs[1], epochs[2], epochs[3], epochs[4], epochs[5]}));
}

}  // namespace trajix::test

// Real-time pacing: a fake clock drives the pacer through pieces that are ready early,
// on time and late; and TrajixBinary --realtime takes the signal's own time.
#include <chrono>
#include <random>

#include <gtest/gtest.h>

#include "scenario/plenarch.hpp"
#include "signal/realtime_pacer.hpp"
#include "test_support.hpp"

using namespace trajix;
using trajix::test::readFileBytes;
using trajix::test::runProgram;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

TEST(RealTimePacer, PiecesLeaveNoEarlierThanTheLeadAndEachLateStretchIsNotedOnce)
{
    std::mt19937_64 random(7);
    for (int trial = 0; trial < 200; ++trial) {
        double now = 1000 * std::uniform_real_distribution<double>(0, 1)(random);
        std::vector<std::string> notes;
        RealTimePacer pacer([&](const std::string& n) { notes.push_back(n); }, [&] { return now; },
                            [&](double seconds) {
                                ASSERT_GT(seconds, 0);
                                now += seconds;
                            });
        const double piece = 0.04;
        double origin = 0, lastLeft = -1;
        int stretches = 0;
        bool late = false;
        for (int p = 0; p < 300; ++p) {
            // The generator needs up to 1.3 pieces' time per piece, now and then much more.
            const double work =
                random() % 50 == 0 ? 0.5 : piece * 1.3 * std::uniform_real_distribution<double>(0, 1)(random);
            now += work;
            const double ready = now;
            pacer.beforePiece(p * piece);
            if (p == 0) {
                EXPECT_EQ(now, ready);
                origin = now + RealTimePacer::lead;
                lastLeft = now;
                continue;
            }
            const double due = origin + p * piece;
            if (ready > due) {
                // Late: it leaves at once, noted unless the stretch was already noted.
                EXPECT_EQ(now, ready);
                if (!late) ++stretches;
                late = true;
                origin = now + RealTimePacer::lead - p * piece;
            } else {
                // Never earlier than the lead before its time, never later than needed.
                EXPECT_NEAR(now, std::max(ready, due - RealTimePacer::lead), 1e-9);
                if (ready < due - RealTimePacer::lead) late = false;
            }
            EXPECT_GE(now, lastLeft);
            lastLeft = now;
        }
        EXPECT_EQ(static_cast<int>(notes.size()), stretches) << trial;
        EXPECT_EQ(pacer.timesBehind(), stretches);
        if (!notes.empty()) {
            EXPECT_NE(notes.front().find("behind real time at"), std::string::npos) << notes.front();
        }
    }
}

TEST(RealTimePacer, TrajixBinaryStreamsAtTheSignalsOwnRate)
{
    TempDir dir;
    const auto tools = dir / "GPStools";
    std::filesystem::create_directories(tools);
    writeFileBytes(tools / "nmeaInput.txt", "$GPGGA\r\n");
    ScenarioEdits edits;
    edits.duration = "2";
    writeFileBytes(tools / "profile.txt", scenarioProfileText(edits, dir.path().string()));
    const auto generator = (std::filesystem::path(TRAJIX_BINARY_DIR) / "cli" / "TrajixBinary").string();
    const auto begin = std::chrono::steady_clock::now();
    const auto result =
        runProgram(generator, {"--noise-only", "--realtime", "--output", "-", (tools / "profile.txt").string()});
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.size(), 2u * 2046000u);
    // The last piece leaves at the lead before its time, 1.96 s after the first.
    EXPECT_GE(elapsed, 1.96 - RealTimePacer::lead - 0.01);
    EXPECT_FALSE(std::filesystem::exists(tools / "output.dsf"));
}

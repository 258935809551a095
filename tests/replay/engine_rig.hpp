#pragma once
// A replay engine on fake port, timer, prompt and view, playing a file written to a
// temporary folder: the engine and receiver-log tests drive it tick by tick.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "replay/engine.hpp"
#include "replay/scan.hpp"
#include "replay_fixtures.hpp"
#include "test_support.hpp"

namespace trajix::test {

struct EngineRig {
    FakePort port;
    FakeTimer timer;
    ScriptedPrompt prompt;
    RecordingView view;
    ReplayEngine engine{port, timer, prompt, view};
    TempDir dir;

    /// Writes bytes as the file name, scans it (a receiver log or not, as said) and connects.
    void loadBytes(const std::string& name, const std::string& bytes, bool receiverLog, bool hdtGll = false)
    {
        const auto path = dir / name;
        writeFileBytes(path, bytes);
        const auto scan = scanfile(path, hdtGll);
        ASSERT_TRUE(scan && scan->measured);
        ASSERT_EQ(scan->receiverLog, receiverLog);
        ASSERT_TRUE(engine.useReplayFile(path.string(), *scan));
        ASSERT_TRUE(engine.connect("1", std::nullopt));
    }
    /// Writes lines as the replay file, scans it and connects.
    void load(const std::vector<std::string>& lines, bool hdtGll = false)
    {
        loadBytes("replay.txt", crlfLines(lines), false, hdtGll);
    }
    /// One tick; returns what it sent.
    std::string tick()
    {
        port.written.clear();
        engine.step();
        return port.written;
    }
};

}  // namespace trajix::test

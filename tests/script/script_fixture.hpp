#pragma once
// Runs scripts given as text, recording the messages, charts and progress.
#include <string>
#include <vector>

#include "script/script.hpp"
#include "test_support.hpp"

namespace trajix::test {

class RecordingCharts final : public ScriptCharts {
public:
    void clear() override
    {
        ++cleared;
        points.clear();
    }
    void addPoint(const ScriptChartPoint& point) override { points.push_back(point); }
    int cleared = 0;
    std::vector<ScriptChartPoint> points;
};

struct ScriptRun {
    ScriptState state;
    ScriptOptions options;
    RecordingProgress progress;
    ScriptedPrompt prompt;
    RecordingCharts charts;

    ScriptResult run(std::string_view script, const std::string& target = "preview")
    {
        return ConvertCmdFile(state, splitScriptLines(script), target, options, progress, prompt, charts);
    }
    /// Steps recorded, not counting the seed.
    std::int64_t steps() const { return state.sampleCount - 1; }
};

}  // namespace trajix::test

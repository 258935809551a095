// Command scripts: any text parses and checks to commands or an Error naming the line;
// scripts the check estimates short enough are also run as a preview and written at
// 20 Hz into a temporary folder.
#include <cstdint>
#include <string_view>

#include "common/error.hpp"
#include "fuzz/fuzz_support.hpp"
#include "script/script.hpp"

namespace {

class NoCharts final : public trajix::ScriptCharts {};

// 60 s of script time: every run stays well inside the per-input time limit.
constexpr std::int64_t runStepLimit = 60000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = trajix::splitScriptLines(text);
    trajix::ScriptOptions options;
    std::int64_t steps = 0;
    try {
        steps = trajix::checkScript(trajix::parseScript(lines).commands, options);
    } catch (const trajix::Error&) {
        return 0;
    }
    if (steps < 0) __builtin_trap();
    if (steps > runStepLimit) return 0;
    trajix::NullProgress progress;
    trajix::fuzz::NoPrompt prompt;
    NoCharts charts;
    for (const bool preview : {true, false}) {
        trajix::ScriptState state;
        const std::string target =
            preview ? std::string("preview") : (trajix::fuzz::tempFolder().path() / "out.nmea").string();
        try {
            trajix::ConvertCmdFile(state, lines, target, options, progress, prompt, charts);
        } catch (const trajix::Error&) {
        }
    }
    return 0;
}

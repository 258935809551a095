// The command language: reading script lines, checking a script before it runs, and
// running it.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <string_view>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/units.hpp"
#include "script/script.hpp"

namespace trajix {

namespace {

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

using Name = ScriptCommand::Name;

// What the number after "=" of a name is, for the message that it is not one.
std::string_view quantity(Name name)
{
    switch (name) {
        case Name::Lat:
            return "a latitude in degrees";
        case Name::Long:
            return "a longitude in degrees";
        case Name::Height:
            return "a height in metres";
        case Name::Vel:
            return "a speed in km/h";
        case Name::Hdg:
            return "a heading in degrees";
        case Name::Time:
            return "a time of day in seconds";
        case Name::None:
            break;
    }
    return "a number";
}

// The number piece holds, a piece of the lower-cased text of original. A piece that is
// no number is refused naming it as the user typed it and what it should have been
// ("'fast' is not a speed in km/h").
double parseValue(std::string_view piece, std::string_view text, std::string_view original, std::string_view what,
                  int line)
{
    try {
        return parseDouble(piece);
    } catch (const Error&) {
        // Lower-casing keeps every byte where it was: the piece is found in the original.
        std::string_view typed =
            piece.empty() ? std::string_view()
                          : original.substr(static_cast<std::size_t>(piece.data() - text.data()), piece.size());
        const std::size_t first = typed.find_first_not_of(" \t");
        typed = first == std::string_view::npos ? std::string_view()
                                                : typed.substr(first, typed.find_last_not_of(" \t") - first + 1);
        if (typed.empty())
            throw Error(
                fmt::format("line {}: '{}' gives no {}", line, visibleText(original), what.substr(what.find(' ') + 1)));
        throw Error(
            fmt::format("line {}: '{}' is not {} (in '{}')", line, visibleText(typed), what, visibleText(original)));
    }
}

struct NameSpelling {
    std::string_view text;  // lower case, as the line is read
    Name name;
    bool changes;  // also names a change (name=target@amount), not only a set
};

// "heading" sets the heading as "hdg" does: the command help documents it as the
// initial heading. It names no change.
constexpr NameSpelling nameSpellings[] = {
    {"lat", Name::Lat, false}, {"long", Name::Long, false}, {"height", Name::Height, true}, {"vel", Name::Vel, true},
    {"hdg", Name::Hdg, true},  {"time", Name::Time, false}, {"heading", Name::Hdg, false},
};

// The quantity the text before "=" names in a set line (change false) or a change line
// (change true); nothing when it names none.
std::optional<Name> commandName(std::string_view text, bool change)
{
    for (const NameSpelling& spelling : nameSpellings)
        if (spelling.text == text && (spelling.changes || !change)) return spelling.name;
    return std::nullopt;
}

// The text between positions from (exclusive) and to (exclusive); empty when to does
// not lie after from, as a copy with a negative count gives.
std::string_view between(std::string_view text, std::size_t from, std::size_t to)
{
    if (to == std::string_view::npos || from == std::string_view::npos || to <= from) return {};
    return text.substr(from + 1, to - from - 1);
}

void parseLine(std::string_view original, int line, std::vector<ScriptCommand>& commands)
{
    const std::string text = lowerCase(original);
    if (text.empty() || text == ".end") return;
    const std::size_t equals = text.find('=');
    const std::size_t at = text.find('@');
    // Two commands typed on one line would each read a piece of the other as their number
    // (a wait drops the line's last character, a change stops at the first unit letter).
    const bool waits = text.find("wait") != std::string::npos;
    if (equals != std::string::npos && (waits || text.find('=', equals + 1) != std::string::npos) &&
        (commandName(std::string_view(text).substr(0, equals), at != std::string::npos) || waits))
        throw Error(fmt::format("line {}: '{}' holds more than one command: put each command on a line of its own",
                                line, visibleText(original)));
    if (equals != std::string::npos) {
        const bool change = at != std::string::npos;
        if (const std::optional<Name> name = commandName(std::string_view(text).substr(0, equals), change)) {
            ScriptCommand command;
            command.line = line;
            command.name = *name;
            if (!change) {
                command.kind = ScriptCommand::Kind::Set;
                command.value =
                    parseValue(std::string_view(text).substr(equals + 1), text, original, quantity(*name), line);
            } else {
                // The target comes first: in "vel=fast@10s" the fault is "fast", not the
                // unit (whose search below would stop at the "s" of "fast").
                command.kind = ScriptCommand::Kind::Change;
                command.value = parseValue(between(text, equals, at), text, original, quantity(*name), line);
                // The unit is metres when the line has an "m" anywhere; the amount runs up
                // to the line's first "m" (or first "s" for seconds).
                command.metres = text.find('m') != std::string::npos;
                const std::size_t unit = text.find(command.metres ? 'm' : 's');
                if (unit == std::string::npos || unit < at)
                    throw Error(
                        fmt::format("line {}: '{}' needs its amount in seconds or metres after the "
                                    "'@' (hdg=90@5s, vel=50@100m)",
                                    line, visibleText(original)));
                command.amount = parseValue(between(text, at, unit), text, original,
                                            command.metres ? "a distance in metres" : "a time in seconds", line);
            }
            commands.push_back(command);
        }
    }
    if (text.find("wait") != std::string::npos) {
        // The seconds run from the 6th character and drop the last one, the unit letter
        // ("wait 10s" is 10 s; "wait 10" is 1 s).
        ScriptCommand command;
        command.kind = ScriptCommand::Kind::Wait;
        command.line = line;
        const std::string_view seconds = text.size() > 6 ? std::string_view(text).substr(5, text.size() - 6) : "";
        command.value = parseValue(seconds, text, original, "a time in seconds", line);
        commands.push_back(std::move(command));
    }
}

[[noreturn]] void refuse(const ScriptCommand& command, std::string_view why)
{
    throw Error(fmt::format("line {}: {}", command.line, why));
}

// Speeds from 0 to scriptMaxSpeed km/h: far beyond any vehicle, and small enough that
// every speed change's search ends quickly.
void checkSpeed(const ScriptCommand& command)
{
    if (command.value < 0) refuse(command, fmt::format("a speed of {} km/h: speeds must be 0 or more", command.value));
    if (command.value > scriptMaxSpeed)
        refuse(command,
               fmt::format("a speed of {} km/h: speeds must be at most {} km/h", command.value, scriptMaxSpeed));
}

// Steps a climb of dh metres at vertical speed rate takes, ramping at accel.
double climbSteps(double dh, double rate, double accel)
{
    dh = std::fabs(dh);
    rate = std::fabs(rate);
    if (dh == 0 || rate == 0) return 0;
    const double seconds = std::max(dh / rate + rate / accel, std::sqrt(2 * dh / accel));
    return seconds / integrationStep;
}

// Carries out a set line: the value becomes the current one.
void applySet(ScriptState& state, const ScriptCommand& c)
{
    switch (c.name) {
        case Name::Lat:
            state.geoLatitude = c.value;
            break;
        case Name::Long:
            state.geoLongitude = c.value;
            break;
        case Name::Height:
            state.currentHeight = c.value;
            break;
        case Name::Vel:
            state.currentSpeed = c.value / kmhPerMetrePerSecond;
            break;
        case Name::Hdg:
            state.currentHeading = c.value;
            break;
        case Name::Time:
            state.output.outputClock = c.value;
            break;
        case Name::None:
            break;
    }
}

// Carries out a change line: the motion primitive that reaches the target over the
// amount, in metres or seconds.
void applyChange(ScriptState& state, ScriptEnvironment& env, const ScriptCommand& c)
{
    switch (c.name) {
        case Name::Vel:
            if (c.metres)
                accelDist(state, env, c.value / kmhPerMetrePerSecond, c.amount);
            else
                acceltime(state, env, c.value / kmhPerMetrePerSecond, c.amount);
            break;
        case Name::Hdg:
            if (c.metres)
                turnRadius(state, env, c.value, c.amount);
            else
                turnTime(state, env, c.value, c.amount);
            break;
        case Name::Height:
            if (c.metres)
                climbDist(state, env, c.value, c.amount);
            else
                climbTime(state, env, c.value, c.amount);
            break;
        case Name::Lat:
        case Name::Long:
        case Name::Time:
        case Name::None:
            break;  // names no change
    }
}

int countLines(const std::vector<std::string>& lines)
{
    const int available = static_cast<int>(std::min<std::size_t>(lines.size(), scriptMaxLines));
    for (int i = 0; i < available; ++i)
        if (lines[static_cast<std::size_t>(i)] == ".end") return i + 1;
    // Without ".end" the lines after the last one are empty and do nothing: the gauge
    // runs over the lines there are (over 10000 a short script stood at 0 %).
    return std::max(available, 1);
}

}  // namespace

void squareTrackAxes(AxisRange& horizontal, AxisRange& vertical)
{
    const double width = horizontal.maximum - horizontal.minimum;
    const double height = vertical.maximum - vertical.minimum;
    if (width > height) {
        const double half = std::trunc(width - height) / 2;
        vertical.minimum -= half;
        vertical.maximum += half;
    } else if (height > width) {
        const double half = std::trunc(height - width) / 2;
        horizontal.minimum -= half;
        horizontal.maximum += half;
    }
}

std::vector<std::string> splitScriptLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", begin);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(begin));
            break;
        }
        lines.emplace_back(text.substr(begin, end - begin));
        begin = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

ParsedScript parseScript(const std::vector<std::string>& lines)
{
    ParsedScript script;
    // Lines missing from a script without ".end" read as empty; the run stops after
    // ".end" (compared lower-cased) or at the 10000th line.
    const std::size_t count = std::min<std::size_t>(lines.size(), scriptMaxLines);
    for (std::size_t i = 0; i < count; ++i) {
        if (lowerCase(lines[i]) == ".end") break;
        const int line = static_cast<int>(i + 1);
        const std::size_t before = script.commands.size();
        parseLine(lines[i], line, script.commands);
        const bool blank = lines[i].find_first_not_of(" \t") == std::string::npos;
        if (script.commands.size() == before && !blank) script.unmatchedLines.push_back({line, lines[i]});
    }
    return script;
}

std::string unmatchedLinesMessage(const std::vector<UnmatchedLine>& lines)
{
    if (lines.empty()) return {};
    constexpr std::size_t shownLines = 20;
    constexpr std::size_t shownBytes = 60;
    std::string message = lines.size() == 1 ? "1 line matches no command and had no effect:"
                                            : fmt::format("{} lines match no command and had no effect:", lines.size());
    for (std::size_t i = 0; i < std::min(lines.size(), shownLines); ++i) {
        const std::string& text = lines[i].text;
        std::size_t cut = std::min(text.size(), shownBytes);
        // Never cut inside a UTF-8 character.
        while (cut < text.size() && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        message += fmt::format("\nline {}: ", lines[i].line);
        for (const char c : std::string_view(text).substr(0, cut)) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F)
                message += fmt::format("\\x{:02X}", byte);
            else
                message += c;
        }
        if (cut < text.size()) message += "...";
    }
    if (lines.size() > shownLines) message += fmt::format("\nand {} more", lines.size() - shownLines);
    return message;
}

std::int64_t checkScript(const std::vector<ScriptCommand>& commands, const ScriptOptions& options,
                         std::int64_t keepStride)
{
    if (!std::isfinite(options.userMaxJerk) || options.userMaxJerk <= 0)
        throw Error(fmt::format("max jerk {} g/s: the jerk must be above 0", options.userMaxJerk));
    if (!std::isfinite(options.routeJerk))
        throw Error(fmt::format("route jerk {} g/s is not a number", options.routeJerk));
    double speed = 0;
    double height = 0;
    bool heightKnown = false;  // the height carried over from the last run is not known here
    double accel = std::max(options.routeJerk * scriptGravity, 0.981);
    double steps = 0;
    for (const ScriptCommand& c : commands) {
        // Far beyond any speed, height, heading, time or distance; larger values would
        // not fit the 32-bit step arrays.
        constexpr double valueLimit = 1e15;
        if (std::fabs(c.value) > valueLimit || std::fabs(c.amount) > valueLimit)
            refuse(c,
                   fmt::format("the value {} is out of range", std::fabs(c.value) > valueLimit ? c.value : c.amount));
        if (c.kind == ScriptCommand::Kind::Wait) {
            if (c.value > 0) steps += std::trunc(c.value / integrationStep);
            continue;
        }
        if (c.kind == ScriptCommand::Kind::Set) {
            switch (c.name) {
                case Name::Vel:
                    checkSpeed(c);
                    speed = c.value / kmhPerMetrePerSecond;
                    break;
                case Name::Lat:
                    if (std::fabs(c.value) > 90)
                        refuse(c, fmt::format("a latitude of {} degrees lies beyond the poles", c.value));
                    break;
                case Name::Time:
                    if (c.value < 0)
                        refuse(c, fmt::format("a time of {} s: the time of day must be 0 or more", c.value));
                    break;
                case Name::Height:
                    height = c.value;
                    heightKnown = true;
                    break;
                case Name::Long:
                case Name::Hdg:
                case Name::None:
                    break;
            }
            continue;
        }
        const std::string_view what = !c.metres ? "time" : c.name == Name::Hdg ? "radius" : "distance";
        if (!(c.amount > 0))
            refuse(c, fmt::format("a {} of {} {}: it must be above 0", what, c.amount, c.metres ? "m" : "s"));
        switch (c.name) {
            case Name::Vel: {
                checkSpeed(c);
                const double target = c.value / kmhPerMetrePerSecond;
                accel = options.userMaxJerk * scriptGravity;
                if (!c.metres)
                    steps += c.amount / integrationStep + 1;
                else if (speed + target > 0)
                    steps += c.amount / ((speed + target) / 2) / integrationStep + 1;
                speed = target;
                break;
            }
            case Name::Hdg:
                if (!c.metres)
                    steps += c.amount / integrationStep;
                else if (speed > 0)
                    steps += std::fabs(c.value) / (speed * 360 / (2 * std::numbers::pi * c.amount)) / integrationStep;
                break;
            case Name::Height: {
                if (c.metres && speed == 0)
                    refuse(c, "a height change over a distance needs a speed above 0, and the speed is 0 here");
                const double dh = heightKnown ? c.value - height : 0;
                const double seconds = c.metres ? c.amount / speed : c.amount;
                steps += heightKnown ? climbSteps(dh, dh / seconds, accel) : seconds / integrationStep;
                height = c.value;
                heightKnown = true;
                break;
            }
            case Name::Lat:
            case Name::Long:
            case Name::Time:
            case Name::None:
                break;  // names no change
        }
    }
    // The arrays hold every keepStride-th step (and the start point).
    const double kept = steps / static_cast<double>(std::max<std::int64_t>(keepStride, 1)) + 1;
    const double limit = static_cast<double>(scriptMemoryLimit / scriptBytesPerStep);
    if (kept > limit) {
        const double bytes = kept * static_cast<double>(scriptBytesPerStep);
        throw Error(
            fmt::format("the script needs about {:.0f} steps of 1 ms ({:.0f} s of script time), {:.1f} GiB of "
                        "memory; at most {} GiB can be used",
                        steps + 1, steps * integrationStep, bytes / double(1ULL << 30), scriptMemoryLimit >> 30));
    }
    return static_cast<std::int64_t>(steps);
}

ScriptResult ConvertCmdFile(ScriptState& state, const std::vector<std::string>& lines, const std::string& target,
                            const ScriptOptions& options, ProgressSink& progress, ProgressSink& saving,
                            UserPrompt& prompt, ScriptCharts& charts)
{
    state.previewOnly = target == "preview";
    ParsedScript script = parseScript(lines);
    const std::vector<ScriptCommand>& commands = script.commands;
    // A written run keeps only the steps the writer reads, a preview every step; a bad
    // rate is reported after the script's own faults, as the writer checks it.
    std::int64_t keepStride = 1;
    if (!state.previewOnly) {
        try {
            keepStride = sampleStrideForRate(options.outputRate);
        } catch (const Error&) {
        }
    }
    const std::int64_t expectedSteps = checkScript(commands, options, keepStride);
    if (!state.previewOnly) {
        sampleStrideForRate(options.outputRate);
        checkDateSentences(options.dates);
        // Fails early, before a long run, when the target cannot be created.
        AtomicFile probe(target);
        probe.discard();
    }

    charts.clear();
    resetTrajectory(state, options, expectedSteps, keepStride);
    if (!state.previewOnly) state.output.outputFileName = target;

    ScriptEnvironment env{options, progress, prompt, charts};
    const int lineCount = countLines(lines);
    progress.start(state.previewOnly ? "Previewing the script" : "Generating NMEA file", lineCount);
    int shownLine = -1;
    for (const ScriptCommand& c : commands) {
        env.line = c.line;
        if (c.line != shownLine) {
            progress.position(std::min(c.line - 1, lineCount));
            shownLine = c.line;
            throwIfCancelled(progress, "the run was cancelled");
        }
        switch (c.kind) {
            case ScriptCommand::Kind::Set:
                applySet(state, c);
                break;
            case ScriptCommand::Kind::Change:
                applyChange(state, env, c);
                break;
            case ScriptCommand::Kind::Wait:
                wait(state, env, c.value);
                break;
        }
    }
    progress.position(lineCount);
    progress.finish();

    ScriptResult result;
    result.sampleCount = state.sampleCount;
    result.unmatchedLines = std::move(script.unmatchedLines);
    if (state.previewOnly) {
        result.outcome = ScriptOutcome::Preview;
    } else if (!state.runOk) {
        result.outcome = ScriptOutcome::Unachievable;
    } else if (state.sampleCount < 2) {
        prompt.information("The script records no motion: no NMEA file written");
        result.outcome = ScriptOutcome::NoMotion;
    } else {
        result.sentences = saveNMEA(state, options, saving);
        result.outcome = ScriptOutcome::Written;
    }
    return result;
}

}  // namespace trajix

#pragma once
// Helpers shared by the test suites: temporary folders, whole-file reads, running the
// trajix command, and fakes of the core's callback interfaces.
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/progress.hpp"
#include "common/prompt.hpp"

namespace trajix::test {

/// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

/// Sets an environment variable (or unsets it, for nullopt) for the lifetime of the
/// object, then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name)
    {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string readFileBytes(const std::filesystem::path& path);
void writeFileBytes(const std::filesystem::path& path, std::string_view bytes);

/// A file of tests/data.
std::filesystem::path dataFile(std::string_view name);

/// An NMEA sentence's comma-separated fields up to its checksum, the address first; an
/// empty last field is kept.
std::vector<std::string> nmeaFields(const std::string& sentence);

/// Degrees of an NMEA latitude (two degree digits) or longitude (three), without sign.
double nmeaDegrees(const std::string& text, int degreeDigits);

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

/// Runs the trajix command with arguments (no shell), standard input from stdinText.
CommandResult runTrajix(const std::vector<std::string>& arguments, std::string_view stdinText = {});

/// Runs any program with arguments (no shell).
CommandResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         std::string_view stdinText = {});

/// Nothing when every program (a path such as "/usr/bin/gpsbabel") is installed, else
/// the message a test that needs it fails with: which one is missing and that
/// scripts/setup.sh installs it.
std::optional<std::string> missingTool(std::initializer_list<std::string_view> programs);

/// Fails the test (and returns from it) unless every program named is installed.
#define TRAJIX_REQUIRE_TOOLS(...)                                                         \
    if (const auto trajixMissingTool = ::trajix::test::missingTool({__VA_ARGS__})) { \
        FAIL() << *trajixMissingTool;                                                 \
    }

/// Records every progress call.
class RecordingProgress final : public ProgressSink {
public:
    void start(std::string_view caption, long long maximum) override
    {
        captions.emplace_back(caption);
        maxima.push_back(maximum);
    }
    void position(long long p) override { positions.push_back(p); }
    void inner(int percent) override { innerPercents.push_back(percent); }
    void finish() override { ++finished; }
    bool cancelled() override { return cancelAfter >= 0 && static_cast<long long>(positions.size()) >= cancelAfter; }

    std::vector<std::string> captions;
    std::vector<long long> maxima;
    std::vector<long long> positions;
    std::vector<int> innerPercents;
    int finished = 0;
    long long cancelAfter = -1;  ///< cancel once this many positions were reported
};

/// Records messages and answers questions from a script (Yes when the script is empty).
class ScriptedPrompt final : public UserPrompt {
public:
    void information(std::string_view text) override { messages.emplace_back(text); }
    bool askYesNo(std::string_view question) override
    {
        questions.emplace_back(question);
        if (answers.empty()) return true;
        const bool answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }

    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<bool> answers;
};

}  // namespace trajix::test

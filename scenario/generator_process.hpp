#pragma once
// The external signal generator's run: go.sh started as a child process in its own
// process group, so that the whole run (the shell and the generator it starts) can be
// waited for or ended.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace trajix {

class GeneratorProcess {
public:
    GeneratorProcess() = default;
    GeneratorProcess(const GeneratorProcess&) = delete;
    GeneratorProcess& operator=(const GeneratorProcess&) = delete;
    /// Ends a run that still goes on.
    ~GeneratorProcess();

    /// Starts program with arguments in folder, standard input from /dev/null; output
    /// goes to logFile (created or truncated) when given, else to this process's
    /// standard error. Throws Error when the program cannot be started.
    void start(const std::string& program, const std::vector<std::string>& arguments,
               const std::filesystem::path& folder, const std::optional<std::filesystem::path>& logFile = {});

    bool started() const { return pid_ > 0 || finished_; }
    /// True while the started process has not ended.
    bool running();
    /// Waits for the process to end; returns its exit status (128 + signal when killed).
    int wait();
    /// Ends the run if it still goes on: SIGTERM to its process group, SIGKILL after grace.
    /// Returns true when it had to end it.
    bool terminate(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));
    /// The exit status once ended.
    std::optional<int> exitStatus() const { return finished_ ? std::optional<int>(status_) : std::nullopt; }

private:
    void reap(int rawStatus);

    pid_t pid_ = -1;
    bool finished_ = false;
    int status_ = 0;
};

}  // namespace trajix

#include "scenario/generator_process.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/error.hpp"

namespace trajix {

GeneratorProcess::~GeneratorProcess()
{
    if (pid_ > 0) terminate(std::chrono::milliseconds(500));
}

void GeneratorProcess::start(const std::string& program, const std::vector<std::string>& arguments,
                             const std::filesystem::path& folder, const std::optional<std::filesystem::path>& logFile)
{
    if (pid_ > 0) throw Error(fmt::format("cannot start '{}': a generator run is still going on", program));
    int logFd = -1;
    if (logFile) {
        logFd = ::open(logFile->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (logFd < 0)
            throw Error(fmt::format("cannot create the log '{}': {}", logFile->string(), std::strerror(errno)));
    }
    std::vector<std::string> argvText{program};
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argvText) argv.push_back(text.data());
    argv.push_back(nullptr);
    const std::string folderText = folder.string();

    // A pipe closed on exec tells the parent whether exec worked.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        if (logFd >= 0) ::close(logFd);
        throw Error(fmt::format("cannot start '{}': {}", program, std::strerror(errno)));
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        if (logFd >= 0) ::close(logFd);
        throw Error(fmt::format("cannot start '{}': {}", program, std::strerror(error)));
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        const int nullFd = ::open("/dev/null", O_RDONLY);
        if (nullFd >= 0) ::dup2(nullFd, 0);
        if (logFd >= 0) {
            ::dup2(logFd, 1);
            ::dup2(logFd, 2);
        } else {
            ::dup2(2, 1);  // the generator's chatter is a message, never a result
        }
        int error = 0;
        if (::chdir(folderText.c_str()) != 0) error = errno;
        if (!error) {
            ::execvp(argv[0], argv.data());
            error = errno;
        }
        [[maybe_unused]] ssize_t ignored = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::setpgid(pid, pid);  // also from the parent, so terminate() works at once
    ::close(report[1]);
    if (logFd >= 0) ::close(logFd);
    int error = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    pid_ = pid;
    finished_ = false;
    if (got == static_cast<ssize_t>(sizeof error)) {
        wait();
        throw Error(fmt::format("cannot start '{}' in '{}': {}", program, folderText, std::strerror(error)));
    }
}

void GeneratorProcess::reap(int rawStatus)
{
    status_ = WIFEXITED(rawStatus) ? WEXITSTATUS(rawStatus) : 128 + WTERMSIG(rawStatus);
    finished_ = true;
    pid_ = -1;
}

bool GeneratorProcess::running()
{
    if (pid_ <= 0) return false;
    int rawStatus = 0;
    const pid_t done = ::waitpid(pid_, &rawStatus, WNOHANG);
    if (done == pid_) {
        reap(rawStatus);
        return false;
    }
    return done == 0;
}

int GeneratorProcess::wait()
{
    if (pid_ <= 0) return status_;
    int rawStatus = 0;
    pid_t done;
    do {
        done = ::waitpid(pid_, &rawStatus, 0);
    } while (done < 0 && errno == EINTR);
    if (done == pid_)
        reap(rawStatus);
    else {
        finished_ = true;
        pid_ = -1;
        status_ = 127;
    }
    return status_;
}

bool GeneratorProcess::terminate(std::chrono::milliseconds grace)
{
    if (!running()) return false;
    ::kill(-pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (running()) {
        ::kill(-pid_, SIGKILL);
        wait();
    }
    return true;
}

}  // namespace trajix

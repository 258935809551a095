#include "test_support.hpp"

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace trajix::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "trajix-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string readFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream s;
    s << in.rdbuf();
    return std::move(s).str();
}

void writeFileBytes(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> nmeaFields(const std::string& sentence)
{
    std::vector<std::string> result;
    const std::string body = sentence.substr(0, sentence.find('*'));
    std::size_t begin = 0;
    for (;;) {
        const std::size_t comma = body.find(',', begin);
        result.push_back(body.substr(begin, comma - begin));
        if (comma == std::string::npos) return result;
        begin = comma + 1;
    }
}

double nmeaDegrees(const std::string& text, int degreeDigits)
{
    return std::stod(text.substr(0, degreeDigits)) + std::stod(text.substr(degreeDigits)) / 60;
}

std::optional<std::string> missingTool(std::initializer_list<std::string_view> programs)
{
    for (const std::string_view program : programs)
        if (!std::filesystem::exists(program))
            return std::string(program) + " is missing: scripts/setup.sh installs it";
    return std::nullopt;
}

std::filesystem::path dataFile(std::string_view name) { return std::filesystem::path(TRAJIX_TEST_DATA_DIR) / name; }

CommandResult runProgram(const std::string& program, const std::vector<std::string>& arguments, std::string_view stdinText)
{
    int in[2], out[2], err[2];
    if (::pipe(in) || ::pipe(out) || ::pipe(err)) throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        std::fprintf(stderr, "exec %s: %s\n", program.c_str(), std::strerror(errno));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    // Feed standard input, then close it; read both outputs until they end.
    std::size_t fed = 0;
    if (stdinText.empty()) {
        ::close(in[1]);
        in[1] = -1;
    }
    CommandResult result;
    std::array<char, 65536> buffer;
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen || in[1] >= 0) {
        std::vector<pollfd> fds;
        if (outOpen) fds.push_back({out[0], POLLIN, 0});
        if (errOpen) fds.push_back({err[0], POLLIN, 0});
        if (in[1] >= 0) fds.push_back({in[1], POLLOUT, 0});
        ::poll(fds.data(), fds.size(), -1);
        for (const auto& p : fds) {
            if (!p.revents) continue;
            if (p.fd == in[1]) {
                const ssize_t n = ::write(in[1], stdinText.data() + fed, stdinText.size() - fed);
                if (n > 0) fed += static_cast<std::size_t>(n);
                if (n <= 0 || fed == stdinText.size()) {
                    ::close(in[1]);
                    in[1] = -1;
                }
                continue;
            }
            const ssize_t n = ::read(p.fd, buffer.data(), buffer.size());
            if (n <= 0) {
                (p.fd == out[0] ? outOpen : errOpen) = false;
            } else {
                (p.fd == out[0] ? result.out : result.err).append(buffer.data(), static_cast<std::size_t>(n));
            }
        }
    }
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

CommandResult runTrajix(const std::vector<std::string>& arguments, std::string_view stdinText)
{
    return runProgram(TRAJIX_CLI_PATH, arguments, stdinText);
}

}  // namespace trajix::test

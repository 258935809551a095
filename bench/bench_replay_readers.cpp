// Many TCP readers on one replay: `trajix replay --tcp` plays a 20 Hz receiver log (RMC,
// GGA and GSA per fix) at 1x or 10x while one reader process (this one) holds N
// connections on 127.0.0.1 and notes when each fix reaches each of them. Counters:
//   missing      fixes a reader should have had and did not get (a dropped reader
//                misses all that follow)
//   p99_late_ms  99th percentile of how late the fixes arrive, over every reader and fix
//   max_late_ms  the latest of them
//   last_late_ms how late the last fix reached the last reader: a clock that gave way
//                under the load shows here
//   on_time      1 when nothing is missing and p99 and last stay under one period
//   server_cpu_s processor time of the trajix process (user and system), which a busy
//                machine disturbs less than the lateness
//   load1        the machine's one-minute load average when the run ended
// Lateness is counted from where the least late arrival of all puts the playback start;
// only fixes due half a second after the last reader connected count. The trajix
// program is the one built beside this benchmark (../cli/trajix), or $TRAJIX_BENCH_TRAJIX.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

namespace {

constexpr double rate = 20.0;  // fixes per second of the log
constexpr double playbackSeconds = 12.0;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string sentence(const std::string& body)
{
    unsigned sum = 0;
    for (const char c : body) sum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

// Fix i at 12:00:00 + i / 20 s.
void writeLog(const std::filesystem::path& file, int fixes)
{
    std::ofstream out(file, std::ios::binary);
    for (int i = 0; i < fixes; ++i) {
        const double t = 12 * 3600.0 + i / rate;
        char clock[16];
        std::snprintf(clock, sizeof clock, "%02d%02d%05.2f", static_cast<int>(t / 3600), static_cast<int>(t / 60) % 60,
                      std::fmod(t, 60.0));
        char lat[16];
        std::snprintf(lat, sizeof lat, "4807.%04d", i % 10000);
        out << sentence(std::string("GPRMC,") + clock + ",A," + lat + ",N,01131.000,E,022.4,084.4,120125,003.1,W,A")
            << sentence(std::string("GPGGA,") + clock + "," + lat + ",N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,")
            << sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1");
    }
}

// The fix number of an RMC line, or -1.
int fixOf(const char* line, std::size_t size)
{
    if (size < 17 || std::string_view(line + 3, 4) != "RMC,") return -1;
    const double seconds = std::atoi(std::string(line + 7, 2).c_str()) * 3600.0 +
                           std::atoi(std::string(line + 9, 2).c_str()) * 60.0 +
                           std::atof(std::string(line + 11, 5).c_str());
    return static_cast<int>(std::lround((seconds - 12 * 3600.0) * rate));
}

std::filesystem::path trajixProgram()
{
    if (const char* given = std::getenv("TRAJIX_BENCH_TRAJIX"); given && *given) return given;
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "cli" / "trajix";
}

struct Reader {
    int descriptor = -1;
    std::string pending;
    std::vector<double> arrivals;  // by fix, NaN until it came
    bool ended = false;
};

void BM_ReplayReaders(benchmark::State& state)
{
    const double speed = static_cast<double>(state.range(0));
    const int readerCount = static_cast<int>(state.range(1));
    const int fixes = static_cast<int>(playbackSeconds * rate * speed);
    const double period = 1.0 / rate / speed;
    const auto log = std::filesystem::temp_directory_path() / ("trajix-bench-readers-" + std::to_string(::getpid()));
    writeLog(log, fixes);

    for (auto _ : state) {
        int out[2];
        if (::pipe(out) != 0) return state.SkipWithError("pipe failed");
        const std::string speedText = speed == 1.0 ? "1x" : "10x";
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 2);
            const std::string program = trajixProgram().string();
            ::execl(program.c_str(), program.c_str(), "replay", log.c_str(), "--speed", speedText.c_str(), "--tcp",
                    "127.0.0.1:0", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        std::string first;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') first += c;
        const auto colon = first.rfind(':');
        if (first.rfind("tcp://", 0) != 0 || colon == std::string::npos) {
            ::kill(child, SIGTERM);
            ::waitpid(child, nullptr, 0);
            return state.SkipWithError(("trajix replay did not serve: " + first).c_str());
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(first.substr(colon + 1))));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

        const int poller = ::epoll_create1(EPOLL_CLOEXEC);
        std::vector<Reader> readers(static_cast<std::size_t>(readerCount));
        for (std::size_t r = 0; r < readers.size(); ++r) {
            Reader& reader = readers[r];
            reader.arrivals.assign(static_cast<std::size_t>(fixes), std::nan(""));
            reader.descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(reader.descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
                reader.ended = true;
                continue;
            }
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u64 = r;
            ::epoll_ctl(poller, EPOLL_CTL_ADD, reader.descriptor, &event);
        }
        const double allConnected = now();

        std::vector<epoll_event> events(1024);
        std::vector<char> buffer(1 << 16);
        int open =
            static_cast<int>(std::count_if(readers.begin(), readers.end(), [](const Reader& r) { return !r.ended; }));
        const double give_up = allConnected + playbackSeconds + 15.0;
        while (open > 0 && now() < give_up) {
            const int ready = ::epoll_wait(poller, events.data(), static_cast<int>(events.size()), 200);
            for (int k = 0; k < ready; ++k) {
                Reader& reader = readers[events[static_cast<std::size_t>(k)].data.u64];
                const ssize_t got = ::recv(reader.descriptor, buffer.data(), buffer.size(), MSG_DONTWAIT);
                const double arrived = now();
                if (got <= 0) {
                    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                    ::epoll_ctl(poller, EPOLL_CTL_DEL, reader.descriptor, nullptr);
                    reader.ended = true;
                    --open;
                    continue;
                }
                reader.pending.append(buffer.data(), static_cast<std::size_t>(got));
                std::size_t start = 0;
                for (std::size_t end; (end = reader.pending.find('\n', start)) != std::string::npos; start = end + 1) {
                    const int fix = fixOf(reader.pending.data() + start, end - start);
                    if (fix >= 0 && fix < fixes && std::isnan(reader.arrivals[static_cast<std::size_t>(fix)]))
                        reader.arrivals[static_cast<std::size_t>(fix)] = arrived;
                }
                reader.pending.erase(0, start);
            }
        }
        for (Reader& reader : readers) ::close(reader.descriptor);
        ::close(poller);
        ::close(out[0]);
        ::kill(child, SIGTERM);
        int status = 0;
        rusage server{};
        ::wait4(child, &status, 0, &server);
        const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };

        // The playback start where the least late arrival puts it.
        double origin = 1e300;
        for (const Reader& reader : readers)
            for (int i = 0; i < fixes; ++i)
                if (!std::isnan(reader.arrivals[static_cast<std::size_t>(i)]))
                    origin = std::min(origin, reader.arrivals[static_cast<std::size_t>(i)] - i * period);
        const int firstCounted = std::max(0, static_cast<int>(std::ceil((allConnected + 0.5 - origin) / period)));
        std::vector<double> late;
        long long missing = 0;
        for (const Reader& reader : readers)
            for (int i = firstCounted; i < fixes; ++i) {
                const double arrived = reader.arrivals[static_cast<std::size_t>(i)];
                if (std::isnan(arrived))
                    ++missing;
                else
                    late.push_back(arrived - origin - i * period);
            }
        double lastLate = 0;
        for (const Reader& reader : readers)
            if (!std::isnan(reader.arrivals.back()))
                lastLate = std::max(lastLate, reader.arrivals.back() - origin - (fixes - 1) * period);
        std::sort(late.begin(), late.end());
        const double p99 =
            late.empty() ? 0 : late[static_cast<std::size_t>(0.99 * static_cast<double>(late.size() - 1))];
        double load[1] = {0};
        ::getloadavg(load, 1);
        state.counters["readers"] = readerCount;
        state.counters["counted_fixes"] = fixes - firstCounted;
        state.counters["missing"] = static_cast<double>(missing);
        state.counters["p99_late_ms"] = p99 * 1e3;
        state.counters["max_late_ms"] = late.empty() ? 0 : late.back() * 1e3;
        state.counters["last_late_ms"] = lastLate * 1e3;
        state.counters["period_ms"] = period * 1e3;
        state.counters["on_time"] = missing == 0 && firstCounted < fixes && p99 < period && lastLate < period;
        state.counters["server_cpu_s"] = seconds(server.ru_utime) + seconds(server.ru_stime);
        state.counters["load1"] = load[0];
    }
    std::filesystem::remove(log);
}
// Arguments: speed, readers.
BENCHMARK(BM_ReplayReaders)
    ->Args({1, 250})
    ->Args({1, 500})
    ->Args({1, 1000})
    ->Args({1, 1500})
    ->Args({1, 2000})
    ->Args({10, 100})
    ->Args({10, 250})
    ->Args({10, 500})
    ->Args({10, 750})
    ->Args({10, 1000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

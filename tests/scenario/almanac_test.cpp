#include <atomic>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "qtio/download_file.hpp"
#include "scenario/almanac.hpp"
#include "test_support.hpp"

using namespace trajix;
using trajix::test::readFileBytes;
using trajix::test::runTrajix;
using trajix::test::ScriptedPrompt;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

long long weekOf(const std::string& text)
{
    TempDir dir;
    writeFileBytes(dir / "a.alm", text);
    return readAlmanacWeek(dir / "a.alm");
}

std::string errorOf(const std::string& text)
{
    TempDir dir;
    writeFileBytes(dir / "a.alm", text);
    try {
        readAlmanacWeek(dir / "a.alm");
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(AlmanacWeek, ReadFromColumn29OfTheFirstWeekLine)
{
    const std::string yuma =
        "******** Week 610 almanac for PRN-01 ********\r\n"
        "ID:                         01\r\n"
        "week:                        610\r\n"
        "week:                        999\r\n";
    EXPECT_EQ(weekOf(yuma), 610);
    EXPECT_EQ(weekOf("week:                       0314\n"), 314);
    // A number that starts before column 29 loses its leading digits.
    EXPECT_EQ(weekOf("week:                     12345\n"), 345);
    EXPECT_EQ(weekOf("xx week                     77"), 77);  // no line end after the last line
}

TEST(AlmanacWeek, BadAlmanacsAreRefusedWithTheirName)
{
    EXPECT_NE(errorOf("Week:                        610\n").find("no line containing \"week\""), std::string::npos);
    EXPECT_NE(errorOf("").find("a.alm"), std::string::npos);
    const std::string shortLine = errorOf("ID: 1\nweek: 610\n");
    EXPECT_NE(shortLine.find("line 2"), std::string::npos) << shortLine;
    EXPECT_NE(errorOf("week:                        6x0\n").find("6x0'"), std::string::npos);
    EXPECT_THROW(readAlmanacWeek("/nonexistent/179.alm"), Error);
    TempDir dir;
    EXPECT_THROW(readAlmanacWeek(dir.path()), Error);
}

TEST(AlmanacNames, DayOfYearAndYear)
{
    EXPECT_EQ(almanacRemoteName(fixedAlmanacDate), "019.alm");
    EXPECT_EQ(almanacLocalName(fixedAlmanacDate), "019-2012.alm");
    EXPECT_EQ(almanacLocalName({2024, 12, 31}), "366-2024.alm");
    EXPECT_NE(defaultAlmanacArchiveUrl(2012).find("?Do=gpsArchives&path=ALMANACS/YUMA&year=2012/"), std::string::npos);
}

namespace {

// A one-connection-at-a-time HTTP server on 127.0.0.1 for download tests.
class LoopbackServer {
public:
    enum class Mode { Serve, NotFound, DropHalfWay };

    LoopbackServer(Mode mode, std::string body) : mode_(mode), body_(std::move(body))
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 4) != 0)
            throw std::runtime_error("cannot listen on loopback");
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackServer()
    {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/archive/"; }
    std::string lastPath() const { return lastPath_; }
    int requests() const { return requests_; }

private:
    void serve()
    {
        while (!stopping_) {
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) return;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
                if (got <= 0) break;
                request.append(buffer, static_cast<std::size_t>(got));
            }
            ++requests_;
            const auto firstSpace = request.find(' ');
            lastPath_ = request.substr(firstSpace + 1, request.find(' ', firstSpace + 1) - firstSpace - 1);
            std::string response;
            if (mode_ == Mode::NotFound) {
                response = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found";
            } else {
                response =
                    "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body_.size()) +
                    "\r\nConnection: close\r\n\r\n";
                response += mode_ == Mode::Serve ? body_ : body_.substr(0, body_.size() / 2);
            }
            ::send(client, response.data(), response.size(), MSG_NOSIGNAL);
            ::shutdown(client, SHUT_RDWR);
            ::close(client);
        }
    }

    Mode mode_;
    std::string body_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> requests_{0};
    std::string lastPath_;
};

const std::string almanacBody = [] {
    std::string text;
    for (int prn = 1; prn <= 31; ++prn)
        text += "******** Week 647 almanac for PRN-" + std::to_string(prn) +
                " ********\n"
                "week:                        647\n\n";
    return text;
}();

DownloadFunction loopbackDownload()
{
    return [](const std::string& url, const std::filesystem::path& file) {
        return DownloadFile(url, file, std::chrono::seconds(10));
    };
}

}  // namespace

TEST(AlmanacDownload, WholeFileArrivesUnderTheLocalName)
{
    LoopbackServer server(LoopbackServer::Mode::Serve, almanacBody);
    TempDir dir;
    ScriptedPrompt prompt;
    AlmanacDownloadRequest request;
    request.archiveUrl = server.url();
    request.folder = dir / "trajixV2" / "almanacs";  // created when missing
    std::filesystem::path local;
    EXPECT_EQ(downloadDailyAlmanac(request, loopbackDownload(), prompt, &local), AlmanacDownloadResult::Downloaded);
    EXPECT_EQ(local, request.folder / "019-2012.alm");
    EXPECT_EQ(server.lastPath(), "/archive/019.alm");
    EXPECT_EQ(readFileBytes(local), almanacBody);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"Download complete"});

    // A second request finds the file and stays silent.
    EXPECT_EQ(downloadDailyAlmanac(request, loopbackDownload(), prompt, &local), AlmanacDownloadResult::AlreadyPresent);
    EXPECT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(server.requests(), 1);
}

// A download cut off half way used to leave a partial file that blocked every later one.
TEST(AlmanacDownload, InterruptedDownloadLeavesNoFileAndDoesNotBlockTheNext)
{
    TempDir dir;
    ScriptedPrompt prompt;
    AlmanacDownloadRequest request;
    request.folder = dir.path();
    {
        LoopbackServer dropping(LoopbackServer::Mode::DropHalfWay, almanacBody);
        request.archiveUrl = dropping.url();
        EXPECT_EQ(downloadDailyAlmanac(request, loopbackDownload(), prompt), AlmanacDownloadResult::Failed);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{"Download failed"});
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    }
    {
        LoopbackServer missing(LoopbackServer::Mode::NotFound, "");
        request.archiveUrl = missing.url();
        EXPECT_EQ(downloadDailyAlmanac(request, loopbackDownload(), prompt), AlmanacDownloadResult::Failed);
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    }
    LoopbackServer good(LoopbackServer::Mode::Serve, almanacBody);
    request.archiveUrl = good.url();
    EXPECT_EQ(downloadDailyAlmanac(request, loopbackDownload(), prompt), AlmanacDownloadResult::Downloaded);
    EXPECT_EQ(readFileBytes(dir / "019-2012.alm"), almanacBody);
}

TEST(AlmanacDownload, FailureKeepsAnExistingFileAndRefusedAddressesFail)
{
    TempDir dir;
    writeFileBytes(dir / "keep.alm", "old almanac");
    LoopbackServer dropping(LoopbackServer::Mode::DropHalfWay, almanacBody);
    EXPECT_FALSE(DownloadFile(dropping.url() + "019.alm", dir / "keep.alm", std::chrono::seconds(10)));
    EXPECT_EQ(readFileBytes(dir / "keep.alm"), "old almanac");
    EXPECT_FALSE(DownloadFile("not a url", dir / "x.alm"));
    EXPECT_FALSE(DownloadFile("http://127.0.0.1:1/019.alm", dir / "x.alm", std::chrono::seconds(5)));
    EXPECT_FALSE(std::filesystem::exists(dir / "x.alm"));
    ScriptedPrompt prompt;
    AlmanacDownloadRequest request;
    request.folder = dir / "file-in-the-way" / "almanacs";
    writeFileBytes(dir / "file-in-the-way", "");
    EXPECT_EQ(downloadDailyAlmanac(request, loopbackDownload(), prompt), AlmanacDownloadResult::Failed);
}

TEST(AlmanacDownloadCommand, DownloadsAndReportsOnStdout)
{
    LoopbackServer server(LoopbackServer::Mode::Serve, almanacBody);
    TempDir dir;
    auto result =
        runTrajix({"almanac-download", "--url", server.url(), "--dir", dir.path().string(), "--date", "2024-02-05"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Download complete\n");
    EXPECT_EQ(server.lastPath(), "/archive/036.alm");
    EXPECT_EQ(readFileBytes(dir / "036-2024.alm"), almanacBody);
    result =
        runTrajix({"almanac-download", "--url", server.url(), "--dir", dir.path().string(), "--date", "2024-02-05"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "");

    LoopbackServer dropping(LoopbackServer::Mode::DropHalfWay, almanacBody);
    result = runTrajix({"almanac-download", "--url", dropping.url(), "--dir", dir.path().string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Download failed"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "019-2012.alm"));
    EXPECT_EQ(runTrajix({"almanac-download", "--date", "2024-02-30"}).exitCode, 1);
}

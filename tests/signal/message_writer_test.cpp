// The generator's messages never hold up its samples: posting to a stream nobody reads
// returns at once, and what is written keeps its order and says what was left out.
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tools/message_writer.hpp"

namespace trajix::test {
namespace {

TEST(MessageWriter, AStalledStreamHoldsUpNoPosterAndLosesNoOrder)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::FILE* stream = ::fdopen(ends[1], "w");
    ASSERT_NE(stream, nullptr);
    const std::string padding(200, '.');
    constexpr int posted = 2000;  // 400 kB: far more than the pipe holds while nobody reads
    std::string received;
    std::thread reader;
    {
        MessageWriter writer(stream, 100);
        for (int k = 0; k < posted; ++k) writer.post("line " + std::to_string(k) + " " + padding);
        // Only now does anybody read; the writer writes what waits before it goes.
        reader = std::thread([&] {
            char buffer[4096];
            ssize_t n = 0;
            while ((n = ::read(ends[0], buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<size_t>(n));
        });
    }
    std::fclose(stream);
    reader.join();
    ::close(ends[0]);

    std::istringstream lines(received);
    std::string line;
    int kept = 0, last = -1, leftOut = 0;
    const std::regex note(R"(\((\d+) messages left out: they came faster than they could be written\))");
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, m, note)) {
            leftOut += std::stoi(m[1]);
            continue;
        }
        ASSERT_EQ(line.rfind("line ", 0), 0u) << line;
        const int k = std::stoi(line.substr(5));
        EXPECT_GT(k, last);
        last = k;
        ++kept;
    }
    EXPECT_GT(leftOut, 0);
    EXPECT_EQ(kept + leftOut, posted);
}

}  // namespace
}  // namespace trajix::test

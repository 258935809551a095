#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace trajix {

// Lines for a message stream, written on a thread of their own: a terminal that scrolls
// slowly, or a file on a disk busy writing back, holds up only this thread, never the
// samples that must leave on time. Lines keep their order; when more than `capacity`
// wait, the newest are dropped and their number is written once the queue has room.
class MessageWriter {
public:
    explicit MessageWriter(std::FILE* stream, std::size_t capacity = 4096);
    MessageWriter(const MessageWriter&) = delete;
    MessageWriter& operator=(const MessageWriter&) = delete;
    ~MessageWriter();  // writes what waits, then stops

    // Queues one line (without its line end); never waits for the stream.
    void post(std::string line);

private:
    void run();

    std::FILE* stream_;
    std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> lines_;
    std::size_t dropped_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace trajix

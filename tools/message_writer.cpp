#include "tools/message_writer.hpp"

#include <fmt/format.h>

namespace trajix {

MessageWriter::MessageWriter(std::FILE* stream, std::size_t capacity)
    : stream_(stream), capacity_(capacity), thread_([this] { run(); })
{
}

MessageWriter::~MessageWriter()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void MessageWriter::post(std::string line)
{
    {
        const std::lock_guard lock(mutex_);
        if (lines_.size() >= capacity_) {
            ++dropped_;
            return;
        }
        if (dropped_ > 0) {
            lines_.push_back(
                fmt::format("({} messages left out: they came faster than they could be written)", dropped_));
            dropped_ = 0;
        }
        lines_.push_back(std::move(line));
    }
    changed_.notify_all();
}

void MessageWriter::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !lines_.empty(); });
        if (lines_.empty() && stopping_) break;
        std::deque<std::string> batch;
        batch.swap(lines_);
        lock.unlock();
        for (const std::string& line : batch) fmt::print(stream_, "{}\n", line);
        std::fflush(stream_);
        lock.lock();
    }
    if (dropped_ > 0) {
        fmt::print(stream_, "({} messages left out: they came faster than they could be written)\n", dropped_);
        std::fflush(stream_);
    }
}

}  // namespace trajix

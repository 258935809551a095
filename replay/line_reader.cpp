#include "replay/line_reader.hpp"

#include <fmt/format.h>
#include <fmt/std.h>

#include "common/error.hpp"

namespace trajix {

bool LineReader::open(const std::filesystem::path& path)
{
    close();
    in_.open(path, std::ios::binary);
    path_ = path;
    lineNumber_ = 0;
    return in_.is_open();
}

void LineReader::close()
{
    if (in_.is_open()) in_.close();
    in_.clear();
    lineNumber_ = 0;
}

bool LineReader::atEnd()
{
    if (!in_.is_open()) return true;
    return in_.peek() == std::ifstream::traits_type::eof();
}

bool LineReader::readLine(std::string& line)
{
    line.clear();
    if (!in_.is_open() || !std::getline(in_, line)) {
        if (in_.bad()) throw Error(fmt::format("cannot read {}", path_));
        line.clear();
        return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++lineNumber_;
    return true;
}

void LineReader::rewind()
{
    seek(0);
    lineNumber_ = 0;
}

std::int64_t LineReader::offset()
{
    if (atEnd()) {
        in_.clear();
        in_.seekg(0, std::ios::end);
    }
    return static_cast<std::int64_t>(in_.tellg());
}

void LineReader::seek(std::int64_t offset)
{
    in_.clear();
    in_.seekg(offset);
}

void LineReader::readBytes(std::int64_t offset, std::int64_t size, std::string& out)
{
    if (size <= 0) return;
    const std::size_t before = out.size();
    out.resize(before + static_cast<std::size_t>(size));
    in_.clear();
    in_.seekg(offset);
    in_.read(out.data() + before, static_cast<std::streamsize>(size));
    if (in_.bad()) throw Error(fmt::format("cannot read {}", path_));
    out.resize(before + static_cast<std::size_t>(in_.gcount()));
    in_.clear();
}

}  // namespace trajix

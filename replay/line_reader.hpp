#pragma once
// A text file read line by line, as the replay reads its files: a line ends at LF
// (a CR before it is dropped), and a last line without LF still counts.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace trajix {

class LineReader {
public:
    /// Opens the file; returns false when it cannot be opened.
    bool open(const std::filesystem::path& path);
    void close();
    bool isOpen() const { return in_.is_open(); }
    /// True when no byte is left to read.
    bool atEnd();
    /// Reads the next line into line; returns false (line empty) at the end of the
    /// file. Throws Error when the file cannot be read.
    bool readLine(std::string& line);
    /// Back to the first line.
    void rewind();
    /// Where the next line starts, for seek().
    std::int64_t offset();
    void seek(std::int64_t offset);
    /// Appends size bytes from offset on to out, fewer at the end of the file. Throws
    /// Error when the file cannot be read.
    void readBytes(std::int64_t offset, std::int64_t size, std::string& out);
    /// Lines read since opening or the last rewind.
    long long lineNumber() const { return lineNumber_; }

private:
    std::ifstream in_;
    std::filesystem::path path_;
    long long lineNumber_ = 0;
};

}  // namespace trajix

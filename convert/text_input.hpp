#pragma once
// Line and number readers over the text of a whole input file, shared by the logger
// import and the text conversion. Both keep line numbers for messages.
#include <cstddef>
#include <string_view>

namespace trajix::convert {

/// Reads text line by line. A line ends at LF, CR LF or a lone CR; the last line
/// needs no line end. Lines are returned without their line end.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}
    /// The next line; false at the end of the text.
    bool next(std::string_view& line);
    /// 1-based number of the line last returned (0 before the first).
    std::size_t lineNumber() const { return lineNumber_; }
    /// Offset of the first byte not yet read.
    std::size_t offset() const { return offset_; }

private:
    std::string_view text_;
    std::size_t offset_ = 0;
    std::size_t lineNumber_ = 0;
};

/// One blank-separated word of the input and the line it stands on.
struct Token {
    std::string_view text;
    std::size_t line = 0;
};

/// Splits text into words separated by spaces, tabs and line ends, the way a stream
/// of numbers is read: a line break is just another separator.
class TokenStream {
public:
    /// text begins at the start of line firstLine (1-based) of the file.
    TokenStream(std::string_view text, std::size_t firstLine) : text_(text), line_(firstLine) {}
    /// The next word; false at the end of the text (trailing blanks and line ends
    /// give no further word).
    bool next(Token& token);
    /// Bytes consumed so far, for progress.
    std::size_t offset() const { return offset_; }

private:
    std::string_view text_;
    std::size_t offset_ = 0;
    std::size_t line_;
};

}  // namespace trajix::convert

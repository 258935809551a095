#include "convert/text_input.hpp"

namespace trajix::convert {

bool LineReader::next(std::string_view& line)
{
    if (offset_ >= text_.size()) return false;
    std::size_t end = offset_;
    while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r') ++end;
    line = text_.substr(offset_, end - offset_);
    if (end < text_.size()) {
        // CR LF is one line end; a lone CR ends a line as well.
        if (text_[end] == '\r' && end + 1 < text_.size() && text_[end + 1] == '\n') ++end;
        ++end;
    }
    offset_ = end;
    ++lineNumber_;
    return true;
}

namespace {
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}
}  // namespace

bool TokenStream::next(Token& token)
{
    while (offset_ < text_.size()) {
        const char c = text_[offset_];
        if (c == '\n') {
            ++line_;
        } else if (c == '\r') {
            if (offset_ + 1 >= text_.size() || text_[offset_ + 1] != '\n') ++line_;
        } else if (!isBlank(c)) {
            break;
        }
        ++offset_;
    }
    if (offset_ >= text_.size()) return false;
    const std::size_t start = offset_;
    while (offset_ < text_.size() && !isBlank(text_[offset_]) && text_[offset_] != '\n' && text_[offset_] != '\r')
        ++offset_;
    token.text = text_.substr(start, offset_ - start);
    token.line = line_;
    return true;
}

}  // namespace trajix::convert

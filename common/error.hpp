#pragma once
// The one exception type of the core. Its message names the bad value and where it
// came from; the GUI shows it in a message box, the CLI prints "trajix: error: ...".
#include <stdexcept>
#include <string>
#include <string_view>

namespace trajix {

/// The text with its control bytes shown as escapes: NUL as \0, tab, line feed and
/// carriage return as \t, \n and \r, the others and DEL as \xNN. Messages quote the
/// bytes of inputs through here, so that a quoted token shows every byte and the
/// message ends where it should. keepLineBreaks leaves \n as it is (for whole messages).
inline std::string visibleText(std::string_view text, bool keepLineBreaks = false)
{
    std::string visible;
    visible.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            visible += c;
        } else if (c == '\n') {
            visible += keepLineBreaks ? "\n" : "\\n";
        } else if (c == '\0') {
            visible += "\\0";
        } else if (c == '\t') {
            visible += "\\t";
        } else if (c == '\r') {
            visible += "\\r";
        } else {
            constexpr char digits[] = "0123456789abcdef";
            visible += "\\x";
            visible += digits[byte >> 4];
            visible += digits[byte & 0xf];
        }
    }
    return visible;
}

class Error : public std::runtime_error {
public:
    // Control bytes quoted from a bad input are shown escaped: a NUL would end what()
    // early and cut off the rest of the message (the file and line it names), and the
    // others would move the cursor or the terminal's state when the CLI prints it.
    explicit Error(const std::string& message) : std::runtime_error(visibleText(message, true)) {}
    explicit Error(const char* message) : std::runtime_error(visibleText(message, true)) {}
};

/// The one way a long run ends when the user asks it to stop: thrown from
/// throwIfCancelled (common/progress.hpp) and caught at the edge, where the window shows
/// nothing (the user knows) and the command line reports it like any error. Nothing was
/// written when it arrives.
class Cancelled : public Error {
public:
    explicit Cancelled(const std::string& message) : Error(message) {}
};

}  // namespace trajix

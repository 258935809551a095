#pragma once
// The one exception type of the core. Its message names the bad value and where it
// came from; the GUI shows it in a message box, the CLI prints "trajix: error: ...".
#include <stdexcept>
#include <string>

namespace trajix {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(withVisibleNul(message)) {}
    explicit Error(const char* message) : std::runtime_error(message) {}

private:
    // A NUL byte quoted from a bad input would end what() early and cut off the rest of
    // the message (the file and line it names), so it is shown as \0.
    static std::string withVisibleNul(const std::string& message)
    {
        if (message.find('\0') == std::string::npos) return message;
        std::string visible;
        for (const char c : message) {
            if (c == '\0')
                visible += "\\0";
            else
                visible += c;
        }
        return visible;
    }
};

}  // namespace trajix

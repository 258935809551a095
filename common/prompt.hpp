#pragma once
// Messages and questions for the user. The GUI shows message boxes; the CLI prints
// messages on stderr and answers questions from its flags or the terminal.
#include <string_view>

namespace trajix {

class UserPrompt {
public:
    virtual ~UserPrompt() = default;
    /// An information or warning message with a fixed text.
    virtual void information(std::string_view text) = 0;
    /// A Yes/No question; returns true for Yes.
    virtual bool askYesNo(std::string_view question) = 0;
};

}  // namespace trajix

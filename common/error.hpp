#pragma once
// The one exception type of the core. Its message names the bad value and where it
// came from; the GUI shows it in a message box, the CLI prints "trajix: error: ...".
#include <stdexcept>
#include <string>

namespace trajix {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace trajix

#pragma once
// The command language's help text, as the help window shows it.
#include <string_view>

namespace trajix::gui {

/// One line per command, lines ended by CR LF, the last line without a line end.
extern const std::string_view commandHelpText;

}  // namespace trajix::gui

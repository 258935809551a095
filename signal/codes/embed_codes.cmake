# Writes OUT, a C++ source holding the Galileo E1 ranging codes of DIR (one line of
# hexadecimal digits per PRN, as the ICD prints them) as string tables.
foreach(signal e1b e1c)
  file(STRINGS ${DIR}/galileo_${signal}.hex lines)
  list(LENGTH lines count)
  if(NOT count EQUAL 50)
    message(FATAL_ERROR "${DIR}/galileo_${signal}.hex holds ${count} codes, not 50")
  endif()
  set(table_${signal} "")
  foreach(line ${lines})
    string(STRIP "${line}" line)
    string(LENGTH "${line}" digits)
    if(NOT digits EQUAL 1023 OR NOT line MATCHES "^[0-9A-Fa-f]+$")
      message(FATAL_ERROR "${DIR}/galileo_${signal}.hex has a line that is not 1023 hexadecimal digits")
    endif()
    string(APPEND table_${signal} "    \"${line}\",\n")
  endforeach()
endforeach()
file(WRITE ${OUT}.tmp "// Generated from signal/codes/galileo_e1b.hex and galileo_e1c.hex (see SOURCES.md there).
#include \"signal/galileo_e1.hpp\"

namespace trajix::galileo::detail {
extern const char* const e1bHex[e1PrnCount];
extern const char* const e1cHex[e1PrnCount];
const char* const e1bHex[e1PrnCount] = {
${table_e1b}};
const char* const e1cHex[e1PrnCount] = {
${table_e1c}};
}  // namespace trajix::galileo::detail
")
file(RENAME ${OUT}.tmp ${OUT})

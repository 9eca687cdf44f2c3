#ifndef KEVRA_COMMON_ONE_LINE_TEXT_H
#define KEVRA_COMMON_ONE_LINE_TEXT_H

// Foreign text (names, paths, tool output) on the program's output lines: it
// must never start a line of its own in what the agent reads.

#include <string>

namespace kelvomar {

// Returns `text` so that it stays on its line and reads back unambiguously: a
// line feed as \n, a carriage return as \r, a tab as \t, every other control
// character (below 0x20, and 0x7f) as \x and two lowercase hex digits, and a
// backslash that could be taken for the start of such an escape (one followed
// by a backslash, n, r, t or x, or ending the text) as \\. Every other byte,
// UTF-8 included, is unchanged, so a text without control characters and
// without such backslashes (a shell-quoted '\'' or a quoted \" among them)
// comes back as it is. Never throws beyond std::bad_alloc.
std::string one_line_text(const std::string& text);

// Returns `text` with only what would end its line escaped: a line feed as \n
// and a carriage return as \r. Every other byte, tabs, other control
// characters and backslashes included, is unchanged, so a name printed this
// way and given back names the same object (unless it held a line break).
// Never throws beyond std::bad_alloc.
std::string line_breaks_escaped(const std::string& text);

}  // namespace kelvomar

#endif

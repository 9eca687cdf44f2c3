#ifndef KEVRA_MODULES_SIGNAL_LOG_H
#define KEVRA_MODULES_SIGNAL_LOG_H

// Log records written from a signal handler. The interrupted code may be in
// the middle of a record, holding a log destination's mutex, or inside the C
// library's memory or time-zone functions, holding their locks; a handler that
// needed any of them would wait forever. So the handlers' own records are
// formatted in a fixed buffer and written with write(2) only: the same line
// that the logging library writes ("[<local time>] Info: <text>"), to the
// program's log file and to standard output, as the default routing does.

#include <cstddef>
#include <string>

namespace kelvomar {
namespace module {
namespace signal_log {

// In normal context, ahead of any signal: computes the program's log file path
// ("/opt/kelvomar/log/" + the program's file name + ".log", as the entry point
// names it) and the local time offset. Never fails.
void prepare();

// The log file that the records below write to; empty before prepare.
std::string log_file_path();

// Writes the Info record `prefix` + `number` in decimal + `suffix` when Info
// passes the global log mask. Async-signal-safe; never fails (a target that
// cannot be written is skipped).
void info(const char* prefix, long long number, const char* suffix) noexcept;

// Writes the Error record `text` + (when `list` is not empty) `label` +
// `list`, to the log file and to standard error, as the default routing of
// Error does. Async-signal-safe; never fails; a very long record is cut.
void error(const char* text, const char* label, const char* list) noexcept;

// Writes the Error record made of the `count` texts `pieces` in order (a null
// piece is skipped), as error does. Async-signal-safe; never fails.
void error_pieces(const char* const* pieces, std::size_t count) noexcept;

}  // namespace signal_log
}  // namespace module
}  // namespace kelvomar

#endif

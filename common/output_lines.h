#ifndef KEVRA_COMMON_OUTPUT_LINES_H
#define KEVRA_COMMON_OUTPUT_LINES_H

// Whole lines on the program's standard streams. The agent reads standard
// output line by line while several threads (the worker, the thread that
// watches for signals) write log records and protocol lines to it: each line
// is written whole, by one thread at a time, with nothing of it left in a
// buffer, so that a record written from a signal handler (a crash, the
// deadline of a termination) never lands inside another line.

#include <mutex>
#include <string>

namespace kelvomar {
namespace output {

// The lock that orders every record and every protocol line of the process.
// Held only while text is written, never across anything else that can block.
// Recursive: a record holds it over all its destinations, and each of them
// takes it again for its own write.
std::recursive_mutex& lock();

// Writes `text` (whole lines) to standard output under lock(): what std::cout
// still holds goes first, then `text` with as few write(2) calls as the kernel
// allows. Never throws; a stream that cannot be written is skipped.
void write_stdout(const std::string& text) noexcept;

// The same for standard error (std::cerr's pending text first).
void write_stderr(const std::string& text) noexcept;

// Writes one protocol line ("MODULE PID:1234", the engine's "Packed: ...")
// and its line end to standard output as write_stdout does.
void print_line(const std::string& line) noexcept;

}  // namespace output
}  // namespace kelvomar

#endif

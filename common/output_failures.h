#ifndef KEVRA_COMMON_OUTPUT_FAILURES_H
#define KEVRA_COMMON_OUTPUT_FAILURES_H

// Writes of the program's output that failed: standard output (the agent's
// protocol lines among it), standard error and the log file. Each is noted
// where it fails (also in a signal handler) and reported later, in ordinary
// code, by one Error record per stream; a protocol line that did not reach the
// agent makes a run that would have succeeded fail.

#include <string>

namespace kelvomar {
namespace output {

enum class target { standard_output, standard_error, log_file };

// Notes that a write to `which` failed with the errno value `error`
// (ETIMEDOUT: the stream was given up, see common/stream_write.h);
// `protocol` when the text was one of the agent's protocol lines.
// Async-signal-safe.
void note_failed_write(target which, int error, bool protocol) noexcept;

// The same for the log file at `path`, whose name the report gives. Ordinary
// code only.
void note_failed_log_file_write(const std::string& path, int error) noexcept;

// True once a protocol line did not reach standard output.
bool protocol_lost() noexcept;

// Writes one Error record for each stream whose failure has not been
// reported yet (standard output's to the log file, the log file's to standard
// error, as records are routed). Does nothing inside the writing of a record
// or a line, where it would write into itself; never fails.
void report_failed_writes() noexcept;

}  // namespace output
}  // namespace kelvomar

#endif

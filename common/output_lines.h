#ifndef KEVRA_COMMON_OUTPUT_LINES_H
#define KEVRA_COMMON_OUTPUT_LINES_H

// Whole lines on the program's standard streams. The agent reads standard
// output line by line while several threads (the worker, the thread that
// watches for signals) write log records and protocol lines to it: each line
// is written whole, by one thread at a time, with nothing of it left in a
// buffer, so that a record written from a signal handler (a crash, the
// deadline of a termination) never lands inside another line.
//
// A reader that stalls holds up no termination: the writes wait for it in
// bounded pieces (common/stream_write.h), and once a termination is under way
// neither a write nor the wait for the lock below lasts more than a few
// seconds; a stream given up is skipped, the log file keeps the records.
// A write that fails is noted and reported (common/output_failures.h).

#include <mutex>
#include <string>

namespace kelvomar {
namespace output {

// The lock that orders every record and every protocol line of the process.
// Held only while text is written, never across anything else that can block.
// Recursive: a record holds it over all its destinations, and each of them
// takes it again for its own write. Taken through ordered_write only.
std::recursive_timed_mutex& lock();

// A hold of lock() for one record or line. It waits for the lock as long as
// its holder writes; once a termination is under way at most a few seconds,
// and then goes on without it (held() false): the caller then writes nothing
// to the standard streams, and later holds only try the lock.
class ordered_write {
public:
    ordered_write() noexcept;
    ~ordered_write();
    ordered_write(const ordered_write&) = delete;
    ordered_write& operator=(const ordered_write&) = delete;

    bool held() const noexcept { return held_; }

private:
    bool held_ = false;
};

// True while the calling thread is inside an ordered_write.
bool inside_ordered_write() noexcept;

// Writes `text` (whole lines) to standard output under lock(): what std::cout
// still holds goes first, then `text`. Text for the agent: when it does not
// reach standard output the run's protocol is noted as lost. Never throws.
void write_stdout(const std::string& text) noexcept;

// The same for a log record's copy on standard output: its loss is reported,
// but it is not one of the agent's protocol lines.
void write_record_stdout(const std::string& text) noexcept;

// The same for standard error (std::cerr's pending text first).
void write_stderr(const std::string& text) noexcept;

// Writes one protocol line ("MODULE PID:1234", the engine's "Packed: ...")
// and its line end to standard output as write_stdout does.
void print_line(const std::string& line) noexcept;

// Writes what std::cout, std::cerr and their C streams still hold, with the
// same bound; text of a stream that was given up is dropped. Never throws.
void flush_standard_streams() noexcept;

}  // namespace output
}  // namespace kelvomar

#endif

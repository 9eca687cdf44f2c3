#ifndef KEVRA_COMMON_PROC_STAT_TEXT_H
#define KEVRA_COMMON_PROC_STAT_TEXT_H

// The first fields of a process's /proc/<pid>/stat line: "pid (name) S ppid ...".
// The name may hold blanks and parentheses, so it ends at the last ')'.

#include <cstddef>

namespace hx_utils_common {

struct proc_stat_fields {
    char state = 0;  // the scheduler state letter ('R', 'S', 'Z', ...)
    int parent = -1; // the parent's process id
};

// Reads the state and the parent id from the first `length` bytes of a stat
// line (a read that stopped short after the parent id will do). False when the
// text has no such fields. Allocates nothing and is async-signal-safe.
bool parse_proc_stat(const char* text, std::size_t length, proc_stat_fields& fields) noexcept;

}  // namespace hx_utils_common

#endif

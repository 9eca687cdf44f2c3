#ifndef KEVRA_COMMON_DESCENDANT_PROCESSES_H
#define KEVRA_COMMON_DESCENDANT_PROCESSES_H

// The processes below a process (its children, theirs, and so on), found and
// ended with raw system calls in fixed buffers only: no allocation, no lock,
// no C library state. Safe in a signal handler, where the state of the process
// cannot be trusted (a segmentation fault).

#include <cstddef>

namespace hx_utils_common {

// The most processes that one search lists (and one round of ending ends).
constexpr std::size_t kMaxDescendants = 128;

struct descendant_process {
    int pid = 0;
    int parent = 0;
    int depth = 0;  // 1 for a child of the root, 2 for a grandchild, ...
};

// Lists the living processes below `root` that /proc shows, at most `capacity`
// (and kMaxDescendants) of them, parents before their children; returns their number (0 when /proc
// cannot be read). Processes that have ended (zombies) are left out.
// Async-signal-safe.
std::size_t find_descendants(int root, descendant_process* found, std::size_t capacity) noexcept;

// Ends every process below `root`, the deepest first: SIGTERM to each, then,
// after `grace_ms`, SIGKILL to those still running, and a short wait for them.
// Never signals `root` itself nor a process group. Async-signal-safe.
void end_descendants(int root, int grace_ms) noexcept;

}  // namespace hx_utils_common

#endif

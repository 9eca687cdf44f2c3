#ifndef KEVRA_COMMON_RUN_PROCESSES_H
#define KEVRA_COMMON_RUN_PROCESSES_H

// The processes that the run starts stay below the module for the whole run,
// also those whose parent ends before them (a command that leaves a process
// running in the background, started with a double fork): the module is their
// child subreaper, so they become its children instead of init's, and the
// walk below the module (common/descendant_processes.h) finds them. At every
// end of the run (its normal end, a termination, the termination's deadline,
// a crash) what is still below the module is ended and every ended child is
// collected: nothing the run started outlives it, not even as a zombie.
//
// Ended children are collected at the end only: while the run goes on, an id
// that the module waits for (its running command's) must not be taken from it.

namespace kelvomar {
namespace run_processes {

// How long the processes get to end after SIGTERM before they are killed.
constexpr int kEndGraceMs = 2000;

// Makes this process the child subreaper of everything it starts from now on.
// True when the kernel did so (otherwise orphans go to init as before).
bool keep_below() noexcept;

// The normal end of the run, when none of its commands runs any more: the
// processes still below the module are named in a Warning record, ended
// (SIGTERM, then SIGKILL after `grace_ms`) and collected with every other
// ended child; then the process is no subreaper any more.
void end_left_over(int grace_ms = kEndGraceMs) noexcept;

// The end of the run from a signal handler, right before the process exits:
// every process below it ended as above, and every ended child collected
// (whoever else waits for one). Async-signal-safe.
void end_all_from_handler(int grace_ms) noexcept;

// Collects every child of this process that has ended, waiting for none;
// returns how many. Only where nothing else waits for a child of its own.
// Async-signal-safe.
int collect_ended_children() noexcept;

}  // namespace run_processes
}  // namespace kelvomar

#endif

#ifndef KEVRA_MODULES_SHUTDOWN_CLEANUP_H
#define KEVRA_MODULES_SHUTDOWN_CLEANUP_H

// What the operation directory held before the current run touched it, for the
// clean-up that a termination signal runs (HxModuleUniversal::
// handle_shutdown_signal): it removes only directories this run created, never
// what was there before it began. Process-wide, because a process performs
// exactly one operation.

#include <string>

namespace kelvomar {
namespace module {
namespace shutdown_cleanup {

// Remembers the operation directory as the agent gave it and the entries it
// holds now, before this run creates anything in it. Later calls replace the
// record; an empty name notes nothing. Never throws; a directory that cannot
// be listed counts as empty.
void note_operation_directory(const std::string& directory) noexcept;

// True when `directory` is an entry directly inside the noted operation
// directory that was not there when it was noted, that is a directory this run
// created (the restore directory). False when nothing was noted, for the noted
// directory itself and for everything that was there before.
bool created_by_this_run(const std::string& directory) noexcept;

// Forgets everything noted (for a new run in the same process, as in tests).
void reset() noexcept;

}  // namespace shutdown_cleanup
}  // namespace module
}  // namespace kelvomar

#endif

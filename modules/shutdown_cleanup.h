#ifndef KEVRA_MODULES_SHUTDOWN_CLEANUP_H
#define KEVRA_MODULES_SHUTDOWN_CLEANUP_H

// What the current run has made so far, for the clean-up that a termination
// signal runs (HxModuleUniversal::handle_shutdown_signal): it releases and
// removes only what this run created, never what was there before it began.
// The flags are read from a signal handler; they are process-wide because a
// process performs exactly one operation.

#include <string>

namespace kelvomar {
namespace module {
namespace shutdown_cleanup {

// A backup hook calls this before it creates anything for the engine (a clone,
// staging files): from then on a termination signal runs
// release_resource_after_backup. Never fails.
void backup_preparation_begun() noexcept;

// The backup's release hook calls this once it has released what preparation
// made, so that a later termination signal does not release it a second time.
// Never fails.
void backup_resources_released() noexcept;

// True between backup_preparation_begun and backup_resources_released.
bool backup_release_due() noexcept;

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

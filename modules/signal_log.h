#ifndef KEVRA_MODULES_SIGNAL_LOG_H
#define KEVRA_MODULES_SIGNAL_LOG_H

// Log records written from a signal handler. The interrupted code may be in the
// middle of a record, holding the mutex of a shared log destination; a handler
// that wrote through that destination would wait for it forever. These records
// go through destination objects of their own over the same targets (the
// program's log file, standard output, standard error), so they never wait on
// a mutex that the interrupted code can hold.

#include <string>

#include "common/hx_log_level.h"

namespace kelvomar {
namespace module {
namespace signal_log {

// Computes the program's log file path ("/opt/kelvomar/log/" + the program's
// file name + ".log", as the entry point names it) ahead of any signal.
// Never fails.
void prepare();

// The log file that the records below write to; empty before prepare.
const std::string& log_file_path();

// Writes one record of `level` to the log file and to standard output (standard
// error for Error), as the program's default routing does, through destinations
// of its own. Never throws.
void record(HxLogLvl::Level level, const std::string& text) noexcept;

// Replaces the shared destinations by new ones over the same targets, so that
// records written from here on (by the clean-up hooks of a termination) never
// wait on the old ones. The old ones may be held by the interrupted code, which
// never runs again: only for the termination path, which ends the process.
void detach_shared_destinations() noexcept;

}  // namespace signal_log
}  // namespace module
}  // namespace kelvomar

#endif

#ifndef KEVRA_COMMON_LEFTOVERS_H
#define KEVRA_COMMON_LEFTOVERS_H

// What the run has made so far and its clean-up has to remove: platform
// objects, directories, files. Kept up to date as the run goes, so that a
// termination whose clean-up cannot end in time still names them (from a
// signal handler) for an operator to remove by hand.

#include <string>

namespace kelvomar {
namespace leftovers {

// Sets the entry `key` (one per thing made, e.g. "clone") to `text`, a short
// description that names the thing exactly (its ID, its path). Never throws.
void note(const std::string& key, const std::string& text) noexcept;

// Removes the entry `key`, if there is one (the thing is gone). Never throws.
void forget(const std::string& key) noexcept;

// All entries, in key order, joined by "; "; empty when there are none.
std::string text();

// The same text as last changed, for a signal handler (cut at a few
// kilobytes). Async-signal-safe; never null.
const char* signal_text() noexcept;

}  // namespace leftovers
}  // namespace kelvomar

#endif

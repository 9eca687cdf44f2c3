#ifndef KEVRA_MODULES_ENGINE_OUTPUTS_H
#define KEVRA_MODULES_ENGINE_OUTPUTS_H

// The files that the archive engine writes by path in the operation directory
// (the archive of an autonomous backup, the signature): each is made new by the
// run before the engine starts, root's with mode 0600, so that the engine writes
// into the run's own file and not through whatever another user put under its
// name; afterwards a file is reported only while it is still that file.

#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

namespace kelvomar {
namespace module {

class engine_outputs {
public:
    // Makes `path` new (new_paths::make_new_file) and keeps it as one of the
    // run's files. Empty, or why it can't be made, naming `path`.
    std::string make(const std::string& path);

    // Why `path`, made here, is no longer the run's own private file; empty when
    // it still is, or when it was never made here.
    std::string problem(const std::string& path) const;

    // Removes every file made here that is still the file made, and forgets
    // them all (a run that does not hand them on). Never throws.
    void remove_all() noexcept;

    // Forgets the files made here without removing them (they are handed on). Never throws.
    void hand_on() noexcept;

private:
    std::vector<std::pair<std::string, struct stat>> files_;
};

}  // namespace module
}  // namespace kelvomar

#endif

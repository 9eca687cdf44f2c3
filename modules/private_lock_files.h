#ifndef KEVRA_MODULES_PRIVATE_LOCK_FILES_H
#define KEVRA_MODULES_PRIVATE_LOCK_FILES_H

// The files that resource locks are taken on, kept out of other local users'
// reach: the lock directory and every directory above it are root's and
// writable by no other user, and a lock file is a regular file of root's with
// one link that neither group nor others may open (mode 0600), so that no
// other user can open it to hold a lock of their own on it. Whatever else
// stands at a lock file's name is not locked: it is removed (without
// following a link) and a new file is made in its place. Nothing here throws
// or logs: the caller writes the records from the outcome.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "common/untrusted_files.h"

namespace kelvomar {
namespace module {
namespace lock_files {

// Why no lock file could be had.
enum class failure {
    none,
    directory_not_made,  // the lock directory, or one above it, could not be made
    directory_unsafe,    // it, or one above it, is not root's or can be written by another user
    not_a_lock,          // what stands at the name can't be a lock file and could not be removed
    not_made,            // the new lock file could not be made
    not_opened,          // the lock file could not be examined or opened
    keeps_changing       // the entry at the name kept changing under the checks
};

// What find_lock_file did.
struct outcome {
    failure kind = failure::none;
    // Why it failed, naming the path; empty when it did not.
    std::string reason;
    // For each entry found at the name that was not a lock file, removed and
    // made anew: why it was not one, naming the path.
    std::vector<std::string> replaced;
};

// Why the entry at `path` whose lstat status is `status` can't serve as a lock
// file of user `owner`; empty when it is a regular file with a single link,
// owned by `owner`, without any group or other permission bit.
std::string lock_file_problem(const std::string& path, const struct stat& status, uid_t owner);

// Makes sure a lock file stands at `directory`/`name` (a plain file name):
// the directory is made with its missing parents (mode 0700) when missing and
// used only when it and every directory above it are safe; an entry at the name
// that lock_file_problem refuses is removed and a new file made with
// O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600 whatever the umask. With `opened`, the
// file is also opened for reading and writing without following a link, and
// taken only when its descriptor shows the file that was checked.
outcome find_lock_file(const std::string& directory, const std::string& name,
                       untrusted_files::descriptor* opened);

// Takes the exclusive record lock of the operating system (fcntl, the whole
// file, the kind other programs of this product take) on the open file `fd`,
// with `wait` waiting until it is free: 1 when taken, 0 when another process
// holds it (never with `wait`), -1 with errno set on any other error.
int lock_whole_file(int fd, bool wait);

// Releases the record lock of this process on the open file `fd`. False with errno set on error.
bool unlock_whole_file(int fd);

// Name of the file, in the lock directory, whose lock the runs take while one
// of them removes an entry that is not a lock file, so that none removes a
// lock file that another has just made in its place.
const char* removal_guard_name();

}  // namespace lock_files
}  // namespace module
}  // namespace kelvomar

#endif

#ifndef KEVRA_COMMON_SAFE_DIRECTORY_H
#define KEVRA_COMMON_SAFE_DIRECTORY_H

// Whether a directory that the agent names is one that no other local user can
// change: the run, as root, works there only when the directory and every
// directory above it are owned by the run's user and writable by no one else
// (a directory with the sticky bit, such as /tmp, may be writable by others),
// and the directories it makes or reuses there are its own and private (no
// access at all for its group or other users, mode 0700). An access control
// list beyond the mode bits shows in the group bits (its mask) and is named as
// such. Nothing here throws or logs: each function gives an empty text when
// all is well, otherwise why not (naming the directory), e.g.
// "/srv/op is writable by other users and has no sticky bit".

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace kelvomar {
namespace safe_directory {

// What a run asks of a directory.
enum class directory_rule {
    operation,  // owned by the run's user; writable by no one else unless it has the sticky bit
    reused      // owned by the run's user; no access for its group or others at all
};

// Why the directory `path`, whose lstat status is `status`, does not meet
// `rule` for a run of user `owner`; empty when it does. `has_acl` tells that it
// carries an access control list beyond its mode bits (has_access_acl).
std::string directory_problem(const std::string& path, const struct stat& status, uid_t owner,
                              directory_rule rule, bool has_acl);

// Whether the entry at `path` (not followed when a link) carries an access
// control list beyond its mode bits; false where the file system keeps none.
bool has_access_acl(const std::string& path);

// Why `path` can't be the directory a run works in; empty when it and every
// directory above it are safe (directory_problem, the sticky bit allowed).
// The path is walked component by component as the kernel resolves it; a
// symbolic link above it is followed only when it is owned by the run's user
// (it stands in a directory already found safe), and `path` itself must not be a link.
std::string operation_directory_problem(const std::string& path);

// As operation_directory_problem, but a missing directory on the way, `path`
// itself included, is made new with mode 0700 once the directories above it
// are found safe; `created` tells whether `path` itself was made.
std::string make_operation_directory(const std::string& path, bool& created);

// Why the entry at `path` (not followed when a link) is not the run's own:
// empty when it is owned by the run's user or nothing stands there, else e.g.
// "/d/x is owned by uid 4242, not by root".
std::string entry_owner_problem(const std::string& path);

// Why the directory `path`, which a run would reuse as its own (and may clear),
// is not private; empty when it is a real directory (no link) owned by the
// run's user that gives its group and others no access (directory_rule::reused).
std::string private_directory_problem(const std::string& path);

// Uses the directory `path` when it is private (private_directory_problem), or
// makes it new with mode 0700 (new_paths::make_new_directory) when nothing stands there; `created`
// tells which. Empty, or why it can't be used (naming `path`).
std::string use_or_make_private_directory(const std::string& path, bool& created);

// What makes a refused operation directory safe, to follow a refusal in a record.
std::string operation_directory_advice();

// The same for the operation directory given as `path`: when `path` itself is
// a symbolic link, to give the directory by its real path instead.
std::string operation_directory_advice(const std::string& path);

// What makes a refused reused directory acceptable, to follow a refusal in a record.
std::string private_directory_advice();

}  // namespace safe_directory
}  // namespace kelvomar

#endif

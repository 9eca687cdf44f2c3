#ifndef KEVRA_COMMON_NEW_PATHS_H
#define KEVRA_COMMON_NEW_PATHS_H

// The directories and files a run makes in a directory that others may write
// to (the operation directory): a directory is made new or used only when it
// is a real directory, and a file is written into an inode of its own that is
// then put in place under its name, so that a symbolic link planted under any
// of these names is never followed. Nothing here throws or logs: each function
// reports 0 or the errno value of the cause, which new_paths_error turns into text.

#include <sys/stat.h>

#include <string>

namespace kelvomar {
namespace new_paths {

// What stands at a path, the last component not followed.
enum class entry_kind { missing, directory, link, regular, other };

// The kind of the entry at `path` (lstat; a trailing "/" is ignored); `missing` also when it can't be examined.
entry_kind entry_at(const std::string& path);

// Makes the directory `path` new, private to the run (mode 0700 whatever the umask). 0, or EEXIST when
// anything already stands there (a link included), or the errno of mkdir.
int make_new_directory(const std::string& path);

// 0 when `path` is a real directory (not a symbolic link to one); ELOOP for a
// link, ENOTDIR for anything else, ENOENT when nothing stands there.
int check_real_directory(const std::string& path);

// Uses the directory `path` as it is when it is a real directory, or makes it
// new when nothing stands there (its missing parents made as well when
// `with_parents`); `created` tells which. Errors as check_real_directory and make_new_directory.
int use_or_make_directory(const std::string& path, bool with_parents, bool& created);

// 0 when a file may be put in place under `path`: nothing stands there, or a
// regular file with a single link (one that no other name reaches). ELOOP for
// a link, EMLINK for a file with more links, EISDIR or EEXIST for anything else.
int check_replaceable(const std::string& path);

// A new, empty file beside a target path, made with O_CREAT|O_EXCL|O_NOFOLLOW
// under a name of its own; commit() puts it in place under the target.
// Removed again unless committed. Its descriptor stays open until commit()
// or destruction, so a command can write into it through descriptor_path().
class new_file {
public:
    // Makes the file beside `target`; error() tells whether that worked.
    explicit new_file(std::string target);
    ~new_file();
    new_file(const new_file&) = delete;
    new_file& operator=(const new_file&) = delete;

    // 0 once the file is made (and, after commit, put in place), else the errno of the failing step.
    int error() const { return error_; }
    // The new file's own name (empty when it could not be made).
    const std::string& path() const { return path_; }
    // "/dev/fd/N" for the open descriptor, which the commands started from now
    // on inherit: a shell redirection to it (or a tool given it) writes into this file.
    std::string descriptor_path();
    // Appends `text` to the file. 0 or the errno of write.
    int write(const std::string& text);
    // Closes the file and renames it onto the target, after check_replaceable
    // of the target. 0 or the errno of the failing step (the file is then removed).
    int commit();

private:
    std::string target_;
    std::string path_;
    int fd_ = -1;
    int error_ = 0;
    bool committed_ = false;
};

// Makes the file `path` itself new and empty, the run's own with mode 0600,
// with O_CREAT|O_EXCL|O_NOFOLLOW, for a command that then writes into it by
// path: nothing that stands there is used (EEXIST for anything, a link or a
// FIFO among it). 0 with the new file's status in `made`, or the errno of the failing step.
int make_new_file(const std::string& path, struct stat& made);

// What stands at `path` (not followed), in words: "a symbolic link", "a FIFO",
// "a directory", "a file with more than one link", "a file of uid 4242", "a
// file", ...; empty when nothing does.
std::string what_stands_at(const std::string& path);

// Why `path` is no longer the file that make_new_file made with status
// `made`; empty when it is still that regular file (the same device and
// inode, not a link), owned by the run's user with mode 0600.
std::string made_file_problem(const std::string& path, const struct stat& made);

// Removes `path` when made_file_problem finds it still the file made. True when removed.
bool remove_made_file(const std::string& path, const struct stat& made);

// Writes `text` as the file `path` through a new_file. 0 or the errno of the failing step.
int replace_file(const std::string& path, const std::string& text);

// The text of an error number returned above, naming `path`: e.g.
// "/d/x: a symbolic link stands there".
std::string new_paths_error(const std::string& path, int error);

}  // namespace new_paths
}  // namespace kelvomar

#endif

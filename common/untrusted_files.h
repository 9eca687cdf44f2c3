#ifndef KEVRA_COMMON_UNTRUSTED_FILES_H
#define KEVRA_COMMON_UNTRUSTED_FILES_H

// Files that come from an archive or a shared directory, used only as what
// they were checked to be: each is opened below a base directory without
// following a symbolic link anywhere on the way, taken only when it is a
// regular file with a single link, and then moved, copied and given to
// another owner through what was opened, never through a path that a link
// planted later could redirect.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace kelvomar {
namespace untrusted_files {

// An open file descriptor, closed when the object goes.
class descriptor {
public:
    descriptor() = default;
    explicit descriptor(int fd) noexcept : fd_(fd) {}
    descriptor(descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    descriptor& operator=(descriptor&& other) noexcept;
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    ~descriptor() { reset(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    // Closes the descriptor held (if any) and holds `fd` instead.
    void reset(int fd = -1) noexcept;

private:
    int fd_ = -1;
};

// A file opened by open_input_file: the file, the directory that holds it and
// its name there, and its status as it was checked.
struct input_file {
    descriptor file;
    descriptor directory;
    std::string name;
    struct stat status {};
};

// Opens `relative` (names separated by "/"; no "." or ".." among them) below
// the directory `base` for reading. `base` itself may be reached through a
// link; every directory below it is opened without following one, and the
// file is taken only when it is a regular file with one link (checked before
// and after it is opened, so that opening never touches a device or a FIFO).
// True on success; false with `refusal` saying what stands there instead or
// why it can't be opened (the file's name is not part of it).
bool open_input_file(const std::string& base, const std::string& relative, input_file& file, std::string& refusal);

// Opens the directory `relative` below `base` as open_input_file walks to a
// file: no symbolic link on the way or at its end. An empty `relative` opens
// `base`. True on success; false with `refusal` as above.
bool open_directory_below(const std::string& base, const std::string& relative, descriptor& directory,
                          std::string& refusal);

// Reads the open file `fd` from its start to its end into `text` (replacing
// it), with a termination safe point at least every 64 MiB. True on success;
// false with the system's error text in `error`.
bool read_whole_file(int fd, std::string& text, std::string& error);

// Creates a new file in the open directory `directory` whose name is `stem`
// followed by a random suffix, with O_CREAT|O_EXCL|O_NOFOLLOW and mode 0600,
// so that nothing standing there, a link included, is used. True with its name
// in `name` and it open for writing in `file`; false with `error` set.
bool create_new_file(int directory, const std::string& stem, std::string& name, descriptor& file,
                     std::string& error);

// Copies the whole content of the open regular file `from` (from its start)
// into the new, empty file `to`; runs of zero bytes become holes, so that a
// sparse file stays sparse. A termination safe point at least every 64 MiB.
// True on success; false with `error` set.
bool copy_file_content(int from, int to, std::string& error);

// What move_input_file did.
enum class move_result {
    moved,               // `file` now stands at the new name
    other_file_system,   // nothing done: the directory is on another file system
    failed               // see the error text
};

// Renames the checked file `file` to `name` in the open directory `directory`,
// replacing what stands there, and makes sure that the file now there is the
// one that was checked. `error` is set unless the result is moved.
move_result move_input_file(const input_file& file, int directory, const std::string& name, std::string& error);

// Removes the name of the checked file `file` from its directory, when that
// name still stands for it. True when removed; false with `error` set.
bool remove_input_file(const input_file& file, std::string& error);

// Gives the open file `fd` to the user `user` and the group `group` (looked up
// by name in the system's databases) with exactly the permission bits `mode`
// (no set-ID or sticky bit unless `mode` has it), whatever its mode was: see
// set_owner_and_mode. True on success; false with `error` set.
bool give_file_to(int fd, const std::string& user, const std::string& group, mode_t mode, std::string& error);

// Makes the open file `fd` the run's own: owned by this process's user and
// group, mode 0600, so that no other user can open it anew or change its mode.
// True on success; false with `error` set.
bool keep_private(int fd, std::string& error);

// Gives the open file `fd` the owner `uid`:`gid` and exactly the permission
// bits `mode`, in steps that never grant anyone more than before: the mode
// first, then the owner, then the mode again (a former owner may have changed
// it in between, and a change of owner need not clear every set-ID bit), and
// checks the result. True on success; false with `error` set.
bool set_owner_and_mode(int fd, uid_t uid, gid_t gid, mode_t mode, std::string& error);

}  // namespace untrusted_files
}  // namespace kelvomar

#endif

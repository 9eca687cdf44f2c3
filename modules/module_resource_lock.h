#ifndef KEVRA_MODULES_MODULE_RESOURCE_LOCK_H
#define KEVRA_MODULES_MODULE_RESOURCE_LOCK_H

// Inter-process locks of one (module, resource) pair: an advisory,
// non-blocking lock on a small file below /opt/kelvomar/var/kelvomar-modules,
// a file of root's that no other user can open.

#include <boost/filesystem/path.hpp>
#include <boost/interprocess/sync/lock_options.hpp>
#include <boost/interprocess/sync/scoped_lock.hpp>

#include <sys/types.h>

#include <string>

#include "common/untrusted_files.h"

namespace kelvomar {
namespace module {

// Owns the lock file of one (module, resource) pair.
class resource_lock_file_handler {
public:
    // Empty names, empty path, no file.
    resource_lock_file_handler();
    // Stores the names, computes the path and creates the file; throws
    // std::runtime_error when the file cannot be created.
    resource_lock_file_handler(std::string module_name, std::string resource_name);

    const std::string& module_name() const { return module_name_; }
    const std::string& resource_name() const { return resource_name_; }
    const boost::filesystem::path& resource_lock_file_path() const { return lock_file_path_; }

    // "Kelvomar_MOD_mutex_" + the first 8 characters of the keyed hash of module + resource.
    static std::string make_lock_file_name(const std::string& module, const std::string& resource);
    // The lock file directory.
    static boost::filesystem::path make_lock_files_dir_path();
    // The directory joined with `name`.
    static boost::filesystem::path make_lock_file_path(const std::string& name);

    // Makes sure a lock file of root's, mode 0600, stands at the path (what else
    // stands there is removed first, when it can be, with a Warning record);
    // throws std::runtime_error when it cannot, or when the lock directory is not safe.
    void create() const;
    // Deletes the file; true when the path is empty or a file was deleted,
    // false with an Error record otherwise.
    bool remove() const;

    void swap(resource_lock_file_handler& other) noexcept;

protected:
    std::string module_name_;
    std::string resource_name_;
    boost::filesystem::path lock_file_path_;
};

// The lock itself: the operating system's record lock (fcntl, exclusive, the
// whole file) on the handler's file, taken through a descriptor of this
// object's own that was checked to be the lock file (lock_files::find_lock_file).
// The holder deletes its file when it lets go, so the file that a process opened
// may be gone (and another one created at the path) by the time it locks it:
// a lock counts only while the file locked is still the file at the lock path,
// which is checked after every lock taken. Movable, not copyable.
class resource_file_lock : public resource_lock_file_handler {
public:
    // An empty handler and no file.
    resource_file_lock();
    // Creates the lock file and opens it; throws a standard exception when
    // either fails.
    resource_file_lock(std::string module_name, std::string resource_name);
    resource_file_lock(resource_file_lock&& other) noexcept;
    resource_file_lock& operator=(resource_file_lock&& other) noexcept;
    resource_file_lock(const resource_file_lock&) = delete;
    resource_file_lock& operator=(const resource_file_lock&) = delete;
    // Removes the lock file when this process can lock it and it is still the
    // file at the lock path, then closes it. Never throws.
    ~resource_file_lock();

    void swap(resource_file_lock& other) noexcept;

    // Takes the exclusive lock without waiting; true when taken on the file that
    // is now at the lock path, false when another process holds it or no file
    // is bound. Throws a standard exception when the file cannot be opened again.
    bool try_lock();
    // Takes the exclusive lock, waiting until it is free; on return the lock is
    // held on the file that is now at the lock path. Throws a standard exception
    // when locking fails or no file is bound.
    void lock();
    // Releases the lock; does nothing when no file is bound. Never throws.
    void unlock() noexcept;

private:
    // Opens the checked lock file at the lock path (creating it when missing)
    // and remembers which file that is; throws on failure.
    void open_current_file();
    // Closes the file (which drops the lock) and forgets it.
    void close_file() noexcept;
    // True when the lock path still names the file that is open here.
    bool still_at_lock_path() const;

    // The locked file: while it is open, its identity (device and inode) is
    // not given to another file.
    untrusted_files::descriptor file_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

// A guard that releases a resource_file_lock when it owns it. Movable, not copyable.
class resource_file_scoped_lock {
public:
    // Owns nothing.
    resource_file_scoped_lock();
    // Locks, waiting until the lock is free.
    explicit resource_file_scoped_lock(resource_file_lock& lock);
    // Binds without locking.
    resource_file_scoped_lock(resource_file_lock& lock, boost::interprocess::defer_lock_type);
    // Takes over a lock that this process already holds.
    resource_file_scoped_lock(resource_file_lock& lock, boost::interprocess::accept_ownership_type);
    // Tries once without waiting.
    resource_file_scoped_lock(resource_file_lock& lock, boost::interprocess::try_to_lock_type);
    resource_file_scoped_lock(resource_file_scoped_lock&& other) noexcept;
    resource_file_scoped_lock& operator=(resource_file_scoped_lock&& other) noexcept;
    resource_file_scoped_lock(const resource_file_scoped_lock&) = delete;
    resource_file_scoped_lock& operator=(const resource_file_scoped_lock&) = delete;
    // Unlocks when it owns the lock.
    ~resource_file_scoped_lock();

    void swap(resource_file_scoped_lock& other) noexcept;

    // True when the guard holds the lock.
    bool owns() const { return guard_.owns(); }

private:
    boost::interprocess::scoped_lock<resource_file_lock> guard_;
    resource_file_lock* lock_ = nullptr;
};

}  // namespace module
}  // namespace kelvomar

#endif

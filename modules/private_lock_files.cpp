// Lock files that no other local user can open: their directory checked,
// and what stands at a lock file's name checked before it is used.
#include "modules/private_lock_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/safe_directory.h"
#include "common/termination.h"

namespace kelvomar {
namespace module {
namespace lock_files {

namespace {

// How often the entry at the name may turn out to be another one before the
// search gives up: each round means another run removed or made it meanwhile.
constexpr int kAttempts = 16;

// The removal guard is held only for an lstat and an unlink: a run that waits
// for it this long (in steps of kGuardStep) finds it held by a stopped run.
constexpr int kGuardSteps = 200;
constexpr std::chrono::milliseconds kGuardStep(10);

constexpr int kOpenFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
constexpr int kCreateFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

std::string owner_name(uid_t uid)
{
    return uid == 0 ? std::string("root") : "uid " + std::to_string(uid);
}

std::string octal_mode(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string system_error(const std::string& path, const std::string& what, int error)
{
    return path + " " + what + ": " + std::strerror(error);
}

outcome failed(failure kind, std::string reason, outcome so_far = outcome())
{
    so_far.kind = kind;
    so_far.reason = std::move(reason);
    return so_far;
}

bool same_file(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Makes the directory when missing, then checks it and every directory above it.
outcome prepare_directory(const std::string& directory)
{
    struct stat status {};
    const bool missing = ::lstat(directory.c_str(), &status) != 0 && errno == ENOENT;
    bool created = false;
    const std::string problem = missing ? safe_directory::make_operation_directory(directory, created)
                                        : safe_directory::operation_directory_problem(directory);
    if (!problem.empty()) {
        // Only a directory that is still missing is one that could not be made.
        const bool still_missing = ::lstat(directory.c_str(), &status) != 0 && errno == ENOENT;
        return failed(still_missing ? failure::directory_not_made : failure::directory_unsafe, problem);
    }
    if (::lstat(directory.c_str(), &status) != 0) {
        return failed(failure::directory_unsafe, system_error(directory, "can't be examined", errno));
    }
    // Unlike a directory the run works in, the lock directory may not rely on
    // a sticky bit: another user could still make an entry at a lock's name.
    // One that others may only read (as earlier versions made it) is used.
    if (status.st_uid == ::geteuid() && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0) {
        return outcome();
    }
    const std::string own = safe_directory::directory_problem(
        directory, status, ::geteuid(), safe_directory::directory_rule::operation, safe_directory::has_access_acl(directory));
    return failed(failure::directory_unsafe, own.empty() ? directory + " is writable by other users" : own);
}

// Opens (making it when missing) the removal guard and takes its lock, waiting
// a little while another run holds it. Invalid with `reason` set when it can't.
untrusted_files::descriptor take_removal_guard(const std::string& directory, std::string& reason)
{
    const std::string path = directory + "/" + removal_guard_name();
    untrusted_files::descriptor guard(::open(path.c_str(), kCreateFlags, 0600));
    if (guard.valid()) {
        if (::fchmod(guard.get(), 0600) != 0) {
            reason = system_error(path, "can't be made private", errno);
            return untrusted_files::descriptor();
        }
    } else if (errno == EEXIST) {
        // Anything but a file a run of this program made can't guard anything;
        // it is looked at before it is opened, and through the descriptor after.
        struct stat seen {};
        if (::lstat(path.c_str(), &seen) != 0) {
            reason = system_error(path, "can't be examined", errno);
            return untrusted_files::descriptor();
        }
        reason = lock_file_problem(path, seen, ::geteuid());
        if (!reason.empty()) {
            return untrusted_files::descriptor();
        }
        guard.reset(::open(path.c_str(), kOpenFlags));
        struct stat status {};
        if (!guard.valid() || ::fstat(guard.get(), &status) != 0) {
            reason = system_error(path, "can't be opened", errno);
            return untrusted_files::descriptor();
        }
        reason = lock_file_problem(path, status, ::geteuid());
        if (!reason.empty()) {
            return untrusted_files::descriptor();
        }
    } else {
        reason = system_error(path, "can't be made", errno);
        return untrusted_files::descriptor();
    }
    for (int step = 0; step < kGuardSteps; ++step) {
        const int taken = lock_whole_file(guard.get(), false);
        if (taken > 0) {
            return guard;
        }
        if (taken < 0) {
            reason = system_error(path, "can't be locked", errno);
            return untrusted_files::descriptor();
        }
        termination::sleep_for(kGuardStep);
    }
    reason = path + " stays locked by another process";
    return untrusted_files::descriptor();
}

// Removes the entry at `path` when it is still the one whose status is `seen`,
// under the removal guard. Empty when it is gone (or changed, to be examined
// again); otherwise why it could not be removed.
std::string remove_entry(const std::string& directory, const std::string& path, const struct stat& seen)
{
    std::string reason;
    const untrusted_files::descriptor guard = take_removal_guard(directory, reason);
    if (!guard.valid()) {
        return reason;
    }
    struct stat now {};
    if (::lstat(path.c_str(), &now) != 0 || !same_file(now, seen)) {
        return std::string();
    }
    // Neither call follows a link at `path`; a directory goes only when empty.
    const int removed = S_ISDIR(now.st_mode) ? ::rmdir(path.c_str()) : ::unlink(path.c_str());
    if (removed != 0 && errno != ENOENT) {
        return system_error(path, "can't be removed", errno);
    }
    return std::string();
}

}  // namespace

std::string lock_file_problem(const std::string& path, const struct stat& status, uid_t owner)
{
    if (S_ISLNK(status.st_mode)) {
        return path + " is a symbolic link";
    }
    if (S_ISDIR(status.st_mode)) {
        return path + " is a directory";
    }
    if (S_ISFIFO(status.st_mode)) {
        return path + " is a FIFO";
    }
    if (!S_ISREG(status.st_mode)) {
        return path + " is not a regular file";
    }
    if (status.st_nlink != 1) {
        return path + " has " + std::to_string(status.st_nlink) + " hard links";
    }
    if (status.st_uid != owner) {
        return path + " is owned by " + owner_name(status.st_uid) + ", not by " + owner_name(owner);
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        return path + " has mode " + octal_mode(status.st_mode) + ": other users may open it";
    }
    return std::string();
}

outcome find_lock_file(const std::string& directory, const std::string& name, untrusted_files::descriptor* opened)
{
    outcome result = prepare_directory(directory);
    if (result.kind != failure::none) {
        return result;
    }
    const std::string path = directory + "/" + name;
    const uid_t owner = ::geteuid();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) {
            if (errno != ENOENT) {
                return failed(failure::not_opened, system_error(path, "can't be examined", errno), result);
            }
            untrusted_files::descriptor made(::open(path.c_str(), kCreateFlags, 0600));
            if (!made.valid()) {
                if (errno == EEXIST) {
                    continue;  // another run made it a moment ago
                }
                return failed(failure::not_made, system_error(path, "can't be made", errno), result);
            }
            // The mask may have taken bits away from 0600; none are added by it.
            if (::fchmod(made.get(), 0600) != 0) {
                return failed(failure::not_made, system_error(path, "can't be made private", errno), result);
            }
            if (opened != nullptr) {
                *opened = std::move(made);
            }
            return result;
        }
        const std::string problem = lock_file_problem(path, status, owner);
        if (!problem.empty()) {
            const std::string not_removed = remove_entry(directory, path, status);
            if (!not_removed.empty()) {
                return failed(failure::not_a_lock, problem + "; " + not_removed, result);
            }
            result.replaced.push_back(problem);
            continue;
        }
        if (opened == nullptr) {
            return result;
        }
        // Only a regular file is opened here, so that opening never waits on a
        // FIFO or touches a device; the descriptor then shows what was opened.
        untrusted_files::descriptor file(::open(path.c_str(), kOpenFlags));
        if (!file.valid()) {
            if (errno == ENOENT || errno == ELOOP) {
                continue;  // removed or replaced since it was examined
            }
            return failed(failure::not_opened, system_error(path, "can't be opened", errno), result);
        }
        struct stat now {};
        if (::fstat(file.get(), &now) != 0) {
            return failed(failure::not_opened, system_error(path, "can't be examined", errno), result);
        }
        if (!same_file(now, status) || !lock_file_problem(path, now, owner).empty()) {
            continue;
        }
        *opened = std::move(file);
        return result;
    }
    return failed(failure::keeps_changing, path + " keeps changing", result);
}

int lock_whole_file(int fd, bool wait)
{
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    for (;;) {
        if (::fcntl(fd, wait ? F_SETLKW : F_SETLK, &lock) == 0) {
            return 1;
        }
        if (errno == EINTR) {
            continue;
        }
        if (!wait && (errno == EAGAIN || errno == EACCES)) {
            return 0;
        }
        return -1;
    }
}

bool unlock_whole_file(int fd)
{
    struct flock lock {};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return ::fcntl(fd, F_SETLK, &lock) == 0;
}

const char* removal_guard_name()
{
    return "Kelvomar_MOD_mutex_removal";
}

}  // namespace lock_files
}  // namespace module
}  // namespace kelvomar

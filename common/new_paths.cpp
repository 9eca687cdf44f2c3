// Directories made new and files put in place without following a link.
#include "common/new_paths.h"
#include "common/write_all.h"

#include <boost/filesystem.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace kelvomar {
namespace new_paths {

namespace {

// `path` without trailing slashes, so that lstat looks at the entry itself
// and not at what a link there points to.
std::string without_trailing_slash(std::string path)
{
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool entry_status(const std::string& path, struct stat& status)
{
    return ::lstat(without_trailing_slash(path).c_str(), &status) == 0;
}

std::string parent_of(const std::string& path)
{
    return boost::filesystem::path(without_trailing_slash(path)).parent_path().string();
}

}  // namespace

entry_kind entry_at(const std::string& path)
{
    struct stat status {};
    if (!entry_status(path, status)) {
        return entry_kind::missing;
    }
    if (S_ISLNK(status.st_mode)) {
        return entry_kind::link;
    }
    if (S_ISDIR(status.st_mode)) {
        return entry_kind::directory;
    }
    if (S_ISREG(status.st_mode)) {
        return entry_kind::regular;
    }
    return entry_kind::other;
}

int make_new_directory(const std::string& path)
{
    // mkdir never follows a link in the last component: anything there is
    // EEXIST. The mask can only take bits away from 0700; chmod then sets
    // exactly 0700 on the directory just made (a directory of root's in a
    // directory that no other user can change, so still the same one).
    const std::string directory = without_trailing_slash(path);
    if (::mkdir(directory.c_str(), 0700) != 0) {
        return errno;
    }
    if (::chmod(directory.c_str(), 0700) != 0) {
        return errno;
    }
    return 0;
}

int check_real_directory(const std::string& path)
{
    switch (entry_at(path)) {
    case entry_kind::directory: return 0;
    case entry_kind::link: return ELOOP;
    case entry_kind::missing: return ENOENT;
    default: return ENOTDIR;
    }
}

int use_or_make_directory(const std::string& path, bool with_parents, bool& created)
{
    created = false;
    const int existing = check_real_directory(path);
    if (existing != ENOENT) {
        return existing;
    }
    if (with_parents) {
        const std::string parent = parent_of(path);
        boost::system::error_code error;
        if (!parent.empty() && entry_at(parent) == entry_kind::missing) {
            boost::filesystem::create_directories(parent, error);
            if (error) {
                return error.value();
            }
        }
    }
    const int made = make_new_directory(path);
    created = made == 0;
    return made;
}

int check_replaceable(const std::string& path)
{
    struct stat status {};
    if (!entry_status(path, status)) {
        return errno == ENOENT ? 0 : errno;
    }
    if (S_ISLNK(status.st_mode)) {
        return ELOOP;
    }
    if (S_ISDIR(status.st_mode)) {
        return EISDIR;
    }
    if (!S_ISREG(status.st_mode)) {
        return EEXIST;
    }
    return status.st_nlink == 1 ? 0 : EMLINK;
}

new_file::new_file(std::string target) : target_(without_trailing_slash(std::move(target)))
{
    static unsigned counter = 0;
    const std::string stem = target_ + ".new." + std::to_string(::getpid()) + ".";
    // A bounded number of names: one taken by someone else is skipped.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = stem + std::to_string(counter++);
        fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            path_ = name;
            return;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    error_ = errno;
}

new_file::~new_file()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!committed_ && !path_.empty()) {
        ::unlink(path_.c_str());
    }
}

std::string new_file::descriptor_path()
{
    if (fd_ < 0) {
        return std::string();
    }
    const int flags = ::fcntl(fd_, F_GETFD);
    if (flags >= 0) {
        ::fcntl(fd_, F_SETFD, flags & ~FD_CLOEXEC);
    }
    return "/dev/fd/" + std::to_string(fd_);
}

int new_file::write(const std::string& text)
{
    if (fd_ < 0) {
        return error_ != 0 ? error_ : EBADF;
    }
    error_ = kelvomar::write_all(fd_, text);
    return error_;
}

int new_file::commit()
{
    if (fd_ < 0) {
        return error_ != 0 ? error_ : EBADF;
    }
    const int closed = ::close(fd_) == 0 ? 0 : errno;
    fd_ = -1;
    if (closed != 0) {
        return error_ = closed;
    }
    const int replaceable = check_replaceable(target_);
    if (replaceable != 0) {
        return error_ = replaceable;
    }
    // rename replaces the entry itself: a link put there meanwhile is not followed.
    if (::rename(path_.c_str(), target_.c_str()) != 0) {
        return error_ = errno;
    }
    committed_ = true;
    return 0;
}

int replace_file(const std::string& path, const std::string& text)
{
    const int replaceable = check_replaceable(path);
    if (replaceable != 0) {
        return replaceable;
    }
    new_file file(path);
    if (file.error() != 0) {
        return file.error();
    }
    const int written = file.write(text);
    return written != 0 ? written : file.commit();
}

int make_new_file(const std::string& path, struct stat& made)
{
    const std::string file = without_trailing_slash(path);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno;
    }
    // The mask can only take bits away: exactly 0600, whatever it is.
    int error = ::fchmod(fd, 0600) == 0 && ::fstat(fd, &made) == 0 ? 0 : errno;
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(file.c_str());
    }
    return error;
}

std::string what_stands_at(const std::string& path)
{
    struct stat status {};
    if (!entry_status(path, status)) {
        return std::string();
    }
    switch (status.st_mode & S_IFMT) {
    case S_IFLNK: return "a symbolic link";
    case S_IFDIR: return "a directory";
    case S_IFIFO: return "a FIFO";
    case S_IFSOCK: return "a socket";
    case S_IFCHR:
    case S_IFBLK: return "a device";
    case S_IFREG: break;
    default: return "something other than a file";
    }
    if (status.st_uid != ::geteuid()) {
        return "a file of uid " + std::to_string(status.st_uid);
    }
    return status.st_nlink == 1 ? "a file" : "a file with more than one link";
}

std::string made_file_problem(const std::string& path, const struct stat& made)
{
    struct stat status {};
    if (!entry_status(path, status)) {
        return path + " is no longer there";
    }
    if (!S_ISREG(status.st_mode) || status.st_dev != made.st_dev || status.st_ino != made.st_ino) {
        return path + " is no longer the file the run made there: " + what_stands_at(path) + " stands there";
    }
    if (status.st_uid != ::geteuid()) {
        return path + " is no longer the run's own: it is owned by uid " + std::to_string(status.st_uid);
    }
    if ((status.st_mode & 07777) != 0600) {
        std::string mode = "0000";
        const unsigned bits = status.st_mode & 07777;
        for (int digit = 0; digit < 4; ++digit) {
            mode[3 - digit] = static_cast<char>('0' + ((bits >> (3 * digit)) & 7));
        }
        return path + " is no longer private: it has mode " + mode + ", not 0600";
    }
    return std::string();
}

bool remove_made_file(const std::string& path, const struct stat& made)
{
    struct stat status {};
    if (!entry_status(path, status) || !S_ISREG(status.st_mode) || status.st_dev != made.st_dev ||
        status.st_ino != made.st_ino) {
        return false;
    }
    return ::unlink(without_trailing_slash(path).c_str()) == 0;
}

std::string new_paths_error(const std::string& path, int error)
{
    switch (error) {
    case ELOOP: return path + ": a symbolic link stands there";
    case EMLINK: return path + ": a file with more than one link stands there";
    case EISDIR: return path + ": a directory stands there";
    case ENOTDIR: return path + ": it is not a directory";
    case EEXIST: return path + ": something already stands there";
    case ENOENT: return path + ": it doesn't exist";
    default: return path + ": " + std::strerror(error);
    }
}

}  // namespace new_paths
}  // namespace kelvomar

// Directories that no other local user can change: the operation directory
// with every directory above it, and the run's own directories in it.
#include "common/safe_directory.h"

#include "common/new_paths.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <vector>

namespace kelvomar {
namespace safe_directory {

namespace {

// More links than this on one walk is a loop (as the kernel's own limit).
const int kMostLinks = 40;

std::string owner_name(uid_t uid)
{
    return uid == 0 ? std::string("root") : "uid " + std::to_string(uid);
}

std::string owned_by_other(const std::string& path, uid_t uid, uid_t owner)
{
    return path + " is owned by " + owner_name(uid) + ", not by " + owner_name(owner);
}

// The components of `path`, empty ones dropped.
std::deque<std::string> components_of(const std::string& path)
{
    std::deque<std::string> parts;
    std::string::size_type begin = 0;
    while (begin <= path.size()) {
        std::string::size_type end = path.find('/', begin);
        if (end == std::string::npos) {
            end = path.size();
        }
        if (end > begin) {
            parts.push_back(path.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return parts;
}

std::string joined(const std::string& directory, const std::string& name)
{
    return directory == "/" ? "/" + name : directory + "/" + name;
}

std::string parent_of(const std::string& directory)
{
    const std::string::size_type slash = directory.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : directory.substr(0, slash);
}

std::string read_link(const std::string& path, int& error)
{
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size() - 1);
    if (n < 0) {
        error = errno;
        return std::string();
    }
    error = 0;
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

std::string examine_error(const std::string& path, int error)
{
    return path + " can't be examined: " + std::strerror(error);
}

// Walks `path` from "/" as the kernel resolves it, each directory checked
// before what lies in it is looked at; missing directories are made when `make`.
std::string walk(const std::string& path, bool make, bool& created)
{
    created = false;
    const uid_t owner = ::geteuid();
    std::string start = "/";
    if (path.empty() || path[0] != '/') {
        std::vector<char> cwd(PATH_MAX + 1);
        if (::getcwd(cwd.data(), cwd.size()) == nullptr) {
            return "the working directory can't be named: " + std::string(std::strerror(errno));
        }
        start = cwd.data();
    }
    // The working directory (already resolved, no link in it) is walked first.
    std::deque<std::string> rest = components_of(start == "/" ? std::string() : start);
    for (const std::string& part : components_of(path)) {
        rest.push_back(part);
    }
    struct stat status {};
    if (::lstat("/", &status) != 0) {
        return examine_error("/", errno);
    }
    std::string problem = directory_problem("/", status, owner, directory_rule::operation, has_access_acl("/"));
    if (!problem.empty()) {
        return problem;
    }
    std::string current = "/";
    int links = 0;
    while (!rest.empty()) {
        const std::string part = rest.front();
        rest.pop_front();
        if (part == ".") {
            continue;
        }
        if (part == "..") {
            // `current` holds no link, so its parent is the one already checked.
            current = parent_of(current);
            continue;
        }
        const std::string next = joined(current, part);
        const bool last = rest.empty();
        if (::lstat(next.c_str(), &status) != 0) {
            if (errno != ENOENT) {
                return examine_error(next, errno);
            }
            if (!make) {
                return new_paths::new_paths_error(next, ENOENT);
            }
            const int error = new_paths::make_new_directory(next);
            if (error != 0 && error != EEXIST) {
                return next + " can't be made: " + std::strerror(error);
            }
            created = last && error == 0;
            if (::lstat(next.c_str(), &status) != 0) {
                return examine_error(next, errno);
            }
        }
        if (S_ISLNK(status.st_mode)) {
            // The directory the run works in is never a link; one above it is
            // followed when no one but the run's user can have put it there.
            if (last) {
                return new_paths::new_paths_error(next, ELOOP);
            }
            if (status.st_uid != owner) {
                return next + " is a symbolic link owned by " + owner_name(status.st_uid) + ", not by " +
                       owner_name(owner);
            }
            if (++links > kMostLinks) {
                return next + ": too many levels of symbolic links";
            }
            int error = 0;
            const std::string target = read_link(next, error);
            if (error != 0) {
                return examine_error(next, error);
            }
            if (!target.empty() && target[0] == '/') {
                current = "/";
            }
            const std::deque<std::string> target_parts = components_of(target);
            rest.insert(rest.begin(), target_parts.begin(), target_parts.end());
            continue;
        }
        if (!S_ISDIR(status.st_mode)) {
            return new_paths::new_paths_error(next, ENOTDIR);
        }
        problem = directory_problem(next, status, owner, directory_rule::operation, has_access_acl(next));
        if (!problem.empty()) {
            return problem;
        }
        current = next;
    }
    return std::string();
}

}  // namespace

std::string directory_problem(const std::string& path, const struct stat& status, uid_t owner,
                              directory_rule rule, bool has_acl)
{
    if (status.st_uid != owner) {
        return owned_by_other(path, status.st_uid, owner);
    }
    const mode_t mode = status.st_mode;
    // With an access control list the group bits are its mask: what it grants
    // named users and groups at most, the file's group among them.
    const bool acl = has_acl && (mode & S_IRWXG) != 0;
    if (rule == directory_rule::operation) {
        if ((mode & (S_IWGRP | S_IWOTH)) == 0 || (mode & S_ISVTX) != 0) {
            return std::string();
        }
        if ((mode & S_IWOTH) != 0) {
            return path + " is writable by other users and has no sticky bit";
        }
        if (acl) {
            return path + " has an access control list that lets other users write to it and has no sticky bit";
        }
        return path + " is writable by its group and has no sticky bit";
    }
    if ((mode & S_IWOTH) != 0) {
        return path + " is writable by other users";
    }
    if (acl) {
        return path + " has an access control list that gives other users access";
    }
    if ((mode & S_IWGRP) != 0) {
        return path + " is writable by its group";
    }
    if ((mode & S_IROTH) != 0) {
        return path + " can be listed by other users";
    }
    if ((mode & S_IXOTH) != 0) {
        return path + " can be entered by other users";
    }
    if ((mode & S_IRGRP) != 0) {
        return path + " can be listed by its group";
    }
    if ((mode & S_IXGRP) != 0) {
        return path + " can be entered by its group";
    }
    return std::string();
}

bool has_access_acl(const std::string& path)
{
    // The list is kept only when it says more than the mode bits.
    return ::lgetxattr(path.c_str(), "system.posix_acl_access", nullptr, 0) > 0;
}

std::string operation_directory_problem(const std::string& path)
{
    bool created = false;
    return walk(path, false, created);
}

std::string make_operation_directory(const std::string& path, bool& created)
{
    return walk(path, true, created);
}

std::string entry_owner_problem(const std::string& path)
{
    struct stat status {};
    const uid_t owner = ::geteuid();
    if (::lstat(path.c_str(), &status) != 0 || status.st_uid == owner) {
        return std::string();
    }
    return owned_by_other(path, status.st_uid, owner);
}

std::string private_directory_problem(const std::string& path)
{
    const int real = new_paths::check_real_directory(path);
    if (real != 0) {
        return new_paths::new_paths_error(path, real);
    }
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return examine_error(path, errno);
    }
    return directory_problem(path, status, ::geteuid(), directory_rule::reused, has_access_acl(path));
}

std::string use_or_make_private_directory(const std::string& path, bool& created)
{
    created = false;
    if (new_paths::entry_at(path) != new_paths::entry_kind::missing) {
        return private_directory_problem(path);
    }
    const int error = new_paths::make_new_directory(path);
    if (error != 0) {
        return new_paths::new_paths_error(path, error);
    }
    created = true;
    return std::string();
}

std::string operation_directory_advice()
{
    return "the operation directory and every directory above it must be owned by root and writable by no other "
           "user, unless it has the sticky bit";
}

std::string operation_directory_advice(const std::string& path)
{
    if (new_paths::entry_at(path) == new_paths::entry_kind::link) {
        return "give the operation directory by its real path, not through a symbolic link";
    }
    return operation_directory_advice();
}

std::string private_directory_advice()
{
    return "a directory the run reuses must be owned by root and give no other user any access (mode 0700); it is "
           "left as it is";
}

}  // namespace safe_directory
}  // namespace kelvomar

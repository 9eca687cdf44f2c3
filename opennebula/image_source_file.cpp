#include "opennebula/image_source_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace hx_opennebula_common {

namespace {

using kelvomar::untrusted_files::descriptor;

// The names of `path` between its slashes; empty names and "." are dropped,
// ".." is kept.
std::vector<std::string> names_of(const std::string& path)
{
    std::vector<std::string> names;
    std::string::size_type begin = 0;
    while (begin <= path.size()) {
        std::string::size_type end = path.find('/', begin);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string name = path.substr(begin, end - begin);
        if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        begin = end + 1;
    }
    return names;
}

// True with the names of `path` below `base` in `below` when `path` lies
// strictly below it and climbs nowhere with "..".
bool names_below(const std::vector<std::string>& base, const std::vector<std::string>& path,
                 std::vector<std::string>& below)
{
    if (base.empty() || path.size() <= base.size()) {
        return false;
    }
    for (std::size_t i = 0; i < base.size(); ++i) {
        if (base[i] != path[i]) {
            return false;
        }
    }
    below.assign(path.begin() + static_cast<std::ptrdiff_t>(base.size()), path.end());
    for (const std::string& name : below) {
        if (name == "..") {
            return false;
        }
    }
    return true;
}

// A link that only root can have put there and only root can change: root's,
// in a directory of root's that no one else can write to (or, when others
// can, one with the sticky bit, where they can't remove or rename root's entries).
bool trusted_link(int directory, const struct stat& link)
{
    struct stat holder {};
    if (::fstat(directory, &holder) != 0 || link.st_uid != 0 || holder.st_uid != 0) {
        return false;
    }
    return (holder.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (holder.st_mode & S_ISVTX) != 0;
}

std::string kind_text(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFDIR: return "a directory";
    case S_IFIFO: return "a FIFO";
    case S_IFSOCK: return "a socket";
    case S_IFCHR: return "a character device";
    case S_IFBLK: return "a block device";
    case S_IFLNK: return "a symbolic link";
    default: return "not a regular file";
    }
}

std::string error_text(const std::string& path, int error)
{
    return path + ": " + std::strerror(error);
}

// The number of links followed before a path counts as a loop, as the kernel's limit.
constexpr int kMostLinks = 40;

}  // namespace

bool open_image_source(const std::string& source, const std::string& base_path, bool block_device_allowed,
                       int access, descriptor& file, struct stat& status, std::string& refusal)
{
    if (source.empty() || source[0] != '/') {
        refusal = "'" + source + "' is not an absolute path";
        return false;
    }
    const std::vector<std::string> base_names = names_of(base_path);
    std::vector<std::string> below;
    const bool in_datastore = !base_path.empty() && base_path[0] == '/' && names_below(base_names, names_of(source), below);
    // Below the base path the platform's service account can make any entry: no link there.
    const bool links_allowed = !in_datastore;
    descriptor directory(::open(in_datastore ? base_path.c_str() : "/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid()) {
        refusal = error_text(in_datastore ? base_path : std::string("/"), errno);
        return false;
    }
    // The paths in a refusal begin with the base path as the platform prints it.
    std::string where;
    if (in_datastore) {
        where = base_path.substr(0, base_path.find_last_not_of('/') + 1);
    }
    std::deque<std::string> pending;
    if (in_datastore) {
        pending.assign(below.begin(), below.end());
    } else {
        const std::vector<std::string> names = names_of(source);
        pending.assign(names.begin(), names.end());
    }
    int links = 0;
    while (!pending.empty()) {
        const std::string name = pending.front();
        pending.pop_front();
        if (name == "..") {
            // Only a trusted link's target climbs; "/.." is "/".
            descriptor parent(::openat(directory.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!parent.valid()) {
                refusal = error_text(where + "/..", errno);
                return false;
            }
            directory = std::move(parent);
            const std::string::size_type slash = where.rfind('/');
            where = slash == std::string::npos ? std::string() : where.substr(0, slash);
            if (pending.empty()) {
                refusal = (where.empty() ? std::string("/") : where) + " is a directory";
                return false;
            }
            continue;
        }
        const std::string here = where + "/" + name;
        struct stat entry {};
        if (::fstatat(directory.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            refusal = error_text(here, errno);
            return false;
        }
        if (S_ISLNK(entry.st_mode)) {
            if (!links_allowed) {
                refusal = here + " is a symbolic link";
                return false;
            }
            if (!trusted_link(directory.get(), entry)) {
                refusal = here + " is a symbolic link that another user can change";
                return false;
            }
            if (++links > kMostLinks) {
                refusal = error_text(source, ELOOP);
                return false;
            }
            std::vector<char> target(static_cast<std::size_t>(entry.st_size > 0 ? entry.st_size : 255) + 2);
            const ssize_t length = ::readlinkat(directory.get(), name.c_str(), target.data(), target.size());
            if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
                refusal = here + " is a symbolic link that can't be read";
                return false;
            }
            const std::string text(target.data(), static_cast<std::size_t>(length));
            const std::vector<std::string> names = names_of(text);
            pending.insert(pending.begin(), names.begin(), names.end());
            if (!text.empty() && text[0] == '/') {
                directory.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                if (!directory.valid()) {
                    refusal = error_text("/", errno);
                    return false;
                }
                where.clear();
            }
            if (pending.empty()) {
                refusal = here + " leads to a directory";
                return false;
            }
            continue;
        }
        if (!pending.empty()) {
            if (!S_ISDIR(entry.st_mode)) {
                refusal = here + " is not a directory";
                return false;
            }
            descriptor next(::openat(directory.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!next.valid()) {
                refusal = error_text(here, errno);
                return false;
            }
            directory = std::move(next);
            where = here;
            continue;
        }
        const bool regular = S_ISREG(entry.st_mode);
        if (!regular && !(block_device_allowed && S_ISBLK(entry.st_mode))) {
            refusal = here + " is " + kind_text(entry.st_mode) + ", not " +
                      (block_device_allowed ? "a regular file or a block device" : "a regular file");
            return false;
        }
        if (regular && entry.st_nlink != 1) {
            refusal = here + " is a file with more than one link";
            return false;
        }
        // Checked again through the open file: the entry may have been replaced meanwhile.
        descriptor opened(
            ::openat(directory.get(), name.c_str(), access | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!opened.valid()) {
            refusal = error_text(here, errno);
            return false;
        }
        struct stat now {};
        if (::fstat(opened.get(), &now) != 0 || now.st_dev != entry.st_dev || now.st_ino != entry.st_ino ||
            (now.st_mode & S_IFMT) != (entry.st_mode & S_IFMT) || (regular && now.st_nlink != 1)) {
            refusal = here + " changed while it was opened";
            return false;
        }
        const int flags = ::fcntl(opened.get(), F_GETFL);
        if (flags < 0 || ::fcntl(opened.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
            refusal = error_text(here, errno);
            return false;
        }
        file = std::move(opened);
        status = now;
        return true;
    }
    refusal = source + " names a directory";
    return false;
}

}  // namespace hx_opennebula_common

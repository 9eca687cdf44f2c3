// Untrusted files opened without following links and used through what was
// opened: the walk below a base directory, the checks of the file found there,
// its move or copy into another directory and the change of its owner.
#include "common/untrusted_files.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "common/termination.h"

namespace kelvomar {
namespace untrusted_files {

namespace {

constexpr std::size_t kBlockSize = std::size_t(1) << 20;        // one read or write
constexpr std::uint64_t kSafePointEvery = std::uint64_t(64) << 20;  // bytes between termination checks

std::string system_text(int error)
{
    return std::generic_category().message(error);
}

// The names of `relative`, empty pieces dropped; false with `refusal` for "."
// or ".." or when no name is left.
bool split_names(const std::string& relative, std::vector<std::string>& names, std::string& refusal)
{
    std::string piece;
    const auto take = [&]() {
        if (piece == "." || piece == "..") {
            refusal = "holds the path piece '" + piece + "'";
            return false;
        }
        if (!piece.empty()) {
            names.push_back(piece);
        }
        piece.clear();
        return true;
    };
    for (char c : relative) {
        if (c == '/') {
            if (!take()) {
                return false;
            }
        } else {
            piece += c;
        }
    }
    return take();
}

// What stands there instead of a regular file with one link; empty when it is one.
std::string kind_refusal(const struct stat& status)
{
    if (S_ISLNK(status.st_mode)) {
        return "is a symbolic link";
    }
    if (S_ISDIR(status.st_mode)) {
        return "is a directory";
    }
    if (S_ISFIFO(status.st_mode)) {
        return "is a FIFO";
    }
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) {
        return "is a device";
    }
    if (S_ISSOCK(status.st_mode)) {
        return "is a socket";
    }
    if (!S_ISREG(status.st_mode)) {
        return "is not a regular file";
    }
    if (status.st_nlink != 1) {
        return "has " + std::to_string(static_cast<unsigned long long>(status.st_nlink)) + " hard links";
    }
    return std::string();
}

// Why `name` in `directory` can't be opened as a directory, after a failed openat.
std::string directory_refusal(int directory, const std::string& name, const std::string& shown, int error)
{
    struct stat status {};
    if (::fstatat(directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(status.st_mode)) {
            return "is reached through the symbolic link " + shown;
        }
        if (!S_ISDIR(status.st_mode)) {
            return "is reached through " + shown + ", which is not a directory";
        }
    } else if (errno == ENOENT) {
        return "doesn't exist (no " + shown + ")";
    }
    return "can't be reached: " + shown + ": " + system_text(error);
}

// Opens `base` and then every name of `names` but the last `keep` as a
// directory, without following a link below `base`.
bool walk(const std::string& base, const std::vector<std::string>& names, std::size_t keep, descriptor& directory,
          std::string& refusal)
{
    directory.reset(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid()) {
        refusal = "can't be reached: the directory " + base + " can't be opened: " + system_text(errno);
        return false;
    }
    std::string shown = base;
    for (std::size_t i = 0; i + keep < names.size(); ++i) {
        shown += "/" + names[i];
        const int next = ::openat(directory.get(), names[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            refusal = directory_refusal(directory.get(), names[i], shown, errno);
            return false;
        }
        directory.reset(next);
    }
    return true;
}

bool same_file(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Writes all of `data` at `offset`.
bool write_all(int fd, const char* data, std::size_t size, off_t offset, std::string& error)
{
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, data, size, offset);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = system_text(errno);
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        offset += written;
    }
    return true;
}

}  // namespace

descriptor& descriptor::operator=(descriptor&& other) noexcept
{
    if (this != &other) {
        reset(other.fd_);
        other.fd_ = -1;
    }
    return *this;
}

void descriptor::reset(int fd) noexcept
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

bool open_input_file(const std::string& base, const std::string& relative, input_file& file, std::string& refusal)
{
    std::vector<std::string> names;
    if (!split_names(relative, names, refusal)) {
        return false;
    }
    if (names.empty()) {
        refusal = "names no file";
        return false;
    }
    descriptor directory;
    if (!walk(base, names, 1, directory, refusal)) {
        return false;
    }
    const std::string& name = names.back();
    struct stat before {};
    if (::fstatat(directory.get(), name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0) {
        refusal = errno == ENOENT ? "doesn't exist" : "can't be examined: " + system_text(errno);
        return false;
    }
    refusal = kind_refusal(before);
    if (!refusal.empty()) {
        return false;
    }
    // Non-blocking, so that a FIFO put there in the meantime does not hold the open.
    descriptor opened(::openat(directory.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!opened.valid()) {
        refusal = errno == ELOOP ? "is a symbolic link" : "can't be opened: " + system_text(errno);
        return false;
    }
    struct stat after {};
    if (::fstat(opened.get(), &after) != 0) {
        refusal = "can't be examined: " + system_text(errno);
        return false;
    }
    refusal = kind_refusal(after);
    if (refusal.empty() && !same_file(before, after)) {
        refusal = "was replaced while it was opened";
    }
    if (!refusal.empty()) {
        return false;
    }
    const int flags = ::fcntl(opened.get(), F_GETFL);
    if (flags < 0 || ::fcntl(opened.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        refusal = "can't be opened: " + system_text(errno);
        return false;
    }
    file.file = std::move(opened);
    file.directory = std::move(directory);
    file.name = name;
    file.status = after;
    return true;
}

bool open_directory_below(const std::string& base, const std::string& relative, descriptor& directory,
                          std::string& refusal)
{
    std::vector<std::string> names;
    if (!split_names(relative, names, refusal)) {
        return false;
    }
    return walk(base, names, 0, directory, refusal);
}

namespace {

// Reads `fd` from its start in blocks, handing each to `take` (false stops the
// read), with a termination check every kSafePointEvery bytes. The bytes read
// in all; -1 with `error` set when a read or `take` failed.
template <typename Take>
off_t read_in_blocks(int fd, Take take, std::string& error)
{
    std::vector<char> buffer(kBlockSize);
    off_t offset = 0;
    std::uint64_t since_safe_point = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = system_text(errno);
            return -1;
        }
        if (got == 0) {
            return offset;
        }
        if (!take(buffer.data(), static_cast<std::size_t>(got), offset)) {
            return -1;
        }
        offset += got;
        since_safe_point += static_cast<std::uint64_t>(got);
        if (since_safe_point >= kSafePointEvery) {
            termination::safe_point();
            since_safe_point = 0;
        }
    }
}

}  // namespace

bool read_whole_file(int fd, std::string& text, std::string& error)
{
    text.clear();
    const auto append = [&text](const char* data, std::size_t size, off_t) {
        text.append(data, size);
        return true;
    };
    return read_in_blocks(fd, append, error) >= 0;
}

bool create_new_file(int directory, const std::string& stem, std::string& name, descriptor& file,
                     std::string& error)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kLetters) - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = stem;
        for (int i = 0; i < 6; ++i) {
            candidate += kLetters[pick(random)];
        }
        const int fd = ::openat(directory, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                0600);
        if (fd >= 0) {
            name = candidate;
            file.reset(fd);
            return true;
        }
        if (errno != EEXIST) {
            error = system_text(errno);
            return false;
        }
    }
    error = "no free name found";
    return false;
}

bool copy_file_content(int from, int to, std::string& error)
{
    // Blocks of zeros are left as holes.
    const auto write_block = [to, &error](const char* data, std::size_t size, off_t offset) {
        const bool zeros = std::all_of(data, data + size, [](char c) { return c == 0; });
        return zeros || write_all(to, data, size, offset, error);
    };
    const off_t length = read_in_blocks(from, write_block, error);
    if (length < 0) {
        return false;
    }
    // The length, holes at the end included.
    if (::ftruncate(to, length) != 0) {
        error = system_text(errno);
        return false;
    }
    return true;
}

move_result move_input_file(const input_file& file, int directory, const std::string& name, std::string& error)
{
    if (::renameat(file.directory.get(), file.name.c_str(), directory, name.c_str()) != 0) {
        if (errno == EXDEV) {
            return move_result::other_file_system;
        }
        error = system_text(errno);
        return move_result::failed;
    }
    struct stat moved {};
    if (::fstatat(directory, name.c_str(), &moved, AT_SYMLINK_NOFOLLOW) != 0) {
        error = system_text(errno);
        return move_result::failed;
    }
    if (!same_file(moved, file.status)) {
        error = "the file was replaced before it was moved";
        return move_result::failed;
    }
    return move_result::moved;
}

bool remove_input_file(const input_file& file, std::string& error)
{
    struct stat standing {};
    if (::fstatat(file.directory.get(), file.name.c_str(), &standing, AT_SYMLINK_NOFOLLOW) != 0) {
        error = system_text(errno);
        return false;
    }
    if (!same_file(standing, file.status)) {
        error = "another file stands there now";
        return false;
    }
    if (::unlinkat(file.directory.get(), file.name.c_str(), 0) != 0) {
        error = system_text(errno);
        return false;
    }
    return true;
}

bool give_file_to(int fd, const std::string& user, const std::string& group, mode_t mode, std::string& error)
{
    std::vector<char> buffer(64 * 1024);
    passwd user_entry{};
    passwd* user_found = nullptr;
    int status = ::getpwnam_r(user.c_str(), &user_entry, buffer.data(), buffer.size(), &user_found);
    if (user_found == nullptr) {
        error = status != 0 ? "can't look up the user " + user + ": " + system_text(status) : "no user " + user;
        return false;
    }
    const uid_t uid = user_entry.pw_uid;
    struct group gr {};
    struct group* group_found = nullptr;
    status = ::getgrnam_r(group.c_str(), &gr, buffer.data(), buffer.size(), &group_found);
    if (group_found == nullptr) {
        error = status != 0 ? "can't look up the group " + group + ": " + system_text(status) : "no group " + group;
        return false;
    }
    return set_owner_and_mode(fd, uid, gr.gr_gid, mode, error);
}

bool keep_private(int fd, std::string& error)
{
    return set_owner_and_mode(fd, ::geteuid(), ::getegid(), 0600, error);
}

bool set_owner_and_mode(int fd, uid_t uid, gid_t gid, mode_t mode, std::string& error)
{
    mode &= 07777;
    if (::fchmod(fd, mode) != 0 || ::fchown(fd, uid, gid) != 0 || ::fchmod(fd, mode) != 0) {
        error = system_text(errno);
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        error = system_text(errno);
        return false;
    }
    if (status.st_uid != uid || status.st_gid != gid || (status.st_mode & 07777) != mode) {
        error = "the owner or the mode did not take";
        return false;
    }
    return true;
}

}  // namespace untrusted_files
}  // namespace kelvomar

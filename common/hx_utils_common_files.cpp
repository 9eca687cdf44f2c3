// Free-space and sparse-file tests.

#include "common/hx_utils_common.h"
#include "common/file_sizes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

namespace hx_utils_common {

namespace {

// Bytes available to unprivileged users on the file system of `path`; false with
// the perror line when it cannot be asked.
bool available_bytes(const std::string& path, unsigned long long& available)
{
    struct statfs info;
    if (::statfs(path.c_str(), &info) != 0) {
        std::perror(("Can't call statfs for: " + path).c_str());
        return false;
    }
    available = static_cast<unsigned long long>(info.f_bavail) * static_cast<unsigned long long>(info.f_bsize);
    return true;
}

}  // namespace

bool check_free_space(const std::string& path, const unsigned long long& bytes)
{
    try {
        unsigned long long available = 0;
        if (!available_bytes(path, available))
            return false;
        return available >= bytes;
    } catch (const std::exception& e) {
        std::cerr << "hx_utils_common::check_free_space: " << e.what() << std::endl;
        return false;
    }
}

bool check_free_space(const std::string& target, const std::string& source)
{
    try {
        unsigned long long available = 0;
        if (!available_bytes(target, available))
            return false;
        const int fd = open_to_measure(source);
        if (fd < 0) {
            std::perror(("Can't open: " + source).c_str());
            return false;
        }
        const off_t length = ::lseek(fd, 0, SEEK_END);
        if (length < 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            std::perror(("Can't lseek: " + source).c_str());
            return false;
        }
        ::close(fd);
        return available >= static_cast<unsigned long long>(length);
    } catch (const std::exception& e) {
        std::cerr << "hx_utils_common::check_free_space: " << e.what() << std::endl;
        return false;
    }
}

bool is_sparse_file(const std::string& path, bool& sparse, std::string& error)
{
    try {
        struct stat info;
        if (::stat(path.c_str(), &info) != 0) {
            error = std::strerror(errno);
            return false;
        }
        const long long allocated = static_cast<long long>(info.st_blocks) * 512;
        sparse = allocated < static_cast<long long>(info.st_size);
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace hx_utils_common

#include "common/file_sizes.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace hx_utils_common {

int open_to_measure(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it changes
    // nothing for regular files and block devices.
    return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

std::int64_t get_file_size(const std::string& path)
{
    try {
        const int fd = open_to_measure(path);
        if (fd < 0) {
            std::perror(("get_file_size: open input_file: " + path + ": ").c_str());
            return 0;
        }
        std::int64_t size = 0;
        struct stat st {};
        // The opened file itself, so that the type and the size belong together.
        if (::fstat(fd, &st) != 0) {
            std::perror(("get_file_size: stat input_file: " + path + ": ").c_str());
        } else if (S_ISBLK(st.st_mode)) {
            unsigned long sectors = 0;
            if (::ioctl(fd, BLKGETSIZE, &sectors) == 0) {
                size = static_cast<std::int64_t>(sectors) * 512;
            } else {
                std::perror(("get_file_size: BLKGETSIZE: " + path + ": ").c_str());
            }
        } else if (S_ISREG(st.st_mode)) {
            size = static_cast<std::int64_t>(st.st_size);
        } else {
            std::cerr << "get_file_size: wrong input file type" << path << std::endl;
        }
        ::close(fd);
        return size;
    } catch (const std::exception&) {
        return 0;
    }
}

std::int64_t get_symlink_size(const std::string& path)
{
    try {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            const int error = errno;
            std::cerr << "get_symlink_size: can't examine " << path << ": " << std::strerror(error) << std::endl;
            return -1;
        }
        if (!S_ISLNK(st.st_mode)) {
            std::cerr << "get_symlink_size: wrong input file type" << path << " is not a link!" << std::endl;
            return 0;
        }
        return static_cast<std::int64_t>(st.st_size);
    } catch (const std::exception&) {
        return 0;
    }
}

}  // namespace hx_utils_common

#ifndef KEVRA_COMMON_FILE_SIZES_H
#define KEVRA_COMMON_FILE_SIZES_H

// Sizes of regular files, block devices and symbolic links.

#include <cstdint>
#include <string>

namespace hx_utils_common {

// Opens `path` read-only (close-on-exec) to learn its size, without waiting for
// a writer when it is a FIFO. Returns the descriptor, or -1 with errno set.
int open_to_measure(const std::string& path);

// Returns the size in bytes of a regular file, or of a block device (its
// 512-byte sectors × 512). Returns 0 with a line on standard error when the path
// cannot be opened, is of another type or the device cannot be asked.
std::int64_t get_file_size(const std::string& path);

// Returns the length of a symbolic link's target text. Returns 0 with a line on
// standard error for a path that is no link, and -1 with a line on standard error
// when the path cannot be examined at all.
std::int64_t get_symlink_size(const std::string& path);

}  // namespace hx_utils_common

#endif

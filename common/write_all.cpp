#include "common/write_all.h"

#include <unistd.h>

#include <cerrno>

namespace kelvomar {

int write_all(int fd, const char* data, std::size_t size) noexcept
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : EIO;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace kelvomar

#include "opennebula/file_md5.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "common/termination_loop_point.h"
#include "crypto/hxcrypto/md5.h"
#include "opennebula/layer_log.h"

namespace hx_opennebula_common {

namespace {

constexpr std::size_t kBlock = 4096;

// Closes the descriptor on every path out.
class file_descriptor {
public:
    explicit file_descriptor(int fd) : fd_(fd) {}
    ~file_descriptor() { if (fd_ >= 0) ::close(fd_); }
    file_descriptor(const file_descriptor&) = delete;
    file_descriptor& operator=(const file_descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Reads exactly `count` bytes unless the file ends or fails first; a read
// interrupted by a signal is resumed. Returns the number of bytes read.
std::size_t read_fully(int fd, unsigned char* buffer, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::string to_hex(const unsigned char* bytes, std::size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 0x0f];
    }
    return hex;
}

}  // namespace

int calc_md5sum(const std::string& path, std::string& digest)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    file_descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        log_error(prototype + ": can't open file: " + path);
        return 1;
    }
    // The size of the opened file itself, so a path replaced meanwhile cannot mislead.
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) {
        log_error(prototype + ": can't get size of file: " + path);
        return 1;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (size == 0) {
        // An empty file is never hashed: whatever `digest` held before must not pass for its signature.
        log_error(prototype + ": got empty md5sum for the file: " + path);
        return 1;
    }

    hxcrypto::md5 md5;
    md5.init();
    unsigned char buffer[kBlock];
    const std::uint64_t blocks = size / kBlock;
    const std::size_t rest = static_cast<std::size_t>(size % kBlock);
    for (std::uint64_t i = 0; i < blocks; ++i) {
        // An image of hundreds of GB must not hold a termination back.
        kelvomar::termination::loop_point();
        if (read_fully(file.get(), buffer, kBlock) != kBlock) {
            log_error(prototype + ": read error. File: " + path);
            return 1;
        }
        md5.update(buffer, kBlock);
    }
    if (rest != 0) {
        if (read_fully(file.get(), buffer, rest) != rest) {
            log_error(prototype + ": read error. File: " + path);
            return 1;
        }
        md5.update(buffer, rest);
    }
    unsigned char hash[16];
    md5.final(hash);
    digest = to_hex(hash, sizeof(hash));
    return 0;
}

}  // namespace hx_opennebula_common

#include "common/stream_write.h"

#include <limits.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace kelvomar {
namespace stream_write {

namespace {

// The longest single poll: how soon a waiting write sees that waits became bounded.
constexpr int kSliceMs = 200;

std::atomic<bool> g_bounded{false};
std::atomic<bool> g_given_up_stdout{false};
std::atomic<bool> g_given_up_stderr{false};

std::atomic<bool>* given_up_flag(int fd) noexcept
{
    if (fd == STDOUT_FILENO) {
        return &g_given_up_stdout;
    }
    if (fd == STDERR_FILENO) {
        return &g_given_up_stderr;
    }
    return nullptr;
}

long long now_ms() noexcept
{
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The wait of one write: unbounded until waits are bounded, then at most the
// limit from the moment this write first saw the bound.
class wait_budget {
public:
    // False once the budget is spent (the stream is then given up).
    bool left() noexcept
    {
        if (!g_bounded.load()) {
            return true;
        }
        const long long now = now_ms();
        if (until_ == 0) {
            until_ = now + kStalledStreamLimitMs;
        }
        return now < until_;
    }
    int slice() const noexcept
    {
        if (until_ == 0) {
            return kSliceMs;
        }
        const long long rest = until_ - now_ms();
        return rest <= 0 ? 0 : (rest < kSliceMs ? static_cast<int>(rest) : kSliceMs);
    }

private:
    long long until_ = 0;
};

int give_up(int fd) noexcept
{
    if (std::atomic<bool>* flag = given_up_flag(fd)) {
        flag->store(true);
    }
    return ETIMEDOUT;
}

// Waits until `fd` can take a piece: 0, ETIMEDOUT or poll's errno. A stream
// whose reader has gone counts as writable: the write then tells why not.
int wait_for(int fd, wait_budget& budget) noexcept
{
    for (;;) {
        if (!budget.left()) {
            return give_up(fd);
        }
        struct pollfd ready {fd, POLLOUT, 0};
        const int n = ::poll(&ready, 1, budget.slice());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n > 0) {
            return (ready.revents & POLLNVAL) != 0 ? EBADF : 0;
        }
    }
}

}  // namespace

void bound_waits() noexcept
{
    g_bounded.store(true);
}

bool waits_bounded() noexcept
{
    return g_bounded.load();
}

bool given_up(int fd) noexcept
{
    const std::atomic<bool>* flag = given_up_flag(fd);
    return flag != nullptr && flag->load();
}

int wait_writable(int fd) noexcept
{
    if (given_up(fd)) {
        return ETIMEDOUT;
    }
    wait_budget budget;
    return wait_for(fd, budget);
}

int write(int fd, const char* data, std::size_t size) noexcept
{
    const int saved = errno;
    if (given_up(fd)) {
        return ETIMEDOUT;
    }
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0;
    const bool socket = known && S_ISSOCK(info.st_mode);
    // A regular file takes a record in one call (appended whole beside other
    // writers); a pipe, terminal or socket takes pieces that fit once it is
    // writable, so that no call blocks.
    const std::size_t piece = known && S_ISREG(info.st_mode) ? size : PIPE_BUF;
    wait_budget budget;
    std::size_t done = 0;
    int result = 0;
    while (done < size) {
        if ((result = wait_for(fd, budget)) != 0) {
            break;
        }
        const std::size_t count = size - done < piece ? size - done : piece;
        const ssize_t n = socket ? ::send(fd, data + done, count, MSG_DONTWAIT | MSG_NOSIGNAL)
                                 : ::write(fd, data + done, count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A descriptor made non-blocking elsewhere had less room than poll
            // promised: look again shortly.
            struct timespec pause {0, 10 * 1000 * 1000};
            ::nanosleep(&pause, nullptr);
            continue;
        }
        if (n <= 0) {
            result = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    errno = saved;
    return result;
}

}  // namespace stream_write
}  // namespace kelvomar

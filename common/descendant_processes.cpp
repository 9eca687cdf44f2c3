// The processes below a process, found in /proc and ended, in a signal
// handler's means. Each process found is pinned by a process file descriptor
// before its stat line is read: a signal then reaches the process that was
// found or none, never a newcomer with the same number.
#include "common/descendant_processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "common/proc_stat_text.h"

namespace hx_utils_common {

namespace {

// Rounds of ending (a round finds what the previous one may have missed: a
// process started meanwhile).
constexpr int kRounds = 3;
// Scans of /proc within one search (each adds at least one more generation).
constexpr int kMaxScans = 16;
constexpr int kKilledWaitMs = 500;
constexpr int kPollMs = 10;

// The entry layout that getdents64 fills in.
struct raw_dirent64 {
    std::uint64_t d_ino;
    std::int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

// The process id that a /proc entry name stands for, or -1 for other entries.
int pid_of_name(const char* name) noexcept
{
    if (*name == '\0') {
        return -1;
    }
    long long pid = 0;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return -1;
        }
        pid = pid * 10 + (*c - '0');
        if (pid > INT_MAX) {
            return -1;
        }
    }
    return pid > 0 ? static_cast<int>(pid) : -1;
}

// Writes the decimal digits of `value` (> 0) and `suffix` into `out` (at least 32 bytes).
void pid_path(int value, const char* suffix, char* out) noexcept
{
    char digits[16];
    int count = 0;
    for (; value > 0 && count < 15; value /= 10) {
        digits[count++] = static_cast<char>('0' + value % 10);
    }
    std::size_t at = 0;
    while (count > 0) {
        out[at++] = digits[--count];
    }
    for (; *suffix != '\0' && at < 31; ++suffix) {
        out[at++] = *suffix;
    }
    out[at] = '\0';
}

// Reads state and parent of process `pid` through the open /proc directory.
bool read_fields(int proc, int pid, proc_stat_fields& fields) noexcept
{
    char path[32];
    pid_path(pid, "/stat", path);
    const int fd = ::openat(proc, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char text[256];
    ssize_t n;
    do {
        n = ::read(fd, text, sizeof text);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    return n > 0 && parse_proc_stat(text, static_cast<std::size_t>(n), fields);
}

bool has_ended(char state) noexcept { return state == 'Z' || state == 'X' || state == 'x'; }

// The depth of `pid` below the root (0 for the root), or -1 when it is not listed.
int depth_of(int pid, int root, const descendant_process* found, std::size_t count) noexcept
{
    if (pid == root) {
        return 0;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (found[i].pid == pid) {
            return found[i].depth;
        }
    }
    return -1;
}

int pidfd_open(int pid) noexcept
{
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

// True once the process that `fd` pins has ended (it turns readable then).
bool pin_ended(int fd) noexcept
{
    struct pollfd ready {fd, POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0;
}

// One pass over /proc: adds each living process whose parent is the root or
// listed, with its pin in `pins` (-1 where the kernel offers none). Returns
// how many were added.
std::size_t scan(int proc, int root, descendant_process* found, int* pins, std::size_t& count,
                 std::size_t capacity) noexcept
{
    if (::lseek(proc, 0, SEEK_SET) != 0) {
        return 0;
    }
    std::size_t added = 0;
    alignas(8) char buffer[4096];
    for (;;) {
        const long n = ::syscall(SYS_getdents64, proc, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        for (long at = 0; at < n && count < capacity;) {
            const raw_dirent64* entry = reinterpret_cast<const raw_dirent64*>(buffer + at);
            at += entry->d_reclen;
            const int pid = pid_of_name(entry->d_name);
            if (pid < 0 || pid == root || depth_of(pid, root, found, count) >= 0) {
                continue;
            }
            // Most processes of the host are not below the root: a first
            // look at their parent passes them over without pinning them.
            proc_stat_fields first;
            if (!read_fields(proc, pid, first) || has_ended(first.state) ||
                depth_of(first.parent, root, found, count) < 0) {
                continue;
            }
            // Pinned first, read then: what is read belongs to the pinned
            // process as long as that one has not ended in the meantime.
            const int pin = pidfd_open(pid);
            proc_stat_fields fields;
            const bool living = read_fields(proc, pid, fields) && !has_ended(fields.state) &&
                                (pin < 0 || !pin_ended(pin));
            const int parent_depth = living ? depth_of(fields.parent, root, found, count) : -1;
            if (parent_depth < 0) {
                if (pin >= 0) {
                    ::close(pin);
                }
                continue;
            }
            found[count].pid = pid;
            found[count].parent = fields.parent;
            found[count].depth = parent_depth + 1;
            pins[count] = pin;
            ++count;
            ++added;
        }
    }
    return added;
}

// All processes below the root, pinned; returns their number.
std::size_t collect(int proc, int root, descendant_process* found, int* pins, std::size_t capacity) noexcept
{
    std::size_t count = 0;
    for (int i = 0; i < kMaxScans && scan(proc, root, found, pins, count, capacity) > 0; ++i) {
    }
    return count;
}

long now_ms() noexcept
{
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void pause_ms(int ms) noexcept
{
    struct timespec pause {0, static_cast<long>(ms) * 1000000};
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

void send(int pid, int pin, int signal) noexcept
{
#ifdef SYS_pidfd_send_signal
    if (pin >= 0) {
        ::syscall(SYS_pidfd_send_signal, pin, signal, nullptr, 0);
        return;
    }
#endif
    ::kill(pid, signal);
}

bool ended(int proc, int pid, int pin) noexcept
{
    if (pin >= 0) {
        return pin_ended(pin);
    }
    if (::kill(pid, 0) != 0 && errno == ESRCH) {
        return true;
    }
    proc_stat_fields fields;
    return !read_fields(proc, pid, fields) || has_ended(fields.state);
}

// Waits up to `ms` until every process has ended; true when they all have.
bool wait_ended(int proc, const descendant_process* found, const int* pins, std::size_t count, int ms) noexcept
{
    const long deadline = now_ms() + ms;
    for (;;) {
        bool all = true;
        for (std::size_t i = 0; i < count && all; ++i) {
            all = ended(proc, found[i].pid, pins[i]);
        }
        if (all) {
            return true;
        }
        if (now_ms() >= deadline) {
            return false;
        }
        pause_ms(kPollMs);
    }
}

}  // namespace

std::size_t find_descendants(int root, descendant_process* found, std::size_t capacity) noexcept
{
    const int saved = errno;
    std::size_t count = 0;
    const int proc = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc >= 0) {
        int pins[kMaxDescendants];
        count = collect(proc, root, found, pins, capacity < kMaxDescendants ? capacity : kMaxDescendants);
        for (std::size_t i = 0; i < count; ++i) {
            if (pins[i] >= 0) {
                ::close(pins[i]);
            }
        }
        ::close(proc);
    }
    errno = saved;
    return count;
}

void end_descendants(int root, int grace_ms) noexcept
{
    const int saved = errno;
    const int proc = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0) {
        errno = saved;
        return;
    }
    for (int round = 0; round < kRounds; ++round) {
        descendant_process found[kMaxDescendants];
        int pins[kMaxDescendants];
        const std::size_t count = collect(proc, root, found, pins, kMaxDescendants);
        if (count == 0) {
            break;
        }
        // Deepest first: the processes without children before their parents.
        for (std::size_t i = 1; i < count; ++i) {
            const descendant_process moved = found[i];
            const int moved_pin = pins[i];
            std::size_t j = i;
            for (; j > 0 && found[j - 1].depth < moved.depth; --j) {
                found[j] = found[j - 1];
                pins[j] = pins[j - 1];
            }
            found[j] = moved;
            pins[j] = moved_pin;
        }
        for (std::size_t i = 0; i < count; ++i) {
            send(found[i].pid, pins[i], SIGTERM);
        }
        if (!wait_ended(proc, found, pins, count, grace_ms)) {
            for (std::size_t i = 0; i < count; ++i) {
                if (!ended(proc, found[i].pid, pins[i])) {
                    send(found[i].pid, pins[i], SIGKILL);
                }
            }
            wait_ended(proc, found, pins, count, kKilledWaitMs);
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (pins[i] >= 0) {
                ::close(pins[i]);
            }
        }
    }
    ::close(proc);
    errno = saved;
}

}  // namespace hx_utils_common

// Whole lines on standard output and standard error, one writer at a time.
#include "common/output_lines.h"
#include "common/output_failures.h"
#include "common/stream_write.h"

#include <stdio_ext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>

namespace kelvomar {
namespace output {

namespace {

// How long a hold waits for the lock once a termination is under way: more
// than a stalled write of its holder lasts.
constexpr std::chrono::milliseconds kLockLimit{stream_write::kStalledStreamLimitMs + 2000};
constexpr std::chrono::milliseconds kLockSlice{100};

// Set when a hold went on without the lock: its holder is stuck, so no later
// hold waits for it again.
std::atomic<bool> g_lock_abandoned{false};

thread_local int t_depth = 0;

// Writes what `c_stream` holds (std::cout and std::cerr hand their text to it
// at once) once `fd` takes it without blocking; drops it when the stream is
// given up.
void flush_pending(std::FILE* c_stream, int fd) noexcept
{
    if (__fpending(c_stream) == 0) {
        return;
    }
    const int waited = stream_write::wait_writable(fd);
    if (waited != 0) {
        __fpurge(c_stream);
        note_failed_write(fd == STDOUT_FILENO ? target::standard_output : target::standard_error, waited, false);
        return;
    }
    if (std::fflush(c_stream) != 0) {
        note_failed_write(fd == STDOUT_FILENO ? target::standard_output : target::standard_error, errno, false);
        __fpurge(c_stream);
        std::clearerr(c_stream);
    }
}

// Writes `text` to `fd` after what `stream` and its C stream still hold; 0 or
// the errno of the failure.
int write_locked(std::ostream& stream, std::FILE* c_stream, int fd, const std::string& text) noexcept
{
    try {
        ordered_write hold;
        if (!hold.held()) {
            return ETIMEDOUT;
        }
        flush_pending(c_stream, fd);
        stream.flush();
        return stream_write::write(fd, text.data(), text.size());
    } catch (...) {
        return EIO;
    }
}

void write_noted(std::ostream& stream, std::FILE* c_stream, int fd, const std::string& text, target which,
                 bool protocol) noexcept
{
    const int error = write_locked(stream, c_stream, fd, text);
    if (error != 0) {
        note_failed_write(which, error, protocol);
    }
    report_failed_writes();
}

}  // namespace

std::recursive_timed_mutex& lock()
{
    // Never destroyed: a record written while the process exits still finds it.
    static std::recursive_timed_mutex* instance = new std::recursive_timed_mutex;
    return *instance;
}

ordered_write::ordered_write() noexcept
{
    ++t_depth;
    if (g_lock_abandoned.load()) {
        held_ = lock().try_lock();
        return;
    }
    std::chrono::steady_clock::time_point until{};
    for (;;) {
        if (lock().try_lock_for(kLockSlice)) {
            held_ = true;
            return;
        }
        if (!stream_write::waits_bounded()) {
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (until == std::chrono::steady_clock::time_point{}) {
            until = now + kLockLimit;
        } else if (now >= until) {
            g_lock_abandoned.store(true);
            return;
        }
    }
}

ordered_write::~ordered_write()
{
    if (held_) {
        lock().unlock();
    }
    --t_depth;
}

bool inside_ordered_write() noexcept
{
    return t_depth > 0;
}

void write_stdout(const std::string& text) noexcept
{
    write_noted(std::cout, stdout, STDOUT_FILENO, text, target::standard_output, true);
}

void write_record_stdout(const std::string& text) noexcept
{
    write_noted(std::cout, stdout, STDOUT_FILENO, text, target::standard_output, false);
}

void write_stderr(const std::string& text) noexcept
{
    write_noted(std::cerr, stderr, STDERR_FILENO, text, target::standard_error, false);
}

void print_line(const std::string& line) noexcept
{
    try {
        write_stdout(line + "\n");
    } catch (...) {
        note_failed_write(target::standard_output, ENOMEM, true);
    }
}

void flush_standard_streams() noexcept
{
    try {
        ordered_write hold;
        if (hold.held()) {
            flush_pending(stdout, STDOUT_FILENO);
            flush_pending(stderr, STDERR_FILENO);
            std::cout.flush();
            std::cerr.flush();
        }
    } catch (...) {
        // Nothing more can be done for what the streams hold.
    }
}

}  // namespace output
}  // namespace kelvomar

// Whole lines on standard output and standard error, one writer at a time.
#include "common/output_lines.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

namespace kelvomar {
namespace output {

namespace {

void write_all(int fd, const std::string& text) noexcept
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

// Writes `text` to `fd` after what `stream` and its C stream still hold.
void write_locked(std::ostream& stream, std::FILE* c_stream, int fd, const std::string& text) noexcept
{
    try {
        std::lock_guard<std::recursive_mutex> guard(lock());
        stream.flush();
        std::fflush(c_stream);
        write_all(fd, text);
    } catch (...) {
        // An output line never fails its caller.
    }
}

}  // namespace

std::recursive_mutex& lock()
{
    // Never destroyed: a record written while the process exits still finds it.
    static std::recursive_mutex* instance = new std::recursive_mutex;
    return *instance;
}

void write_stdout(const std::string& text) noexcept
{
    write_locked(std::cout, stdout, STDOUT_FILENO, text);
}

void write_stderr(const std::string& text) noexcept
{
    write_locked(std::cerr, stderr, STDERR_FILENO, text);
}

void print_line(const std::string& line) noexcept
{
    try {
        write_stdout(line + "\n");
    } catch (...) {
    }
}

}  // namespace output
}  // namespace kelvomar

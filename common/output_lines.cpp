// Whole lines on standard output and standard error, one writer at a time.
#include "common/output_lines.h"
#include "common/write_all.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

namespace kelvomar {
namespace output {

namespace {

// Writes `text` to `fd` after what `stream` and its C stream still hold.
void write_locked(std::ostream& stream, std::FILE* c_stream, int fd, const std::string& text) noexcept
{
    try {
        std::lock_guard<std::recursive_mutex> guard(lock());
        stream.flush();
        std::fflush(c_stream);
        kelvomar::write_all(fd, text);
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

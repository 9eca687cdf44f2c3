// The one shell runner of the program, and the node name.

#include "common/hx_utils_common.h"

#include "common/termination.h"

#include <sys/utsname.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

namespace hx_utils_common {

namespace {

// Exit status reported when the shell's own status cannot be collected.
constexpr int kStatusUnavailable = 1;

// Turns a status word of pclose into the command's result: the exit status of a
// command that ended normally, 128 + the signal of one ended by a signal (as the
// shell reports it), and never 0 for anything but a normal exit with status 0.
int status_of(int status_word)
{
    if (WIFEXITED(status_word))
        return WEXITSTATUS(status_word);
    if (WIFSIGNALED(status_word))
        return 128 + WTERMSIG(status_word);
    return kStatusUnavailable;
}

// Reads the pipe to its end, appending every piece to `output`. A read cut short by
// a signal is resumed, so a caught signal cannot pass a shortened output as complete.
void read_all(FILE* pipe, std::string& output)
{
    char buffer[1024];
    for (;;) {
        if (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;  // ends at the first NUL byte of the piece
            continue;
        }
        if (std::ferror(pipe) && errno == EINTR) {
            std::clearerr(pipe);
            continue;
        }
        return;
    }
}

}  // namespace

int execute_command(std::string command, std::string& output)
{
    try {
        command += " 2>&1";
        // Once the run is being terminated the worker's command is not started.
        kelvomar::termination::command_pipe pipe(command);
        if (pipe.stream() == nullptr) {
            std::cerr << "Couldn't start OS command: " << command << std::endl;
            return 1;
        }
        read_all(pipe.stream(), output);
        int status_word = pipe.close();
        if (status_word == -1) {
            const int error = errno;
            std::cerr << "Couldn't get the exit status of OS command: " << command << ": "
                      << std::strerror(error) << std::endl;
            return kStatusUnavailable;
        }
        return status_of(status_word);
    } catch (const std::exception& e) {
        std::cerr << "hx_utils_common::execute_command: error: " << e.what() << std::endl;
        return -1;
    }
}

std::string get_nodename()
{
    struct utsname names;
    if (::uname(&names) != 0)
        return std::string();
    return names.nodename;
}

}  // namespace hx_utils_common

// Signals to processes, synchronous termination and the termination of the
// process tree below a process.
//
// A process id can be reused as soon as its process is gone, so every process
// that is signalled more than once, or found in a listing, is first pinned by a
// process file descriptor: a signal through it reaches that process or fails,
// never a newcomer with the same number.

#include "common/hx_utils_common.h"
#include "common/proc_stat_text.h"
#include "common/output_lines.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace hx_utils_common {

namespace {

// One process, pinned by a pidfd when the kernel offers one; otherwise reached by
// its number alone.
class ProcessHandle {
public:
    explicit ProcessHandle(int pid) : pid_(pid)
    {
#ifdef SYS_pidfd_open
        fd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (fd_ < 0 && errno == ESRCH)
            gone_ = true;
#endif
    }
    ~ProcessHandle()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    int pid() const { return pid_; }

    // Sends `signal` (0 tests for existence); returns 0 or the errno of the failure.
    int send(int signal) const
    {
        if (gone_)
            return ESRCH;
        int result;
#ifdef SYS_pidfd_send_signal
        if (fd_ >= 0)
            result = static_cast<int>(::syscall(SYS_pidfd_send_signal, fd_, signal, nullptr, 0));
        else
#endif
            result = ::kill(pid_, signal);
        return result == 0 ? 0 : errno;
    }

    // True when the process has ended: reaped, or a zombie waiting for its parent.
    bool has_ended() const
    {
        if (send(0) == ESRCH)
            return true;
        char state = 0;
        int parent = 0;
        return read_stat(pid_, state, parent) && state == 'Z';
    }

    // The parent's id, or -1 when the process has ended or cannot be examined.
    int parent() const
    {
        char state = 0;
        int parent_pid = -1;
        if (!read_stat(pid_, state, parent_pid))
            return -1;
        // The numbers read belong to the pinned process only if it still lives now.
        if (send(0) != 0)
            return -1;
        return parent_pid;
    }

private:
    // Reads state and parent id from /proc/<pid>/stat.
    static bool read_stat(int pid, char& state, int& parent_pid)
    {
        std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(file, line))
            return false;
        line += '\n';
        proc_stat_fields fields;
        if (!parse_proc_stat(line.data(), line.size(), fields))
            return false;
        state = fields.state;
        parent_pid = fields.parent;
        return true;
    }

    int pid_;
    int fd_ = -1;
    bool gone_ = false;
};

// Writes one line to standard error.
void error_line(const std::string& text)
{
    std::cerr << text << std::endl;
}

// SIGTERM, a wait of up to one second for the process to end, then SIGKILL.
bool terminate(const ProcessHandle& process)
{
    const std::string pid = std::to_string(process.pid());
    if (process.send(0) != 0) {
        error_line("Process with pid:" + pid + " does not exist");
        return false;
    }
    if (process.send(SIGTERM) != 0) {
        error_line(std::string(" Error send signal:") + ::strsignal(SIGTERM) + " to process with pid:" + pid);
        return false;
    }

    using clock = std::chrono::steady_clock;
    const clock::time_point deadline = clock::now() + std::chrono::seconds(1);
    for (;;) {
        const int error = process.send(0);
        if (error == ESRCH || process.has_ended()) {
            error_line("Process with pid:" + pid + " exited");
            return true;
        }
        if (error != 0) {
            error_line("Error calling kill for process with pid:" + pid + ", :" + std::strerror(error));
            return false;
        }
        if (clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    const int error = process.send(SIGKILL);
    if (error == 0)
        return true;
    if (error == ESRCH) {  // it ended by itself in the last moment
        error_line("Process with pid:" + pid + " exited");
        return true;
    }
    error_line("Error calling kill SIGKILL for process with pid:" + pid + ", :" + std::strerror(error));
    return false;
}

// The ids listed one per line by ps, blanks around them removed.
std::vector<int> parse_pid_list(const std::string& listing)
{
    std::vector<std::string> pieces;
    boost::algorithm::split(pieces, listing, [](char c) { return c == '\n'; });
    std::vector<int> pids;
    for (std::string& piece : pieces) {
        boost::algorithm::trim(piece);
        if (piece.empty())
            continue;
        pids.push_back(std::stoi(piece));  // not a number: std::invalid_argument
    }
    return pids;
}

void terminate_leaves(const ProcessHandle& process)
{
    const int pid = process.pid();
    std::string listing;
    if (execute_command("ps -eo pid -h --ppid=" + std::to_string(pid), listing) == 0) {
        // The listing may name processes that are already gone (the shell that ran
        // ps, when walking our own children) and, by the time it is read, ids that
        // now belong to someone else: only those still children of `pid` are walked.
        for (int child_pid : parse_pid_list(listing)) {
            if (child_pid <= 0)
                continue;
            ProcessHandle child(child_pid);
            if (child.parent() != pid)
                continue;
            terminate_leaves(child);
        }
        return;
    }
    if (pid == ::getpid())
        return;  // the process walking its own tree does not terminate itself
    const bool terminated = terminate(process);
    kelvomar::output::print_line((terminated ? "PID was terminated: " : "Error terminate PID: ") + std::to_string(pid));
}

}  // namespace

bool send_signal(int pid, int signal)
{
    if (pid == 0)
        return true;
    if (pid < 0)
        return false;  // would reach a process group, or every process
    if (::kill(pid, 0) != 0)
        return false;
    if (::kill(pid, signal) == 0) {
        kelvomar::output::print_line("sent signal " + std::to_string(signal) + " to the process: " + std::to_string(pid));
        return true;
    }
    kelvomar::output::print_line("No permissions to send signal " + std::to_string(signal) +
                                 " the process: " + std::to_string(pid));
    return false;
}

bool synchronous_terminate(const int& pid)
{
    try {
        if (pid == 0)
            return false;
        if (pid < 0) {  // would reach a process group, or every process
            error_line("Process with pid:" + std::to_string(pid) + " does not exist");
            return false;
        }
        const ProcessHandle process(pid);
        return terminate(process);
    } catch (const std::exception& e) {
        std::cerr << "hx_utils_common::synchronous_terminate: error: " << e.what() << std::endl;
        return false;
    }
}

void kill_childs(int pid)
{
    try {
        if (pid <= 0)
            return;
        const ProcessHandle process(pid);
        terminate_leaves(process);
    } catch (const std::exception& e) {
        std::cerr << "hx_utils_common::kill_childs: error: " << e.what() << std::endl;
    }
}

}  // namespace hx_utils_common

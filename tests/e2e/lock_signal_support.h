#pragma once
// Processes for the lock and signal tests: the test module and the lock role
// of the test_modules program (tests/modules/signal_roles.cpp and
// lock_roles.cpp), started as real processes inside this test's sandbox.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_program.h"

namespace lock_signal_test {

inline std::string roles_program() { return kevra_test::build_path("tests/test_modules"); }

inline std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool path_exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Polls `ready` every 20 ms for up to `seconds`; true once it holds.
inline bool wait_until(const std::function<bool()>& ready, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ready()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ready();
}

// The scheduler state letter of a process ('T' stopped, 'S' sleeping, ...),
// or '?' when it is gone.
inline char process_state(pid_t pid)
{
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? '?' : stat[close + 2];
}

// True while the process exists and is not a zombie.
inline bool process_alive(pid_t pid)
{
    const char state = process_state(pid);
    return state != '?' && state != 'Z' && state != 'X';
}

// A fresh folder below the sandbox's private temporary folder.
inline std::string scratch_dir(const std::string& name)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp != nullptr ? tmp : "/tmp") + "/" + name + ".XXXXXX";
    if (::mkdtemp(&dir[0]) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    return dir;
}

// One process of the test_modules program in a role, or of any program.
// Standard output is read line by line (interactive) or collected in a file;
// standard error always goes to a file.
class Role {
public:
    Role(const std::string& role, const std::vector<std::string>& args,
         const std::map<std::string, std::string>& environment, bool interactive)
        : interactive_(interactive), files_(scratch_dir("role"))
    {
        std::vector<std::string> argv{roles_program()};
        argv.insert(argv.end(), args.begin(), args.end());
        std::map<std::string, std::string> with_role = environment;
        with_role["KEVRA_TEST_ROLE"] = role;
        start(argv, with_role);
    }

    // Any program (argv[0] is its path), standard output collected in a file.
    Role(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment)
        : interactive_(false), files_(scratch_dir("program"))
    {
        start(argv, environment);
    }

    // Any program, standard output to a pipe that drain() reads.
    struct piped_stdout {};
    Role(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment, piped_stdout)
        : interactive_(true), files_(scratch_dir("program"))
    {
        start(argv, environment);
    }

    ~Role()
    {
        if (!finished_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        close_input();
        if (out_ >= 0) {
            ::close(out_);
        }
    }

    Role(const Role&) = delete;
    Role& operator=(const Role&) = delete;

    pid_t pid() const { return pid_; }

    // Sends one command line and returns the answer line (without its end);
    // "timeout" when none comes within 20 seconds.
    std::string ask(const std::string& command)
    {
        if (!send(command)) {
            return "write failed";
        }
        return read_line();
    }

    // Sends one command line without waiting for the answer.
    bool send(const std::string& command)
    {
        const std::string line = command + "\n";
        return ::write(in_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    }

    // The next answer line; "timeout" when none comes within 20 seconds.
    std::string read_line()
    {
        std::string answer;
        for (;;) {
            struct pollfd ready {out_, POLLIN, 0};
            if (::poll(&ready, 1, 20000) <= 0) {
                return "timeout";
            }
            char c = 0;
            if (::read(out_, &c, 1) != 1) {
                return "ended: " + answer;
            }
            if (c == '\n') {
                return answer;
            }
            answer += c;
        }
    }

    // Reads what the pipe of standard output holds until its end or until
    // nothing came for `seconds`; returns all of it.
    std::string drain(double seconds)
    {
        std::string all;
        char buffer[4096];
        for (;;) {
            struct pollfd ready {out_, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(seconds * 1000)) <= 0) {
                return all;
            }
            const ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n <= 0) {
                return all;
            }
            all.append(buffer, static_cast<std::size_t>(n));
        }
    }

    void close_input()
    {
        if (in_ >= 0) {
            ::close(in_);
            in_ = -1;
        }
    }

    // Waits for the process to end: its exit status, 128 + the signal number
    // when a signal ended it, or -1 when it did not end within `seconds` (it is
    // then killed).
    int wait(double seconds)
    {
        if (!ended_within(seconds)) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            finished_ = true;
            status_ = -1;
        }
        return status_;
    }

    // True when the process ends within `seconds` (wait then gives its status
    // at once); false while it still runs.
    bool ended_within(double seconds)
    {
        if (finished_) {
            return true;
        }
        int status = 0;
        if (!wait_until([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, seconds)) {
            return false;
        }
        finished_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    }

    std::string out() const { return interactive_ ? std::string() : read_file(files_ + "/stdout"); }
    std::string err() const { return read_file(files_ + "/stderr"); }

private:
    void start(std::vector<std::string> texts, const std::map<std::string, std::string>& environment)
    {
        if (::access(texts.at(0).c_str(), X_OK) != 0) {
            throw std::runtime_error(texts[0] + " is not built");
        }
        int in_pipe[2];
        int out_pipe[2];
        if (::pipe2(in_pipe, O_CLOEXEC) != 0 || ::pipe2(out_pipe, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        const std::string out_file = files_ + "/stdout";
        const std::string err_file = files_ + "/stderr";
        pid_ = ::fork();
        if (pid_ < 0) {
            throw std::runtime_error("fork failed");
        }
        if (pid_ == 0) {
            for (const auto& entry : environment) {
                ::setenv(entry.first.c_str(), entry.second.c_str(), 1);
            }
            ::dup2(in_pipe[0], 0);
            if (interactive_) {
                ::dup2(out_pipe[1], 1);
            } else {
                const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                ::dup2(out, 1);
            }
            const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, 2);
            std::vector<char*> argv;
            for (auto& text : texts) {
                argv.push_back(&text[0]);
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in_pipe[0]);
        ::close(out_pipe[1]);
        in_ = in_pipe[1];
        out_ = out_pipe[0];
    }

    bool interactive_;
    std::string files_;
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool finished_ = false;
    int status_ = -1;
};

// The test module in its own process, with its control folder. Its standard
// output goes to a file, or (`piped_stdout`) to a pipe that the test holds
// open and reads only when it wants to.
class ModuleRun {
public:
    ModuleRun(const std::vector<std::string>& args, std::map<std::string, std::string> environment,
              bool piped_stdout = false)
        : dir_(scratch_dir("module")),
          role_("module", args, with_dir(std::move(environment), dir_), piped_stdout)
    {
    }

    pid_t pid() const { return role_.pid(); }
    const std::string& dir() const { return dir_; }

    // True once the blocking hook blocks (within `seconds`).
    bool wait_ready(double seconds = 20) const
    {
        return wait_until([this] { return path_exists(dir_ + "/ready"); }, seconds);
    }
    // The process id of the blocking hook's child.
    pid_t child() const { return static_cast<pid_t>(std::atol(read_file(dir_ + "/ready").c_str())); }
    long ticks() const { return std::atol(read_file(dir_ + "/ticks").c_str()); }
    std::string events() const { return read_file(dir_ + "/events"); }
    bool called(const std::string& hook) const { return events().find(hook + "\n") != std::string::npos; }
    // Lets the blocking hook return.
    void finish() const { std::ofstream(dir_ + "/finish") << "\n"; }
    void send(int signal) const { ::kill(role_.pid(), signal); }
    int wait(double seconds = 30) { return role_.wait(seconds); }
    std::string out() const { return role_.out(); }
    std::string err() const { return role_.err(); }

private:
    static std::map<std::string, std::string> with_dir(std::map<std::string, std::string> environment,
                                                       const std::string& dir)
    {
        environment["KEVRA_TEST_DIR"] = dir;
        return environment;
    }

    std::string dir_;
    Role role_;
};

// Gives this sandbox an /etc/os-release of its own naming the platform's
// release (the host's may be a link out of the /etc overlay, which other
// sandboxes may be rewriting at the same moment) and the log folder.
inline void own_os_release()
{
    ::unlink("/etc/os-release");
    std::ofstream("/etc/os-release") << "PRETTY_NAME=\"Nimra Linux\"\nNAME=\"Nimra Linux\"\nID=nimra\n";
    // The program's log folder, which the agent's installation provides.
    ::mkdir("/opt/kelvomar/log", 0755);
}

// The living processes other than this one whose environment holds the entry
// `entry` ("NAME=value" exactly): what a run left behind, wherever it was
// moved in the process tree.
inline std::vector<pid_t> processes_with_environment(const std::string& entry)
{
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return found;
    }
    while (const struct dirent* item = ::readdir(proc)) {
        const std::string name = item->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::atol(name.c_str()));
        if (pid == ::getpid() || !process_alive(pid)) {
            continue;
        }
        std::istringstream environment(read_file("/proc/" + name + "/environ"));
        for (std::string variable; std::getline(environment, variable, '\0');) {
            if (variable == entry) {
                found.push_back(pid);
                break;
            }
        }
    }
    ::closedir(proc);
    return found;
}

// Fills the pipe that process `pid` has as its standard output, through a
// descriptor of the test's own, until it takes nothing more: the process's
// next write to it waits for a reader. False when that is not a pipe.
inline bool fill_stdout_pipe(pid_t pid)
{
    const int fd = ::open(("/proc/" + std::to_string(pid) + "/fd/1").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    const bool pipe = ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
    const std::string filler(4096, '.');
    while (pipe && ::write(fd, filler.data(), filler.size()) > 0) {
    }
    // The last bytes a page could still take.
    while (pipe && ::write(fd, filler.data(), 1) > 0) {
    }
    ::close(fd);
    return pipe;
}

// The test module's log file (the program's file name under /opt/kelvomar/log).
inline std::string module_log() { return read_file("/opt/kelvomar/log/test_modules.log"); }

}  // namespace lock_signal_test

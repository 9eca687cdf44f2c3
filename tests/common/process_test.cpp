// Signals, synchronous termination and the termination of a process tree, on
// real processes.

#include "common/hx_utils_common.h"
#include "common/shell_quote.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using hx_utils_common::kill_childs;
using hx_utils_common::send_signal;
using hx_utils_common::synchronous_terminate;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// A /bin/sh script run as a child of the test, its standard output read through a pipe.
class Child {
public:
    explicit Child(const std::string& script, bool own_process_group = false)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        if (own_process_group) {
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
            posix_spawnattr_setpgroup(&attributes, 0);
        }
        const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
        const int failed = ::posix_spawn(&pid_, "/bin/sh", &actions, &attributes, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(fds[1]);
        read_fd_ = fds[0];
        if (failed != 0)
            throw std::runtime_error("posix_spawn failed");
    }

    ~Child()
    {
        if (!reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(read_fd_);
    }

    int pid() const { return pid_; }

    // The next line the script printed, without its newline; "" at end or after 10 s.
    std::string read_line()
    {
        std::string line;
        char c;
        while (wait_readable() && ::read(read_fd_, &c, 1) == 1) {
            if (c == '\n')
                return line;
            line += c;
        }
        return line;
    }

    // Reads lines until one starts with `prefix` and returns the rest of it.
    std::string read_until(const std::string& prefix)
    {
        for (int i = 0; i < 10; ++i) {
            const std::string line = read_line();
            if (line.compare(0, prefix.size(), prefix) == 0)
                return line.substr(prefix.size());
        }
        ADD_FAILURE() << "no line starting with " << prefix;
        return "";
    }

    // Waits for the child to end and returns its status word.
    int wait()
    {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
        return status;
    }

    // True while the child runs (it has not ended and not been reaped).
    bool running()
    {
        int status = 0;
        return !reaped_ && ::waitpid(pid_, &status, WNOHANG) == 0;
    }

private:
    bool wait_readable()
    {
        pollfd p{read_fd_, POLLIN, 0};
        if (::poll(&p, 1, 10000) == 1)
            return true;
        ADD_FAILURE() << "child " << pid_ << " printed nothing for 10 s";
        return false;
    }

    pid_t pid_ = 0;
    int read_fd_ = -1;
    bool reaped_ = false;
};

// A process id that no process has right now.
int vanished_pid()
{
    Child child("exit 0");
    const int pid = child.pid();
    child.wait();
    return pid;
}

// --- send_signal -----------------------------------------------------------

TEST(SendSignal, ZeroAndMissingProcessesSendNothingAndPrintNothing)
{
    CaptureStdout();
    EXPECT_TRUE(send_signal(0, SIGTERM));
    EXPECT_FALSE(send_signal(vanished_pid(), SIGTERM));
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(SendSignal, SignalsALiveProcessAndSaysSo)
{
    Child child("echo ready; exec sleep 30");
    ASSERT_EQ(child.read_line(), "ready");
    CaptureStdout();
    EXPECT_TRUE(send_signal(child.pid(), SIGTERM));
    EXPECT_EQ(GetCapturedStdout(), "sent signal 15 to the process: " + std::to_string(child.pid()) + "\n");
    const int status = child.wait();
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

TEST(SendSignal, ASignalThatCannotBeSentIsReported)
{
    Child child("echo ready; exec sleep 30");
    ASSERT_EQ(child.read_line(), "ready");
    CaptureStdout();
    EXPECT_FALSE(send_signal(child.pid(), 9999));
    EXPECT_EQ(GetCapturedStdout(),
              "No permissions to send signal 9999 the process: " + std::to_string(child.pid()) + "\n");
    EXPECT_TRUE(child.running());
}

// A negative id names a process group (and -1 every process): never signalled.
TEST(SendSignal, NegativeIdReachesNoProcessGroup)
{
    Child group_leader("echo ready; exec sleep 30", /*own_process_group=*/true);
    ASSERT_EQ(group_leader.read_line(), "ready");
    CaptureStdout();
    CaptureStderr();
    EXPECT_FALSE(send_signal(-group_leader.pid(), SIGTERM));
    EXPECT_FALSE(synchronous_terminate(-group_leader.pid()));
    EXPECT_EQ(GetCapturedStdout(), "");
    GetCapturedStderr();
    EXPECT_TRUE(group_leader.running());
}

// --- synchronous_terminate -------------------------------------------------

TEST(SynchronousTerminate, ZeroAndMissingProcesses)
{
    const int missing = vanished_pid();
    CaptureStderr();
    EXPECT_FALSE(synchronous_terminate(0));
    EXPECT_FALSE(synchronous_terminate(missing));
    EXPECT_EQ(GetCapturedStderr(), "Process with pid:" + std::to_string(missing) + " does not exist\n");
}

// Each target is a grandchild of the test, reaped by its own parent as a real
// process tree does; the parent prints how the target ended.
TEST(SynchronousTerminate, EndsTheProcessHoweverItAnswersSigterm)
{
    struct Case {
        const char* name;
        std::string target_script;
        bool expect_exited_line;
        int expected_status;  // as the parent shell reports it
    };
    const Case cases[] = {
        {"dies on SIGTERM", "echo ready; exec sleep 30", true, 128 + SIGTERM},
        {"ignores SIGTERM, killed after the wait", "trap '' TERM; echo ready; exec sleep 30", false, 128 + SIGKILL},
        {"ends by itself during the wait", "trap 'sleep 0.3; exit 0' TERM; echo ready; while :; do sleep 0.05; done",
         true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Child parent("sh -c " + kelvomar::shell_quote(c.target_script) +
                     " & echo pid $!; wait $!; echo status $?");
        const int target = std::stoi(parent.read_until("pid "));
        parent.read_until("ready");

        CaptureStderr();
        EXPECT_TRUE(synchronous_terminate(target));
        const std::string errors = GetCapturedStderr();
        EXPECT_EQ(errors, c.expect_exited_line ? "Process with pid:" + std::to_string(target) + " exited\n" : "");
        EXPECT_EQ(parent.read_until("status "), std::to_string(c.expected_status));
        EXPECT_TRUE(WIFEXITED(parent.wait()));
    }
}

// A direct child that died stays a zombie until reaped: it counts as ended.
TEST(SynchronousTerminate, UnreapedChildCountsAsExited)
{
    Child child("echo ready; exec sleep 30");
    ASSERT_EQ(child.read_line(), "ready");
    CaptureStderr();
    EXPECT_TRUE(synchronous_terminate(child.pid()));
    EXPECT_EQ(GetCapturedStderr(), "Process with pid:" + std::to_string(child.pid()) + " exited\n");
    const int status = child.wait();
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

// --- kill_childs -----------------------------------------------------------

std::string terminated_lines(const std::vector<int>& pids)
{
    std::string lines;
    for (int pid : pids)
        lines += "PID was terminated: " + std::to_string(pid) + "\n";
    return lines;
}

// Splits captured standard output into lines, for comparing without order.
std::multiset<std::string> lines_of(const std::string& text)
{
    std::multiset<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.insert(line);
    return lines;
}

// root (sh) --+-- sleep                      leaf
//             +-- middle (sh) --- sleep      leaf
// Only the leaves are signalled; both shells then end by themselves.
TEST(KillChilds, TerminatesOnlyTheLeavesOfATree)
{
    const std::string middle = "sleep 30 >/dev/null & echo leaf $!; wait; echo middle-done";
    Child root("sleep 30 >/dev/null & echo leaf $!; sh -c " + kelvomar::shell_quote(middle) +
               " & wait; echo root-done");
    const std::vector<int> leaves = {std::stoi(root.read_until("leaf ")), std::stoi(root.read_until("leaf "))};

    CaptureStdout();
    CaptureStderr();
    kill_childs(root.pid());
    const std::string out = GetCapturedStdout();
    GetCapturedStderr();

    EXPECT_EQ(lines_of(out), lines_of(terminated_lines(leaves)));
    EXPECT_EQ(root.read_line(), "middle-done");
    EXPECT_EQ(root.read_line(), "root-done");
    const int status = root.wait();
    ASSERT_TRUE(WIFEXITED(status)) << "the root was signalled";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(KillChilds, AProcessWithoutChildrenIsItselfTerminated)
{
    Child child("echo ready; exec sleep 30");
    ASSERT_EQ(child.read_line(), "ready");
    CaptureStdout();
    CaptureStderr();
    kill_childs(child.pid());
    EXPECT_EQ(GetCapturedStdout(), terminated_lines({child.pid()}));
    GetCapturedStderr();
    EXPECT_TRUE(WIFSIGNALED(child.wait()));
}

// Walking its own process, as the shutdown path does: the shell that runs ps is a
// child too while it lists, but is gone when the list is read. It gets no signal
// and no line, and the caller is not terminated.
TEST(KillChilds, WalkingOwnProcessSkipsTheListingShell)
{
    Child child("echo ready; exec sleep 30");
    ASSERT_EQ(child.read_line(), "ready");
    CaptureStdout();
    CaptureStderr();
    kill_childs(::getpid());
    const std::string out = GetCapturedStdout();
    const std::string errors = GetCapturedStderr();
    EXPECT_EQ(out, terminated_lines({child.pid()}));
    EXPECT_EQ(errors.find("does not exist"), std::string::npos) << errors;
    EXPECT_TRUE(WIFSIGNALED(child.wait()));
}

TEST(KillChilds, ZeroIsNotAProcessToWalk)
{
    CaptureStdout();
    kill_childs(0);
    EXPECT_EQ(GetCapturedStdout(), "");
}

// A `ps` first on PATH that answers for one process with a prepared listing.
class KillChildsWithListing : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kevra_kill_childs_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::string real_ps;
        ASSERT_EQ(hx_utils_common::execute_command("command -v ps", real_ps), 0);
        real_ps_ = real_ps.substr(0, real_ps.find('\n'));
        old_path_ = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
        ::setenv("PATH", (dir_ + ":" + old_path_).c_str(), 1);
    }

    void TearDown() override
    {
        ::setenv("PATH", old_path_.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // Makes `ps ... --ppid=<pid>` print `listing`; other calls reach the real ps.
    void list_for(int pid, const std::string& listing)
    {
        std::ofstream(dir_ + "/listing") << listing;
        const std::string script = dir_ + "/ps";
        std::ofstream(script) << "#!/bin/sh\n"
                              << "case \"$*\" in *--ppid=" << pid << ") cat "
                              << kelvomar::shell_quote(dir_ + "/listing") << "; exit 0;; esac\n"
                              << "exec " << kelvomar::shell_quote(real_ps_) << " \"$@\"\n";
        ::chmod(script.c_str(), 0755);
    }

    std::string dir_;
    std::string real_ps_;
    std::string old_path_;
};

// Between the listing and the signal, ids can end and be reused: one listed id now
// belongs to a process elsewhere, one to no process. Neither is signalled nor named.
TEST_F(KillChildsWithListing, IdsThatAreNoLongerChildrenAreLeftAlone)
{
    Child root("sleep 30 >/dev/null & echo leaf $!; wait; echo root-done");
    const int leaf = std::stoi(root.read_until("leaf "));
    Child elsewhere("echo ready; exec sleep 30");
    ASSERT_EQ(elsewhere.read_line(), "ready");
    const int gone = vanished_pid();
    list_for(root.pid(), "  " + std::to_string(leaf) + "\n" + std::to_string(elsewhere.pid()) + "\n  " +
                             std::to_string(gone) + "  \n\n");

    CaptureStdout();
    CaptureStderr();
    kill_childs(root.pid());
    const std::string out = GetCapturedStdout();
    GetCapturedStderr();

    EXPECT_EQ(out, terminated_lines({leaf}));
    EXPECT_TRUE(elsewhere.running());
    EXPECT_EQ(root.read_line(), "root-done");
    EXPECT_TRUE(WIFEXITED(root.wait()));
}

TEST_F(KillChildsWithListing, AListingThatIsNotNumbersStopsTheWalk)
{
    Child root("sleep 30 >/dev/null & echo leaf $!; wait");
    const int leaf = std::stoi(root.read_until("leaf "));
    list_for(root.pid(), std::to_string(leaf) + "\nps: something went wrong\n");

    CaptureStdout();
    CaptureStderr();
    kill_childs(root.pid());
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(GetCapturedStderr().rfind("hx_utils_common::kill_childs: error: ", 0), 0u);
    EXPECT_TRUE(root.running());
    EXPECT_EQ(::kill(leaf, 0), 0);
    ::kill(leaf, SIGKILL);  // the leaf would outlive the test otherwise
}

}  // namespace

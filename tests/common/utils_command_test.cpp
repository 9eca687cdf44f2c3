// The shell runner: captured output, exit statuses and its own failures.

#include "common/hx_utils_common.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <string>

namespace {

using hx_utils_common::execute_command;

TEST(ExecuteCommand, OutputAndExitStatus)
{
    struct Case {
        std::string command;
        std::string output_before;
        std::string expected_output;
        int expected_status;
    };
    const Case cases[] = {
        {"echo hi", "", "hi\n", 0},
        {"echo hi", "kept:", "kept:hi\n", 0},
        {"exit 3", "", "", 3},
        {"exit 255", "", "", 255},
        {"false", "", "", 1},
        // Standard error is merged into the output.
        {"sh -c 'echo out; echo err >&2; exit 4'", "", "out\nerr\n", 4},
        // One long line arrives whole, over several reads.
        {"head -c 3000 /dev/zero | tr '\\000' a", "", std::string(3000, 'a'), 0},
        {"printf 'x\\ny\\n\\nz'", "", "x\ny\n\nz", 0},
        // A NUL byte ends the piece that holds it.
        {"printf 'ab\\000cd\\n'", "", "ab", 0},
        // Ended by a signal: a failure, reported as the shell does.
        {"kill -KILL $$", "", "", 128 + SIGKILL},
        {"kill -TERM $$", "", "", 128 + SIGTERM},
    };
    for (const Case& c : cases) {
        std::string output = c.output_before;
        EXPECT_EQ(execute_command(c.command, output), c.expected_status) << c.command;
        EXPECT_EQ(output, c.expected_output) << c.command;
    }
}

TEST(ExecuteCommand, MissingCommandGivesTheShellsStatusAndMessage)
{
    std::string output;
    EXPECT_EQ(execute_command("kevra_no_such_command_here", output), 127);
    EXPECT_NE(output.find("kevra_no_such_command_here"), std::string::npos) << output;
    EXPECT_NE(output.find("not found"), std::string::npos) << output;
}

TEST(ExecuteCommand, CallsAppendToTheSameOutput)
{
    std::string output;
    EXPECT_EQ(execute_command("echo first", output), 0);
    EXPECT_EQ(execute_command("echo second; exit 2", output), 2);
    EXPECT_EQ(output, "first\nsecond\n");
}

// With SIGCHLD ignored the shell is reaped by the kernel and pclose cannot collect
// its status: that is a failure, not a success.
TEST(ExecuteCommand, UncollectableStatusIsAFailure)
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGCHLD, &ignore, &previous), 0);
    std::string output;
    testing::internal::CaptureStderr();
    const int status = execute_command("echo still read", output);
    const std::string errors = testing::internal::GetCapturedStderr();
    ::sigaction(SIGCHLD, &previous, nullptr);

    EXPECT_NE(status, 0);
    EXPECT_EQ(output, "still read\n");
    EXPECT_EQ(errors.rfind("Couldn't get the exit status of OS command: echo still read 2>&1: ", 0), 0u) << errors;
}

// No descriptor left for the pipe: the shell cannot be started.
TEST(ExecuteCommand, ShellThatCannotStartGivesOne)
{
    int err_pipe[2];
    ASSERT_EQ(::pipe(err_pipe), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(err_pipe[1], 2);
        ::close(err_pipe[0]);
        ::close(err_pipe[1]);
        const rlimit few{16, 16};
        ::setrlimit(RLIMIT_NOFILE, &few);
        while (::open("/dev/null", O_RDONLY) >= 0) {
        }
        std::string output;
        const int status = execute_command("true", output);
        ::_exit(status == 1 && output.empty() ? 0 : 100 + status);
    }
    ::close(err_pipe[1]);
    std::string errors;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(err_pipe[0], buffer, sizeof buffer)) > 0)
        errors.append(buffer, static_cast<size_t>(n));
    ::close(err_pipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(errors, "Couldn't start OS command: true 2>&1\n");
}

TEST(GetNodename, IsTheKernelsNodeName)
{
    std::string output;
    ASSERT_EQ(execute_command("uname -n", output), 0);
    EXPECT_EQ(hx_utils_common::get_nodename() + "\n", output);
}

}  // namespace

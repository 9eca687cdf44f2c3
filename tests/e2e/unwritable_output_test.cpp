// A template backup whose standard output cannot be written (a full device,
// a pipe whose reader has gone): its lines for the agent are lost, so the run
// does not succeed; the log file says why, and so does standard error.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/e2e/backup_e2e_support.h"
#include "tests/support/run_program.h"

namespace {

using kevra_e2e::contains;

enum class Stdout { full_device, closed_pipe };

struct UnwritableCase {
    const char* name;
    Stdout out;
    const char* reason;  // the system's text for the failure
};

std::ostream& operator<<(std::ostream& out, const UnwritableCase& c) { return out << c.name; }

// Runs `argv` with standard output on /dev/full or on a pipe without a reader
// and standard error in `err_file`; its exit status, or -1 when it did not end
// within two minutes.
int run_with_stdout(const std::vector<std::string>& argv, Stdout out, const std::string& err_file)
{
    int fds[2] = {-1, -1};
    if (out == Stdout::closed_pipe && ::pipe(fds) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int target = out == Stdout::full_device ? ::open("/dev/full", O_WRONLY) : fds[1];
        ::dup2(target, STDOUT_FILENO);
        const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(err, STDERR_FILENO);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, STDIN_FILENO);
        if (fds[0] >= 0) {
            ::close(fds[0]);
        }
        // The agent's pipe has gone before the program writes its first line;
        // the program must not end by SIGPIPE before it can say so.
        ::signal(SIGPIPE, SIG_DFL);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (fds[0] >= 0) {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    for (int waited = 0; waited < 1200; ++waited) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        ::usleep(100000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

class UnwritableStdout : public kevra_e2e::TemplateBackupTest, public ::testing::WithParamInterface<UnwritableCase> {};

TEST_P(UnwritableStdout, BackupFailsWithAnErrorRecord)
{
    const UnwritableCase& c = GetParam();
    declare_four_image_template("web");
    const std::string err_file = kevra_test::scratch_dir("err") + "/stderr";
    const int status = run_with_stdout({kevra_test::build_path("kevra_template"), "-1", "-b", "web", "-d", op_dir_,
                                        "-n", "bk1", "-m", kServer, "-T", kTask},
                                       c.out, err_file);
    EXPECT_EQ(status, 6) << "a backup whose lines did not reach the agent is a failed backup\n"
                         << kevra_test::read_file(err_file);
    const std::string record = std::string("Error: Standard output can't be written: ") + c.reason;
    EXPECT_TRUE(contains(log(), record)) << log();
    EXPECT_TRUE(contains(log(), "lines of the module's output did not reach the agent; the operation fails"))
        << log();
    EXPECT_TRUE(contains(kevra_test::read_file(err_file), record)) << kevra_test::read_file(err_file);
}

INSTANTIATE_TEST_SUITE_P(Streams, UnwritableStdout,
                         ::testing::Values(UnwritableCase{"FullDevice", Stdout::full_device, "No space left on device"},
                                           UnwritableCase{"ClosedPipe", Stdout::closed_pipe, "Broken pipe"}),
                         [](const ::testing::TestParamInfo<UnwritableCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

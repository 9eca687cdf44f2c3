// The run's processes at its end, on real processes: what a command left
// running after it ended (a double fork: its parent is gone) is this
// process's child, is ended at the end, also when it ignores SIGTERM, and is
// collected, like one that ended by itself meanwhile; no zombie is left.
// Each case runs in a forked process of its own: the subreaper setting and
// the collection of every ended child concern the whole process.
#include "common/run_processes.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "tests/support/process_stat.h"
#include "tests/support/in_child.h"

namespace {

using kevra_test::stat_of;

void pause_ms(long ms)
{
    struct timespec pause {ms / 1000, (ms % 1000) * 1000000};
    ::nanosleep(&pause, nullptr);
}

enum class Left { runs, ignores_sigterm, ends_by_itself };

// Starts a process through an intermediate one that ends at once; returns its id.
pid_t leave_behind(Left how)
{
    int ids[2];
    if (::pipe(ids) != 0) {
        return -1;
    }
    const pid_t middle = ::fork();
    if (middle == 0) {
        const pid_t left = ::fork();
        if (left == 0) {
            ::close(ids[0]);
            ::close(ids[1]);
            if (how == Left::ignores_sigterm) {
                ::signal(SIGTERM, SIG_IGN);
            }
            if (how == Left::ends_by_itself) {
                ::_exit(0);
            }
            for (;;) {
                ::pause();
            }
        }
        const ssize_t written = ::write(ids[1], &left, sizeof left);
        ::_exit(written == static_cast<ssize_t>(sizeof left) ? 0 : 1);
    }
    ::close(ids[1]);
    pid_t left = -1;
    if (::read(ids[0], &left, sizeof left) != static_cast<ssize_t>(sizeof left)) {
        left = -1;
    }
    ::close(ids[0]);
    ::waitpid(middle, nullptr, 0);
    return left;
}

const char* name_of(Left how)
{
    switch (how) {
    case Left::runs:
        return "StillRunning";
    case Left::ignores_sigterm:
        return "IgnoringSigterm";
    case Left::ends_by_itself:
        return "EndedByItself";
    }
    return "Unknown";
}

std::ostream& operator<<(std::ostream& out, Left how) { return out << name_of(how); }

class LeftBehind : public ::testing::TestWithParam<Left> {};

// Exit codes of the case's process: 0 all held, else the check that failed.
TEST_P(LeftBehind, IsThisProcesssChildAndGoneAfterTheEnd)
{
    const Left how = GetParam();
    const int result = kevra_test::exit_status_in_child(30, [how] {
        if (!kelvomar::run_processes::keep_below()) {
            return 2;
        }
        const pid_t left = leave_behind(how);
        if (left <= 0) {
            return 3;
        }
        int failed = 0;
        // Its parent has ended: it is this process's child now.
        if (stat_of(left).parent != ::getpid()) {
            failed = 4;
        }
        if (how == Left::ends_by_itself) {
            for (int i = 0; i < 500 && stat_of(left).state != 'Z'; ++i) {
                pause_ms(10);
            }
        }
        kelvomar::run_processes::end_left_over(200);
        // Ended and collected: not even a zombie is left.
        if (failed == 0 && stat_of(left).state != '?') {
            failed = 5;
        }
        ::kill(left, SIGKILL);  // what a failed case left (a copy of this process)
        return failed;
    });
    EXPECT_EQ(result, 0) << "2: not a subreaper, 3: nothing left behind, 4: not this process's child, "
                            "5: still there after the end";
}

INSTANTIATE_TEST_SUITE_P(Ways, LeftBehind, ::testing::Values(Left::runs, Left::ignores_sigterm, Left::ends_by_itself),
                         [](const ::testing::TestParamInfo<Left>& info) { return std::string(name_of(info.param)); });

}  // namespace

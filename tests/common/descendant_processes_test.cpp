// The processes below a process, found through /proc and ended, on a real tree
// of forked processes: root A with child B (whose child is C) and child D,
// which ignores SIGTERM.
#include "common/descendant_processes.h"
#include "common/proc_stat_text.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

using hx_utils_common::descendant_process;
using hx_utils_common::end_descendants;
using hx_utils_common::find_descendants;

struct report {
    char who;
    pid_t pid;
};

[[noreturn]] void wait_for_ever(int fd, char who, bool ignores_term)
{
    ::signal(SIGTERM, ignores_term ? SIG_IGN : SIG_DFL);
    const report line{who, ::getpid()};
    if (::write(fd, &line, sizeof line) != static_cast<ssize_t>(sizeof line)) {
        ::_exit(1);
    }
    for (;;) {
        ::pause();
    }
}

// The state letter of a process, or '?' when it is gone.
char state_of(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::stringstream text;
    text << in.rdbuf();
    const std::string line = text.str();
    hx_utils_common::proc_stat_fields fields;
    return hx_utils_common::parse_proc_stat(line.data(), line.size(), fields) ? fields.state : '?';
}

bool alive(pid_t pid)
{
    const char state = state_of(pid);
    return state != '?' && state != 'Z' && state != 'X';
}

class ProcessTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        root_ = ::fork();
        ASSERT_GE(root_, 0);
        if (root_ == 0) {
            ::close(fds[0]);
            if (::fork() == 0) {
                if (::fork() == 0) {
                    wait_for_ever(fds[1], 'C', false);
                }
                wait_for_ever(fds[1], 'B', false);
            }
            if (::fork() == 0) {
                wait_for_ever(fds[1], 'D', true);
            }
            ::signal(SIGTERM, SIG_DFL);
            for (;;) {
                ::pause();
            }
        }
        ::close(fds[1]);
        for (int i = 0; i < 3; ++i) {
            report line{};
            ASSERT_EQ(::read(fds[0], &line, sizeof line), static_cast<ssize_t>(sizeof line));
            pids_[line.who] = line.pid;
        }
        ::close(fds[0]);
    }

    void TearDown() override
    {
        for (const auto& entry : pids_) {
            ::kill(entry.second, SIGKILL);
        }
        if (root_ > 0) {
            ::kill(root_, SIGKILL);
            ::waitpid(root_, nullptr, 0);
        }
    }

    pid_t root_ = -1;
    std::map<char, pid_t> pids_;
};

TEST_F(ProcessTree, FindsEveryGenerationBelowTheRootAndNothingElse)
{
    descendant_process found[16];
    const std::size_t count = find_descendants(root_, found, 16);
    ASSERT_EQ(count, 3u);
    std::map<pid_t, descendant_process> by_pid;
    for (std::size_t i = 0; i < count; ++i) {
        by_pid[found[i].pid] = found[i];
    }
    ASSERT_EQ(by_pid.count(pids_['B']) + by_pid.count(pids_['C']) + by_pid.count(pids_['D']), 3u);
    EXPECT_EQ(by_pid[pids_['B']].parent, root_);
    EXPECT_EQ(by_pid[pids_['B']].depth, 1);
    EXPECT_EQ(by_pid[pids_['D']].depth, 1);
    EXPECT_EQ(by_pid[pids_['C']].parent, pids_['B']);
    EXPECT_EQ(by_pid[pids_['C']].depth, 2);
    // A parent is listed before its child.
    const auto position = [&](pid_t pid) {
        return std::find_if(found, found + count, [&](const descendant_process& p) { return p.pid == pid; }) - found;
    };
    EXPECT_LT(position(pids_['B']), position(pids_['C']));

    // The listing stops at its capacity.
    EXPECT_EQ(find_descendants(root_, found, 1), 1u);
    // A process without children has none; one that does not exist neither.
    EXPECT_EQ(find_descendants(pids_['C'], found, 16), 0u);
    EXPECT_EQ(find_descendants(-5, found, 16), 0u);
}

TEST_F(ProcessTree, EndsAllBelowTheRootAndKillsWhatIgnoresTheRequest)
{
    end_descendants(root_, 200);
    for (const auto& entry : pids_) {
        EXPECT_FALSE(alive(entry.second)) << entry.first << " still runs";
    }
    EXPECT_TRUE(alive(root_)) << "the root itself is never signalled";
    // What has ended (B and D wait for the root as zombies) is not listed again.
    descendant_process found[16];
    EXPECT_EQ(find_descendants(root_, found, 16), 0u);
    // Nothing left below: a second call returns at once.
    end_descendants(root_, 200);
    EXPECT_TRUE(alive(root_));
}

}  // namespace

// Resource locks between real processes: one holder per (module, resource)
// pair, the holder's removal of its file racing with newcomers, reuse of a
// file left behind, and the lock directory made by concurrent first runs.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>

#include "tests/e2e/lock_signal_support.h"
#include "tests/support/sandbox_guard.h"

namespace {

using lock_signal_test::path_exists;
using lock_signal_test::read_file;
using lock_signal_test::Role;

const char* const kLockDir = "/opt/kelvomar/var/kelvomar-modules";

std::unique_ptr<Role> lock_process()
{
    return std::make_unique<Role>("lock", std::vector<std::string>{}, std::map<std::string, std::string>{}, true);
}

TEST(LockExclusion, SecondProcessIsBusyUntilTheHolderLetsGo)
{
    KEVRA_REQUIRE_SANDBOX();
    auto first = lock_process();
    auto second = lock_process();
    ASSERT_EQ(first->ask("open kevra_template 17"), "opened");
    EXPECT_TRUE(path_exists(kLockDir)) << "the missing lock directory is created with its parents";
    ASSERT_EQ(first->ask("try"), "locked");
    ASSERT_EQ(second->ask("open kevra_template 17"), "opened");
    EXPECT_EQ(second->ask("try"), "busy");

    // The holder lets go: its file is removed, and the waiting process takes
    // the lock on the file that is at the path now.
    ASSERT_EQ(first->ask("close"), "closed");
    EXPECT_EQ(second->ask("try"), "locked");
    auto third = lock_process();
    ASSERT_EQ(third->ask("open kevra_template 17"), "opened");
    EXPECT_EQ(third->ask("try"), "busy");
}

TEST(LockExclusion, HolderThatDiesReleasesTheLockAndLeavesAReusableFile)
{
    KEVRA_REQUIRE_SANDBOX();
    auto holder = lock_process();
    ASSERT_EQ(holder->ask("open kevra_template web"), "opened");
    ASSERT_EQ(holder->ask("try"), "locked");
    const std::string path = holder->ask("path");
    ::kill(holder->pid(), SIGKILL);
    EXPECT_EQ(holder->wait(10), 128 + SIGKILL);
    ASSERT_TRUE(path_exists(path)) << "a crashed holder leaves its file";

    auto next = lock_process();
    ASSERT_EQ(next->ask("open kevra_template web"), "opened");
    EXPECT_EQ(next->ask("path"), path);
    EXPECT_EQ(next->ask("try"), "locked");
}

TEST(LockExclusion, ExistingLockFileIsReusedUnchanged)
{
    KEVRA_REQUIRE_SANDBOX();
    auto probe = lock_process();
    ASSERT_EQ(probe->ask("open kevra_template db"), "opened");
    const std::string path = probe->ask("path");
    ASSERT_EQ(probe->ask("close"), "closed");
    ASSERT_FALSE(path_exists(path));
    std::ofstream(path) << "left by an earlier run";
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);

    auto user = lock_process();
    ASSERT_EQ(user->ask("open kevra_template db"), "opened");
    EXPECT_EQ(user->ask("try"), "locked");
    EXPECT_EQ(read_file(path), "left by an earlier run");
}

TEST(LockExclusion, RemovingAFileThatIsGoneFailsWithARecord)
{
    KEVRA_REQUIRE_SANDBOX();
    auto lock = lock_process();
    ASSERT_EQ(lock->ask("open kevra_template \"odd\""), "opened");
    const std::string path = lock->ask("path");
    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_EQ(lock->ask("remove"), "failed");
    lock->close_input();
    EXPECT_EQ(lock->wait(10), 0);
    EXPECT_NE(lock->err().find("unable to remove lock file \"" + path +
                               "\" for module \"kevra_template\" with resource \"\\\"odd\\\"\" (system:0)!"),
              std::string::npos)
        << lock->err();
}

// The holder removes its file while it holds the lock. A process that opened
// the old file before the removal must not count the lock it then gets on that
// removed file while another process holds the lock on the new file.
TEST(LockExclusion, FileRemovedByTheHolderIsNotLockedTwice)
{
    KEVRA_REQUIRE_SANDBOX();
    auto holder = lock_process();
    auto early = lock_process();
    auto late = lock_process();
    ASSERT_EQ(holder->ask("open kevra_template 5"), "opened");
    ASSERT_EQ(holder->ask("try"), "locked");
    ASSERT_EQ(early->ask("open kevra_template 5"), "opened");  // opens the holder's file
    ASSERT_EQ(holder->ask("close"), "closed");                  // removes it, then unlocks
    ASSERT_EQ(late->ask("open kevra_template 5"), "opened");    // creates a new file
    ASSERT_EQ(late->ask("try"), "locked");

    EXPECT_EQ(early->ask("try"), "busy");
    EXPECT_EQ(early->ask("file"), "present");
    ASSERT_EQ(late->ask("close"), "closed");
    EXPECT_EQ(early->ask("try"), "locked");
}

struct PairCase {
    const char* name;
    const char* first;   // "MODULE RESOURCE"
    const char* second;
    bool exclusive;
};

std::ostream& operator<<(std::ostream& out, const PairCase& c) { return out << c.name; }

class LockPairs : public ::testing::TestWithParam<PairCase> {};

TEST_P(LockPairs, OnlyTheSamePairExcludes)
{
    KEVRA_REQUIRE_SANDBOX();
    const PairCase& c = GetParam();
    auto first = lock_process();
    auto second = lock_process();
    ASSERT_EQ(first->ask(std::string("open ") + c.first), "opened");
    ASSERT_EQ(second->ask(std::string("open ") + c.second), "opened");
    ASSERT_EQ(first->ask("try"), "locked");
    EXPECT_EQ(second->ask("try"), c.exclusive ? "busy" : "locked");
    EXPECT_EQ(first->ask("path") == second->ask("path"), c.exclusive);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, LockPairs,
    ::testing::Values(PairCase{"SameModuleSameResource", "kevra_template 42", "kevra_template 42", true},
                      PairCase{"SameResourceOtherModule", "kevra_template 42", "kevra_vm 42", false},
                      PairCase{"SameModuleOtherResource", "kevra_template 42", "kevra_template 43", false}),
    [](const ::testing::TestParamInfo<PairCase>& info) { return std::string(info.param.name); });

// First runs on a fresh host create the lock directory at the same moment:
// the one that finds it made by another is not refused.
TEST(LockExclusion, ConcurrentFirstRunsAllCreateTheirFiles)
{
    KEVRA_REQUIRE_SANDBOX();
    for (int round = 0; round < 5; ++round) {
        std::vector<std::unique_ptr<Role>> runs;
        for (int i = 0; i < 8; ++i) {
            runs.push_back(lock_process());
        }
        // Every process is started and waits for its command; the commands go
        // out together, so the creations overlap.
        for (std::size_t i = 0; i < runs.size(); ++i) {
            ASSERT_TRUE(runs[i]->send("open kevra_template r" + std::to_string(round) + "-" + std::to_string(i)));
        }
        for (auto& run : runs) {
            EXPECT_EQ(run->read_line(), "opened");
        }
        runs.clear();
        boost::filesystem::remove_all("/opt/kelvomar/var");
    }
}

}  // namespace

// The lock step of real module runs: a second run on a resource that is being
// worked on ends at once with exit status 2, and a lock directory that cannot
// be written makes the run end with 2 before it loads anything.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <boost/filesystem.hpp>

#include <string>
#include <vector>

#include "tests/e2e/lock_signal_support.h"
#include "tests/support/sandbox_guard.h"

namespace {

namespace fs = boost::filesystem;
using lock_signal_test::ModuleRun;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> backup_of(const std::string& resource, const std::string& operation_dir)
{
    return {"-1", "-b", resource, "-d", operation_dir, "-n", "arch1"};
}

TEST(LockedRuns, SecondBackupOfTheSameResourceIsBusyUntilTheFirstEnds)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string operation_dir = lock_signal_test::scratch_dir("op");
    ModuleRun first(backup_of("tmpl-7", operation_dir), {{"KEVRA_TEST_BLOCK_IN", "prepare_resource_before_backup"}});
    ASSERT_TRUE(first.wait_ready()) << first.err();

    ModuleRun second(backup_of("tmpl-7", operation_dir), {});
    EXPECT_EQ(second.wait(), 2);
    EXPECT_EQ(second.out().rfind("MODULE PID:" + std::to_string(second.pid()) + "\n", 0), 0u) << second.out();
    EXPECT_TRUE(contains(second.err(), "resource \"tmpl-7\" is busy by another process!")) << second.err();
    EXPECT_FALSE(second.called("load_module_config"));

    // Another resource of the same module is not held up.
    ModuleRun other(backup_of("tmpl-8", operation_dir), {});
    EXPECT_EQ(other.wait(), 6) << other.err();
    EXPECT_TRUE(other.called("prepare_resource_before_backup"));

    first.finish();
    EXPECT_EQ(first.wait(), 6);
    ModuleRun third(backup_of("tmpl-7", operation_dir), {});
    EXPECT_EQ(third.wait(), 6) << third.err();
    EXPECT_FALSE(contains(third.err(), "is busy by another process!"));
    EXPECT_TRUE(third.called("prepare_resource_before_backup"));
}

TEST(LockedRuns, RestoreAndBackupLockTheirOwnKeys)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string operation_dir = lock_signal_test::scratch_dir("op");
    ModuleRun restore({"-r", "99", "-d", operation_dir}, {{"KEVRA_TEST_BLOCK_IN", "before_restore"}});
    ASSERT_TRUE(restore.wait_ready()) << restore.err();
    ModuleRun second_restore({"-r", "99", "-d", lock_signal_test::scratch_dir("op")}, {});
    EXPECT_EQ(second_restore.wait(), 2);
    EXPECT_TRUE(contains(second_restore.err(), "resource \"99\" is busy by another process!"));
    restore.finish();
    EXPECT_EQ(restore.wait(), 7);
}

struct ReadOnlyCase {
    const char* name;
    const char* read_only;  // made read-only; the lock directory is below it or is it
    bool lock_dir_exists;
    std::vector<std::string> records;
};

std::ostream& operator<<(std::ostream& out, const ReadOnlyCase& c) { return out << c.name; }

class ReadOnlyLockDirectory : public ::testing::TestWithParam<ReadOnlyCase> {};

TEST_P(ReadOnlyLockDirectory, RunEndsWithTwoBeforeLoadingAnything)
{
    KEVRA_REQUIRE_SANDBOX();
    const ReadOnlyCase& c = GetParam();
    fs::create_directories(c.lock_dir_exists ? "/opt/kelvomar/var/kelvomar-modules" : "/opt/kelvomar/var");
    // Root writes through permission bits: a read-only mount is what refuses it.
    ASSERT_EQ(::mount(c.read_only, c.read_only, nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(::mount(nullptr, c.read_only, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr), 0);

    ModuleRun run(backup_of("tmpl-ro", lock_signal_test::scratch_dir("op")), {});
    EXPECT_EQ(run.wait(), 2);
    for (const auto& record : c.records) {
        EXPECT_TRUE(contains(run.err(), record)) << record << "\n" << run.err();
    }
    EXPECT_TRUE(contains(run.err(), "bool HxModuleUniversal::reassign_resource_locker(const std::string&): "
                                    "\"tmpl-ro\" resource locking failed ("))
        << run.err();
    EXPECT_FALSE(run.called("load_module_config"));
    ::umount(c.read_only);
}

INSTANTIATE_TEST_SUITE_P(
    Mounts, ReadOnlyLockDirectory,
    ::testing::Values(
        ReadOnlyCase{"LockDirectory", "/opt/kelvomar/var/kelvomar-modules", true,
                     {"lock file \"/opt/kelvomar/var/kelvomar-modules/Kelvomar_MOD_mutex_",
                      "\" for module \"kevra_test_module\" with resource \"tmpl-ro\" creation fails!",
                      "resource locking failed (unable to create lock file)!"}},
        ReadOnlyCase{"ParentOfAMissingLockDirectory", "/opt/kelvomar/var", false,
                     {"lock file parent directories creation at \"/opt/kelvomar/var/kelvomar-modules\" fails!",
                      "resource locking failed (unable to prepare resources lock file parent directories)!"}}),
    [](const ::testing::TestParamInfo<ReadOnlyCase>& info) { return std::string(info.param.name); });

}  // namespace

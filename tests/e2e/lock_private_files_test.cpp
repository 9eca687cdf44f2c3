// The lock files of real template backups against another local user (uid
// 4242): the lock file and its directory are root's alone, so that user can't
// open the file to hold a lock that would keep every later backup "busy"; a
// lock file an earlier version left readable (and that user holds a lock on)
// is made anew; a lock directory that others can write is refused.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modules/module_resource_lock.h"
#include "tests/e2e/lock_signal_support.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/run_program.h"
#include "tests/support/shared_lock_holder.h"
#include "tests/support/sandbox_guard.h"

namespace {

namespace fs = boost::filesystem;
using kelvomar::module::resource_lock_file_handler;

const uid_t kIntruder = 4242;
const char* const kLockDir = "/opt/kelvomar/var/kelvomar-modules";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string lock_path_of(const std::string& resource)
{
    return resource_lock_file_handler::make_lock_file_path(
               resource_lock_file_handler::make_lock_file_name("kevra_template", resource))
        .string();
}

std::vector<std::string> backup(const std::string& archive, const std::string& operation_dir)
{
    return {kevra_test::build_path("kevra_template"), "-1", "-b", "web", "-d", operation_dir, "-n", archive,
            "-m", "srv1", "-T", "T1"};
}

// A template "web" with one image, ready for a backup.
void declare_web(kevra_test::Platform& platform)
{
    lock_signal_test::own_os_release();
    const std::string datastore = platform.datastore({"--name", "files"});
    const std::string image = platform.image({"--name", "disk1", "--datastore", datastore, "--content", "data"});
    platform.vm_template({"--name", "web", "--disk", "IMAGE_ID=" + image});
    platform.fixture({"task-secret", "T1"});
}

std::string as_user_log()
{
    return lock_signal_test::read_file(std::string(std::getenv("KEVRA_PLATFORM_STATE")) + "/calls/as-user.log");
}

// While a backup holds its lock, the other user tries to open the lock file
// for a shared lock: refused; the file and the directory the run made are
// root's alone; and the next backup is not held up.
TEST(PrivateLockFiles, AnotherUserCanNotOpenTheLockFileOfARunningBackup)
{
    KEVRA_REQUIRE_SANDBOX();
    kevra_test::Platform platform;
    declare_web(platform);
    ASSERT_FALSE(lock_signal_test::path_exists(kLockDir)) << "the run makes the lock directory";
    const std::string path = lock_path_of("web");
    platform.fixture({"fault", "hxfd", "backup", "--times", "1", "--as-user", "intruder", "--run",
                      "exec 3< " + path + " && echo opened the lock file; ls " + std::string(kLockDir) +
                          " >/dev/null && echo listed the lock directory"});

    const auto first = kevra_test::run_program(backup("bk1", lock_signal_test::scratch_dir("op")));
    EXPECT_EQ(first.exit_status, 0) << first.out << first.err;
    const std::string tried = as_user_log();
    EXPECT_TRUE(contains(tried, "hxfd backup before exit ")) << "the other user acted during the run";
    EXPECT_TRUE(contains(tried, "Permission denied")) << tried;
    EXPECT_FALSE(contains(tried, "opened the lock file")) << tried;
    EXPECT_FALSE(contains(tried, "listed the lock directory")) << tried;

    // What the run made, looked at by root while the next run works.
    platform.fixture({"fault", "hxfd", "backup", "--times", "1", "--as-user", "root", "--run",
                      "stat -c 'file %a %u %h' " + path + "; stat -c 'directory %a %u' " + kLockDir});
    const auto second = kevra_test::run_program(backup("bk2", lock_signal_test::scratch_dir("op")));
    EXPECT_EQ(second.exit_status, 0) << second.out << second.err;
    EXPECT_FALSE(contains(second.err, "is busy by another process!")) << second.err;
    const std::string seen = as_user_log();
    EXPECT_TRUE(contains(seen, "file 600 0 1\n")) << seen;
    EXPECT_TRUE(contains(seen, "directory 700 0\n")) << seen;
    EXPECT_FALSE(lock_signal_test::path_exists(path)) << "the run removes its lock file at its end";
}

// An earlier version left the lock file 0644, and the other user holds a
// shared lock on it: the backup is not "busy"; it makes the file anew, 0600.
TEST(PrivateLockFiles, ReadableFileOfAnEarlierVersionIsMadeAnewAndItsHolderIgnored)
{
    KEVRA_REQUIRE_SANDBOX();
    kevra_test::Platform platform;
    declare_web(platform);
    fs::create_directories(kLockDir);
    ASSERT_EQ(::chmod(kLockDir, 0755), 0);
    const std::string path = lock_path_of("web");
    kevra_test::write_file(path, "");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    const kevra_test::SharedLockHolder holder(path, kIntruder, 120);
    ASSERT_TRUE(holder.holds()) << "today's file lets the other user hold a lock";

    platform.fixture({"fault", "hxfd", "backup", "--times", "1", "--as-user", "root", "--run",
                      "stat -c 'file %a %u' " + path});
    const auto run = kevra_test::run_program(backup("bk1", lock_signal_test::scratch_dir("op")));
    EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
    EXPECT_FALSE(contains(run.err, "is busy by another process!")) << run.err;
    const std::string log = lock_signal_test::read_file("/opt/kelvomar/log/kevra_template.log");
    EXPECT_TRUE(contains(log, "lock file for module \"kevra_template\" with resource \"web\" was not a lock: " + path +
                                  " has mode 0644: other users may open it; removed and made anew."))
        << log;
    EXPECT_TRUE(contains(as_user_log(), "file 600 0\n")) << as_user_log();
    EXPECT_TRUE(contains(run.out, "MAIN ARCHIVE FILENAME:")) << run.out;
}

// Runs that start together all find the readable file an earlier version
// left: each one that removes it does so while no other removes one, so they
// all end up at the one new file, and only one of them holds the lock.
TEST(PrivateLockFiles, ConcurrentRunsMakingTheFileAnewStillExcludeEachOther)
{
    KEVRA_REQUIRE_SANDBOX();
    for (int round = 0; round < 5; ++round) {
        const std::string resource = "r" + std::to_string(round);
        const std::string path = lock_path_of(resource);
        fs::create_directories(kLockDir);
        kevra_test::write_file(path, "");
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        std::vector<std::unique_ptr<lock_signal_test::Role>> runs;
        for (int i = 0; i < 8; ++i) {
            runs.push_back(std::make_unique<lock_signal_test::Role>("lock", std::vector<std::string>{},
                                                                    std::map<std::string, std::string>{}, true));
        }
        for (auto& run : runs) {
            ASSERT_TRUE(run->send("open kevra_template " + resource));
        }
        for (auto& run : runs) {
            EXPECT_EQ(run->read_line(), "opened");
        }
        for (auto& run : runs) {
            ASSERT_TRUE(run->send("try"));
        }
        int holders = 0;
        for (auto& run : runs) {
            const std::string answer = run->read_line();
            EXPECT_TRUE(answer == "locked" || answer == "busy") << answer;
            holders += answer == "locked";
        }
        EXPECT_EQ(holders, 1) << "round " << round;
        struct stat status {};
        ASSERT_EQ(::lstat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0600u);
    }
}

// A lock directory that another user can write: refused before anything is
// loaded, with exit status 2 and a record naming it; nothing is made in it.
TEST(PrivateLockFiles, LockDirectoryWritableByOthersIsRefused)
{
    KEVRA_REQUIRE_SANDBOX();
    kevra_test::Platform platform;
    declare_web(platform);
    fs::create_directories(kLockDir);
    ASSERT_EQ(::chmod(kLockDir, 01777), 0);

    const auto run = kevra_test::run_program(backup("bk1", lock_signal_test::scratch_dir("op")));
    EXPECT_EQ(run.exit_status, 2) << run.out << run.err;
    EXPECT_TRUE(contains(run.err, std::string("lock file directory \"") + kLockDir + "\" is refused: " + kLockDir))
        << run.err;
    EXPECT_TRUE(contains(run.err, "\"web\" resource locking failed (the lock file directory is not safe: ")) << run.err;
    EXPECT_TRUE(fs::is_empty(kLockDir));
    EXPECT_FALSE(contains(platform.fixture({"list", "templates"}), "bk1")) << "the refused run cloned nothing";
}

// A normal locked backup in an operation directory of each kind the run
// accepts, with a second backup of the same template coming while it works.
struct OperationDirectoryCase {
    const char* label;
    mode_t mode;
};

void PrintTo(const OperationDirectoryCase& c, std::ostream* out) { *out << c.label; }

class LockedBackupIn : public ::testing::TestWithParam<OperationDirectoryCase> {};

TEST_P(LockedBackupIn, SecondBackupIsBusyAndTheFirstEndsWell)
{
    KEVRA_REQUIRE_SANDBOX();
    kevra_test::Platform platform;
    declare_web(platform);
    const std::string operation_dir = lock_signal_test::scratch_dir("op");
    ASSERT_EQ(::chmod(operation_dir.c_str(), GetParam().mode), 0);
    platform.fixture({"fault", "hxfd", "backup", "--times", "1", "--delay", "4"});

    lock_signal_test::Role first(backup("bk1", operation_dir), {});
    ASSERT_TRUE(lock_signal_test::wait_until([&] { return contains(first.out(), "HXFD PID: "); }, 120))
        << first.out() << first.err();
    const auto second = kevra_test::run_program(backup("bk2", operation_dir));
    EXPECT_EQ(second.exit_status, 2);
    EXPECT_TRUE(contains(second.err, "resource \"web\" is busy by another process!")) << second.err;
    EXPECT_EQ(first.wait(60), 0) << first.out() << first.err();
    EXPECT_TRUE(contains(first.out(), "MAIN ARCHIVE FILENAME:")) << first.out();
}

INSTANTIATE_TEST_SUITE_P(Directories, LockedBackupIn,
                         ::testing::Values(OperationDirectoryCase{"Sticky", 01777},
                                           OperationDirectoryCase{"RootOwned", 0755}),
                         [](const ::testing::TestParamInfo<OperationDirectoryCase>& info) {
                             return std::string(info.param.label);
                         });

}  // namespace

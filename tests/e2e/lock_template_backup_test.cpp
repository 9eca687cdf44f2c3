// The shipped program's lock: a second backup of a template that is being
// backed up ends at once with exit status 2, and runs once the first has ended.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/lock_signal_support.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox_guard.h"

namespace {

using lock_signal_test::Role;
using lock_signal_test::wait_until;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> backup(const std::string& archive)
{
    return {kevra_test::build_path("kevra_template"), "-1", "-b", "web", "-d",
            lock_signal_test::scratch_dir("op"), "-n", archive, "-m", "srv1", "-T", "T1"};
}

TEST(TemplateBackupLock, SecondBackupOfABusyTemplateEndsAtOnceAndRunsLater)
{
    KEVRA_REQUIRE_SANDBOX();
    lock_signal_test::own_os_release();
    kevra_test::Platform platform;
    const std::string datastore = platform.datastore({"--name", "files"});
    const std::string image = platform.image({"--name", "disk1", "--datastore", datastore, "--content", "data"});
    platform.vm_template({"--name", "web", "--disk", "IMAGE_ID=" + image});
    platform.fixture({"task-secret", "T1"});
    // The first run's engine takes its time; the second run comes meanwhile.
    platform.fixture({"fault", "hxfd", "backup", "--times", "1", "--delay", "4"});

    Role first(backup("bk1"), {});
    // The staging before the engine is slow on a busy machine.
    ASSERT_TRUE(wait_until([&] { return contains(first.out(), "HXFD PID: "); }, 90)) << first.out() << first.err();

    const auto second = kevra_test::run_program(backup("bk2"));
    EXPECT_EQ(second.exit_status, 2);
    EXPECT_EQ(second.out.rfind("MODULE PID:", 0), 0u) << second.out;
    EXPECT_TRUE(contains(second.err, "resource \"web\" is busy by another process!")) << second.err;
    EXPECT_FALSE(contains(platform.fixture({"list", "templates"}), "bk2")) << "the busy run cloned nothing";

    EXPECT_EQ(first.wait(60), 0) << first.out() << first.err();
    const auto later = kevra_test::run_program(backup("bk2"));
    EXPECT_EQ(later.exit_status, 0) << later.out << later.err;
    EXPECT_TRUE(contains(later.out, "MAIN ARCHIVE FILENAME:"));
}

}  // namespace

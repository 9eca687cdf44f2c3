#ifndef KEVRA_TESTS_E2E_SNAPSHOT_E2E_SUPPORT_H
#define KEVRA_TESTS_E2E_SNAPSHOT_E2E_SUPPORT_H
// Snapshot tests inside the sandbox: the snapshot stand-ins installed into
// /usr/sbin (first on PATH), hook scripts in /opt/kelvomar/scripts, and file
// systems that stand for the snapshotted ones: small tmpfs mounts named after
// a block device, made in the test's private mount namespace only.

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "common/shell_quote.h"
#include "modules/mount_table.h"
#include "tests/modules/snapshot_test_support.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/sandbox_guard.h"

namespace snapshot_e2e {

// True only in the mount namespace that the sandbox made: its private tmpfs
// "kevra-sandbox" is mounted at KEVRA_SANDBOX_ROOT there and nowhere else.
inline bool private_namespace()
{
    const char* root = std::getenv("KEVRA_SANDBOX_ROOT");
    std::string device;
    return std::getenv("KEVRA_SANDBOX") != nullptr && root != nullptr &&
           kelvomar::module::find_mounted_device(root, device) && device == "kevra-sandbox";
}

// Runs a command line of the test itself (not of the code under test) in the
// private namespace; true when it exited with 0.
inline bool namespace_command(const std::string& command)
{
    if (!private_namespace()) {
        ADD_FAILURE() << "refused outside a private mount namespace: " << command;
        return false;
    }
    return std::system(command.c_str()) == 0;
}

// A file system that stands for the one holding a resource: a tmpfs whose
// source is `device`, mounted at `directory`.
inline bool mount_file_system(const std::string& device, const std::string& directory)
{
    boost::filesystem::create_directories(directory);
    return namespace_command("/usr/bin/mount -t tmpfs -o size=1m " + kelvomar::shell_quote(device) + " " +
                             kelvomar::shell_quote(directory));
}

// Lets /dev/mapper take files, through an overlay on /dev that only this
// namespace sees (the machine's /dev stays as it is).
inline bool writable_dev_mapper(const std::string& scratch)
{
    const std::string upper = scratch + "/dev-upper";
    const std::string work = scratch + "/dev-work";
    boost::filesystem::create_directories(upper);
    boost::filesystem::create_directories(work);
    // The marker exists only in the overlay of this namespace: an earlier test
    // of this process laid it already, and only its snapshot volumes are cleared.
    const std::string marker = "/dev/.kevra-snapshot-test-overlay";
    if (boost::filesystem::exists(marker)) {
        return namespace_command("rm -f /dev/mapper/*--hx--snap--*");
    }
    return namespace_command("/usr/bin/mount -t overlay kevra-dev -o lowerdir=/dev,upperdir=" + upper +
                             ",workdir=" + work + " /dev && touch " + marker + " && mkdir -p /dev/mapper");
}

// The mounts of the namespace at `directory`, by the mounts table.
inline bool mounted_at(const std::string& directory)
{
    std::string device;
    return kelvomar::module::find_mounted_device(directory, device);
}

// The sandbox fixture of every snapshot test: stand-ins, a scratch folder and
// the operation directory; the stand-ins are the first on PATH.
class SnapshotSandbox : public ::testing::Test {
protected:
    void SetUp() override
    {
        KEVRA_REQUIRE_SANDBOX();
        ASSERT_TRUE(private_namespace());
        ::setenv("PATH", "/usr/sbin:/usr/bin:/bin", 1);
        // A folder of its own for each test, so that tests of one process share nothing.
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("snapshots-") + test->test_suite_name() + "-" + test->name();
        std::replace(name.begin(), name.end(), '/', '-');
        scratch_ = kevra_test::scratch_dir(name);
        tools_ = std::make_unique<snapshot_test::Tools>("/usr/sbin", scratch_ + "/state");
        boost::filesystem::remove_all(kScripts);
        boost::filesystem::create_directories(kScripts);
    }

    // A hook script that logs "<its name> <argc> <first argument>" and exits with `status`.
    void script(const std::string& name, int status) const
    {
        const std::string file = std::string(kScripts) + "/" + name;
        snapshot_test::write_text(file, "#!/bin/sh\necho \"$(basename \"$0\") $# $1\" >> " + scratch_ +
                                            "/scripts.log\necho \"output of $1\"\nexit " + std::to_string(status) +
                                            "\n");
        boost::filesystem::permissions(file, boost::filesystem::perms(0755));
    }
    std::string script_log() const { return snapshot_test::read_text(scratch_ + "/scripts.log"); }

    const snapshot_test::Tools& tools() const { return *tools_; }

    static constexpr const char* kScripts = "/opt/kelvomar/scripts";
    std::string scratch_;
    std::unique_ptr<snapshot_test::Tools> tools_;
};

}  // namespace snapshot_e2e

#endif

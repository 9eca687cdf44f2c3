// The snapshot steps of a module from the resource to the mounted snapshot and
// back, with dattobd stand-ins and real (namespace-private) mounts: the single
// snapshot, several snapshots, and every failing step, after which nothing is
// left behind: no active snapshot, mount, mount directory or copy-on-write file.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/snapshot_e2e_support.h"

namespace {

using module_test::LogCapture;
using snapshot_e2e::mounted_at;
using snapshot_e2e::SnapshotSandbox;
using snapshot_test::lsblk_json;
using Calls = std::vector<std::string>;
namespace fs = boost::filesystem;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class SnapshotFlow : public SnapshotSandbox {
protected:
    void SetUp() override
    {
        SnapshotSandbox::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        fs1_ = scratch_ + "/fs1";
        fs2_ = scratch_ + "/fs2";
        op_ = scratch_ + "/op";
        ASSERT_TRUE(snapshot_e2e::mount_file_system("/dev/sdb1", fs1_));
        ASSERT_TRUE(snapshot_e2e::mount_file_system("/dev/sdc1", fs2_));
        fs::create_directories(op_);
        snapshot_test::write_text(fs1_ + "/disk.img", "data one");
        snapshot_test::write_text(fs2_ + "/disk.img", "data two");
        tools().answer("modules", "dattobd               327680  0\n");
        tools().answer("datto-info", R"({"version":"0.11.0","devices":[]})");
        tools().answer("realpath.json", R"({"/dev/sdb1":"/dev/sdb1","/dev/sdc1":"/dev/sdc1",)"
                                        R"("/dev/datto0":"/dev/datto0","/dev/datto1":"/dev/datto1"})");
        filesystem("ext4");
        module_.opts().tmp_operation_directory = op_;
        module_.opts().task_id = "T9";
        module_.opts().resource = fs1_ + "/disk.img";
        script("before.sh", 0);
        script("after.sh", 0);
        script("error.sh", 0);
        module_.parameters("use_snapshot:true,snapshot_type:dattobd,script_before_snapshot:" + std::string(kScripts) +
                           "/before.sh,script_after_snapshot:" + std::string(kScripts) +
                           "/after.sh,script_error_snapshot:" + std::string(kScripts) + "/error.sh");
    }

    void filesystem(const std::string& type) const
    {
        tools().answer("lsblk-bJ", lsblk_json(R"("name":"sdb1","size":10737418240,"ro":false,"type":"part")"));
        tools().answer("lsblk-bfJ", lsblk_json(R"("name":"sdb1","fstype":")" + type +
                                               R"(","fsavail":1073741824,"mountpoints":["/srv"])"));
    }

    bool active(const std::string& device) const
    {
        SnapshotDattobd reader;
        bool exists = false;
        std::string minor;
        EXPECT_TRUE(reader.is_dattobd_snapshot_exists(device, exists, minor));
        return exists;
    }
    std::string cow(const std::string& file_system) const { return file_system + "/.kelvomar_dattobd_T9"; }

    snapshot_test::SnapshotModule module_;
    std::string fs1_, fs2_, op_;
};

TEST_F(SnapshotFlow, TheSingleSnapshotIsMountedReadOnlyAndRemovedWithEverythingItMade)
{
    std::string device, directory, mount_point;
    LogCapture log;
    ASSERT_TRUE(module_.create_OS_snapshot(device, true, directory, mount_point)) << log.text();
    EXPECT_EQ(device, "/dev/datto0");
    EXPECT_EQ(directory, op_ + "/T9");
    EXPECT_EQ(mount_point, fs1_);
    EXPECT_TRUE(mounted_at(op_ + "/T9"));
    EXPECT_TRUE(fs::exists(cow(fs1_)));
    EXPECT_TRUE(module_.holds_snapshot());
    EXPECT_FALSE(module_.data_incomplete());
    EXPECT_EQ(script_log(), "before.sh 1 before\nafter.sh 1 after\n");
    EXPECT_EQ(tools().calls("mount"), Calls{"mount [-o] [ro,norecovery] [/dev/datto0] [" + op_ + "/T9]"});
    EXPECT_TRUE(contains(log.text(), "Mount: " + op_ + "/T9, block device: /dev/datto0")) << log.text();

    tools().clear_calls();
    ASSERT_TRUE(module_.remove_OS_snapshot()) << log.text();
    EXPECT_FALSE(mounted_at(op_ + "/T9"));
    EXPECT_FALSE(fs::exists(op_ + "/T9"));
    EXPECT_FALSE(fs::exists(cow(fs1_)));
    EXPECT_FALSE(active("/dev/sdb1"));
    EXPECT_EQ(tools().calls("umount"), Calls{"umount [-lf] [/dev/datto0]"});
    EXPECT_EQ(tools().calls("dbdctl"), Calls{"dbdctl [destroy] [0]"});
    EXPECT_TRUE(contains(log.text(), "Unmount successful: " + op_ + "/T9, block device: /dev/datto0; remove "
                                     "obsoleted: " + op_ + "/T9"))
        << log.text();
    EXPECT_TRUE(fs::exists(fs1_ + "/disk.img"));
}

// An unmount that fails is reported by the removal, which still removes the snapshot.
TEST_F(SnapshotFlow, AFailedUnmountFailsTheRemoval)
{
    std::string device, directory, mount_point;
    ASSERT_TRUE(module_.create_OS_snapshot(device, true, directory, mount_point));
    tools().answer("umount.status", "32");
    tools().answer("umount.fail", "umount: target is busy\n");
    LogCapture log;
    EXPECT_FALSE(module_.remove_OS_snapshot());
    EXPECT_TRUE(contains(log.text(), "bool HxModuleUniversal::umount_OS_snapshot() const: command: umount -lf "
                                     "/dev/datto0; result: umount: target is busy"))
        << log.text();
    EXPECT_TRUE(mounted_at(op_ + "/T9"));
    EXPECT_TRUE(fs::exists(op_ + "/T9"));
    EXPECT_EQ(tools().calls("dbdctl [destroy]").size(), 1u);
}

TEST_F(SnapshotFlow, AnXfsFileSystemIsMountedWithoutItsUuid)
{
    filesystem("xfs");
    std::string device, directory, mount_point;
    ASSERT_TRUE(module_.create_OS_snapshot(device, true, directory, mount_point));
    EXPECT_EQ(tools().calls("mount"), Calls{"mount [-o] [ro,norecovery,nouuid] [/dev/datto0] [" + op_ + "/T9]"});
    EXPECT_TRUE(module_.remove_OS_snapshot());
}

// A given device and mount point are used as they are; nothing is mounted without `mount`.
TEST_F(SnapshotFlow, AGivenDeviceIsSnapshottedWithoutAMount)
{
    std::string device = "/dev/sdc1", directory = "untouched", mount_point = fs2_;
    ASSERT_TRUE(module_.create_OS_snapshot(device, false, directory, mount_point));
    EXPECT_EQ(device, "/dev/datto0");
    EXPECT_EQ(directory, "untouched");
    EXPECT_TRUE(fs::exists(cow(fs2_)));
    EXPECT_TRUE(tools().calls("mount").empty());
    EXPECT_TRUE(tools().calls("stat").empty());
    EXPECT_TRUE(active("/dev/sdc1"));
}

struct FailureCase {
    const char* name;
    const char* failing_script;  // a hook script that exits with 4, "" for none
    std::function<void(const snapshot_test::Tools&)> arrange;
    const char* scripts;  // what the hook scripts logged
    const char* logged;
};

std::ostream& operator<<(std::ostream& out, const FailureCase& c)
{
    return out << c.name;
}

class SnapshotFailure : public SnapshotFlow, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SnapshotFailure, LeavesNothingBehind)
{
    const FailureCase& c = GetParam();
    if (*c.failing_script != '\0') {
        script(c.failing_script, 4);
    }
    if (c.arrange) {
        c.arrange(tools());
    }
    std::string device, directory, mount_point = "untouched";
    LogCapture log;
    EXPECT_FALSE(module_.create_OS_snapshot(device, true, directory, mount_point));
    EXPECT_EQ(script_log(), c.scripts);
    EXPECT_TRUE(contains(log.text(), c.logged)) << log.text();
    EXPECT_EQ(mount_point, "untouched");
    EXPECT_TRUE(module_.data_incomplete());
    EXPECT_FALSE(module_.holds_snapshot());
    EXPECT_FALSE(active("/dev/sdb1"));
    EXPECT_FALSE(mounted_at(op_ + "/T9"));
    EXPECT_FALSE(fs::exists(op_ + "/T9"));
    EXPECT_FALSE(fs::exists(cow(fs1_)));
    // The removal step afterwards has nothing to do, and says so by success.
    tools().clear_calls();
    EXPECT_TRUE(module_.remove_OS_snapshot());
    EXPECT_TRUE(tools().calls("dbdctl").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Snapshot, SnapshotFailure,
    ::testing::Values(
        FailureCase{"BeforeScriptFails", "before.sh", nullptr, "before.sh 1 before\n", "Script returns code is not NULL"},
        FailureCase{"SetUpFails", "",
                    [](const snapshot_test::Tools& tools) {
                        tools.answer("dbdctl.status", "1");
                        tools.answer("dbdctl.fail", "dbdctl: error setting up snapshot: No space left on device\n");
                    },
                    "before.sh 1 before\nerror.sh 1 error\n",
                    "Run script '/opt/kelvomar/scripts/error.sh' after snapshot creation failed"},
        FailureCase{"MountFails", "",
                    [](const snapshot_test::Tools& tools) {
                        tools.answer("mount.status", "32");
                        tools.answer("mount.fail", "mount: wrong fs type, bad option, bad superblock\n");
                    },
                    "before.sh 1 before\n", "bad superblock"},
        FailureCase{"AfterScriptFails", "after.sh", nullptr, "before.sh 1 before\nafter.sh 1 after\n",
                    "Unmount successful: "},
        FailureCase{"DattobdNotLoaded", "", [](const snapshot_test::Tools& tools) { tools.answer("modules", ""); }, "",
                    "Dattobd is not ready or not installed"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// ---- Several snapshots --------------------------------------------------------------

TEST_F(SnapshotFlow, SnapshotsOfSeveralResourcesAreListedAndAllRemoved)
{
    std::string device1, directory1 = op_ + "/a", point1;
    std::string device2, directory2 = op_ + "/b", point2;
    LogCapture log;
    ASSERT_TRUE(module_.create_OS_snapshot_multiple(fs1_ + "/disk.img", device1, true, directory1, point1));
    ASSERT_TRUE(module_.create_OS_snapshot_multiple(fs2_ + "/disk.img", device2, true, directory2, point2));
    EXPECT_EQ(device1, "/dev/datto0");
    EXPECT_EQ(device2, "/dev/datto1");
    EXPECT_EQ(point2, fs2_);
    ASSERT_EQ(module_.snapshots().size(), 2u);
    EXPECT_EQ(module_.snapshots()[0].mount_directory, op_ + "/a");
    EXPECT_EQ(module_.snapshots()[0].block_device, "/dev/sdb1");
    EXPECT_EQ(module_.snapshots()[1].mount_directory, op_ + "/b");
    EXPECT_EQ(module_.snapshots()[1].block_device, "/dev/sdc1");
    EXPECT_TRUE(mounted_at(op_ + "/a"));
    EXPECT_TRUE(mounted_at(op_ + "/b"));
    EXPECT_FALSE(module_.data_incomplete());

    tools().clear_calls();
    ASSERT_TRUE(module_.remove_all_OS_snapshots()) << log.text();
    EXPECT_EQ(tools().calls("umount"), (Calls{"umount [-lf] [/dev/datto0]", "umount [-lf] [/dev/datto1]"}));
    EXPECT_EQ(tools().calls("dbdctl"), (Calls{"dbdctl [destroy] [0]", "dbdctl [destroy] [1]"}));
    EXPECT_FALSE(fs::exists(op_ + "/a"));
    EXPECT_FALSE(fs::exists(op_ + "/b"));
    EXPECT_FALSE(active("/dev/sdb1"));
    EXPECT_FALSE(active("/dev/sdc1"));
    EXPECT_EQ(module_.snapshots().size(), 2u);
}

// The snapshot was made before the mount directory was refused: it is removed
// again, and the directory, which was there before, stays.
TEST_F(SnapshotFlow, AnExistingMountDirectoryIsRefusedAndTheSnapshotRemovedAgain)
{
    fs::create_directories(op_ + "/a");
    snapshot_test::write_text(op_ + "/a/keep", "x");
    std::string device, directory = op_ + "/a", point;
    LogCapture log;
    EXPECT_FALSE(module_.create_OS_snapshot_multiple(fs1_ + "/disk.img", device, true, directory, point));
    EXPECT_TRUE(contains(log.text(), "Create directory failed: " + op_ + "/a")) << log.text();
    EXPECT_TRUE(module_.snapshots().empty());
    EXPECT_FALSE(active("/dev/sdb1"));
    EXPECT_FALSE(fs::exists(cow(fs1_)));
    EXPECT_TRUE(fs::exists(op_ + "/a/keep"));
    EXPECT_TRUE(module_.data_incomplete());
}

TEST_F(SnapshotFlow, ASnapshotMadeWithoutAMountNeverTouchesTheNamedDirectory)
{
    fs::create_directories(op_ + "/keep");
    snapshot_test::write_text(op_ + "/keep/file", "x");
    std::string device, directory = op_ + "/keep", point;
    ASSERT_TRUE(module_.create_OS_snapshot_multiple(fs1_ + "/disk.img", device, false, directory, point));
    ASSERT_EQ(module_.snapshots().size(), 1u);
    EXPECT_EQ(module_.snapshots()[0].mount_directory, "");
    EXPECT_TRUE(module_.remove_all_OS_snapshots());
    EXPECT_TRUE(fs::exists(op_ + "/keep/file"));
    EXPECT_FALSE(active("/dev/sdb1"));
    EXPECT_TRUE(tools().calls("umount").empty());
}

// One failing removal fails the whole step, and every other record is still removed.
TEST_F(SnapshotFlow, AFailingRemovalDoesNotStopTheOthers)
{
    std::string device1, directory1 = op_ + "/a", point1;
    std::string device2, directory2 = op_ + "/b", point2;
    ASSERT_TRUE(module_.create_OS_snapshot_multiple(fs1_ + "/disk.img", device1, true, directory1, point1));
    ASSERT_TRUE(module_.create_OS_snapshot_multiple(fs2_ + "/disk.img", device2, true, directory2, point2));
    tools().answer("umount.status", "32");
    EXPECT_FALSE(module_.remove_all_OS_snapshots());
    EXPECT_EQ(tools().calls("umount").size(), 2u);
    EXPECT_EQ(tools().calls("dbdctl [destroy]").size(), 2u);
    // Nothing is deleted below a directory that is still mounted.
    EXPECT_TRUE(mounted_at(op_ + "/a"));
    EXPECT_TRUE(fs::exists(op_ + "/a"));
}

}  // namespace

namespace {

// A mount directory that cannot be made is the caller's file-system error, but
// only after the snapshot made just before it is removed again.
TEST_F(SnapshotFlow, AMountDirectoryThatCannotBeMadeThrowsAfterRemovingTheSnapshot)
{
    module_.opts().tmp_operation_directory = op_ + "/missing/op";
    std::string device, directory, mount_point;
    EXPECT_THROW(module_.create_OS_snapshot(device, true, directory, mount_point), fs::filesystem_error);
    EXPECT_FALSE(module_.holds_snapshot());
    EXPECT_FALSE(active("/dev/sdb1"));
    EXPECT_FALSE(fs::exists(cow(fs1_)));
    EXPECT_TRUE(tools().calls("mount").empty());
}

// A state file that is no JSON any more fails the removal of each record, and
// still every record is unmounted.
TEST_F(SnapshotFlow, AnUnreadableStateDuringRemovalStillUnmountsEveryRecord)
{
    std::string device1, directory1 = op_ + "/a", point1;
    std::string device2, directory2 = op_ + "/b", point2;
    ASSERT_TRUE(module_.create_OS_snapshot_multiple(fs1_ + "/disk.img", device1, true, directory1, point1));
    ASSERT_TRUE(module_.create_OS_snapshot_multiple(fs2_ + "/disk.img", device2, true, directory2, point2));
    const std::string state = tools().state("datto-info");
    tools().answer("datto-info", state + ",");
    LogCapture log;
    EXPECT_FALSE(module_.remove_all_OS_snapshots());
    EXPECT_EQ(tools().calls("umount").size(), 2u);
    EXPECT_FALSE(mounted_at(op_ + "/a"));
    EXPECT_FALSE(mounted_at(op_ + "/b"));
    EXPECT_TRUE(contains(log.text(), "Removal of the snapshot of /dev/sdc1 failed: ")) << log.text();
}

}  // namespace

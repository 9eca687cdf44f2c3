// The snapshot steps of a module that stop before a snapshot is made: the
// snapshot size, snapshots switched off, unusable task ids, a zero size, no
// driver for the device, and unmounting where nothing is mounted.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "modules/mount_table.h"
#include "tests/modules/snapshot_test_support.h"

namespace {

using module_test::LogCapture;
using snapshot_test::lsblk_json;
using snapshot_test::PathTools;
using snapshot_test::SnapshotModule;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

struct SizeCase {
    const char* params;
    std::uint64_t device;
    std::uint64_t snapshot;
};

std::ostream& operator<<(std::ostream& out, const SizeCase& c)
{
    return out << c.params << " of " << c.device;
}

class SnapshotSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SnapshotSize, IsAWholeNumberOfSectorsNearestToThePercentage)
{
    SnapshotModule module;
    module.parameters(GetParam().params);
    EXPECT_EQ(module.calculate_OS_snapshot_size(GetParam().device), GetParam().snapshot);
}

INSTANTIATE_TEST_SUITE_P(
    Snapshot, SnapshotSize,
    ::testing::Values(SizeCase{"", 5000, 512},                 // 500 bytes: one sector
                      SizeCase{"", 2000, 0},                   // 200 bytes: no sector
                      SizeCase{"", 10737418240ull, 1073741824ull},
                      SizeCase{"snapshot_size:20", 1000000, 200192},  // 200000 bytes: 390.6 sectors -> 391
                      SizeCase{"snapshot_size:100", 1025, 1024},       // 1025 bytes: 2.0 sectors
                      SizeCase{"snapshot_size:15", 7, 0},              // 1.05 bytes -> 1 byte
                      SizeCase{"snapshot_size:1000", UINT64_MAX, UINT64_MAX / 512 * 512},  // no overflow
                      SizeCase{"", 0, 0}));

// 256 bytes are half a sector: half-way values go away from zero.
TEST(SnapshotSizeHalfWay, HalfASectorIsOneSector)
{
    SnapshotModule module;
    EXPECT_EQ(module.calculate_OS_snapshot_size(2560), 512u);
    // 10 % of 15 bytes is 1.5 bytes: 2 bytes, still no sector.
    EXPECT_EQ(module.calculate_OS_snapshot_size(15), 0u);
}

// ---- Snapshots switched off ---------------------------------------------------

TEST(SnapshotsOff, CreationStepsRefuseAndRemovalStepsSucceedWithoutAnyCommand)
{
    PathTools path;
    SnapshotModule module;
    module.opts().tmp_operation_directory = path.scratch();
    module.opts().task_id = "T1";
    LogCapture log;
    std::string device, directory, mount_point;
    EXPECT_FALSE(module.create_OS_snapshot(device, true, directory, mount_point));
    EXPECT_FALSE(module.create_OS_snapshot_multiple("/srv/a", device, true, directory, mount_point));
    EXPECT_FALSE(module.data_incomplete());
    EXPECT_TRUE(contains(log.text(), "Snapshots are not used ")) << log.text();
    EXPECT_TRUE(module.remove_OS_snapshot());
    EXPECT_TRUE(module.remove_all_OS_snapshots());
    EXPECT_TRUE(path.tools().calls().empty());
}

// ---- Refusals before a snapshot is made ---------------------------------------------

class SnapshotRefusal : public ::testing::Test {
protected:
    PathTools path_;
    SnapshotModule module_;
    void SetUp() override
    {
        module_.opts().tmp_operation_directory = path_.scratch() + "/op";
        module_.opts().task_id = "T1";
        module_.opts().resource = "/srv/data/a.img";
        module_.parameters("use_snapshot:true,snapshot_type:dattobd");
    }
};

// The task id names the snapshot, its copy-on-write file and its mount directory.
TEST_F(SnapshotRefusal, ATaskIdThatIsNoSinglePathComponentMakesNoSnapshot)
{
    for (const char* task : {"", ".", "..", "a/../..", "x/y"}) {
        module_.opts().task_id = task;
        module_.set_data_incomplete(false);
        LogCapture log;
        std::string device = "/dev/sdb1", directory, mount_point = "/srv";
        EXPECT_FALSE(module_.create_OS_snapshot(device, true, directory, mount_point)) << task;
        EXPECT_FALSE(module_.create_OS_snapshot_multiple("/srv/a", device, true, directory, mount_point)) << task;
        EXPECT_TRUE(module_.data_incomplete()) << task;
        EXPECT_TRUE(contains(log.text(), "cannot name a snapshot and its mount directory")) << log.text();
    }
    EXPECT_TRUE(path_.tools().calls().empty());
    EXPECT_FALSE(boost::filesystem::exists(path_.scratch() + "/op"));
}

// The device is found from the resource: stat, then /proc/mounts and realpath, then lsblk.
TEST_F(SnapshotRefusal, ADeviceTooSmallForASectorMakesNoSnapshot)
{
    std::string root;
    ASSERT_TRUE(kelvomar::module::find_mounted_device("/", root));
    path_.tools().answer("mountpoints.json", R"({"/srv/data/a.img": "/"})");
    path_.tools().answer("realpath.json", "{\"" + root + "\": \"/dev/sdb1\"}");
    path_.tools().answer("lsblk-bJ", lsblk_json(R"("name":"sdb1","size":2000,"type":"part")"));
    path_.tools().answer("lsblk-bfJ", lsblk_json(R"("fstype":"ext4")"));
    LogCapture log;
    std::string device, directory, mount_point = "untouched";
    EXPECT_FALSE(module_.create_OS_snapshot(device, true, directory, mount_point));
    EXPECT_TRUE(module_.data_incomplete());
    EXPECT_EQ(mount_point, "untouched");
    EXPECT_FALSE(module_.holds_snapshot());
    for (const char* line :
         {"Resource mountpoint: /\n", "Resource is located at the block device: /dev/sdb1\n",
          "Block device /dev/sdb1, name: sdb1, size: 2000 bytes\n", "Expected OS snapshot size: 0 bytes\n",
          "Try to use snapshot to make a backup: dattobd\n",
          "bool HxModuleUniversal::create_OS_snapshot(std::string&, bool, std::string&, std::string&): unable to "
          "create a snapshot with a size of zero"}) {
        EXPECT_TRUE(contains(log.text(), line)) << line << "\n" << log.text();
    }
    EXPECT_EQ(path_.tools().calls(),
              (std::vector<std::string>{"stat [-c] [%m] [--] [/srv/data/a.img]", "realpath [" + root + "]",
                                        "lsblk [-bJ] [/dev/sdb1]", "lsblk [-bfJ] [/dev/sdb1]"}));
}

TEST_F(SnapshotRefusal, DeviceInfoThatCannotBeReadMakesNoSnapshot)
{
    LogCapture log;
    std::string device = "/dev/sdq", directory, mount_point = "/srv";
    EXPECT_FALSE(module_.create_OS_snapshot_multiple("/srv/a", device, true, directory, mount_point));
    EXPECT_TRUE(contains(log.text(), "Can't get block device info: /dev/sdq")) << log.text();
    EXPECT_TRUE(module_.snapshots().empty());
}

TEST_F(SnapshotRefusal, AnLvmSnapshotOfAPartitionHasNoDriver)
{
    module_.parameters("lvm_snapshot_size:20");
    path_.tools().answer("lsblk-bJ", lsblk_json(R"("name":"sdb1","size":1073741824,"type":"part")"));
    path_.tools().answer("lsblk-bfJ", lsblk_json(R"("fstype":"ext4")"));
    LogCapture log;
    std::string device = "/dev/sdb1", directory, mount_point = "/srv";
    EXPECT_FALSE(module_.create_OS_snapshot(device, true, directory, mount_point));
    EXPECT_FALSE(module_.holds_snapshot());
    EXPECT_TRUE(contains(log.text(), "Expected OS snapshot size: 214748160 bytes")) << log.text();
    EXPECT_TRUE(contains(log.text(), "Block device type: part, snapshot type: lvm")) << log.text();
    EXPECT_EQ(path_.tools().calls("lvcreate"), std::vector<std::string>{});
    EXPECT_EQ(device, "/dev/sdb1");
}

// ---- Unmounting where nothing is mounted ---------------------------------------------

TEST_F(SnapshotRefusal, UnmountWithoutTheMountDirectorySucceedsWithoutACommand)
{
    LogCapture log;
    EXPECT_TRUE(module_.umount_OS_snapshot());
    EXPECT_TRUE(module_.umount_OS_snapshot_multiple(path_.scratch() + "/none"));
    EXPECT_TRUE(module_.umount_OS_snapshot_multiple(""));
    EXPECT_EQ(log.text(), "");
    EXPECT_TRUE(path_.tools().calls().empty());
}

TEST_F(SnapshotRefusal, UnmountOfADirectoryWithNothingMountedKeepsIt)
{
    const std::string directory = path_.scratch() + "/op/T1";
    boost::filesystem::create_directories(directory);
    snapshot_test::write_text(directory + "/keep", "x");
    LogCapture log;
    EXPECT_TRUE(module_.umount_OS_snapshot());
    EXPECT_TRUE(contains(log.text(), "Mount point " + directory + " not found in '/proc/mounts'")) << log.text();
    EXPECT_TRUE(boost::filesystem::exists(directory + "/keep"));
    EXPECT_TRUE(path_.tools().calls("umount").empty());
}

// Removal with snapshots on but no driver: the resource's device is still looked up.
TEST_F(SnapshotRefusal, RemovalWithoutADriverSucceeds)
{
    path_.tools().answer("mountpoints.json", R"({"/srv/data/a.img": "/"})");
    EXPECT_TRUE(module_.remove_OS_snapshot());
    EXPECT_TRUE(module_.remove_all_OS_snapshots());
    EXPECT_EQ(path_.tools().calls("stat").size(), 1u);  // remove_all has no single driver to remove
    EXPECT_TRUE(path_.tools().calls("dbdctl").empty());
}

}  // namespace

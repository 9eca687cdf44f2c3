// The LVM and dattobd drivers against stand-ins of lvcreate, lvremove, lsmod,
// dbdctl and /proc/datto-info inside the sandbox: the exact command lines, what
// each failure leaves behind (nothing), and removals that touch only their own snapshot.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <string>
#include <vector>

#include "modules/snapshot_driver.h"
#include "tests/e2e/snapshot_e2e_support.h"

namespace {

using module_test::LogCapture;
using snapshot_e2e::SnapshotSandbox;
using Calls = std::vector<std::string>;
namespace fs = boost::filesystem;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// ---- LVM ----------------------------------------------------------------------

class Lvm : public SnapshotSandbox {
protected:
    void SetUp() override
    {
        SnapshotSandbox::SetUp();
        if (!IsSkipped() && !HasFatalFailure()) {
            ASSERT_TRUE(snapshot_e2e::writable_dev_mapper(scratch_));
        }
    }
    SnapshotLVM driver_;
    std::string device_;
};

const char* const kSnapshot = "/dev/mapper/vg0-data--hx--snap--T7";

TEST_F(Lvm, CreateMakesTheNamedVolumeAndRemoveTakesItAway)
{
    tools().answer("lvcreate.make", "file");
    LogCapture log;
    ASSERT_TRUE(driver_.create("/dev/mapper/vg0-data", "vg0-data", "/srv", "T7", 1073741824, device_));
    EXPECT_EQ(device_, kSnapshot);
    EXPECT_TRUE(fs::exists(kSnapshot));
    EXPECT_TRUE(contains(log.text(), "The snapshot was created: /dev/mapper/vg0-data--hx--snap--T7")) << log.text();

    ASSERT_TRUE(driver_.remove("/dev/mapper/vg0-data"));
    EXPECT_FALSE(fs::exists(kSnapshot));
    EXPECT_TRUE(contains(log.text(), "LVM snapshot was removed: /dev/mapper/vg0-data--hx--snap--T7")) << log.text();
    EXPECT_EQ(tools().calls(),
              (Calls{"lvcreate [--size=1073741824B] [--snapshot] [--name] [/dev/mapper/vg0-data--hx--snap--T7] "
                     "[/dev/mapper/vg0-data]",
                     "lvremove [-y] [/dev/mapper/vg0-data--hx--snap--T7]"}));
    // A second removal finds nothing and says so.
    EXPECT_FALSE(driver_.remove("/dev/mapper/vg0-data"));
    EXPECT_TRUE(contains(log.text(), "SnapshotLVM: command: /sbin/lvremove -y /dev/mapper/vg0-data--hx--snap--T7"))
        << log.text();
}

TEST_F(Lvm, AFailingLvcreateMakesNothingAndRemovesNothing)
{
    tools().answer("lvcreate.status", "5");
    tools().answer("lvcreate.fail", "  Volume group \"vg0\" has insufficient free space\n");
    LogCapture log;
    EXPECT_FALSE(driver_.create("/dev/mapper/vg0-data", "vg0-data", "/srv", "T7", 4096, device_));
    EXPECT_EQ(device_, "");
    for (const char* line :
         {"virtual bool SnapshotLVM::create(const std::string&, const std::string&, const std::string&, const "
          "std::string&, uintmax_t, std::string&): Unable create LVM snapshot for /dev/mapper/vg0-data",
          "Command: /sbin/lvcreate --size=4096B --snapshot --name '/dev/mapper/vg0-data--hx--snap--T7' "
          "/dev/mapper/vg0-data",
          "insufficient free space", "LVM snapshot wasn't created"}) {
        EXPECT_TRUE(contains(log.text(), line)) << line << "\n" << log.text();
    }
    EXPECT_TRUE(tools().calls("lvremove").empty());
}

// lvcreate reports the volume as made, but its device cannot be opened: it is removed again.
TEST_F(Lvm, AVolumeThatCannotBeOpenedIsRemovedAgain)
{
    tools().answer("lvcreate.make", "link");
    LogCapture log;
    EXPECT_FALSE(driver_.create("/dev/mapper/vg0-data", "vg0-data", "/srv", "T7", 1048576, device_));
    EXPECT_TRUE(contains(log.text(), ": Unable to read LVM snapshot: /dev/mapper/vg0-data--hx--snap--T7. Error: No "
                                     "such file or directory"))
        << log.text();
    EXPECT_TRUE(contains(log.text(), "LVM snapshot has been deleted")) << log.text();
    EXPECT_EQ(tools().calls("lvremove"), Calls{"lvremove [-y] [/dev/mapper/vg0-data--hx--snap--T7]"});
    EXPECT_FALSE(fs::exists(fs::symlink_status(kSnapshot)));
}

// A mapper name or task id that the shell would read reaches lvcreate as one argument.
TEST_F(Lvm, NamesTheShellWouldReadStayOneArgument)
{
    tools().answer("lvcreate.make", "file");
    const std::string name = "vg0-it's $(x)";
    ASSERT_TRUE(driver_.create("/dev/mapper/" + name, name, "/srv", "T 1", 512, device_));
    EXPECT_EQ(device_, "/dev/mapper/vg0-it's $(x)--hx--snap--T 1");
    ASSERT_TRUE(driver_.remove(""));
    EXPECT_EQ(tools().calls(), (Calls{"lvcreate [--size=512B] [--snapshot] [--name] [/dev/mapper/vg0-it's "
                                      "$(x)--hx--snap--T 1] [/dev/mapper/vg0-it's $(x)]",
                                      "lvremove [-y] [/dev/mapper/vg0-it's $(x)--hx--snap--T 1]"}));
}

// ---- dattobd -----------------------------------------------------------------------

class Dattobd : public SnapshotSandbox {
protected:
    void SetUp() override
    {
        SnapshotSandbox::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        tools().answer("modules", "dattobd               327680  0\nloop                   32768  0\n");
        tools().answer("datto-info", R"({"version":"0.11.0","devices":[)"
                                     R"({"minor":0,"cow_file":"/.datto0","block_device":"/dev/sda1","state":3},)"
                                     R"({"minor":3,"cow_file":"/.datto3","block_device":"/dev/sdc1","state":3}]})");
        file_system_ = scratch_ + "/fs";
        fs::create_directories(file_system_);
    }
    std::string cow() const { return file_system_ + "/.kelvomar_dattobd_T7"; }
    bool active(const std::string& device)
    {
        SnapshotDattobd reader;
        bool exists = false;
        std::string minor;
        EXPECT_TRUE(reader.is_dattobd_snapshot_exists(device, exists, minor));
        return exists;
    }

    SnapshotDattobd driver_;
    std::string file_system_;
    std::string device_;
};

TEST_F(Dattobd, CheckChoosesTheNextMinorAndCreateUsesIt)
{
    LogCapture log;
    ASSERT_TRUE(driver_.check("/dev/sdb1"));
    EXPECT_TRUE(contains(log.text(), "Free dattobd minor to create a snapshot: 4")) << log.text();
    tools().clear_calls();

    ASSERT_TRUE(driver_.create("/dev/sdb1", "sdb1", file_system_, "T7", 1610612736 + 1048575, device_));
    EXPECT_EQ(device_, "/dev/datto4");
    EXPECT_TRUE(contains(log.text(), "Dattobd snapshot was created: /dev/datto4")) << log.text();
    EXPECT_EQ(tools().calls(), Calls{"dbdctl [setup-snapshot] [-f] [1536] [/dev/sdb1] [" + cow() + "] [4]"});
    EXPECT_TRUE(fs::exists(cow()));
    EXPECT_TRUE(active("/dev/sdb1"));

    tools().clear_calls();
    ASSERT_TRUE(driver_.remove("/dev/sdb1"));
    EXPECT_EQ(tools().calls(), (Calls{"cat [/proc/datto-info]", "dbdctl [destroy] [4]"}));
    EXPECT_TRUE(contains(log.text(), "Dattobd snapshot was destroyed: /dev/datto4")) << log.text();
    EXPECT_FALSE(fs::exists(cow()));
    EXPECT_FALSE(active("/dev/sdb1"));
    EXPECT_TRUE(active("/dev/sda1"));  // the other snapshots stay
}

TEST_F(Dattobd, ASnapshotBelowOneMebibyteHasNoCache)
{
    ASSERT_TRUE(driver_.check("/dev/sdb1"));
    tools().clear_calls();
    ASSERT_TRUE(driver_.create("/dev/sdb1", "sdb1", file_system_, "T7", 1048575, device_));
    EXPECT_EQ(tools().calls("dbdctl"), Calls{"dbdctl [setup-snapshot] [-f] [0] [/dev/sdb1] [" + cow() + "] [4]"});
}

TEST_F(Dattobd, WithoutTheKernelModuleNothingIsChecked)
{
    tools().answer("modules", "loop                   32768  0\n");
    LogCapture log;
    EXPECT_FALSE(driver_.check("/dev/sdb1"));
    EXPECT_TRUE(contains(log.text(), "Dattobd is not ready or not installed")) << log.text();
    EXPECT_EQ(tools().calls(), Calls{"lsmod"});
    EXPECT_FALSE(driver_.create("/dev/sdb1", "sdb1", file_system_, "T7", 1 << 30, device_));
    EXPECT_TRUE(tools().calls("dbdctl").empty());
}

// An active snapshot of the device blocks a new one and is left alone, also by remove.
TEST_F(Dattobd, AnActiveSnapshotOfTheDeviceIsNeitherReplacedNorDestroyed)
{
    LogCapture log;
    EXPECT_FALSE(driver_.check("/dev/sdc1"));
    EXPECT_TRUE(contains(log.text(), "Can't create dattobd snapshot of the device /dev/sdc1. The snapshot exists: "
                                     "/dev/datto3"))
        << log.text();
    EXPECT_TRUE(contains(log.text(), "You can remove it by hand if you are sure it is obsoleted. Command to destroy "
                                     "the snapshot: dbdctl destroy 3"))
        << log.text();
    EXPECT_FALSE(driver_.create("/dev/sdc1", "sdc1", file_system_, "T7", 1 << 30, device_));
    EXPECT_TRUE(driver_.remove("/dev/sdc1"));
    EXPECT_TRUE(tools().calls("dbdctl").empty());
    EXPECT_TRUE(active("/dev/sdc1"));
}

TEST_F(Dattobd, AFailedSetUpLeavesNoCopyOnWriteFile)
{
    ASSERT_TRUE(driver_.check("/dev/sdb1"));
    tools().answer("dbdctl.leave-cow", "");
    LogCapture log;
    EXPECT_FALSE(driver_.create("/dev/sdb1", "sdb1", file_system_, "T7", 1 << 30, device_));
    EXPECT_EQ(device_, "");
    EXPECT_TRUE(contains(log.text(), ": command: dbdctl setup-snapshot -f 1024 /dev/sdb1 " + cow() + " 4"))
        << log.text();
    EXPECT_TRUE(contains(log.text(), "error setting up snapshot")) << log.text();
    EXPECT_FALSE(fs::exists(cow()));
    // Nothing was made, so nothing is destroyed.
    EXPECT_TRUE(driver_.remove("/dev/sdb1"));
    EXPECT_TRUE(tools().calls("dbdctl [destroy]").empty());
}

// A copy-on-write file that was there before the failed set-up is not the driver's to delete.
TEST_F(Dattobd, AFailedSetUpKeepsAFileThatWasThereBefore)
{
    ASSERT_TRUE(driver_.check("/dev/sdb1"));
    snapshot_test::write_text(cow(), "somebody's data");
    EXPECT_FALSE(driver_.create("/dev/sdb1", "sdb1", file_system_, "T7", 1 << 30, device_));
    EXPECT_EQ(snapshot_test::read_text(cow()), "somebody's data");
}

// After its own snapshot is gone, the driver never destroys one that somebody else made.
TEST_F(Dattobd, ASecondRemovalLeavesANewerSnapshotOfTheDeviceAlone)
{
    ASSERT_TRUE(driver_.check("/dev/sdb1"));
    ASSERT_TRUE(driver_.create("/dev/sdb1", "sdb1", file_system_, "T7", 1 << 30, device_));
    ASSERT_TRUE(driver_.remove("/dev/sdb1"));
    SnapshotDattobd other;
    std::string other_device;
    ASSERT_TRUE(other.check("/dev/sdb1"));
    ASSERT_TRUE(other.create("/dev/sdb1", "sdb1", file_system_, "T8", 1 << 30, other_device));
    EXPECT_EQ(other_device, "/dev/datto4");
    tools().clear_calls();
    EXPECT_TRUE(driver_.remove("/dev/sdb1"));
    EXPECT_TRUE(tools().calls("dbdctl").empty());
    EXPECT_TRUE(active("/dev/sdb1"));
}

TEST_F(Dattobd, AFailingDestroyIsReported)
{
    ASSERT_TRUE(driver_.check("/dev/sdb1"));
    ASSERT_TRUE(driver_.create("/dev/sdb1", "sdb1", file_system_, "T7", 1 << 30, device_));
    tools().answer("dbdctl.status", "1");
    tools().answer("dbdctl.fail", "dbdctl: error destroying snapshot: Device or resource busy\n");
    LogCapture log;
    EXPECT_FALSE(driver_.remove("/dev/sdb1"));
    EXPECT_TRUE(contains(log.text(), "virtual bool SnapshotDattobd::remove(const std::string&): command: dbdctl "
                                     "destroy 4"))
        << log.text();
    EXPECT_TRUE(contains(log.text(), "Device or resource busy")) << log.text();
    // Once dbdctl works again, the same driver removes its snapshot.
    tools().forget("dbdctl.status");
    EXPECT_TRUE(driver_.remove("/dev/sdb1"));
    EXPECT_FALSE(active("/dev/sdb1"));
}

// The state cannot be read: without the kernel module no snapshot is active;
// with it, the snapshot may still exist and the removal fails.
TEST_F(Dattobd, AnUnreadableStateFailsTheRemovalOnlyWhileDattobdIsLoaded)
{
    ASSERT_TRUE(driver_.check("/dev/sdb1"));
    ASSERT_TRUE(driver_.create("/dev/sdb1", "sdb1", file_system_, "T7", 1 << 30, device_));
    tools().answer("cat.status", "1");
    LogCapture log;
    EXPECT_FALSE(driver_.remove("/dev/sdb1"));
    EXPECT_TRUE(contains(log.text(), "the snapshot /dev/datto4 of /dev/sdb1 may still exist")) << log.text();
    tools().answer("modules", "");
    EXPECT_TRUE(driver_.remove("/dev/sdb1"));
    EXPECT_TRUE(tools().calls("dbdctl [destroy]").empty());
}

}  // namespace

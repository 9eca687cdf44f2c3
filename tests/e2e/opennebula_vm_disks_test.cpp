// Which files, block devices and Ceph volumes hold a VM's disks, and the small
// disk lookups, against the platform stand-ins and this test's ssh, virsh and
// qemu-img stand-ins in the sandbox.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <boost/filesystem.hpp>

#include <string>
#include <vector>

#include "opennebula/vm_disk_discovery.h"
#include "opennebula/vm_disk_lookups.h"
#include "tests/e2e/opennebula_vm_support.h"

namespace hx = hx_opennebula_common;
namespace fs = boost::filesystem;

namespace {

const std::string kLoad = "int hx_opennebula_common::load_VM_devices(const std::string&, "
                          "std::vector<opennebula_device_info>&, bool, bool, bool)";

class VmDisks : public vm_e2e::VmPlatformRun {
protected:
    void SetUp() override
    {
        VmPlatformRun::SetUp();
        if (IsSkipped())
            return;
        platform.fixture({"host", "--name", "node2", "--id", "1"});
        platform.fixture({"host", "--name", node_, "--id", "2"});
        // An image datastore is never searched for VM directories; the system one keeps the platform's "//".
        platform.datastore({"--name", "images", "--id", "1", "--base-path", root_ + "/one//datastores/1"});
        platform.datastore({"--name", "system", "--id", "0", "--type", "system", "--tm-mad", "ssh", "--base-path",
                            root_ + "/one//datastores/0"});
        vm_dir_ = root_ + "/one/datastores/0/40";
    }

    // VM 40 (or `id`) on `host` with the given disks ("K=V,K=V" each).
    void declare_vm(const std::string& host, const std::vector<std::string>& disks, const std::string& id = "40")
    {
        std::vector<std::string> args = {"vm", "--name", "vm-" + id, "--id", id, "--host", host};
        for (const std::string& disk : disks) {
            args.push_back("--disk");
            args.push_back(disk);
        }
        platform.fixture(args);
    }

    int load(bool live, bool ceph = true, bool force_share = false, const std::string& vm = "40")
    {
        return hx::load_VM_devices(vm, devices_, force_share, live, ceph);
    }

    std::string vm_dir_;
    std::vector<hx::opennebula_device_info> devices_;
};

TEST_F(VmDisks, StoppedQcow2DiskIsItsFileInTheVmDirectoryAndItsBackingChain)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string base = root_ + "/images/base.qcow2";
    make_image(base, 1 << 30);
    make_image(vm_dir_ + "/disk.0", 1 << 30, base);
    make_image(root_ + "/images/web.qcow2", 1 << 30);
    fs::create_symlink(root_ + "/images/web.qcow2", root_ + "/images/web-link");
    declare_vm("node2", {"TM_MAD=qcow2,TYPE=FILE,DISK_TYPE=FILE,DISK_ID=0,SIZE=10,TARGET=vda,PERSISTENT=YES,"
                         "IMAGE_ID=7,SOURCE=" + root_ + "/images/web-link"});

    ASSERT_EQ(load(false, true, true), 0) << all_records();
    ASSERT_EQ(devices_.size(), 1u);
    const hx::opennebula_device_info& disk = devices_[0];
    EXPECT_EQ(disk.files, (std::vector<std::string>{vm_dir_ + "/disk.0", base}));
    EXPECT_EQ(disk.source, root_ + "/images/web.qcow2");  // the link resolved on the front host
    EXPECT_EQ(disk.tm_mad, hx::TM_MAD_QCOW2);
    EXPECT_TRUE(disk.persistent);
    EXPECT_EQ(disk.size, 10u << 20);
    EXPECT_EQ(disk.target, "vda");
    EXPECT_EQ(disk.disk_id, "0");
    EXPECT_EQ(disk.image_id, "7");
    EXPECT_EQ(disk.storage_type, hx::VM_STORAGE_FILE);
    EXPECT_EQ(disk.device_type, hx::VM_DEVICE_DISK);
    EXPECT_TRUE(disk.device_file.empty());

    // The VM directory is tested on the VM's host; the chain of a stopped VM is read here.
    EXPECT_TRUE(tool_called("ssh", "/usr/bin/ssh root@node2 test -d " + vm_dir_)) << tool_log("ssh");
    EXPECT_TRUE(tool_called("qemu-img", "/usr/bin/qemu-img info --force-share " + vm_dir_ + "/disk.0 --output=json"))
        << tool_log("qemu-img");
    EXPECT_TRUE(tool_called("qemu-img", "/usr/bin/qemu-img info --force-share " + base + " --output=json"));
    EXPECT_TRUE(logged("Trying to find path for VM '40' here: " + vm_dir_ + " ...")) << all_records();
    EXPECT_TRUE(logged("Disk found: " + vm_dir_ + "/disk.0"));
    EXPECT_TRUE(logged("The disk is persistent, source: : " + root_ + "/images/web.qcow2"));
    EXPECT_FALSE(logged("datastores/1/40"));
}

TEST_F(VmDisks, RunningQcow2DiskIsTheDeviceFileOnTheHostAndItsChain)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string device = root_ + "/run/one-40/disk.0";
    const std::string base = root_ + "/images/base.qcow2";
    make_image(base, 512);
    make_image(device, 512, base);
    set_domain_disks("one-40", "vda " + device + "\nhda -\n");
    declare_vm("node2", {"TM_MAD=shared,TYPE=FILE,DISK_TYPE=FILE,DISK_ID=0,SIZE=1,TARGET=vda,SOURCE=" + base});

    ASSERT_EQ(load(true), 0) << all_records();
    ASSERT_EQ(devices_.size(), 1u);
    EXPECT_EQ(devices_[0].device_file, device);
    EXPECT_EQ(devices_[0].files, (std::vector<std::string>{device, base}));
    EXPECT_TRUE(tool_called("virsh", "LANG=C /usr/bin/virsh -q -c qemu+ssh://root@node2/system -q domblklist one-40"))
        << tool_log("virsh");
    // On the VM's host: the chain through ssh, without --force-share this time.
    EXPECT_TRUE(tool_called("ssh", "/usr/bin/ssh root@node2 /usr/bin/qemu-img info " + device + " --output=json"))
        << tool_log("ssh");
    EXPECT_TRUE(tool_called("ssh", "/usr/bin/ssh root@node2 /bin/readlink -f " + device));
    EXPECT_TRUE(logged("A VM device found, TM_MAD: shared, target: vda, device file: " + device)) << all_records();
}

TEST_F(VmDisks, RunningVmOnThisMachineAsksVirshWithoutConnection)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string device = root_ + "/run/one-43/disk.0";
    make_image(device, 512);
    set_domain_disks("one-43", "vda " + device + "\n");
    declare_vm(node_, {"TM_MAD=qcow2,TYPE=FILE,DISK_ID=0,TARGET=vda,SOURCE=" + device}, "43");

    ASSERT_EQ(load(true, true, false, "43"), 0) << all_records();
    ASSERT_EQ(devices_.size(), 1u);
    EXPECT_EQ(devices_[0].files, std::vector<std::string>{device});
    EXPECT_TRUE(tool_called("virsh", "LANG=C /usr/bin/virsh domblklist one-43")) << tool_log("virsh");
    // qemu-img goes through ssh whenever a host is named, this machine included.
    EXPECT_TRUE(tool_called("ssh", "/usr/bin/ssh root@" + node_ + " /usr/bin/qemu-img info " + device +
                                       " --output=json"))
        << tool_log("ssh");
}

TEST_F(VmDisks, TemporaryDiskIsListedOnlyForARunningVm)
{
    KEVRA_REQUIRE_SANDBOX();
    set_domain_disks("one-40", "vdb " + root_ + "/run/one-40/disk.1\n");
    declare_vm("node2", {"TYPE=fs,DISK_ID=1,SIZE=64,TARGET=vdb"});
    const std::string info = "The found disk is temporary (type: fs) - it won't be added to the backup";

    ASSERT_EQ(load(true), 0) << all_records();
    ASSERT_EQ(devices_.size(), 1u);
    EXPECT_EQ(devices_[0].disk_id, "1");
    EXPECT_EQ(devices_[0].size, 64u << 20);
    EXPECT_EQ(devices_[0].target, "vdb");
    EXPECT_EQ(devices_[0].device_type, hx::VM_DEVICE_TEMPORARY);
    EXPECT_EQ(devices_[0].device_file, root_ + "/run/one-40/disk.1");
    EXPECT_TRUE(devices_[0].files.empty());
    EXPECT_TRUE(logged(info)) << all_records();

    devices_.clear();
    clear_records();
    ASSERT_EQ(load(false), 0) << all_records();
    EXPECT_TRUE(devices_.empty());
    EXPECT_TRUE(logged(info));
}

TEST_F(VmDisks, CephDisksOfAStoppedVmAreNamedByTheirVolume)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_vm("node2", {"TM_MAD=ceph,TYPE=RBD,DISK_TYPE=RBD,DISK_ID=2,TARGET=vdc,SOURCE=one/one-12",
                         "TM_MAD=ceph,TYPE=RBD,DISK_TYPE=RBD,DISK_ID=3,TARGET=vdd,SOURCE=one/one-13,PERSISTENT=YES"});
    ASSERT_EQ(load(false), 0) << all_records();
    ASSERT_EQ(devices_.size(), 2u);
    EXPECT_EQ(devices_[0].files, std::vector<std::string>{"one/one-12-40-2"});
    EXPECT_EQ(devices_[1].files, std::vector<std::string>{"one/one-13"});
    EXPECT_EQ(devices_[0].storage_type, hx::VM_STORAGE_RBD);
    EXPECT_TRUE(tool_log("virsh").empty());
}

TEST_F(VmDisks, CephDiskOfARunningVmIsWhatVirshLists)
{
    KEVRA_REQUIRE_SANDBOX();
    set_domain_disks("one-40", "vdc one/one-12-40-2\n");
    declare_vm("node2", {"TM_MAD=ceph,TYPE=RBD,DISK_TYPE=RBD,DISK_ID=2,TARGET=vdc,SOURCE=one/one-12"});
    ASSERT_EQ(load(true), 0) << all_records();
    ASSERT_EQ(devices_.size(), 1u);
    EXPECT_EQ(devices_[0].files, std::vector<std::string>{"one/one-12-40-2"});
}

TEST_F(VmDisks, LvmDisksAreTheBlockDevicesTheirFilesLinkTo)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string lv7 = root_ + "/dev/vg-one/lv-one-7";
    const std::string lv8 = root_ + "/dev/vg-one/lv-one-8";
    make_image(lv7, 512);
    make_image(lv8, 512);
    fs::create_directories(vm_dir_);
    fs::create_symlink(lv7, vm_dir_ + "/disk.0");
    fs::create_symlink(lv8, vm_dir_ + "/disk.1");
    declare_vm("node2", {"TM_MAD=lvm_lvm,TYPE=BLOCK,DISK_TYPE=BLOCK,DISK_ID=0,TARGET=vda,SOURCE=" + lv7,
                         "TM_MAD=fs_lvm,TYPE=BLOCK,DISK_TYPE=BLOCK,DISK_ID=1,TARGET=vdb,SOURCE=/dev/vg-one/lv-one-8"});
    ASSERT_EQ(load(false), 0) << all_records();
    ASSERT_EQ(devices_.size(), 2u);
    EXPECT_EQ(devices_[0].files, std::vector<std::string>{lv7});
    EXPECT_EQ(devices_[0].storage_type, hx::VM_STORAGE_BLOCK);
    EXPECT_EQ(devices_[1].files, (std::vector<std::string>{lv8, "/dev/vg-one/lv-one-8"}));
    EXPECT_EQ(devices_[1].device_file, "/dev/vg-one/lv-one-8");
    // The link in the VM directory is read on the VM's host, without -f.
    EXPECT_TRUE(tool_called("ssh", "/usr/bin/ssh root@node2 /bin/readlink " + vm_dir_ + "/disk.0")) << tool_log("ssh");
    EXPECT_TRUE(logged("LVM disk found: " + vm_dir_ + "/disk.1"));
}

TEST_F(VmDisks, RunningLvmDiskIsTheBlockDeviceTheDeviceFileLinksTo)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string lv = root_ + "/dev/vg-one/lv-one-7";
    make_image(lv, 512);
    fs::create_directories(root_ + "/run");
    fs::create_symlink(lv, root_ + "/run/dm-link");
    set_domain_disks("one-40", "vda " + root_ + "/run/dm-link\nvdb " + root_ + "/run/fs-lvm\n");
    declare_vm("node2", {"TM_MAD=lvm_lvm,TYPE=BLOCK,DISK_ID=0,TARGET=vda,SOURCE=" + lv,
                         "TM_MAD=fs_lvm,TYPE=BLOCK,DISK_ID=1,TARGET=vdb,SOURCE=/dev/vg-one/lv-one-8"});
    ASSERT_EQ(load(true), 0) << all_records();
    ASSERT_EQ(devices_.size(), 2u);
    EXPECT_EQ(devices_[0].files, std::vector<std::string>{lv});
    EXPECT_TRUE(devices_[1].files.empty());  // a running fs_lvm disk names no file
}

struct RefusedDiskCase {
    const char* name;
    std::string disk;
    bool live;
    bool ceph_supported;
    std::string record;
};

std::ostream& operator<<(std::ostream& out, const RefusedDiskCase& c)
{
    return out << c.name;
}

class RefusedDisk : public VmDisks, public ::testing::WithParamInterface<RefusedDiskCase> {};

TEST_P(RefusedDisk, FailsTheCallAndKeepsTheDisksBeforeIt)
{
    KEVRA_REQUIRE_SANDBOX();
    const RefusedDiskCase& c = GetParam();
    make_image(root_ + "/images/ok.raw", 512);
    set_domain_disks("one-40", "vda " + root_ + "/images/ok.raw\nvdb /dev/other\n");
    fs::create_directories(vm_dir_);
    make_image(vm_dir_ + "/disk.0", 512);
    declare_vm("node2", {"TM_MAD=shared,TYPE=FILE,DISK_ID=0,TARGET=vda,SOURCE=" + root_ + "/images/ok.raw", c.disk});
    EXPECT_EQ(hx::load_VM_devices("40", devices_, false, c.live, c.ceph_supported), 1);
    EXPECT_EQ(devices_.size(), 1u);
    EXPECT_TRUE(logged(kLoad + c.record)) << all_records();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedDisk,
    ::testing::Values(
        RefusedDiskCase{"CephWithoutSupport", "TM_MAD=ceph,TYPE=RBD,DISK_ID=1,TARGET=vdb,SOURCE=one/one-12", true,
                        false, ": module doesn't support Ceph RADOS block devices: required qemu version at least 2.11"},
        RefusedDiskCase{"KnownButUnsupportedDriver", "TM_MAD=ssh,TYPE=FILE,DISK_ID=1,TARGET=vdb", true, true,
                        ": hx_module_kevra_vm does not yet support TM_MAD: ssh"},
        RefusedDiskCase{"UnknownDriver", "TM_MAD=nfs,TYPE=FILE,DISK_ID=1,TARGET=vdb", false, true,
                        ": unsupported TM_MAD value: nfs"},
        // The driver is checked before the disk is known to be temporary.
        RefusedDiskCase{"UnsupportedDriverOfATemporaryDisk", "TM_MAD=dev,TYPE=fs,DISK_ID=1,TARGET=vdb", false, true,
                        ": hx_module_kevra_vm does not yet support TM_MAD: dev"},
        RefusedDiskCase{"NoDriver", "TYPE=FILE,DISK_ID=1,TARGET=vdb", false, true, ": unsupported TM_MAD type: -1"},
        RefusedDiskCase{"UnknownType", "TM_MAD=qcow2,TYPE=GLUSTER,DISK_ID=1,TARGET=vdb", false, true,
                        ": unsupported type: GLUSTER"},
        RefusedDiskCase{"UnknownDiskType", "TM_MAD=qcow2,TYPE=FILE,DISK_TYPE=ISCSI,DISK_ID=9,TARGET=vdb", true,
                        true, ": unsupported disk type: ISCSI"}),
    [](const ::testing::TestParamInfo<RefusedDiskCase>& info) { return std::string(info.param.name); });

TEST_F(VmDisks, VmDirectoryThatIsNowhereFailsTheDisk)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_vm("node2", {"TM_MAD=qcow2,TYPE=FILE,DISK_ID=0,TARGET=vda,SOURCE=/nowhere"});
    EXPECT_EQ(load(false), 1);
    EXPECT_TRUE(logged("int hx_opennebula_common::get_real_vm_path(const std::string&, std::string&): couldn't find "
                       "real path to VM: 40. Please check VM configuration and VM's files placement"))
        << all_records();
    EXPECT_TRUE(logged(kLoad + ": can't get real VM disk path: 40"));
    EXPECT_TRUE(logged("not found"));
}

TEST_F(VmDisks, VmDirectoryOnThisMachineIsTestedHere)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_vm(node_, {}, "44");
    fs::create_directories(root_ + "/one/datastores/0/44");
    std::string path;
    EXPECT_EQ(hx::get_real_vm_path("44", path), 0) << all_records();
    EXPECT_EQ(path, root_ + "/one/datastores/0/44");
    EXPECT_TRUE(tool_log("ssh").empty()) << tool_log("ssh");
    EXPECT_TRUE(logged("Success"));
}

TEST_F(VmDisks, VmWithoutHostIsRefused)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.fixture({"vm", "--name", "pending", "--id", "45", "--state", "1"});
    EXPECT_EQ(load(false, true, false, "45"), 1);
    EXPECT_TRUE(logged(kLoad + ": can't get the hostname where VM resides")) << all_records();
}

TEST_F(VmDisks, BackingChainThatComesBackIsRefused)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string a = root_ + "/images/a.qcow2";
    const std::string b = root_ + "/images/b.qcow2";
    make_image(a, 512, b);
    make_image(b, 512, a);
    std::vector<std::string> chain;
    EXPECT_EQ(hx::fill_backing_image_chain(a, chain, false, ""), 1);
    EXPECT_EQ(chain, (std::vector<std::string>{a, b}));
    EXPECT_TRUE(logged(": backing image chain loops back to: " + a)) << all_records();
}

TEST_F(VmDisks, BackingChainOfAPathWithBlanksAndQuotesOnAnotherHost)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string marker = root_ + "/broken-out";
    const std::string top = root_ + "/images/it's a $(touch " + marker + ").qcow2";
    const std::string base = root_ + "/images/base.qcow2";
    make_image(top, 512, base);
    make_image(base, 512);
    std::vector<std::string> chain;
    EXPECT_EQ(hx::fill_backing_image_chain(top, chain, true, "node2"), 0) << all_records();
    EXPECT_EQ(chain, (std::vector<std::string>{top, base}));
    struct stat st {};
    EXPECT_NE(::stat(marker.c_str(), &st), 0);
}

TEST_F(VmDisks, ChainOfAFileWithoutBackingHasOneFile)
{
    KEVRA_REQUIRE_SANDBOX();
    make_image(root_ + "/images/raw.img", 512);
    std::vector<std::string> chain = {"kept"};
    EXPECT_EQ(hx::fill_backing_image_chain(root_ + "/images/raw.img", chain, false, ""), 0) << all_records();
    EXPECT_EQ(chain, (std::vector<std::string>{"kept", root_ + "/images/raw.img"}));
}

TEST_F(VmDisks, DeviceListingFailures)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string prototype = "int hx_opennebula_common::get_target_device_path(const std::string&, const "
                                  "std::string&, opennebula_device_info&)";
    hx::opennebula_device_info device;
    device.target = "vdq";
    // Unknown domain: virsh fails inside the pipeline, which leaves nothing to read.
    EXPECT_EQ(hx::get_target_device_path("node2", "one-99", device), 1);
    EXPECT_TRUE(logged(prototype + ": unable to get source path for device: vdq")) << all_records();
    EXPECT_TRUE(logged("Probably the following command failed: LANG=C /usr/bin/virsh -q -c "
                       "qemu+ssh://root@node2/system -q domblklist one-99"));

    // A target that is part of another line lists two sources: no single device file.
    set_domain_disks("one-40", "vda /dev/a\nvdaa /dev/b\n");
    device.target = "vda";
    EXPECT_EQ(hx::get_target_device_path(node_, "one-40", device), 1);
    EXPECT_TRUE(logged(": more than one source listed for device: vda")) << all_records();
    EXPECT_TRUE(device.device_file.empty());
}

TEST_F(VmDisks, VirtualSizeHereAndOnAnotherHost)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string image = root_ + "/images/my disk.qcow2";
    make_image(image, 10737418240ull);
    unsigned long long size = 0;
    EXPECT_EQ(hx::get_image_virtual_size(image, false, "", size), 0) << all_records();
    EXPECT_EQ(size, 10737418240ull);
    EXPECT_TRUE(tool_called("qemu-img", "/usr/bin/qemu-img info '" + image + "' --output=json"))
        << tool_log("qemu-img");

    size = 0;
    EXPECT_EQ(hx::get_image_virtual_size(image, true, node_, size), 0);
    EXPECT_EQ(size, 10737418240ull);
    EXPECT_TRUE(tool_log("ssh").empty()) << tool_log("ssh");

    size = 0;
    EXPECT_EQ(hx::get_image_virtual_size(image, true, "node2", size), 0) << all_records();
    EXPECT_EQ(size, 10737418240ull);
    EXPECT_NE(tool_log("ssh").find("/usr/bin/ssh root@node2 /usr/bin/qemu-img info --force-share "),
              std::string::npos)
        << tool_log("ssh");
}

TEST_F(VmDisks, VirtualSizeOfAMissingImageFails)
{
    KEVRA_REQUIRE_SANDBOX();
    unsigned long long size = 7;
    EXPECT_EQ(hx::get_image_virtual_size(root_ + "/missing.qcow2", false, "", size), 1);
    EXPECT_TRUE(logged("int hx_opennebula_common::get_image_virtual_size(const std::string&, bool, const "
                       "std::string&, long long unsigned int&): the following command produced an error: "
                       "/usr/bin/qemu-img info '" +
                       root_ + "/missing.qcow2' --output=json | /bin/grep 'virtual-size'"))
        << all_records();
    EXPECT_EQ(size, 7u);
}

TEST_F(VmDisks, CephDisksOfAVmDocument)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_vm("node2", {"TM_MAD=ceph,TYPE=RBD,DISK_ID=0,TARGET=vda,SOURCE=one/one-12",
                         "TM_MAD=ceph,TYPE=RBD_CDROM,DISK_ID=1,TARGET=hda,SOURCE=one/one-13",
                         "TM_MAD=shared,TYPE=FILE,DISK_ID=2,TARGET=vdb,SOURCE=/var/lib/one/x"});
    std::vector<hx::RBD_disk> disks(1);
    EXPECT_EQ(hx::get_vm_rbd_disks("40", disks), 0) << all_records();
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[1].image_id, "12");
    EXPECT_EQ(disks[1].vm_id, "40");
    EXPECT_EQ(disks[1].disk_id, "0");
    EXPECT_EQ(disks[1].target, "vda");
    EXPECT_TRUE(logged("Run command: '/usr/bin/onevm show 40 -x'"));

    EXPECT_EQ(hx::get_vm_rbd_disks("99", disks), 1);
    EXPECT_TRUE(logged(": the following command produced an error: /usr/bin/onevm show 99 -x")) << all_records();
}

TEST_F(VmDisks, CephDiskWithAShortSourceIsReported)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_vm("node2", {"TM_MAD=ceph,TYPE=RBD,DISK_ID=0,TARGET=vda,SOURCE=one/"});
    std::vector<hx::RBD_disk> disks;
    EXPECT_EQ(hx::get_vm_rbd_disks("40", disks), 1);
    EXPECT_TRUE(disks.empty());
    EXPECT_TRUE(logged(": can't get Ceph image ID from disk source: one/")) << all_records();
}

TEST_F(VmDisks, DiskIdAndSourceByTarget)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_vm("node2", {"TM_MAD=shared,TYPE=FILE,DISK_ID=0,TARGET=vda,SOURCE=/var/lib/one/a",
                         "TM_MAD=shared,TYPE=FILE,DISK_ID=5,TARGET=vdb,SOURCE=/var/lib/one/b"});
    int id = -1;
    EXPECT_EQ(hx::get_VM_diskID("40", "vdb", id), 0) << all_records();
    EXPECT_EQ(id, 5);
    std::string source;
    id = -1;
    EXPECT_EQ(hx::get_disk_id_and_source("40", "vdb", id, source), 0) << all_records();
    EXPECT_EQ(id, 5);
    EXPECT_EQ(source, "/var/lib/one/b");

    id = 77;
    source = "kept";
    EXPECT_EQ(hx::get_VM_diskID("40", "vdz", id), 1);
    EXPECT_EQ(hx::get_disk_id_and_source("40", "vdz", id, source), 1);
    EXPECT_EQ(id, 77);
    EXPECT_EQ(source, "kept");
    EXPECT_TRUE(records().empty()) << all_records();

    EXPECT_EQ(hx::get_disk_id_and_source("99", "vda", id, source), 1);
    EXPECT_TRUE(logged(": can't get info for VM: 99")) << all_records();
}

TEST_F(VmDisks, EmptyDiskFieldsAreReported)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_vm("node2", {"TM_MAD=shared,TYPE=FILE,DISK_ID=0,TARGET=vda,SOURCE="});
    int id = -1;
    std::string source = "kept";
    EXPECT_EQ(hx::get_disk_id_and_source("40", "vda", id, source), 1);
    EXPECT_TRUE(logged(": got empty disk source")) << all_records();
}

}  // namespace

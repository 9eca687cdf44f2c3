// Ceph volume names, temporary disks, and command-line words that ssh hands to another host.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "common/hx_utils_common.h"
#include "opennebula/vm_command_lines.h"
#include "opennebula/vm_disk_discovery.h"
#include "opennebula/vm_disk_lookups.h"
#include "opennebula/vm_document_readers.h"
#include "tests/opennebula/vm_test_support.h"

namespace hx = hx_opennebula_common;

namespace {

struct VolumeCase {
    const char* volume;
    const char* image;
    const char* vm;
    const char* disk;
};

TEST(VmDiskLookups, CephVolumeNameParts)
{
    const VolumeCase cases[] = {
        {"one-12-40-2", "12", "40", "2"},
        {"one-12-40-2-snap", "12", "40", "2"},
        {"one-12-40", "12", "40", ""},
        {"one-12", "12", "", ""},
        {"one-", "", "", ""},
        {"one", "", "", ""},
        {"", "", "", ""},
    };
    for (const VolumeCase& c : cases) {
        const hx::RBD_disk disk = hx::fill_rbd_disk_struct_from_target(c.volume, "vdb");
        EXPECT_EQ(disk.image_id, c.image) << c.volume;
        EXPECT_EQ(disk.vm_id, c.vm) << c.volume;
        EXPECT_EQ(disk.disk_id, c.disk) << c.volume;
        EXPECT_EQ(disk.target, "vdb") << c.volume;
    }
}

class TemporaryDisk : public opennebula_test::LogCapture {
protected:
    const std::string prototype_ = "int hx_opennebula_common::get_temporary_disk_info(xmlDoc* const&, xmlNode* const&, "
                                   "opennebula_device_info&)";
};

TEST_F(TemporaryDisk, ReadsIdSizeAndTargetOfTheDisk)
{
    const auto doc = vm_test::parsed(vm_test::vm_document("vm_running.xml"));
    xmlNode* disk = hx::vm_disk_with_target(xmlDocGetRootElement(doc.get()), "vdb");
    ASSERT_NE(disk, nullptr);
    hx::opennebula_device_info device;
    xmlDoc* raw = doc.get();
    EXPECT_EQ(hx::get_temporary_disk_info(raw, disk, device), 0);
    EXPECT_EQ(device.disk_id, "1");
    EXPECT_EQ(device.size, 1024u << 20);
    EXPECT_EQ(device.target, "vdb");
    EXPECT_TRUE(records().empty()) << all_records();
}

TEST_F(TemporaryDisk, WrongNodeAndMissingIdFail)
{
    const auto doc = vm_test::parsed("<VM><TEMPLATE><DISK><SIZE>64</SIZE><TARGET>vdd</TARGET></DISK></TEMPLATE></VM>");
    xmlDoc* raw = doc.get();
    xmlNode* tmpl = hx::first_child_element(xmlDocGetRootElement(raw), "TEMPLATE");
    hx::opennebula_device_info device;
    EXPECT_EQ(hx::get_temporary_disk_info(raw, tmpl, device), 1);
    EXPECT_TRUE(logged(prototype_ + ": wrong XML node, expected 'DISK' info")) << all_records();
    xmlNode* disk = hx::first_child_element(tmpl, "DISK");
    EXPECT_EQ(hx::get_temporary_disk_info(raw, disk, device), 1);
    EXPECT_TRUE(logged(prototype_ + ": got empty disk_id string")) << all_records();
}

// A value put through remote_word must come out of two shells (the local one,
// then the one ssh starts on the other host) as exactly itself.
class RemoteWord : public opennebula_test::LogCapture {
protected:
    void SetUp() override
    {
        LogCapture::SetUp();
        // Like ssh: the words after the destination, joined by blanks, go to a shell again.
        ssh_ = scratch_dir() + "/ssh";
        opennebula_test::write_file(ssh_, "#!/bin/sh\nshift\nexec /bin/sh -c \"$*\"\n");
        ::chmod(ssh_.c_str(), 0755);
    }
    std::string ssh_;
};

TEST_F(RemoteWord, NoValueBreaksOutOnEitherSide)
{
    const std::string marker = scratch_dir() + "/broken-out";
    const std::string values[] = {
        "plain/path-1.qcow2", "with blank", "it's", "$(touch " + marker + ")", "`touch " + marker + "`",
        "a;touch " + marker, "\"double\"", "back\\slash", "star*", "", "'", "line\nend", "-n",
    };
    for (const std::string& value : values) {
        for (bool always : {false, true}) {
            std::string output;
            const int status = hx_utils_common::execute_command(
                ssh_ + " root@node2 printf %s. " + hx::remote_word(value, always), output);
            EXPECT_EQ(status, 0) << value;
            EXPECT_EQ(output, value + ".") << value << " always=" << always;
        }
    }
    struct stat st {};
    EXPECT_NE(::stat(marker.c_str(), &st), 0) << "a value ran a command";
}

TEST(VmCommandLines, OrdinaryValuesKeepTheirPlainForm)
{
    EXPECT_EQ(hx::remote_word("/var/lib/one/datastores/0/40"), "/var/lib/one/datastores/0/40");
    EXPECT_EQ(hx::remote_word("/var/lib/one/datastores/0/40/disk.0", true), "'/var/lib/one/datastores/0/40/disk.0'");
    EXPECT_EQ(hx::vm_show_command("40"), "/usr/bin/onevm show '40' -x");
    EXPECT_EQ(hx::ssh_prefix("node2"), "ssh root@node2 ");
    EXPECT_FALSE(hx::is_other_host(""));
    EXPECT_FALSE(hx::is_other_host(hx_utils_common::get_nodename()));
    EXPECT_TRUE(hx::is_other_host(hx_utils_common::get_nodename() + "-other"));
}

TEST(VmCommandLines, QemuJsonLineIsCompacted)
{
    EXPECT_EQ(hx::compact_json_line("    \"virtual-size\":   512,\n"), "virtual-size: 512,");
    EXPECT_EQ(hx::compact_json_line("\t\"full-backing-filename\": \"/a b/base.qcow2\",\n"),
              "full-backing-filename: /a b/base.qcow2,");
}

}  // namespace

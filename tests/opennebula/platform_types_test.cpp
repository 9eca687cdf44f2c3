// Names of the platform's codes and the image record's value semantics.
#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

#include "opennebula/image_record.h"
#include "opennebula/platform_types.h"

namespace hx = hx_opennebula_common;

namespace {

TEST(DriverNames, LookupByNameIsExactAndCaseSensitive)
{
    const struct {
        const char* name;
        hx::TM_MAD_TYPE expected;
    } cases[] = {
        {"qcow2", hx::TM_MAD_QCOW2}, {"ceph", hx::TM_MAD_CEPH},       {"fs_lvm", hx::TM_MAD_FS_LVM},
        {"lvm_lvm", hx::TM_MAD_LVM_LVM}, {"lvm_thin", hx::TM_MAD_LVM_THIN}, {"shared", hx::TM_MAD_SHARED},
        {"ssh", hx::TM_MAD_SSH},     {"dev", hx::TM_MAD_DEV},         {"iscsi", hx::TM_MAD_ISCSI},
        {"", hx::TM_MAD_NONE},       {"CEPH", hx::TM_MAD_NONE},       {"Shared", hx::TM_MAD_NONE},
        {"shared ", hx::TM_MAD_NONE}, {"local", hx::TM_MAD_NONE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hx::tm_mad_from_name(c.name), c.expected) << '"' << c.name << '"';
}

TEST(DriverNames, KeyLookupCoversMinusOneToEightAndThrowsOutside)
{
    EXPECT_EQ(hx::TM_MAD_TYPE_STR.size(), 10u);
    EXPECT_EQ(hx::TM_MAD_TYPE_STR.at(hx::TM_MAD_NONE), "");
    EXPECT_EQ(hx::TM_MAD_TYPE_STR.at(hx::TM_MAD_LVM_LVM), "lvm_lvm");
    EXPECT_THROW(hx::TM_MAD_TYPE_STR.at(static_cast<hx::TM_MAD_TYPE>(9)), std::out_of_range);
}

TEST(TypeNames, EveryCodeAndTheUnnamedOnes)
{
    const char* const image_names[] = {"OS", "CDROM", "DATABLOCK", "KERNEL", "RAMDISK", "CONTEXT", "", ""};
    for (int code = 0; code < 8; ++code) {
        auto type = static_cast<hx::opennebula_image_type>(code);
        EXPECT_EQ(hx::type_to_str(type), image_names[code]) << code;
        EXPECT_EQ(type, code) << "the value must not change";
    }
    const char* const disk_names[] = {"FILE",     "CDROM",          "BLOCK", "RBD", "RBD_CDROM", "GLUSTER",
                                      "GLUSTER_CDROM", "SHEEPDOG", "SHEEPDOG_CDROM", "ISCSI", ""};
    for (int code = 0; code < 11; ++code) {
        auto disk = static_cast<hx::opennebula_disk_type>(code);
        EXPECT_EQ(hx::disk_type_to_str(disk), disk_names[code]) << code;
    }
    auto none = hx::DISK_TYPE_NONE;
    EXPECT_EQ(hx::disk_type_to_str(none), "");
    EXPECT_EQ(none, 255);
}

TEST(ImageData, OnlyFileBlockAndCephImagesCarryData)
{
    const std::vector<std::pair<hx::opennebula_disk_type, bool>> cases = {
        {hx::DISK_TYPE_FILE, true},           {hx::DISK_TYPE_BLOCK, true},          {hx::DISK_TYPE_RBD, true},
        {hx::DISK_TYPE_CDROM, false},         {hx::DISK_TYPE_RBD_CDROM, false},     {hx::DISK_TYPE_GLUSTER, false},
        {hx::DISK_TYPE_GLUSTER_CDROM, false}, {hx::DISK_TYPE_SHEEPDOG, false},      {hx::DISK_TYPE_SHEEPDOG_CDROM, false},
        {hx::DISK_TYPE_ISCSI, false},         {hx::DISK_TYPE_NONE, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hx::disk_type_has_data(c.first), c.second) << static_cast<int>(c.first);
    }
}

TEST(ImageRecord, DefaultsAndCopiesKeepEveryField)
{
    const hx::oneimage fresh;
    EXPECT_TRUE(fresh.id.empty() && fresh.name.empty() && fresh.restore_name.empty() && fresh.datastore_id.empty());
    EXPECT_TRUE(fresh.dev_prefix.empty() && fresh.driver.empty() && fresh.persistent.empty());
    EXPECT_TRUE(fresh.unique_signature.empty() && fresh.source.empty());
    EXPECT_EQ(fresh.type, hx::IMAGE_TYPE_OS);
    EXPECT_EQ(fresh.disk_type, hx::DISK_TYPE_NONE);
    EXPECT_EQ(fresh.size, 0u);

    hx::oneimage full;
    full.id = "7";
    full.name = "web-disk";
    full.restore_name = "web-disk_1";
    full.datastore_id = "1";
    full.dev_prefix = "vd";
    full.driver = "qcow2";
    full.type = hx::IMAGE_TYPE_DATABLOCK;
    full.disk_type = hx::DISK_TYPE_BLOCK;
    full.persistent = "1";
    full.unique_signature = "0123456789abcdef0123456789abcdef";
    full.size = 10u << 20;
    full.source = "/dev/vg/lv";

    const auto same = [](const hx::oneimage& a, const hx::oneimage& b) {
        return a.id == b.id && a.name == b.name && a.restore_name == b.restore_name &&
               a.datastore_id == b.datastore_id && a.dev_prefix == b.dev_prefix && a.driver == b.driver &&
               a.type == b.type && a.disk_type == b.disk_type && a.persistent == b.persistent &&
               a.unique_signature == b.unique_signature && a.size == b.size && a.source == b.source;
    };
    const hx::oneimage copy(full);
    EXPECT_TRUE(same(copy, full));
    hx::oneimage assigned;
    assigned = full;
    EXPECT_TRUE(same(assigned, full));
    hx::oneimage moved(std::move(assigned));
    EXPECT_TRUE(same(moved, full));
}

}  // namespace

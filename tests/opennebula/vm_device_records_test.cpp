// The value records of a VM's disks and state, and the disk SIZE conversion.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "opennebula/vm_device_records.h"

namespace hx = hx_opennebula_common;

namespace {

TEST(VmDeviceRecords, DefaultsOfAFreshDevice)
{
    const hx::opennebula_device_info device;
    EXPECT_EQ(device.storage_type, 1);
    EXPECT_EQ(device.device_type, 2);
    EXPECT_EQ(device.aux_value, 1);
    EXPECT_FALSE(device.persistent);
    EXPECT_EQ(device.tm_mad, -1);
    EXPECT_EQ(device.size, 0u);
    EXPECT_TRUE(device.target.empty() && device.source.empty() && device.image_id.empty() &&
                device.device_file.empty() && device.disk_id.empty());
    EXPECT_TRUE(device.files.empty());

    const hx::opennebula_vm_state state;
    EXPECT_EQ(state.state, -1);
    EXPECT_EQ(state.lcm_state, -1);
}

hx::opennebula_device_info filled_device()
{
    hx::opennebula_device_info device;
    device.storage_type = hx::VM_STORAGE_BLOCK;
    device.device_type = hx::VM_DEVICE_CDROM;
    device.target = "vdb";
    device.source = "/dev/vg/lv";
    device.files = {"/c", "/a", "/b"};
    device.aux_value = 7;
    device.persistent = true;
    device.tm_mad = hx::TM_MAD_LVM_LVM;
    device.size = 3u << 20;
    device.image_id = "12";
    device.device_file = "/dev/dm-3";
    device.disk_id = "1";
    return device;
}

void expect_same(const hx::opennebula_device_info& copy, const hx::opennebula_device_info& original)
{
    EXPECT_EQ(copy.storage_type, original.storage_type);
    EXPECT_EQ(copy.device_type, original.device_type);
    EXPECT_EQ(copy.target, original.target);
    EXPECT_EQ(copy.source, original.source);
    EXPECT_EQ(copy.files, original.files);
    EXPECT_EQ(copy.aux_value, original.aux_value);
    EXPECT_EQ(copy.persistent, original.persistent);
    EXPECT_EQ(copy.tm_mad, original.tm_mad);
    EXPECT_EQ(copy.size, original.size);
    EXPECT_EQ(copy.image_id, original.image_id);
    EXPECT_EQ(copy.device_file, original.device_file);
    EXPECT_EQ(copy.disk_id, original.disk_id);
}

TEST(VmDeviceRecords, CopiesAndMovesKeepEveryFieldAndTheOrderOfFiles)
{
    const hx::opennebula_device_info original = filled_device();
    const hx::opennebula_device_info copy(original);
    expect_same(copy, original);

    hx::opennebula_device_info source = filled_device();
    const hx::opennebula_device_info moved(std::move(source));
    expect_same(moved, original);

    std::vector<hx::opennebula_device_info> list;
    list.push_back(original);
    list.push_back(filled_device());
    expect_same(list.front(), original);

    // Copying the base part alone keeps what the hypervisor side knows.
    const hx::kvm_device_info base(original);
    EXPECT_EQ(base.files, original.files);
    EXPECT_EQ(base.aux_value, 7);
}

TEST(VmDeviceRecords, RbdDiskMovesItsFourTexts)
{
    hx::RBD_disk disk;
    disk.image_id = "12";
    disk.vm_id = "40";
    disk.disk_id = "2";
    disk.target = "vdb";
    std::vector<hx::RBD_disk> list;
    list.push_back(std::move(disk));
    EXPECT_EQ(list[0].image_id, "12");
    EXPECT_EQ(list[0].vm_id, "40");
    EXPECT_EQ(list[0].disk_id, "2");
    EXPECT_EQ(list[0].target, "vdb");
}

struct SizeCase {
    const char* text;
    std::uint64_t bytes;
};

TEST(VmDeviceRecords, DiskSizeIsMegabytesReadWithTheirBase)
{
    const SizeCase cases[] = {
        {"10", 10485760u}, {"0", 0u}, {"0x10", 16u << 20}, {"010", 8u << 20}, {" 3", 3u << 20}, {"5MB", 5u << 20},
        {"4194304", std::uint64_t(4194304) << 20},
    };
    for (const SizeCase& c : cases)
        EXPECT_EQ(hx::disk_size_bytes(c.text), c.bytes) << c.text;
    EXPECT_THROW(hx::disk_size_bytes(""), std::invalid_argument);
    EXPECT_THROW(hx::disk_size_bytes("many"), std::invalid_argument);
    EXPECT_THROW(hx::disk_size_bytes("99999999999999999999999"), std::out_of_range);
}

}  // namespace

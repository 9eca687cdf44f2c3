#ifndef KEVRA_OPENNEBULA_VM_DEVICE_RECORDS_H
#define KEVRA_OPENNEBULA_VM_DEVICE_RECORDS_H

// Value records that describe a virtual machine's disks and state: a disk as
// the hypervisor host sees it, the same disk with what the platform's VM
// document adds, one Ceph disk of a VM, and a VM's two state numbers.

#include <cstdint>
#include <string>
#include <vector>

#include "opennebula/platform_types.h"

namespace hx_opennebula_common {

// Where a disk's data lives (kvm_device_info::storage_type), from DISK_TYPE.
enum vm_storage_type : std::int32_t {
    VM_STORAGE_FILE = 1,   // "FILE" or "CDROM"
    VM_STORAGE_BLOCK = 2,  // "BLOCK"
    VM_STORAGE_RBD = 4     // "RBD"
};

// What a device is (kvm_device_info::device_type), from the disk's TYPE.
enum vm_device_type : std::int32_t {
    VM_DEVICE_DISK = 2,       // "FILE", "BLOCK" or "RBD"
    VM_DEVICE_CDROM = 3,      // "CDROM" or "RBD_CDROM"
    VM_DEVICE_TEMPORARY = 5   // "fs": a temporary file-system disk
};

// A disk device as the hypervisor host sees it.
struct kvm_device_info {
    std::int32_t storage_type = VM_STORAGE_FILE;
    std::int32_t device_type = VM_DEVICE_DISK;
    std::string target;              // device name inside the VM (TARGET)
    std::string source;              // SOURCE, or the path a linked SOURCE resolves to
    std::vector<std::string> files;  // files, block devices or Ceph volume names holding the data, in order found
    std::int32_t aux_value = 1;      // carried along with the record; the layer never reads it

    kvm_device_info() = default;
    kvm_device_info(const kvm_device_info&) = default;
    kvm_device_info(kvm_device_info&&) = default;
    kvm_device_info& operator=(const kvm_device_info&) = default;
    kvm_device_info& operator=(kvm_device_info&&) = default;
};

// One disk of a VM with what the platform's VM document adds.
struct opennebula_device_info : kvm_device_info {
    bool persistent = false;           // PERSISTENT is exactly "YES"
    TM_MAD_TYPE tm_mad = TM_MAD_NONE;  // transfer driver named by TM_MAD
    std::uint64_t size = 0;            // SIZE (megabytes) in bytes
    std::string image_id;              // IMAGE_ID
    std::string device_file;           // device file backing the disk on the VM's host
    std::string disk_id;               // DISK_ID

    opennebula_device_info() = default;
    opennebula_device_info(const opennebula_device_info&) = default;
    opennebula_device_info(opennebula_device_info&&) = default;
    opennebula_device_info& operator=(const opennebula_device_info&) = default;
    opennebula_device_info& operator=(opennebula_device_info&&) = default;
};

// One Ceph disk of a VM: the parts of its volume name one-<image>-<vm>-<disk>.
struct RBD_disk {
    std::string image_id;
    std::string vm_id;
    std::string disk_id;
    std::string target;

    RBD_disk() = default;
    RBD_disk(const RBD_disk&) = default;
    RBD_disk(RBD_disk&&) = default;
    RBD_disk& operator=(const RBD_disk&) = default;
    RBD_disk& operator=(RBD_disk&&) = default;
};

// A VM's STATE and LCM_STATE; -1 means "not read".
struct opennebula_vm_state {
    std::int32_t state = -1;
    std::int32_t lcm_state = -1;
};

// A disk SIZE text (megabytes; "0x" hexadecimal, a leading zero octal) in bytes.
// Throws std::invalid_argument / std::out_of_range when the text is not a number.
std::uint64_t disk_size_bytes(const std::string& megabytes);

}  // namespace hx_opennebula_common

#endif

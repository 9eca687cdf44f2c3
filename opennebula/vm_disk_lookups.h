#ifndef KEVRA_OPENNEBULA_VM_DISK_LOOKUPS_H
#define KEVRA_OPENNEBULA_VM_DISK_LOOKUPS_H

// Small lookups about one virtual machine's disks: a disk image's virtual
// size, the VM's Ceph disks, the parts of a Ceph volume name, and the DISK_ID
// (and SOURCE) of the disk with a given target.

#include <string>
#include <vector>

#include "opennebula/vm_device_records.h"

namespace hx_opennebula_common {

// 0 with `size` = the virtual size in bytes that qemu-img reports for the
// image at `path`, asked on `host` when that is another machine; 1 when the
// command fails or prints nothing (logged).
// Throws std::invalid_argument / std::out_of_range when the size is not a number.
int get_image_virtual_size(const std::string& path, bool force_share, const std::string& host,
                           unsigned long long& size);

// 0 after appending one record per Ceph disk of VM `vm` (TM_MAD "ceph", not a
// Ceph CD-ROM) to `disks`; 1 when the command or the document fails, or a
// Ceph disk's SOURCE is too short to hold an image id (logged).
int get_vm_rbd_disks(const std::string& vm, std::vector<RBD_disk>& disks);

// The image, VM and disk ids packed in the Ceph volume name
// "one-<image>-<vm>-<disk>", with `target`; a missing part stays empty.
RBD_disk fill_rbd_disk_struct_from_target(const std::string& volume, const std::string& target);

// 0 with `disk_id` = the DISK_ID of the VM's first disk whose TARGET is
// `target`; 1 when the command or document fails (logged) or no disk has that target.
// Throws std::invalid_argument / std::out_of_range when the DISK_ID is not a number.
int get_VM_diskID(const std::string& vm, const std::string& target, int& disk_id);

// 0 with `disk_id` and `source` from the VM's first disk whose TARGET is
// `target` (absent children leave them unchanged); 1 when the command or
// document fails, the disk's DISK_ID or SOURCE is empty (logged), or no disk has that target.
// Throws std::invalid_argument / std::out_of_range when the DISK_ID is not a number.
int get_disk_id_and_source(const std::string& vm, const std::string& target, int& disk_id, std::string& source);

}  // namespace hx_opennebula_common

#endif

#ifndef KEVRA_OPENNEBULA_VM_DISK_DISCOVERY_H
#define KEVRA_OPENNEBULA_VM_DISK_DISCOVERY_H

// Which files, block devices or Ceph volumes hold the data of a virtual
// machine's disks: for a stopped VM from the VM directory of a system
// datastore, for a running one from the hypervisor on the VM's host.

#include <libxml/tree.h>

#include <string>
#include <vector>

#include "opennebula/vm_device_records.h"

namespace hx_opennebula_common {

// 0 after appending one record per disk of VM `vm` (numeric id) to `devices`,
// with the data files of each; `live`: the VM is running; qemu-img is given
// "--force-share" with `force_share`; Ceph disks are refused unless
// `ceph_supported`. 1 at the first failing disk (logged; records appended before it stay).
int load_VM_devices(const std::string& vm, std::vector<opennebula_device_info>& devices, bool force_share,
                    bool live, bool ceph_supported);

// 0 with `path` = the VM's directory in the first system datastore that has
// it (on the VM's host when that is another machine); 1 when the pools, the
// VM's workplace or the directory cannot be found (logged).
int get_real_vm_path(const std::string& vm, std::string& path);

// 0 with `device.device_file` = the source virsh lists for `device.target` of
// the domain `deploy_id` on `host`; 1 when virsh fails, lists nothing or more
// than one source for the target (logged).
int get_target_device_path(const std::string& host, const std::string& deploy_id, opennebula_device_info& device);

// 0 after appending `path` (its link resolved) and every file it is based on,
// in order, to `chain`; qemu-img runs on `host` when that is not empty. 1 when
// a link cannot be read, a backing file name cannot be cut out of qemu-img's
// answer, or the chain comes back to a file already in it (logged).
int fill_backing_image_chain(const std::string& path, std::vector<std::string>& chain, bool force_share,
                             const std::string& host);

// 0 after setting `device`'s disk_id, size and target from a temporary disk's
// DISK node; 1 when `node` is not a DISK or has no DISK_ID text (logged).
// Throws std::invalid_argument / std::out_of_range for a SIZE that is not a number.
int get_temporary_disk_info(xmlDoc* const& document, xmlNode* const& node, opennebula_device_info& device);

}  // namespace hx_opennebula_common

#endif

#ifndef KEVRA_OPENNEBULA_VM_TEMPLATE_FILES_H
#define KEVRA_OPENNEBULA_VM_TEMPLATE_FILES_H

// VM template files: the TEMPLATE element of a VM's platform document, cleaned
// of what a re-created VM must not inherit and given a NAME, saved as a
// formatted XML file; their edits for a restore and their readers.

#include <string>
#include <vector>

#include "opennebula/image_record.h"
#include "opennebula/platform_types.h"

namespace hx_opennebula_common {

// 0 after writing the template file of VM `vm` to `path`, named `new_name`
// (the VM's own name when empty): temporary disks, graphics ports, boot
// entries other than "disk0" and the NICs' MAC, IP, IP6_GLOBAL and IP6_LINK
// removed. 1 when the command, the document or the save fails, or the VM
// document has no TEMPLATE (logged; nothing is written).
int create_vm_xml(const std::string& vm, const std::string& path, const std::string& new_name);

// 0 after setting the file's first top-level NAME to `new_name`; 1 when the
// file cannot be read or saved or has no NAME (logged; the file unchanged).
int change_name_in_VM_xml(const std::string& path, const std::string& new_name);

// 0 after removing every top-level DISK with a TYPE "CDROM" or "RBD_CDROM" and
// saving the file; 1 when it cannot be read or saved (logged).
int remove_cdrom_from_VM_xml(const std::string& path);

// 0 after replacing, in every top-level DISK, each IMAGE equal to `old_image`
// by `new_image` and each IMAGE_ID equal to `old_id` by `new_id`; 1 when the
// file cannot be read or saved or nothing matched (logged; the file unchanged).
int change_image_in_VM_xml(const std::string& path, const std::string& old_image, const std::string& new_image,
                           const std::string& old_id, const std::string& new_id);

// 0 with `ids` = the text of every DISK/IMAGE_ID, in order (emptied first);
// 1 when the file cannot be read (logged).
int get_VM_image_ID_list_from_xml(const std::string& path, std::vector<std::string>& ids);

// 0 with `images` = one fully read record per DISK/IMAGE_ID, in order (emptied
// first); 1 when the file or an image cannot be read (logged; records read before stay).
int get_VM_image_list_from_xml(const std::string& path, std::vector<oneimage>& images);

// 0 with `name` = the file's first top-level NAME; 1 when unreadable or absent (logged).
int get_VM_name_from_file(const std::string& path, std::string& name);

// 0 with `total` = the SIZE (megabytes) of every DISK whose first TYPE is
// neither "fs" nor "CDROM"; 1 when the file cannot be read (logged).
// Throws std::invalid_argument / std::out_of_range for a SIZE that is not a number.
int get_total_vm_disks_size_mb(const std::string& path, unsigned int& total);

// The driver named by the file's first TM_MAD_SYSTEM that is in TM_MAD_TYPE_STR;
// TM_MAD_NONE when none is, or the file cannot be read (logged).
TM_MAD_TYPE get_vm_tm_mad_type(const std::string& path);

}  // namespace hx_opennebula_common

#endif

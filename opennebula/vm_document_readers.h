#ifndef KEVRA_OPENNEBULA_VM_DOCUMENT_READERS_H
#define KEVRA_OPENNEBULA_VM_DOCUMENT_READERS_H

// What the VM side of the layer reads out of the platform's VM, VM pool and
// host pool documents, apart from running the commands that print them.

#include <libxml/tree.h>

#include <string>
#include <vector>

#include "opennebula/vm_device_records.h"

namespace hx_opennebula_common {

// Sets `state.state` / `state.lcm_state` from every top-level STATE / LCM_STATE
// of a VM root (the last one wins; fields without an element keep their value).
// Throws std::invalid_argument / std::out_of_range for a state that is not a number.
void read_vm_state(xmlNode* vm_root, opennebula_vm_state& state);

// The text of every NAME of every VM of a VM_POOL root, in document order.
// Never fails beyond std::bad_alloc.
std::vector<std::string> vm_pool_names(xmlNode* pool_root);
// True with `host` = the NAME of the first HOST of a HOST_POOL root whose VMS
// lists the id `vm` exactly; false (host unchanged) when none does.
bool find_vm_host(xmlNode* pool_root, const std::string& vm, std::string& host);

// True with `id` = the first ID of the first HOST of a HOST_POOL root whose
// TEMPLATE/HOSTNAME equals `hostname`; false with `id` emptied when none does.
bool find_host_id_by_hostname(xmlNode* pool_root, const std::string& hostname, std::string& id);

// True with `mac` = the first TEMPLATE/CONTEXT/ETH0_MAC of a VM root; false when there is none.
bool find_eth0_mac(xmlNode* vm_root, std::string& mac);

// True when the first top-level LOCK of a VM root has a LOCKED child, whatever its text.
bool vm_document_shows_lock(xmlNode* vm_root);

// The first DISK of a top-level TEMPLATE of a VM root with a TARGET equal to `target`; null when none.
xmlNode* vm_disk_with_target(xmlNode* vm_root, const std::string& target);

// Removes from the children of a VM's TEMPLATE what a re-created VM must not
// inherit: DISKs whose first TYPE is "fs", GRAPHICS/PORT, OS/BOOT other than
// "disk0", and each NIC's first MAC, IP, IP6_GLOBAL and IP6_LINK.
void clean_vm_template(xmlNode* tmpl);

}  // namespace hx_opennebula_common

#endif

#ifndef KEVRA_OPENNEBULA_VM_QUERIES_H
#define KEVRA_OPENNEBULA_VM_QUERIES_H

// Questions to "/usr/bin/onevm" and "/usr/bin/onehost" about one virtual
// machine and the hosts it runs on. Everything runs on the front host.

#include <string>
#include <vector>

#include "opennebula/vm_device_records.h"

namespace hx_opennebula_common {

// 0 after setting `state.state` / `state.lcm_state` from the VM's top-level
// STATE / LCM_STATE (fields not found keep their value; a missing LCM_STATE is
// logged but still 0); 1 when the command or document fails or STATE is missing (logged).
// Throws std::invalid_argument / std::out_of_range for a state that is not a number.
int get_VM_state(const std::string& vm, opennebula_vm_state& state);

// 0 with `host` = the NAME of the host whose VMS lists the numeric id `vm`;
// 1 when the host pool cannot be read (logged) or no host lists it (not logged, `host` unchanged).
int get_VM_host(const std::string& vm, std::string& host);

// 0 with `host` = the VM's host and `deploy_id` = its DEPLOY_ID (the
// hypervisor's name for it; unchanged when absent); 1 when the VM document or the host fails (logged).
int get_VM_workplace(const std::string& vm, std::string& host, std::string& deploy_id);

// 0 with `id` = the first top-level ID of VM `name`; 1 when the command or
// document fails or there is no ID (logged).
int get_vm_id_by_name(const std::string& name, std::string& id);

// 0 after appending the NAME of every VM of the pool to `names` (not emptied
// first); 1 when the command or the document fails (logged).
int get_vm_name_list(std::vector<std::string>& names);

// True when "onevm show" of `id` exits with status 0; nothing is logged.
bool does_VM_id_exist(const std::string& id);

// True when some VM of the pool is named exactly `name`; false otherwise and
// when the pool cannot be read (logged).
bool does_VM_name_exist(const std::string& name);

// 0 with `mac` = the first TEMPLATE/CONTEXT/ETH0_MAC of the VM; 1 when the
// command or document fails (logged) or the VM has no ETH0_MAC (not logged).
int get_eth0_mac_addr(const std::string& vm, std::string& mac);

// 0 with `id` = the ID of the host whose TEMPLATE/HOSTNAME is this machine's
// node name; 1 when the pool fails (logged) or no host matches (`id` emptied, not logged).
int get_node_id_for_current_host(std::string& id);

}  // namespace hx_opennebula_common

#endif

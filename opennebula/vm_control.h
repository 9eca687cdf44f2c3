#ifndef KEVRA_OPENNEBULA_VM_CONTROL_H
#define KEVRA_OPENNEBULA_VM_CONTROL_H

// Powering a virtual machine off and terminating it through "/usr/bin/onevm".
// The VM is named by its numeric ID: onevm reads a name as a list of VMs.

#include <string>

namespace hx_opennebula_common {

// 0 after "onevm poweroff --hard" of the VM with ID `vm` succeeded, or when the
// platform says the VM is already powered off (a Warning); 1 for any other
// failure, also when `vm` is not an ID (logged).
int shutdown_hard(const std::string& vm);

// 0 after "onevm terminate" of the VM with ID `vm` succeeded; 1 when it failed
// or `vm` is not an ID (logged).
int terminate_vm(const std::string& vm);

}  // namespace hx_opennebula_common

#endif

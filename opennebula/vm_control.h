#ifndef KEVRA_OPENNEBULA_VM_CONTROL_H
#define KEVRA_OPENNEBULA_VM_CONTROL_H

// Powering a virtual machine off and terminating it through "/usr/bin/onevm".

#include <string>

namespace hx_opennebula_common {

// 0 after "onevm poweroff --hard" of `vm` succeeded, or when the platform says
// the VM is already powered off (a Warning); 1 for any other failure (logged).
int shutdown_hard(const std::string& vm);

// 0 after "onevm terminate" of `vm` succeeded; 1 when it failed (logged).
int terminate_vm(const std::string& vm);

}  // namespace hx_opennebula_common

#endif

#ifndef KEVRA_OPENNEBULA_VM_LOCK_H
#define KEVRA_OPENNEBULA_VM_LOCK_H

// A scoped holder of the platform's lock on one virtual machine, which keeps
// the platform from acting on the VM while a module works on it. The VM is
// named by its numeric ID (onevm reads a name as a list of VMs); any other
// text is never locked.

#include <string>

namespace hx_opennebula_common {

class VM_lock {
public:
    std::string vm;       // the VM's ID, used in the lock commands and messages
    bool locked = false;  // true while this object holds the platform's lock on `vm`

    // No VM, not locked.
    VM_lock() = default;
    // Stores `vm_name` and takes the lock of its management actions at once (lock_manage_actions).
    explicit VM_lock(const std::string& vm_name);
    // Releases a lock that is still held; never throws.
    ~VM_lock();

    VM_lock(const VM_lock&) = delete;
    VM_lock& operator=(const VM_lock&) = delete;

    // Plain lock of `vm_name` ("onevm lock"); a lock held on another VM is released first.
    // Returns true when the lock was taken; false otherwise (not logged).
    bool lock(const std::string& vm_name);

    // Lock of the management actions of `vm_name` ("onevm lock --manage"),
    // confirmed from the VM document; `locked` tells the outcome (Warnings on failure).
    void lock_manage_actions(const std::string& vm_name);

    // Whether this object holds the lock.
    bool is_locked() const { return locked; }

    // Releases a lock this object holds ("onevm unlock"); nothing is run when none is held.
    // Returns `locked` afterwards: false once released, true when the unlock failed (Warning).
    bool unlock();
};

}  // namespace hx_opennebula_common

#endif

#include "opennebula/vm_lock.h"

#include "common/shell_quote.h"
#include "opennebula/layer_log.h"
#include "opennebula/object_ids.h"
#include "opennebula/platform_command.h"
#include "opennebula/vm_command_lines.h"
#include "opennebula/vm_document_readers.h"

namespace hx_opennebula_common {

namespace {

std::string quoted(const std::string& vm)
{
    return kelvomar::shell_quote(vm, kelvomar::quote_style::always);
}

}  // namespace

VM_lock::VM_lock(const std::string& vm_name) : vm(vm_name)
{
    lock_manage_actions(vm_name);
}

VM_lock::~VM_lock()
{
    try {
        unlock();
    } catch (...) {
        // A destructor must not throw; the failure was logged where it could be.
    }
}

bool VM_lock::lock(const std::string& vm_name)
{
    // Re-locking for another VM must not leave the first one locked with nobody to release it.
    if (locked && vm != vm_name)
        unlock();
    if (locked && vm != vm_name)
        return false;
    vm = vm_name;
    std::string output;
    if (is_object_id(vm_name) && run_command("/usr/bin/onevm lock " + quoted(vm_name), output) == 0) {
        log_info("VM " + vm_name + " has been locked");
        locked = true;
    } else {
        locked = false;
    }
    return locked;
}

void VM_lock::lock_manage_actions(const std::string& vm_name)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    if (locked && vm != vm_name)
        unlock();
    if (locked && vm != vm_name)
        return;
    // The lock is released later under this same name, so the name is the one locked now.
    vm = vm_name;
    locked = false;
    const std::string not_sure = "unable to make sure that VM '" + vm + "' is locked";
    if (!is_object_id(vm_name)) {
        log_warning(prototype + ": unable to lock VM: " + vm);
        log_warning(prototype + ": not a VM ID: " + vm);
        return;
    }

    std::string command = "/usr/bin/onevm lock " + quoted(vm_name) + " --manage";
    std::string output;
    if (run_command(command, output) != 0) {
        log_warning(prototype + ": unable to lock VM: " + vm);
        log_warning("The following command failed: " + command);
        log_warning("Command output: " + output);
        return;
    }

    // From here the platform holds the lock; when it cannot be confirmed it is
    // released again, so that no lock stays behind that nobody will release.
    bool confirmed = false;
    command = vm_show_command(vm_name);
    if (run_command(command, output) != 0) {
        log_warning(prototype + ": " + not_sure);
        log_warning("The following command failed: " + command);
        log_warning("Command output: " + output);
    } else {
        xml_document doc = parse_xml_text(output);
        xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
        if (!doc) {
            log_warning(prototype + ": XML document not parsed successfully, " + not_sure);
        } else if (root == nullptr) {
            log_warning(prototype + ": empty XML document, " + not_sure);
        } else if (!is_element(root, "VM")) {
            log_warning(prototype + ": document of the wrong type, root node != VM, " + " " + not_sure);
        } else {
            confirmed = true;
            locked = vm_document_shows_lock(root);
            if (locked)
                log_info("VM '" + vm + "' has been locked");
            else
                log_warning(prototype + ": unable to lock VM: " + vm);
        }
    }
    if (!confirmed) {
        locked = true;
        unlock();
        locked = false;
    }
}

bool VM_lock::unlock()
{
    const std::string prototype = __PRETTY_FUNCTION__;
    if (!locked)
        return locked;
    std::string output;
    if (run_command("/usr/bin/onevm unlock " + quoted(vm), output) == 0) {
        log_info("VM '" + vm + "' has been unlocked");
        locked = false;
    } else {
        log_warning(prototype + ": can't unlock VM: " + vm);
    }
    return locked;
}

}  // namespace hx_opennebula_common

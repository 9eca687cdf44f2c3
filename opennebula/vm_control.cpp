#include "opennebula/vm_control.h"

#include "common/shell_quote.h"
#include "opennebula/layer_log.h"
#include "opennebula/object_ids.h"
#include "opennebula/platform_command.h"

namespace hx_opennebula_common {

using kelvomar::quote_style;
using kelvomar::shell_quote;

int shutdown_hard(const std::string& vm)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    if (!is_object_id(vm)) {
        log_error(prototype + ": not a VM ID: " + vm);
        return 1;
    }
    const std::string command = "/usr/bin/onevm poweroff " + shell_quote(vm, quote_style::always) + " --hard";
    std::string output;
    if (run_command(command, output) == 0)
        return 0;
    if (output.find("This action is not available for state POWEROFF") != std::string::npos) {
        log_warning("Trying to send poweroff command to shutdown VM: " + double_quoted(vm));
        return 0;
    }
    log_error(prototype + ": command was: " + command);
    log_error("Command output: " + output);
    return 1;
}

int terminate_vm(const std::string& vm)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    if (!is_object_id(vm)) {
        log_error(prototype + ": unable to terminate the VM: " + vm);
        log_error(prototype + ": not a VM ID: " + vm);
        return 1;
    }
    const std::string command = "/usr/bin/onevm terminate " + shell_quote(vm, quote_style::always);
    std::string output;
    if (run_command(command, output) == 0)
        return 0;
    log_error(prototype + ": unable to terminate the VM: " + vm);
    log_error("Command was: " + command);
    log_error("Command output: " + output);
    return 1;
}

}  // namespace hx_opennebula_common

#include "opennebula/vm_show.h"

#include "opennebula/layer_log.h"
#include "opennebula/vm_command_lines.h"

namespace hx_opennebula_common {

const xml_query kVmShowDocument = {failure_form::command, "VM", ": document not parsed successfully",
                                   ": empty document: ", ": document of the wrong type, root node != VM: "};

bool read_vm_show(const std::string& prototype, const std::string& vm, const xml_query& query, xml_document& doc)
{
    const std::string command = vm_show_command(vm);
    std::string output;
    if (run_command(command, output) != 0) {
        log_error(prototype + ": can't get info for VM: " + vm);
        log_error("Command was: " + command);
        log_error("Command output: " + output);
        return false;
    }
    return accept_xml_output(prototype, output, query, doc);
}

}  // namespace hx_opennebula_common

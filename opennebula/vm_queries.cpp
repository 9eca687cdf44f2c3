#include "opennebula/vm_queries.h"

#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "opennebula/layer_log.h"
#include "opennebula/platform_command.h"
#include "opennebula/vm_command_lines.h"
#include "opennebula/vm_document_readers.h"
#include "opennebula/vm_show.h"

namespace hx_opennebula_common {

namespace {

const char* const kHostList = "/usr/bin/onehost list -x";
const char* const kVmList = "/usr/bin/onevm list -x";

const xml_query kVmShow = {failure_form::command, "VM", ": document not parsed successfully", ": empty document",
                           ": document of the wrong type, root node != VM"};

// The host pool through the layer's parser; `parse_failed` follows its record when not null.
bool read_host_pool(const std::string& prototype, const char* parse_failed, xml_document& doc)
{
    const xml_query query = {failure_form::command, "HOST_POOL", nullptr, nullptr,
                             ": document of the wrong type, root node != HOST_POOL: ", parse_failed};
    std::string output;
    if (run_command(kHostList, output) != 0) {
        log_error(prototype + ": can't get pool of hosts, command was" + kHostList);
        log_error("Command output: " + output);
        return false;
    }
    return accept_xml_output(prototype, output, query, doc);
}

}  // namespace

int get_VM_state(const std::string& vm, opennebula_vm_state& state)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    xml_document doc;
    if (!run_xml_query(prototype, vm_show_command(vm), kVmShow, doc))
        return 1;
    read_vm_state(xmlDocGetRootElement(doc.get()), state);  // a malformed number reaches the caller
    if (state.state == -1) {
        log_error(prototype + ": VM state wasn't found in XML");
        return 1;
    }
    if (state.lcm_state == -1)
        log_error(prototype + ": VM lcm_state wasn't found in XML");
    return 0;
}

int get_VM_host(const std::string& vm, std::string& host)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    xml_document doc;
    if (!read_host_pool(prototype, nullptr, doc))
        return 1;
    return find_vm_host(xmlDocGetRootElement(doc.get()), vm, host) ? 0 : 1;
}

int get_VM_workplace(const std::string& vm, std::string& host, std::string& deploy_id)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    {
        xml_document doc;
        if (!run_xml_query(prototype, vm_show_command(vm), kVmShow, doc))
            return 1;
        for_each_child_element(xmlDocGetRootElement(doc.get()), "DEPLOY_ID",
                               [&deploy_id](xmlNode* node) { deploy_id = element_text(node); });
    }
    std::string found;
    if (get_VM_host(vm, found) != 0) {
        log_error(prototype + ": can't get VM hostname");
        return 1;
    }
    host = found;
    return 0;
}

int get_vm_id_by_name(const std::string& name, std::string& id)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    const std::string command = vm_show_command(name);
    std::string output;
    if (run_command(command, output) != 0) {
        log_error(prototype + ": the following command failed: " + command);
        log_error("Command output: " + output);
        return 1;
    }
    xml_document doc;
    if (!accept_xml_output(prototype, output, kVmShow, doc))
        return 1;
    xmlNode* node = first_child_element(xmlDocGetRootElement(doc.get()), "ID");
    if (node == nullptr) {
        log_error(prototype + ": can't get ID for VM: " + name);
        return 1;
    }
    id = element_text(node);
    return 0;
}

int get_vm_name_list(std::vector<std::string>& names)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kPool = {failure_form::line_produced, "VM_POOL", nullptr, nullptr,
                                    ": document of the wrong type, root node != VM_POOL", ": can't parse xml data"};
    xml_document doc;
    if (!run_xml_query(prototype, kVmList, kPool, doc))
        return 1;
    const std::vector<std::string> found = vm_pool_names(xmlDocGetRootElement(doc.get()));
    names.insert(names.end(), found.begin(), found.end());
    return 0;
}

bool does_VM_id_exist(const std::string& id)
{
    std::string output;
    return run_command("/usr/bin/onevm show " + kelvomar::shell_quote(id, kelvomar::quote_style::always), output) ==
           0;
}

bool does_VM_name_exist(const std::string& name)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    std::vector<std::string> names;
    if (get_vm_name_list(names) != 0) {
        log_error(prototype + ": can't get list of VMs names");
        return false;
    }
    for (const std::string& entry : names)
        if (entry == name)
            return true;
    return false;
}

int get_eth0_mac_addr(const std::string& vm, std::string& mac)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kShow = {failure_form::command, "VM", nullptr, nullptr,
                                    ": document of the wrong type, root node != VM: "};
    xml_document doc;
    if (!read_vm_show(prototype, vm, kShow, doc))
        return 1;
    return find_eth0_mac(xmlDocGetRootElement(doc.get()), mac) ? 0 : 1;
}

int get_node_id_for_current_host(std::string& id)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    xml_document doc;
    if (!read_host_pool(prototype, ": can't parse xml data", doc))
        return 1;
    const std::string node_name = hx_utils_common::get_nodename();
    log_info(prototype + ": current host name: " + node_name);
    return find_host_id_by_hostname(xmlDocGetRootElement(doc.get()), node_name, id) ? 0 : 1;
}

}  // namespace hx_opennebula_common

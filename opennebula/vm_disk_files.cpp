#include <algorithm>

#include <boost/algorithm/string.hpp>
#include <boost/filesystem.hpp>

#include "common/shell_quote.h"
#include "opennebula/file_link.h"
#include "opennebula/layer_log.h"
#include "opennebula/platform_command.h"
#include "opennebula/vm_command_lines.h"
#include "opennebula/vm_disk_discovery.h"
#include "opennebula/vm_queries.h"

namespace hx_opennebula_common {

namespace {

using kelvomar::quote_style;
using kelvomar::shell_quote;

// The base paths of the system datastores (TYPE 1; no TYPE counts as 0), in pool order.
// Throws std::invalid_argument / std::out_of_range for a TYPE that is not a number.
std::vector<std::string> system_datastore_paths(xmlNode* pool)
{
    std::vector<std::string> paths;
    for_each_child_element(pool, "DATASTORE", [&paths](xmlNode* datastore) {
        xmlNode* type = first_child_element(datastore, "TYPE");
        if (type == nullptr || std::stoi(element_text(type)) != DATASTORE_TYPE_SYSTEM)
            return;
        paths.push_back(joined_child_texts(datastore, "BASE_PATH"));
    });
    return paths;
}

// qemu-img's answer line with white space trimmed and compressed, line ends
// and double quotes removed and the last character (the JSON comma) dropped.
std::string json_line_value(const std::string& output)
{
    std::string text = compact_json_line(output);
    if (!text.empty())
        text.pop_back();
    return text;
}

}  // namespace

int get_real_vm_path(const std::string& vm, std::string& path)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kPool = {failure_form::command, "DATASTORE_POOL", ": document not parsed successfully",
                                    ": empty document", ": document of the wrong type, root node != DATASTORE_POOL"};
    std::vector<std::string> base_paths;
    {
        xml_document doc;
        if (!run_xml_query(prototype, "/usr/bin/onedatastore list -x", kPool, doc))
            return 1;
        base_paths = system_datastore_paths(xmlDocGetRootElement(doc.get()));
    }
    std::string host;
    std::string deploy_id;
    if (get_VM_workplace(vm, host, deploy_id) != 0) {
        log_error(prototype + ": can't get workplace for VM: " + vm);
        return 1;
    }
    const bool remote = is_other_host(host);
    for (std::string base : base_paths) {
        boost::algorithm::replace_all(base, "//", "/");
        const std::string candidate = base + "/" + vm;
        log_info("Trying to find path for VM '" + vm + "' here: " + candidate + " ... ");
        bool found = false;
        if (remote) {
            std::string output;
            found = run_command(ssh_prefix(host) + "test -d " + remote_word(candidate), output) == 0;
        } else {
            boost::system::error_code error;
            found = boost::filesystem::is_directory(candidate, error);
            if (error && error != boost::system::errc::no_such_file_or_directory &&
                error != boost::system::errc::not_a_directory) {
                log_error(prototype + ": boost::filesystem: " + error.message());
                return 1;
            }
        }
        if (found) {
            path = candidate;
            log_info("Success");
            return 0;
        }
        log_info("not found");
    }
    log_error(prototype + ": couldn't find real path to VM: " + vm +
              ". Please check VM configuration and VM's files placement");
    return 1;
}

int get_target_device_path(const std::string& host, const std::string& deploy_id, opennebula_device_info& device)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    const std::string connection =
        is_other_host(host) ? " -q -c " + shell_quote("qemu+ssh://root@" + host + "/system") + " -q" : "";
    const std::string list_command = "LANG=C /usr/bin/virsh" + connection + " domblklist " + shell_quote(deploy_id);
    const std::string command =
        list_command + " | /bin/grep " + shell_quote(device.target) + " | /usr/bin/awk '{print $2}'";
    std::string output;
    if (run_command(command, output) != 0) {
        log_error(prototype + ": can't get domblklist for " + device.target);
        log_error("Command was: " + command);
        log_error("Command output: " + output);
        return 1;
    }
    std::vector<std::string> lines;
    boost::algorithm::split(lines, output, [](char c) { return c == '\n'; });
    const auto listed = std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return !l.empty(); });
    const std::string device_file = without_newlines(output);
    if (device_file.empty()) {
        log_error(prototype + ": unable to get source path for device: " + device.target);
        log_error("Probably the following command failed: " + list_command);
        log_error("Please make sure that all configurations settings from Kelvomar module instruction have been "
                  "performed");
        return 1;
    }
    // The target is matched anywhere in a line, so a target that is part of
    // another line lists several sources; joining them would name no real file.
    if (listed > 1) {
        log_error(prototype + ": more than one source listed for device: " + device.target);
        log_error("Command was: " + command);
        log_error("Command output: " + output);
        return 1;
    }
    device.device_file = device_file;
    const auto name = TM_MAD_TYPE_STR.find(device.tm_mad);
    log_info("A VM device found, TM_MAD: " + (name == TM_MAD_TYPE_STR.end() ? std::string() : name->second) +
             ", target: " + device.target + ", device file: " + device.device_file);
    return 0;
}

int fill_backing_image_chain(const std::string& path, std::vector<std::string>& chain, bool force_share,
                             const std::string& host)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    const std::size_t first = chain.size();
    std::string current = path;
    for (;;) {
        std::string resolved;
        if (read_file_link(current, resolved, host, true) != 0) {
            log_error(prototype + ": can't read link for file" + current);
            return 1;
        }
        current = resolved;
        log_info("Adding to backing image chain: " + current);
        // A file that names itself or an earlier file of its chain would make the walk endless.
        if (std::find(chain.begin() + static_cast<std::ptrdiff_t>(first), chain.end(), current) != chain.end()) {
            log_error(prototype + ": backing image chain loops back to: " + current);
            return 1;
        }
        chain.push_back(current);

        const std::string command = (host.empty() ? std::string("/usr/bin/qemu-img info ")
                                                  : ssh_prefix(host) + "/usr/bin/qemu-img info ") +
                                    (force_share ? "--force-share " : "") +
                                    (host.empty() ? shell_quote(current, quote_style::always)
                                                  : remote_word(current, true)) +
                                    " --output=json | /bin/grep 'full-backing-filename'";
        std::string output;
        const int status = run_command(command, output);
        if (!output.empty())
            output = json_line_value(output);
        if (status != 0)
            return 0;  // no line names a backing file: the chain ends here
        std::vector<std::string> pieces;
        boost::algorithm::split(pieces, output, [](char c) { return c == ' '; });
        if (pieces.size() < 2) {
            log_error(prototype + ": can't find backing filename");
            log_error("Command was: " + command);
            log_error("Command output: " + output);
            return 1;
        }
        current = pieces[1];
    }
}

}  // namespace hx_opennebula_common

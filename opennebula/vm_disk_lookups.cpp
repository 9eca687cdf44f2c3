#include "opennebula/vm_disk_lookups.h"

#include <algorithm>

#include <boost/algorithm/string.hpp>

#include "common/shell_quote.h"
#include "opennebula/layer_log.h"
#include "opennebula/platform_command.h"
#include "opennebula/vm_command_lines.h"
#include "opennebula/vm_document_readers.h"
#include "opennebula/vm_show.h"

namespace hx_opennebula_common {

namespace {

using kelvomar::quote_style;
using kelvomar::shell_quote;

// The text of the last `name` child of `disk`; empty when there is none.
std::string last_child_text(xmlNode* disk, const char* name)
{
    std::string text;
    for_each_child_element(disk, name, [&text](xmlNode* node) { text = element_text(node); });
    return text;
}

}  // namespace

int get_image_virtual_size(const std::string& path, bool force_share, const std::string& host,
                           unsigned long long& size)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    const bool remote = is_other_host(host);
    const std::string command = (remote ? ssh_prefix(host) + "/usr/bin/qemu-img info "
                                        : std::string("/usr/bin/qemu-img info ")) +
                                (force_share ? "--force-share " : "") +
                                (remote ? remote_word(path, true) : shell_quote(path, quote_style::always)) +
                                " --output=json | /bin/grep 'virtual-size'";
    std::string output;
    if (run_command(command, output) != 0) {
        log_error(prototype + ": the following command produced an error: " + command);
        log_error("Command output: " + output);
        return 1;
    }
    if (output.empty()) {
        log_error(prototype + ": got empty virtual size for image: " + path);
        return 1;
    }
    std::string text = compact_json_line(output);
    boost::algorithm::erase_all(text, "virtual-size: ");
    if (!text.empty())
        text.pop_back();
    size = std::stoull(text, nullptr, 0);  // a malformed number reaches the caller
    return 0;
}

int get_vm_rbd_disks(const std::string& vm, std::vector<RBD_disk>& disks)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    // The VM goes into the command line bare, as one word.
    const std::string command = "/usr/bin/onevm show " + shell_quote(vm) + " -x";
    log_info("Run command: '" + command + "'");
    static const xml_query kShow = {failure_form::produced_error, "VM", nullptr, nullptr,
                                    ": document of the wrong type, root node != VM: "};
    xml_document doc;
    if (!run_xml_query(prototype, command, kShow, doc))
        return 1;
    for (xmlNode* tmpl = xmlDocGetRootElement(doc.get())->children; tmpl != nullptr; tmpl = tmpl->next) {
        if (!is_element(tmpl, "TEMPLATE"))
            continue;
        for (xmlNode* disk = tmpl->children; disk != nullptr; disk = disk->next) {
            if (!is_element(disk, "DISK"))
                continue;
            if (last_child_text(disk, "TM_MAD") != "ceph" || last_child_text(disk, "TYPE") == "RBD_CDROM")
                continue;
            const std::string source = last_child_text(disk, "SOURCE");
            // "one/one-<image id>": without those eight characters and an id after them there is no image id.
            if (source.size() <= 8) {
                log_error(prototype + ": can't get Ceph image ID from disk source: " + source);
                return 1;
            }
            RBD_disk record;
            record.image_id = source.substr(8);
            record.vm_id = vm;
            record.disk_id = last_child_text(disk, "DISK_ID");
            record.target = last_child_text(disk, "TARGET");
            disks.push_back(std::move(record));
        }
    }
    return 0;
}

RBD_disk fill_rbd_disk_struct_from_target(const std::string& volume, const std::string& target)
{
    RBD_disk record;
    record.target = target;
    // A name shorter than the "one-" prefix holds no parts: they all stay empty.
    if (volume.size() < 4)
        return record;
    const std::string rest = volume.substr(4);
    std::string* parts[] = {&record.image_id, &record.vm_id, &record.disk_id};
    std::string::size_type start = 0;
    for (std::string* part : parts) {
        if (start > rest.size())
            break;
        const std::string::size_type dash = rest.find('-', start);
        *part = rest.substr(start, dash == std::string::npos ? std::string::npos : dash - start);
        if (dash == std::string::npos)
            break;
        start = dash + 1;
    }
    return record;
}

int get_VM_diskID(const std::string& vm, const std::string& target, int& disk_id)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kShow = {failure_form::command, "VM", ": document not parsed successfully",
                                    ": empty document", ": document of the wrong type, root node != VM"};
    xml_document doc;
    if (!run_xml_query(prototype, vm_show_command(vm), kShow, doc))
        return 1;
    xmlNode* disk = vm_disk_with_target(xmlDocGetRootElement(doc.get()), target);
    if (disk == nullptr)
        return 1;
    // The disk with the target names its own id; a DISK_ID of a later disk is never taken for it.
    xmlNode* id = first_child_element(disk, "DISK_ID");
    if (id == nullptr) {
        log_error(prototype + ": no DISK_ID for the disk with target: " + target);
        return 1;
    }
    disk_id = std::stoi(element_text(id));  // a malformed number reaches the caller
    return 0;
}

int get_disk_id_and_source(const std::string& vm, const std::string& target, int& disk_id, std::string& source)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kShow = {failure_form::command, "VM", nullptr, nullptr,
                                    ": document of the wrong type, root node != VM", ": can't parse xml data"};
    xml_document doc;
    if (!read_vm_show(prototype, vm, kShow, doc))
        return 1;
    xmlNode* disk = vm_disk_with_target(xmlDocGetRootElement(doc.get()), target);
    if (disk == nullptr)
        return 1;
    for (xmlNode* child = disk->children; child != nullptr; child = child->next) {
        if (is_element(child, "DISK_ID")) {
            const std::string text = element_text(child);
            if (text.empty()) {
                log_error(prototype + ": got empty disk ID");
                return 1;
            }
            disk_id = std::stoi(text);  // a malformed number reaches the caller
        } else if (is_element(child, "SOURCE")) {
            source = element_text(child);
            if (source.empty()) {
                log_error(prototype + ": got empty disk source");
                return 1;
            }
        }
    }
    return 0;
}

}  // namespace hx_opennebula_common

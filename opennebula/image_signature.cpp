#include "opennebula/image_signature.h"

#include <algorithm>
#include <sstream>

#include "common/shell_quote.h"
#include "opennebula/file_link.h"
#include "opennebula/file_md5.h"
#include "opennebula/layer_log.h"
#include "opennebula/platform_command.h"

namespace hx_opennebula_common {

namespace {

using kelvomar::shell_quote;

bool is_md5_text(const std::string& text)
{
    return text.size() == MD5SUM_LENGHT &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

int calc_md5sum_for_block_device(const std::string& device, std::string& digest)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    const std::string command = "/usr/bin/md5sum " + shell_quote(device) + " | /usr/bin/awk '{print $1}'";
    std::string text;
    if (!run_text_command(prototype, command, failure_form::produced_error, text))
        return 1;
    // md5sum marks the line of a name holding a backslash or a newline with a leading backslash.
    if (!text.empty() && text[0] == '\\')
        text.erase(0, 1);
    if (text.empty()) {
        log_error(prototype + ": got empty md5sum for: " + device);
        return 1;
    }
    if (!is_md5_text(text)) {
        log_error(prototype + ": got wrong md5sum for: " + device + ": " + text);
        return 1;
    }
    digest = text;
    return 0;
}

int get_image_uuid(const std::string& source, std::string& uuid)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    const std::string::size_type slash = source.rfind('/');
    if (slash == std::string::npos) {
        log_error(prototype + ": got wrong source: " + source);
        return 1;
    }
    const std::string volume = source.substr(slash + 1);
    // The volume's name must equal the listing's first column; a name that only
    // occurs inside another volume's line must not contribute its UUID.
    const std::string command = "/usr/sbin/lvs --verbose | /usr/bin/awk -v lv=" + shell_quote(volume) +
                                " '$1 == (lv \"\") {print $10}'";
    std::string output;
    if (run_command(command, output) != 0) {
        log_command_failure(prototype, failure_form::produced_error, command, output);
        return 1;
    }
    std::istringstream lines(output);
    std::string line;
    std::string found;
    int count = 0;
    while (std::getline(lines, line)) {
        if (line.empty())
            continue;
        found = line;
        ++count;
    }
    if (count == 0) {
        log_error(prototype + ": got empty uuid for: " + source);
        return 1;
    }
    if (count > 1) {
        log_error(prototype + ": more than one logical volume is named " + double_quoted(volume) + ": " + source);
        return 1;
    }
    uuid = found;
    return 0;
}

int get_ceph_image_id(const std::string& source, std::string& id)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    const std::string::size_type slash = source.find('/');
    const std::string name = slash == std::string::npos ? source : source.substr(slash + 1);
    const std::string command = "rbd info " + shell_quote("one/" + name) + " --id libvirt --format xml";
    std::string output;
    if (run_command(command, output) != 0) {
        log_command_failure(prototype, failure_form::produced_error, command, output);
        return 1;
    }
    static const xml_query kInfo = {failure_form::produced_error, "image", nullptr, nullptr,
                                    ": document of the wrong type, root node != image: "};
    xml_document doc;
    if (!accept_xml_output(prototype, output, kInfo, doc))
        return 1;
    xmlNode* node = first_child_element(xmlDocGetRootElement(doc.get()), "id");
    if (node == nullptr) {
        log_error(prototype + ": unable to get id of CEPH image " + double_quoted(name) +
                  " in 'rbd info' command output: " + output);
        return 1;
    }
    id = element_text(node);
    return 0;
}

int compute_signature(signature_method method, const std::string& source, const std::string& unresolved,
                      std::string& signature)
{
    switch (method) {
    case signature_method::file_md5:
        return calc_md5sum(source, signature);
    case signature_method::device_md5:
        return calc_md5sum_for_block_device(source, signature);
    case signature_method::volume_uuid:
        return get_image_uuid(unresolved, signature);
    case signature_method::ceph_id:
        return get_ceph_image_id(unresolved, signature);
    default:
        return 1;
    }
}

bool calculate_unique_signature(oneimage& image, TM_MAD_TYPE tm, bool md5)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    const std::string unresolved = image.source;
    log_info(prototype + ": determining unique signature for the image source: " + image.source);

    const signature_method method = choose_signature_method(image.disk_type, image.type, tm, md5);
    if (method == signature_method::unsupported_disk) {
        log_error(prototype + ": unsupported disk type: " + disk_type_to_str(image.disk_type));
        return false;
    }
    if (image.disk_type == DISK_TYPE_FILE || image.disk_type == DISK_TYPE_BLOCK) {
        std::string target;
        if (read_file_link(image.source, target, "", true) != 0)
            return false;
        if (target != image.source)
            image.source = target;
    }
    if (compute_signature(method, image.source, unresolved, image.unique_signature) != 0) {
        log_error(prototype + ": can't determine unique signature for the image source: " + image.source);
        return false;
    }
    return true;
}

}  // namespace hx_opennebula_common

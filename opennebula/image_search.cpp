#include "opennebula/image_search.h"

#include <vector>

#include "common/shell_quote.h"
#include "opennebula/file_link.h"
#include "opennebula/image_document.h"
#include "opennebula/image_lists.h"
#include "opennebula/image_queries.h"
#include "opennebula/image_signature.h"
#include "opennebula/layer_log.h"
#include "opennebula/platform_command.h"
#include "opennebula/signature_method.h"

namespace hx_opennebula_common {

bool does_image_exist(const oneimage& image, bool md5)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kShow = {failure_form::command, "IMAGE", nullptr, nullptr,
                                    ": document of the wrong type, root node != IMAGE", ": failed to parse xml doc"};
    const std::string command =
        "/usr/bin/oneimage show " + kelvomar::shell_quote(image.id, kelvomar::quote_style::always) + " -x";

    // The image's current facts; the datastore is the record's own.
    oneimage current;
    current.datastore_id = image.datastore_id;
    bool has_source = false;
    {
        xml_document doc;
        if (!run_xml_query(prototype, command, kShow, doc))
            return false;
        for (xmlNode* child = xmlDocGetRootElement(doc.get())->children; child != nullptr; child = child->next) {
            if (is_element(child, "SOURCE")) {
                current.source = element_text(child);
                has_source = true;
            } else if (is_element(child, "DISK_TYPE")) {
                current.disk_type = static_cast<opennebula_disk_type>(std::stoi(element_text(child)));
            } else if (is_element(child, "TYPE")) {
                current.type = static_cast<opennebula_image_type>(std::stoi(element_text(child)));
            }
        }
    }
    if (!has_source) {
        log_error(prototype + ": can't get source of image ID: " + image.id);
        return false;
    }
    TM_MAD_TYPE tm = TM_MAD_NONE;
    if (resolve_datastore_facts(prototype, current, tm) != 0)
        return false;

    const std::string unresolved = current.source;
    log_info(prototype + ": determining unique signature for image source: " + current.source);
    const signature_method method =
        choose_recheck_method(current.disk_type, current.type, md5, image.unique_signature);
    if (method == signature_method::unsupported_disk) {
        log_error(prototype + ": unsupported disk type: " + disk_type_to_str(current.disk_type));
        return false;
    }
    if (current.disk_type == DISK_TYPE_FILE || current.disk_type == DISK_TYPE_BLOCK) {
        std::string target;
        if (read_file_link(current.source, target, "", true) != 0)
            return false;
        current.source = target;
    }
    std::string signature;
    const bool computed = method == signature_method::existence_only
                              ? does_image_exist_by_id(image.id)
                              : compute_signature(method, current.source, unresolved, signature) == 0;
    if (!computed) {
        log_error(prototype + ": can't determine unique signature for the image source: " + current.source);
        return false;
    }
    if (signature != image.unique_signature) {
        log_error(prototype + ": unique signature is wrong, Image ID: " + image.id);
        return false;
    }
    return true;
}

int find_image_by_unique_signature(const std::string& signature, oneimage& image)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    std::vector<std::string> ids;
    if (get_image_list(ids) != 0) {
        log_error(prototype + ": can't get list of image IDs");
        return 1;
    }
    const bool md5 = signature.size() == MD5SUM_LENGHT;
    for (const std::string& id : ids) {
        oneimage candidate;
        if (get_image_attributes(id, candidate, md5) != 0) {
            log_error(prototype + ": can't get attributes for image: " + id);
            return 1;
        }
        if (candidate.unique_signature != signature) {
            log_info(" skip");
            continue;
        }
        log_info(" correct image was found");
        image = candidate;
        return 0;
    }
    return 1;
}

}  // namespace hx_opennebula_common

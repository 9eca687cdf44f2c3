// The image records of a template backup: the saved template's images in disk
// order, paired with the IDs of the source template's images.
#include "template_module/hx_module_kevra_template.h"

#include <exception>
#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "common/shell_quote.h"
#include "opennebula/image_document.h"
#include "opennebula/image_signature.h"
#include "opennebula/platform_command.h"
#include "opennebula/template_queries.h"
#include "template_module/backup_records.h"
#include "template_module/backup_rules.h"

namespace {

using hx_opennebula_common::oneimage;

// Reads image `id` as the image queries do: its document, its datastore's
// driver and disk type, and, for an image whose disk type carries data, its
// unique signature. An image without data (a CDROM disk and the like) has no
// signature to compute and is still described. 0 on success, 1 after logging.
int read_backup_image(const std::string& prototype, const std::string& id, oneimage& image)
{
    using namespace hx_opennebula_common;
    static const xml_query kShow = {failure_form::command, "IMAGE", ": document not parsed successfully",
                                    ": empty document", ": document of the wrong type, root node != IMAGE"};
    {
        xml_document doc;
        const std::string command =
            "/usr/bin/oneimage show " + kelvomar::shell_quote(id, kelvomar::quote_style::always) + " -x";
        if (!run_xml_query(prototype, command, kShow, doc)) {
            return 1;
        }
        read_image_document(xmlDocGetRootElement(doc.get()), image);
    }
    TM_MAD_TYPE tm = TM_MAD_NONE;
    if (resolve_datastore_facts(prototype, image, tm) != 0) {
        return 1;
    }
    if (!kevra_template::image_has_data(image.disk_type)) {
        HxLogStream(HxLogLvl::Info) << "The image " << id << " (disk type " << disk_type_to_str(image.disk_type)
                                    << ") has no data to archive; only its description is saved" << std::endl;
        return 0;
    }
    if (!calculate_unique_signature(image, tm, false)) {
        HxLogStream(HxLogLvl::Error) << prototype << ": can't calculate image unique signature" << std::endl;
        return 1;
    }
    return 0;
}

}  // namespace

bool HxModuleKevraTemplate::read_backup_images(std::vector<oneimage>& images)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    const std::string& saved =
        template_conf_.backup_only_config ? options_.resource : options_.archive_name;
    const std::string& saved_id = template_conf_.backup_only_config ? source_template_id_ : clone_id_;
    try {
        std::vector<std::string> ids;
        bool read = hx_opennebula_common::get_simple_template_image_list(saved_id, ids) == 0;
        for (auto it = ids.begin(); read && it != ids.end(); ++it) {
            oneimage image;
            read = read_backup_image(prototype, *it, image) == 0;
            if (read) {
                images.push_back(image);
            }
        }
        if (read) {
            return true;
        }
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << prototype << ": exception: " << e.what() << std::endl;
    }
    kevra_template::log_prepare_error(": can't get image list for template: " + saved);
    return false;
}

bool HxModuleKevraTemplate::pair_with_source_images(std::vector<oneimage>& images)
{
    if (template_conf_.backup_only_config) {
        return true;
    }
    const std::string& source = options_.resource;
    std::vector<std::string> ids;
    if (hx_opennebula_common::get_simple_template_image_list(source_template_id_, ids) != 0) {
        kevra_template::log_prepare_error(": can't get IDs for images in original template: " + source);
        return false;
    }
    // Pairing is by disk position; the source must have an image for every clone image.
    if (ids.size() < images.size()) {
        kevra_template::log_prepare_error(": the original template " + source + " has " + std::to_string(ids.size()) +
                                          " images, fewer than its clone " + options_.archive_name + " with " +
                                          std::to_string(images.size()));
        return false;
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        images[i].id = ids[i];
    }
    return true;
}

// The image records of a template backup: the saved template's images in disk
// order, paired with the IDs of the source template's images.
#include "template_module/hx_module_kevra_template.h"

#include <string>
#include <vector>

#include "opennebula/image_record.h"
#include "opennebula/template_queries.h"
#include "template_module/backup_records.h"

using hx_opennebula_common::oneimage;

bool HxModuleKevraTemplate::read_backup_images(std::vector<oneimage>& images)
{
    const std::string& saved =
        template_conf_.backup_only_config ? options_.resource : options_.archive_name;
    const std::string& saved_id = template_conf_.backup_only_config ? source_template_id_ : clone_id_;
    if (hx_opennebula_common::get_template_image_list(saved_id, images) != 0) {
        kevra_template::log_prepare_error(": can't get image list for template: " + saved);
        return false;
    }
    return true;
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

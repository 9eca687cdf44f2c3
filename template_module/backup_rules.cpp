// The small rules of a template backup: image list lines, file stems, plain
// names and the reading of a cloned image's state.
#include "template_module/backup_rules.h"

namespace kevra_template {

using hx_opennebula_common::oneimage;

const char* const kImageListName = "template_image_list";
const char* const kImageIdsMarkerName = "template_image_ids_marker";

std::string clone_name_line(const std::string& clone)
{
    return "TEMPLATE CLONE NAME:" + clone;
}

std::string image_list_line(const oneimage& image)
{
    return image.id + ":" + image.name + ":" + image.datastore_id + ":" + image.dev_prefix + ":" + image.driver +
           ":" + std::to_string(static_cast<int>(image.type)) + ":" +
           std::to_string(static_cast<int>(image.disk_type)) + ":" + image.persistent;
}

std::string image_file_stem(const oneimage& image, const std::string& clone)
{
    std::string name = image.name;
    if (!clone.empty()) {
        const std::string::size_type at = name.find(clone);
        if (at != std::string::npos) {
            name.erase(at, clone.size());
        }
    }
    return image.dev_prefix + name;
}

bool is_plain_file_name(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\n') == std::string::npos && name.find('\r') == std::string::npos;
}

clone_image_wait classify_clone_image_state(int state)
{
    switch (state) {
    case 1:
    case 2:
    case 8:
        return clone_image_wait::ready;
    case 0:
    case 4:
    case 6:
    case 9:
    case 10:
        return clone_image_wait::changing;
    case 3:
        return clone_image_wait::disabled;
    case 5:
        return clone_image_wait::error;
    case 7:
        return clone_image_wait::deleting;
    default:
        return clone_image_wait::wrong;
    }
}

}  // namespace kevra_template

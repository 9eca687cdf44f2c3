#include "template_module/image_data_file.h"

#include "opennebula/datastore_queries.h"
#include "opennebula/image_source_file.h"

namespace kevra_template {

bool open_image_data(const hx_opennebula_common::oneimage& image, int access,
                     kelvomar::untrusted_files::descriptor& file, struct stat& status, std::string& refusal)
{
    // Without the base path every link on the way must be one that only root can change.
    std::string base_path;
    if (image.datastore_id.empty() || !hx_opennebula_common::get_datastore_base_path(image.datastore_id, base_path)) {
        base_path.clear();
    }
    const std::string& source = image.printed_source.empty() ? image.source : image.printed_source;
    return hx_opennebula_common::open_image_source(source, base_path,
                                                   image.disk_type == hx_opennebula_common::DISK_TYPE_BLOCK, access,
                                                   file, status, refusal);
}

}  // namespace kevra_template

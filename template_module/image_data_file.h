#ifndef KEVRA_TEMPLATE_MODULE_IMAGE_DATA_FILE_H
#define KEVRA_TEMPLATE_MODULE_IMAGE_DATA_FILE_H

// The data of a platform image (the file or block device its SOURCE names),
// opened without following a link that the platform's service account could
// have put there: a backup reads it, a replica writes over it.

#include <sys/stat.h>

#include <string>

#include "common/untrusted_files.h"
#include "opennebula/image_record.h"

namespace kevra_template {

// Opens the SOURCE of `image` as the platform printed it with `access`
// (O_RDONLY or O_WRONLY): below its datastore's base path, when the platform
// tells it, no link at all; elsewhere only root's links in directories only
// root can change. A FILE image must be a regular file with one link, a BLOCK
// image that or a block device. True with it open in `file` and its status in
// `status`; false with `refusal` saying why.
bool open_image_data(const hx_opennebula_common::oneimage& image, int access,
                     kelvomar::untrusted_files::descriptor& file, struct stat& status, std::string& refusal);

}  // namespace kevra_template

#endif

#ifndef KEVRA_OPENNEBULA_IMAGE_SOURCE_FILE_H
#define KEVRA_OPENNEBULA_IMAGE_SOURCE_FILE_H

// The file or block device that an image's SOURCE names, opened as what it
// is: the directories of a datastore can be written by the platform's service
// account, so a symbolic link standing there is never followed. Below the
// datastore's base path no link is taken at all; elsewhere (a block device
// under /dev, a datastore whose base path is not known) only a link that is
// root's and stands in a directory that no other user can change.

#include <sys/stat.h>

#include <string>

#include "common/untrusted_files.h"

namespace hx_opennebula_common {

// Opens the image data `source` (an absolute path) with `access` (O_RDONLY or
// O_WRONLY; never created or truncated here). When `source` lies below
// `base_path` (not empty), the base is opened as it is and every name below it
// must be no symbolic link; otherwise every link on the way must be root's in
// a directory that only root can change. The file must be a regular file with
// a single link or, when `block_device_allowed`, a block device. True with it
// open in `file` and its status in `status`; false with `refusal` saying why,
// naming the path it found wanting.
bool open_image_source(const std::string& source, const std::string& base_path, bool block_device_allowed,
                       int access, kelvomar::untrusted_files::descriptor& file, struct stat& status,
                       std::string& refusal);

}  // namespace hx_opennebula_common

#endif

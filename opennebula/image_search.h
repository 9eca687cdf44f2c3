#ifndef KEVRA_OPENNEBULA_IMAGE_SEARCH_H
#define KEVRA_OPENNEBULA_IMAGE_SEARCH_H

// Finding an image again by its unique signature.

#include <string>

#include "opennebula/image_record.h"

namespace hx_opennebula_common {

// True when image `image.id` exists and its signature, computed afresh, equals
// `image.unique_signature`; false when it differs or any step fails (logged).
// A TYPE or DISK_TYPE that is not a number throws.
bool does_image_exist(const oneimage& image, bool md5);

// 0 with `image` = the first image of the pool whose signature equals
// `signature` (a 32-character signature selects the MD5 of block devices);
// 1 when the pool or an image cannot be read (logged) or none matches.
// A number that does not convert throws.
int find_image_by_unique_signature(const std::string& signature, oneimage& image);

}  // namespace hx_opennebula_common

#endif

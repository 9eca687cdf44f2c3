#ifndef KEVRA_OPENNEBULA_IMAGE_QUERIES_H
#define KEVRA_OPENNEBULA_IMAGE_QUERIES_H

// Questions to "/usr/bin/oneimage show" about one image, and its deletion.

#include <string>

#include "opennebula/image_record.h"

namespace hx_opennebula_common {

// 0 with `image` filled from the image's document, its disk type determined,
// its source possibly replaced by the link's target and its unique signature
// set (`md5` forces the MD5 of a block device); 1 when the command, the
// document, the datastore facts or the signature fail (logged). A TYPE,
// DISK_TYPE or SIZE that is not a number throws std::invalid_argument / std::out_of_range.
int get_image_attributes(const std::string& id, oneimage& image, bool md5);

// As get_image_attributes, with the same records, except that an image whose
// disk type carries no data (a CD-ROM and the like) is described without a
// unique signature (an Info record says so) instead of failing.
int get_image_description(const std::string& id, oneimage& image, bool md5);

// 0 with `name` = the image's top-level NAME texts concatenated (empty without NAME);
// 1 when the command or the document fails (logged).
int get_image_name(const std::string& id, std::string& name);

// 0 with `name` and `owner` = the image's top-level NAME and UNAME texts, each
// concatenated (empty when missing); 1 when the command or the document fails (logged).
int get_image_name_and_owner(const std::string& id, std::string& name, std::string& owner);

// 0 with `id` = the ID of image `image` (an ID or a name); 1 when the command or
// the document fails or the ID is empty (logged; `id` is then empty for an empty ID).
int get_image_id(const std::string& image, std::string& id);

// 0 with `state` = the image's numeric STATE; 1 when the command or the document
// fails or STATE is empty (logged). A STATE that is not a number throws.
int get_image_state(const std::string& image, int& state);

// 0 with `source` = the image's first top-level SOURCE; 1 when the command or
// the document fails (logged) or there is no SOURCE (not logged).
int get_image_source(const std::string& image, std::string& source);

// True when the platform knows image `id` (its show command exits 0); nothing is logged.
bool does_image_exist_by_id(const std::string& id);

// 0 after deleting the image with the ID `id`; 1 when the command fails or
// `id` is not an ID (then nothing runs), logged.
int delete_image(const std::string& id);

}  // namespace hx_opennebula_common

#endif

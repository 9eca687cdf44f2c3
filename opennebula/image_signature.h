#ifndef KEVRA_OPENNEBULA_IMAGE_SIGNATURE_H
#define KEVRA_OPENNEBULA_IMAGE_SIGNATURE_H

// The unique signature of an image: file MD5, block-device MD5, logical-volume
// UUID or Ceph image id.

#include <string>

#include "opennebula/image_record.h"
#include "opennebula/platform_types.h"
#include "opennebula/signature_method.h"

namespace hx_opennebula_common {

// Sets `image.unique_signature` from its source, disk type and image type; `tm`
// is the driver of the image's datastore, `md5` forces the MD5 of a block
// device. A linked FILE or BLOCK source is replaced by its target. True on
// success; false when the link, the computation or the disk type fails (logged).
bool calculate_unique_signature(oneimage& image, TM_MAD_TYPE tm, bool md5);

// 0 with `digest` = the hex MD5 that md5sum prints for `device`;
// 1 when the command fails or prints no digest (logged).
int calc_md5sum_for_block_device(const std::string& device, std::string& digest);

// 0 with `uuid` = the UUID lvs prints for the logical volume named exactly as
// the last component of `source`; 1 for a source without "/", a failed command,
// no such volume or more than one (logged).
int get_image_uuid(const std::string& source, std::string& uuid);

// 0 with `id` = the id rbd prints for Ceph image one/<name>, the name being the
// part of `source` after its first "/"; 1 when the command fails, the output is
// not an image document or has no id (logged).
int get_ceph_image_id(const std::string& source, std::string& id);

// Computes `method` over `source` (and `unresolved`, the source as read, for
// the volume UUID and the Ceph id) into `signature`. 0 on success, 1 on failure;
// the methods without a computation give 1 without a record.
int compute_signature(signature_method method, const std::string& source, const std::string& unresolved, std::string& signature);

}  // namespace hx_opennebula_common

#endif

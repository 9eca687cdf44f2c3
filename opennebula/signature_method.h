#ifndef KEVRA_OPENNEBULA_SIGNATURE_METHOD_H
#define KEVRA_OPENNEBULA_SIGNATURE_METHOD_H

// Which computation gives an image's unique signature.

#include <string>

#include "opennebula/platform_types.h"

namespace hx_opennebula_common {

enum class signature_method {
    file_md5,          // MD5 of the file's content
    device_md5,        // md5sum of the whole block device
    volume_uuid,       // UUID of the logical volume (lvs)
    ceph_id,           // id of the Ceph image (rbd info)
    existence_only,    // no signature: the image only has to exist
    not_computed,      // a BLOCK image of a type that has no signature
    unsupported_disk   // a disk type without a signature
};

// The method when an image is first described: FILE the file MD5; BLOCK images
// of type OS, CDROM or DATABLOCK the volume UUID on driver lvm_lvm unless `md5`
// forces the device MD5; RBD the Ceph id.
signature_method choose_signature_method(opennebula_disk_type disk, opennebula_image_type type, TM_MAD_TYPE tm,
                                         bool md5);

// The method when a stored signature is checked again: BLOCK images with `md5`
// follow the stored signature's kind (32 characters: device MD5, else volume
// UUID) and without it always take the device MD5; an RBD image without a
// stored signature only has to exist.
signature_method choose_recheck_method(opennebula_disk_type disk, opennebula_image_type type, bool md5,
                                       const std::string& stored);

}  // namespace hx_opennebula_common

#endif

#include "opennebula/signature_method.h"

namespace hx_opennebula_common {

namespace {

bool has_block_signature(opennebula_image_type type)
{
    return type == IMAGE_TYPE_OS || type == IMAGE_TYPE_CDROM || type == IMAGE_TYPE_DATABLOCK;
}

}  // namespace

signature_method choose_signature_method(opennebula_disk_type disk, opennebula_image_type type, TM_MAD_TYPE tm,
                                         bool md5)
{
    switch (disk) {
    case DISK_TYPE_FILE:
        return signature_method::file_md5;
    case DISK_TYPE_BLOCK:
        if (!has_block_signature(type))
            return signature_method::not_computed;
        return (tm != TM_MAD_LVM_LVM || md5) ? signature_method::device_md5 : signature_method::volume_uuid;
    case DISK_TYPE_RBD:
        return signature_method::ceph_id;
    default:
        return signature_method::unsupported_disk;
    }
}

signature_method choose_recheck_method(opennebula_disk_type disk, opennebula_image_type type, bool md5,
                                       const std::string& stored)
{
    switch (disk) {
    case DISK_TYPE_FILE:
        return signature_method::file_md5;
    case DISK_TYPE_BLOCK:
        if (!has_block_signature(type))
            return signature_method::not_computed;
        if (md5 && stored.size() != MD5SUM_LENGHT)
            return signature_method::volume_uuid;
        return signature_method::device_md5;
    case DISK_TYPE_RBD:
        return stored.empty() ? signature_method::existence_only : signature_method::ceph_id;
    default:
        return signature_method::unsupported_disk;
    }
}

}  // namespace hx_opennebula_common

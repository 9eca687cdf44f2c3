#ifndef KEVRA_OPENNEBULA_PLATFORM_TYPES_H
#define KEVRA_OPENNEBULA_PLATFORM_TYPES_H

// The platform's code numbers for image types, disk types and datastore
// transfer drivers, with the names the layer prints and looks up.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace hx_opennebula_common {

// IMAGE/TYPE codes.
enum opennebula_image_type : std::int32_t {
    IMAGE_TYPE_OS = 0,
    IMAGE_TYPE_CDROM = 1,
    IMAGE_TYPE_DATABLOCK = 2,
    IMAGE_TYPE_KERNEL = 3,
    IMAGE_TYPE_RAMDISK = 4,
    IMAGE_TYPE_CONTEXT = 5
};

// IMAGE/DISK_TYPE codes; DISK_TYPE_NONE (255) is the layer's own value for a
// disk type that is not yet determined.
enum opennebula_disk_type : std::int32_t {
    DISK_TYPE_FILE = 0,
    DISK_TYPE_CDROM = 1,
    DISK_TYPE_BLOCK = 2,
    DISK_TYPE_RBD = 3,
    DISK_TYPE_RBD_CDROM = 4,
    DISK_TYPE_GLUSTER = 5,
    DISK_TYPE_GLUSTER_CDROM = 6,
    DISK_TYPE_SHEEPDOG = 7,
    DISK_TYPE_SHEEPDOG_CDROM = 8,
    DISK_TYPE_ISCSI = 9,
    DISK_TYPE_NONE = 255
};

// Datastore transfer drivers (DATASTORE/TM_MAD); TM_MAD_NONE (-1) is "no driver"
// and the failure result of the driver query.
enum TM_MAD_TYPE : int {
    TM_MAD_NONE = -1,
    TM_MAD_QCOW2 = 0,
    TM_MAD_CEPH = 1,
    TM_MAD_FS_LVM = 2,
    TM_MAD_LVM_LVM = 3,
    TM_MAD_LVM_THIN = 4,
    TM_MAD_SHARED = 5,
    TM_MAD_SSH = 6,
    TM_MAD_DEV = 7,
    TM_MAD_ISCSI = 8
};

// DATASTORE/TYPE codes.
enum datastore_type_code : int {
    DATASTORE_TYPE_IMAGE = 0,
    DATASTORE_TYPE_SYSTEM = 1,
    DATASTORE_TYPE_FILE = 2
};

// Number of hex digits of an MD5 signature; a signature of this length is an MD5.
constexpr std::size_t MD5SUM_LENGHT = 32;

// Driver names by driver, ascending; filled before main and never changed.
// Lookup by key uses at(), which throws std::out_of_range outside the table.
extern const std::map<TM_MAD_TYPE, std::string> TM_MAD_TYPE_STR;

// The driver whose name equals `name` exactly (case-sensitive), the first in
// ascending key order; TM_MAD_NONE when no entry has that name (the empty name included).
TM_MAD_TYPE tm_mad_from_name(const std::string& name);

// Name of a disk type ("FILE", "BLOCK", ...); the empty text for a value
// without a name (255 included). The value is never changed.
std::string disk_type_to_str(opennebula_disk_type& type);

// Name of an image type ("OS", "DATABLOCK", ...); the empty text for a value
// without a name. The value is never changed.
std::string type_to_str(opennebula_image_type& type);

// Whether images of `disk` carry data that a backup archives: FILE and BLOCK
// (their source) and RBD (the Ceph image); every other disk type has none.
bool disk_type_has_data(opennebula_disk_type disk);

}  // namespace hx_opennebula_common

#endif

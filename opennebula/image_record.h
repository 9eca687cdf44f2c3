#ifndef KEVRA_OPENNEBULA_IMAGE_RECORD_H
#define KEVRA_OPENNEBULA_IMAGE_RECORD_H

// One platform image as the layer reads it from "oneimage show -x".

#include <cstdint>
#include <string>

#include "opennebula/platform_types.h"

namespace hx_opennebula_common {

// Plain record with value semantics; copies and moves work field by field.
struct oneimage {
    std::string id;                                    // IMAGE/ID
    std::string name;                                  // IMAGE/NAME
    std::string restore_name;                          // name given at restore; never read from XML
    std::string datastore_id;                          // IMAGE/DATASTORE_ID
    std::string dev_prefix;                            // IMAGE/TEMPLATE/DEV_PREFIX
    std::string driver;                                // IMAGE/TEMPLATE/DRIVER
    opennebula_image_type type = IMAGE_TYPE_OS;        // IMAGE/TYPE
    opennebula_disk_type disk_type = DISK_TYPE_NONE;   // IMAGE/DISK_TYPE or derived from the datastore
    std::string persistent;                            // IMAGE/PERSISTENT as printed ("1" persistent)
    std::string unique_signature;                      // file/device MD5, LV UUID or Ceph image id
    std::uint64_t size = 0;                            // IMAGE/SIZE (MB) in bytes
    std::string source;                                // IMAGE/SOURCE, or the link's target
    std::string printed_source;                        // IMAGE/SOURCE as the platform printed it
};

}  // namespace hx_opennebula_common

#endif

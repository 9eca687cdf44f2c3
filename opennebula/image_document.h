#ifndef KEVRA_OPENNEBULA_IMAGE_DOCUMENT_H
#define KEVRA_OPENNEBULA_IMAGE_DOCUMENT_H

// Reading an image's IMAGE document and working out its disk type.

#include <libxml/tree.h>

#include <string>

#include "opennebula/image_record.h"
#include "opennebula/platform_types.h"

namespace hx_opennebula_common {

// Fills `image` from the IMAGE root: TYPE and DISK_TYPE (a TYPE after DISK_TYPE
// is not read), ID, NAME, SIZE (MB, in bytes), DATASTORE_ID, PERSISTENT, SOURCE
// and TEMPLATE/DEV_PREFIX, TEMPLATE/DRIVER, a later duplicate winning.
// Throws std::invalid_argument / std::out_of_range for a number that does not convert.
void read_image_document(xmlNode* root, oneimage& image);

// The disk-type rule for an image without DISK_TYPE: a file datastore (2) gives
// FILE; an image datastore (0) FILE for qcow2 and shared, RBD for ceph, BLOCK for
// lvm_lvm. 0 with `disk` set; 1 for any other driver or datastore type (logged
// after `prototype`).
int disk_type_from_datastore(const std::string& prototype, int datastore_type, TM_MAD_TYPE tm,
                             opennebula_disk_type& disk);

// Steps shared by the image queries: `tm` = the driver of `image.datastore_id`
// and, while `image.disk_type` is undetermined, the disk type from the
// datastore. A driver outside the table (TM_MAD_NONE in `tm`) is only warned
// about when the image's own document gave its disk type. 0 on success; 1
// after logging (after `prototype`) a driver that cannot be read or, for an
// image without disk type, is outside the table, or a datastore whose type
// cannot be read or is not supported. A datastore TYPE that is not a number throws.
int resolve_datastore_facts(const std::string& prototype, oneimage& image, TM_MAD_TYPE& tm);

}  // namespace hx_opennebula_common

#endif

#ifndef KEVRA_OPENNEBULA_DATASTORE_CHOICE_H
#define KEVRA_OPENNEBULA_DATASTORE_CHOICE_H

// Choice of a datastore of a given type with room, from "onedatastore list -x".

#include <libxml/tree.h>

#include <string>

#include "opennebula/platform_types.h"

namespace hx_opennebula_common {

// 0 with `id` = the first datastore of the pool whose type is `type`, whose free
// space is strictly more than `need_mb` megabytes and, for system datastores
// (type 1), whose driver is `tm`; 1 when the command fails, the document is
// bad, a number does not convert or no datastore fits (logged).
int get_any_datastore_by_type(int type, TM_MAD_TYPE tm, const unsigned int& need_mb, std::string& id);

// get_any_datastore_by_type(0, TM_MAD_NONE, need_mb, id): any image datastore with room.
int get_any_image_datastore(const unsigned int& need_mb, std::string& id);

// get_any_datastore_by_type(1, tm, need_mb, id): a system datastore of driver `tm` with room.
int get_any_system_datastore_by_tm_mad(TM_MAD_TYPE tm, const unsigned int& need_mb, std::string& id);

// The walk of get_any_datastore_by_type over a parsed DATASTORE_POOL root, its
// records beginning with `prototype`. 0 with `id` set; 1 when nothing fits or the
// chosen datastore has no ID. Throws on a TYPE or FREE_MB that is not a number.
int choose_datastore(const std::string& prototype, xmlNode* pool, int type, TM_MAD_TYPE tm,
                     const unsigned int& need_mb, std::string& id);

}  // namespace hx_opennebula_common

#endif

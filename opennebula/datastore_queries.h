#ifndef KEVRA_OPENNEBULA_DATASTORE_QUERIES_H
#define KEVRA_OPENNEBULA_DATASTORE_QUERIES_H

// Questions to "/usr/bin/onedatastore show" about one datastore.

#include <string>

#include "opennebula/platform_types.h"

namespace hx_opennebula_common {

// True when the platform knows datastore `id` (its show command exits 0); nothing is logged.
bool does_datastore_exist(const std::string& id);

// 0 with `free_mb` = the first top-level FREE_MB (unchanged when there is none);
// 1 on a failed command, a bad document, an empty or non-numeric FREE_MB (logged).
int get_datastore_capacity_mb(const std::string& id, int& free_mb);

// The transfer driver named by the datastore's first top-level TM_MAD;
// TM_MAD_NONE on any failure, for a missing TM_MAD and for a name outside the table.
TM_MAD_TYPE get_datastore_tm_mad(const std::string& id);

// True with `name` = the text of the datastore's first top-level TM_MAD (empty
// without one), whether or not the table knows it; false when the command or
// the document fails. Nothing is logged.
bool get_datastore_tm_mad_name(const std::string& id, std::string& name);

// 0 with `type` = the first top-level TYPE; 1 (type -1) on a failed command, a
// bad document or no TYPE (logged). A non-numeric TYPE throws std::invalid_argument.
int get_datastore_type(const std::string& id, int& type);

// 0 with `dirs` = the texts of every TEMPLATE/SAFE_DIRS concatenated;
// 1 on a failed command, a bad document or an empty result (logged).
int get_safe_dirs_from_datastore(const std::string& id, std::string& dirs);

// True with `path` = the text of the datastore's first top-level BASE_PATH
// (empty without one); false when the command or the document fails. Nothing is logged.
bool get_datastore_base_path(const std::string& id, std::string& path);

}  // namespace hx_opennebula_common

#endif

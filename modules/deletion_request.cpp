// The base answer to a request to delete a backup from a client-defined
// storage: this framework deletes nothing itself and only reports the request.
#include "modules/hx_module_universal.h"

#include "common/hx_logger.h"

bool HxModuleUniversal::delete_from_client_defined_storage(DeletionList list)
{
    HxLogStream(HxLogLvl::Warning) << "The module doesn't support deletion from client defined storage" << std::endl;
    for (const auto& entry : list) {
        HxLogStream(HxLogLvl::Warning) << "Type: " << entry.first << " " << entry.second << std::endl;
    }
    return true;
}

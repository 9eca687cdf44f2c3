#include "opennebula/datastore_choice.h"

#include <exception>

#include "opennebula/layer_log.h"
#include "opennebula/platform_command.h"

namespace hx_opennebula_common {

int choose_datastore(const std::string& prototype, xmlNode* pool, int type, TM_MAD_TYPE tm,
                     const unsigned int& need_mb, std::string& id)
{
    for (xmlNode* ds = pool->children; ds != nullptr; ds = ds->next) {
        if (!is_element(ds, "DATASTORE"))
            continue;
        int free_mb = 0;
        int ds_type = -1;
        bool driver_match = false;
        for (xmlNode* field = ds->children; field != nullptr; field = field->next) {
            if (is_element(field, "ID"))
                id = element_text(field);
            else if (is_element(field, "TYPE"))
                ds_type = std::stoi(element_text(field));
            else if (is_element(field, "FREE_MB"))
                free_mb = std::stoi(element_text(field));
            else if (is_element(field, "TM_MAD") && tm != TM_MAD_NONE)
                driver_match = element_text(field) == TM_MAD_TYPE_STR.at(tm);
        }
        // Compared in 64 bits so that a need beyond the signed 32-bit range is never "less than" the free space.
        const bool room = static_cast<long long>(free_mb) > static_cast<long long>(need_mb);
        if (ds_type == type && room && (type != DATASTORE_TYPE_SYSTEM || driver_match)) {
            if (id.empty()) {
                log_error(prototype + ": got empty datastore ID");
                return 1;
            }
            return 0;
        }
    }
    log_error(prototype + ": can't find no suitable datastore for the datastore type: \"" + std::to_string(type) +
              "\"");
    return 1;
}

int get_any_datastore_by_type(int type, TM_MAD_TYPE tm, const unsigned int& need_mb, std::string& id)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kPool = {failure_form::command_was, "DATASTORE_POOL", ": document not parsed successfully",
                                    ": empty document",
                                    ": document of the wrong type, root node != DATASTORE_POOL"};
    try {
        xml_document doc;
        if (!run_xml_query(prototype, "/usr/bin/onedatastore list -x", kPool, doc))
            return 1;
        return choose_datastore(prototype, xmlDocGetRootElement(doc.get()), type, tm, need_mb, id);
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

int get_any_image_datastore(const unsigned int& need_mb, std::string& id)
{
    return get_any_datastore_by_type(DATASTORE_TYPE_IMAGE, TM_MAD_NONE, need_mb, id);
}

int get_any_system_datastore_by_tm_mad(TM_MAD_TYPE tm, const unsigned int& need_mb, std::string& id)
{
    return get_any_datastore_by_type(DATASTORE_TYPE_SYSTEM, tm, need_mb, id);
}

}  // namespace hx_opennebula_common

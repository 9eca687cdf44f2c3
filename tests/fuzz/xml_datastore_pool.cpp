// "onedatastore list -x": the choice of a datastore with room.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "opennebula/datastore_choice.h"
#include "opennebula/platform_types.h"
#include "tests/fuzz/platform_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hx_opennebula_common;
    xml_document doc = kevra_fuzz::platform_document(data, size, "DATASTORE_POOL");
    if (!doc) {
        return 0;
    }
    xmlNode* root = xmlDocGetRootElement(doc.get());
    struct choice {
        int type;
        TM_MAD_TYPE tm;
        unsigned int need_mb;
    };
    for (const choice& c : {choice{0, TM_MAD_NONE, 0}, choice{0, TM_MAD_NONE, 4096}, choice{1, TM_MAD_QCOW2, 1},
                            choice{1, TM_MAD_CEPH, 4294967295u}, choice{2, TM_MAD_SHARED, 10}}) {
        std::string id;
        try {
            choose_datastore("fuzz", root, c.type, c.tm, c.need_mb, id);
        } catch (const std::exception&) {
            // a TYPE or FREE_MB that is not a number: the query logs it
        }
    }
    return 0;
}

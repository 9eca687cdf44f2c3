// "onetemplate list -x": the "ID|NAME" listing of the templates and the look-up of a name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "opennebula/template_queries.h"
#include "template_module/template_listing_lines.h"
#include "tests/fuzz/platform_document.h"
#include "tests/fuzz/pool_object_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hx_opennebula_common;
    xml_document doc = kevra_fuzz::platform_document(data, size, "VMTEMPLATE_POOL");
    if (!doc) {
        return 0;
    }
    xmlNode* pool = xmlDocGetRootElement(doc.get());
    (void)kevra_template::template_listing_lines(pool);
    (void)template_ids_named(pool, "web");
    kevra_fuzz::check_pool_objects(pool, "VMTEMPLATE");
    return 0;
}

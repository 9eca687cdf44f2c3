// "oneimage list -x": the IDs and names of the image pool, and the IDs of the
// images of one name.
#include <cstddef>
#include <cstdint>

#include "opennebula/image_lists.h"
#include "tests/fuzz/platform_document.h"
#include "tests/fuzz/pool_object_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hx_opennebula_common;
    xml_document doc = kevra_fuzz::platform_document(data, size, "IMAGE_POOL");
    if (!doc) {
        return 0;
    }
    xmlNode* root = xmlDocGetRootElement(doc.get());
    (void)image_pool_field_texts(root, "ID");
    (void)image_pool_field_texts(root, "NAME");
    (void)image_ids_named(root, "web-2-disk-0");
    (void)image_ids_named(root, "");
    kevra_fuzz::check_pool_objects(root, "IMAGE");
    return 0;
}

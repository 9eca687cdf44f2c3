// "onetemplate list -x": the "ID|NAME" listing of the templates.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/platform_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hx_opennebula_common;
    xml_document doc = kevra_fuzz::platform_document(data, size, "VMTEMPLATE_POOL");
    if (!doc) {
        return 0;
    }
    std::string lines;
    for_each_child_element(xmlDocGetRootElement(doc.get()), "VMTEMPLATE", [&lines](xmlNode* node) {
        lines += joined_child_texts(node, "ID") + "|" + joined_child_texts(node, "NAME") + "\n";
    });
    return 0;
}

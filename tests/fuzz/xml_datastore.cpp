// "onedatastore show -x": free space, transfer driver, type and safe directories.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "opennebula/platform_types.h"
#include "tests/fuzz/platform_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hx_opennebula_common;
    xml_document doc = kevra_fuzz::platform_document(data, size, "DATASTORE");
    if (!doc) {
        return 0;
    }
    xmlNode* root = xmlDocGetRootElement(doc.get());
    if (xmlNode* tm = first_child_element(root, "TM_MAD")) {
        (void)tm_mad_from_name(element_text(tm));
    }
    for (const char* number : {"FREE_MB", "TYPE"}) {
        if (xmlNode* node = first_child_element(root, number)) {
            try {
                (void)std::stoi(element_text(node));
            } catch (const std::exception&) {
                // the queries report a number that does not convert
            }
        }
    }
    std::string dirs;
    for_each_child_element(root, "TEMPLATE", [&dirs](xmlNode* tpl) { dirs += joined_child_texts(tpl, "SAFE_DIRS"); });
    return 0;
}

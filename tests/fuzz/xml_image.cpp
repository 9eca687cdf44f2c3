// "oneimage show -x": the image record and the single fields the queries read.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "opennebula/image_document.h"
#include "opennebula/image_record.h"
#include "tests/fuzz/platform_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hx_opennebula_common;
    xml_document doc = kevra_fuzz::platform_document(data, size, "IMAGE");
    if (!doc) {
        return 0;
    }
    xmlNode* root = xmlDocGetRootElement(doc.get());
    oneimage image;
    try {
        read_image_document(root, image);
    } catch (const std::exception&) {
        // a TYPE, DISK_TYPE or SIZE that is not a number reaches the query's caller
    }
    (void)joined_child_texts(root, "NAME");
    (void)joined_child_texts(root, "ID");
    if (xmlNode* source = first_child_element(root, "SOURCE")) {
        (void)element_text(source);
    }
    try {
        (void)std::stoi(joined_child_texts(root, "STATE"));
    } catch (const std::exception&) {
        // a state that is not a number reaches the query's caller
    }
    return 0;
}

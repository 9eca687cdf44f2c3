// "onetemplate show -x": the template's name, its disks' images, and the
// template file a backup builds from it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "opennebula/template_queries.h"
#include "opennebula/template_xml_files.h"
#include "tests/fuzz/platform_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hx_opennebula_common;
    xml_document doc = kevra_fuzz::platform_document(data, size, "VMTEMPLATE");
    if (!doc) {
        return 0;
    }
    xmlNode* root = xmlDocGetRootElement(doc.get());
    if (xmlNode* name = first_child_element(root, "NAME")) {
        // The one-pass join gives what libxml2's own join of the children gives.
        xmlChar* joined = xmlNodeListGetString(doc.get(), name->children, 1);
        const std::string expected = joined != nullptr ? reinterpret_cast<const char*>(joined) : "";
        xmlFree(joined);
        if (element_text(name) != expected) {
            std::abort();
        }
    }
    (void)template_disk_images(root);
    const image_name_lookup lookup = [](const std::string& id, std::string& name, std::string& owner) {
        name = "image-" + id;
        owner = "oneadmin";
        return 0;
    };
    build_template_file_document("fuzz", "0", doc.get(), "", lookup);
    return 0;
}

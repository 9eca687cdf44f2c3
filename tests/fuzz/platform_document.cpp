#include "tests/fuzz/platform_document.h"

#include "opennebula/platform_command.h"
#include "tests/fuzz/fuzz_support.h"

namespace kevra_fuzz {

hx_opennebula_common::xml_document platform_document(const std::uint8_t* data, std::size_t size, const char* root,
                                                     bool layer_parser)
{
    using namespace hx_opennebula_common;
    const xml_query text_parser = {failure_form::command, root, ": document not parsed successfully",
                                   ": empty document", ": document of the wrong type"};
    const xml_query document_parser = {failure_form::command, root, nullptr, nullptr,
                                       ": document of the wrong type", ": can't parse xml data"};
    xml_document doc;
    if (!accept_xml_output("fuzz", input_text(data, size), layer_parser ? document_parser : text_parser, doc)) {
        return nullptr;
    }
    return doc;
}

}  // namespace kevra_fuzz

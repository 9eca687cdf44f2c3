#ifndef KEVRA_TESTS_FUZZ_PLATFORM_DOCUMENT_H
#define KEVRA_TESTS_FUZZ_PLATFORM_DOCUMENT_H

// The input as a platform tool's XML answer, accepted as the access layer's
// queries accept a command's output.

#include <cstddef>
#include <cstdint>

#include "opennebula/xml_access.h"

namespace kevra_fuzz {

// The document when the input parses (through the layer's document parser
// when `layer_parser`, else through its text parser) and its root is `root`;
// null after the layer's failure records otherwise.
hx_opennebula_common::xml_document platform_document(const std::uint8_t* data, std::size_t size, const char* root,
                                                     bool layer_parser = false);

}  // namespace kevra_fuzz

#endif

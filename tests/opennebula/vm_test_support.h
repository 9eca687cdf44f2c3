#pragma once
// Shared pieces of the VM tests: the recorded VM, VM pool and host pool
// documents (tests/opennebula/vm_documents/, shaped and ordered as the
// platform prints them) and a compact outline of an XML element.

#include <gtest/gtest.h>

#include <string>

#include "opennebula/xml_access.h"
#include "tests/opennebula/log_capture.h"
#include "tests/support/run_program.h"

namespace vm_test {

// The text of a recorded document in tests/opennebula/vm_documents/.
inline std::string vm_document(const std::string& name)
{
    return opennebula_test::read_file(kevra_test::source_path("tests/opennebula/vm_documents/" + name));
}

// `text` with its first `from` replaced by `to`; fails the test when `from` is not there.
inline std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const std::string::size_type at = text.find(from);
    EXPECT_NE(at, std::string::npos) << "not in the document: " << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

// Parses `text`; fails the test (null result) when it is not a document with a root.
inline hx_opennebula_common::xml_document parsed(const std::string& text)
{
    hx_opennebula_common::xml_document doc = hx_opennebula_common::parse_xml_text(text);
    EXPECT_TRUE(doc && xmlDocGetRootElement(doc.get()) != nullptr) << text;
    return doc;
}

// "NAME=text;NAME{...}" of the element children of `node`, in order: an
// element with element children as NAME{...} of them, any other as NAME=text.
inline std::string outline(xmlNode* node)
{
    std::string text;
    for (xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (!text.empty())
            text += ";";
        bool nested = false;
        for (xmlNode* inner = child->children; inner != nullptr; inner = inner->next)
            nested = nested || inner->type == XML_ELEMENT_NODE;
        text += reinterpret_cast<const char*>(child->name);
        text += nested ? "{" + outline(child) + "}" : "=" + hx_opennebula_common::element_text(child);
    }
    return text;
}

}  // namespace vm_test

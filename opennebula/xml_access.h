#ifndef KEVRA_OPENNEBULA_XML_ACCESS_H
#define KEVRA_OPENNEBULA_XML_ACCESS_H

// The one way the layer parses, walks, reads, edits and saves the platform's
// XML documents (libxml2): children are matched by exact element name, no
// XPath, attributes or namespaces.

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace hx_opennebula_common {

struct xml_document_deleter {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
// Owner of a parsed document: freed exactly once, on every path out.
using xml_document = std::unique_ptr<xmlDoc, xml_document_deleter>;

// The largest document the layer parses, far above any real platform answer or
// template file; a longer text is refused as not parsed.
constexpr std::size_t max_xml_document_size = 64u << 20;

// Parses the whole `text` as an XML document into `doc` (parse_xml_text).
// 0: parsed with a root element, the caller owns `doc` (xmlFreeDoc); 1: not parsed or no root (logged, doc null).
int parse_xml_document(const std::string& text, xmlDoc*& doc);

// The one parse of every XML document the program reads, without logging:
// no DTD is loaded, nothing is fetched from the network and no declared entity
// is expanded; a document that declares an entity, or is longer than
// max_xml_document_size, is refused like one that is not XML (null). The
// predefined entities and character references are read as usual. Comments
// and processing instructions are left out of the tree, and a CDATA section
// that follows text joins it, so the pieces of one text are at most two nodes.
// The root may be missing.
xml_document parse_xml_text(const std::string& text);

// Reads the file at `path` (at most max_xml_document_size bytes, taken as they
// are, never decompressed) and parses it with parse_xml_text; null when it
// cannot be read, is longer or is refused.
xml_document parse_xml_file(const std::string& path);

// True when `node` is an element named exactly `name`.
bool is_element(const xmlNode* node, const char* name);

// The text of an element: its text and CDATA children with entities replaced,
// joined in one pass (time linear in its length); the empty text for an
// element without content or a null node.
std::string element_text(const xmlNode* node);

// Appends the text of `node` (as element_text gives it) to `text`.
void append_element_text(const xmlNode* node, std::string& text);

// The first child element of `parent` named `name`, or null.
xmlNode* first_child_element(xmlNode* parent, const char* name);

// The texts of every child of `parent` named `name`, concatenated in document order.
std::string joined_child_texts(xmlNode* parent, const char* name);

// Calls `visit` for each child of `parent` named `name`, in document order. The
// next sibling is taken before each call, so `visit` may remove the child.
void for_each_child_element(xmlNode* parent, const char* name, const std::function<void(xmlNode*)>& visit);

// Appends <name>text</name> to `parent`, the text escaped. Returns the new element, null on failure.
xmlNode* append_text_child(xmlNode* parent, const char* name, const std::string& text);

// Replaces the content of `element` by `text`, taken literally (XML special
// characters are escaped, never read as markup or entity references).
void set_element_text(xmlNode* element, const std::string& text);

// Unlinks and frees `element`.
void remove_element(xmlNode* element);

// Writes `doc` formatted (indented, with the XML declaration) to `path`. It is
// written into a new file beside `path` first and renamed over it, so a failed
// save leaves no partial file at `path` and a link is never written through;
// a link or anything but a regular file of a single link at `path` makes it fail.
// 0 on success, -1 on failure.
int save_document(xmlDoc* doc, const std::string& path);

}  // namespace hx_opennebula_common

#endif

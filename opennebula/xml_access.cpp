#include "opennebula/xml_access.h"

#include <libxml/SAX2.h>
#include <libxml/entities.h>

#include <cstdio>
#include <fstream>

#include "common/new_paths.h"
#include "opennebula/layer_log.h"

namespace hx_opennebula_common {

namespace {

// Entities within entities are followed this deep at most.
constexpr int kMaxEntityDepth = 8;

struct parser_context_deleter {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

// Neither the platform nor this program writes a DOCTYPE, let alone entities:
// the first entity declaration ends the parse as not well-formed, so no
// reference can expand.
void refuse(void* context)
{
    auto* parser = static_cast<xmlParserCtxt*>(context);
    parser->wellFormed = 0;
    xmlStopParser(parser);
}

void refuse_entity_declaration(void* context, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*)
{
    refuse(context);
}

void refuse_unparsed_entity_declaration(void* context, const xmlChar*, const xmlChar*, const xmlChar*,
                                        const xmlChar*)
{
    refuse(context);
}

// Comments and processing instructions carry nothing the program reads: they
// are left out of the tree, so the text around them is one text node, however
// many of them cut it.
//
// A CDATA section right after text joins that text node; one that starts an
// element's content stays a CDATA section (adjacent sections join it). So the
// pieces of one text are one or two nodes, and the tree of a document stays on
// the order of its size.
void cdata_block(void* context, const xmlChar* value, int length)
{
    const auto* parser = static_cast<xmlParserCtxt*>(context);
    const xmlNode* last = parser->node != nullptr ? parser->node->last : nullptr;
    if (last != nullptr && last->type == XML_TEXT_NODE)
        xmlSAX2Characters(context, value, length);
    else
        xmlSAX2CDataBlock(context, value, length);
}

// Appends the text of the node list that starts at `node` to `text`: text and
// CDATA content, entity references replaced by their entity's text.
void append_list_text(const xmlDoc* doc, const xmlNode* node, std::string& text, int depth)
{
    for (; node != nullptr; node = node->next) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            if (node->content != nullptr)
                text.append(reinterpret_cast<const char*>(node->content));
        } else if (node->type == XML_ENTITY_REF_NODE && depth < kMaxEntityDepth) {
            const xmlEntity* entity = xmlGetDocEntity(doc, node->name);
            if (entity != nullptr)
                append_list_text(doc, entity->children, text, depth + 1);
        }
    }
}

}  // namespace

int parse_xml_document(const std::string& text, xmlDoc*& doc)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    doc = parse_xml_text(text).release();
    if (doc == nullptr) {
        log_error(prototype + ": XML document not parsed successfully ");
        return 1;
    }
    if (xmlDocGetRootElement(doc) == nullptr) {
        xmlFreeDoc(doc);
        doc = nullptr;
        log_error(prototype + ": XML document is empty");
        return 1;
    }
    return 0;
}

xml_document parse_xml_text(const std::string& text)
{
    if (text.size() > max_xml_document_size)
        return nullptr;
    const std::unique_ptr<xmlParserCtxt, parser_context_deleter> context(xmlNewParserCtxt());
    if (context == nullptr || context->sax == nullptr)
        return nullptr;
    context->sax->entityDecl = refuse_entity_declaration;
    context->sax->unparsedEntityDecl = refuse_unparsed_entity_declaration;
    context->sax->comment = nullptr;
    context->sax->processingInstruction = nullptr;
    context->sax->cdataBlock = cdata_block;
    xml_document doc(xmlCtxtReadMemory(context.get(), text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                       XML_PARSE_NONET));
    // The parser reports a text node it would not make longer (its text
    // limit) as a memory fault and keeps the text cut short: never read it.
    if (context->errNo == XML_ERR_NO_MEMORY)
        return nullptr;
    return doc;
}

xml_document parse_xml_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return nullptr;
    std::string text;
    char block[1 << 16];
    while (file.read(block, sizeof block) || file.gcount() > 0) {
        text.append(block, static_cast<std::size_t>(file.gcount()));
        if (text.size() > max_xml_document_size)
            return nullptr;
    }
    if (file.bad())
        return nullptr;
    return parse_xml_text(text);
}

bool is_element(const xmlNode* node, const char* name)
{
    return node != nullptr && node->type == XML_ELEMENT_NODE && node->name != nullptr &&
           xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

std::string element_text(const xmlNode* node)
{
    std::string text;
    append_element_text(node, text);
    return text;
}

void append_element_text(const xmlNode* node, std::string& text)
{
    if (node != nullptr)
        append_list_text(node->doc, node->children, text, 0);
}

xmlNode* first_child_element(xmlNode* parent, const char* name)
{
    if (parent == nullptr)
        return nullptr;
    for (xmlNode* child = parent->children; child != nullptr; child = child->next)
        if (is_element(child, name))
            return child;
    return nullptr;
}

std::string joined_child_texts(xmlNode* parent, const char* name)
{
    std::string joined;
    for_each_child_element(parent, name, [&joined](xmlNode* child) { append_element_text(child, joined); });
    return joined;
}

void for_each_child_element(xmlNode* parent, const char* name, const std::function<void(xmlNode*)>& visit)
{
    if (parent == nullptr)
        return;
    xmlNode* child = parent->children;
    while (child != nullptr) {
        xmlNode* next = child->next;
        if (is_element(child, name))
            visit(child);
        child = next;
    }
}

xmlNode* append_text_child(xmlNode* parent, const char* name, const std::string& text)
{
    return xmlNewTextChild(parent, nullptr, reinterpret_cast<const xmlChar*>(name),
                           reinterpret_cast<const xmlChar*>(text.c_str()));
}

void set_element_text(xmlNode* element, const std::string& text)
{
    xmlChar* encoded = xmlEncodeSpecialChars(element->doc, reinterpret_cast<const xmlChar*>(text.c_str()));
    xmlNodeSetContent(element, encoded);
    xmlFree(encoded);
}

void remove_element(xmlNode* element)
{
    xmlUnlinkNode(element);
    xmlFreeNode(element);
}

int save_document(xmlDoc* doc, const std::string& path)
{
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpFormatMemory(doc, &text, &size, 1);
    if (text == nullptr || size < 0) {
        xmlFree(text);
        return -1;
    }
    const std::string content(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
    xmlFree(text);
    // A new file of its own takes the name: a link standing beside or at
    // `path` is never written through.
    return kelvomar::new_paths::replace_file(path, content) == 0 ? 0 : -1;
}

}  // namespace hx_opennebula_common

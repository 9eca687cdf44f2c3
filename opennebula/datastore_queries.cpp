#include "opennebula/datastore_queries.h"

#include <exception>

#include "common/shell_quote.h"
#include "opennebula/layer_log.h"
#include "opennebula/platform_command.h"

namespace hx_opennebula_common {

namespace {

using kelvomar::quote_style;
using kelvomar::shell_quote;

// The show document as the driver and capacity queries read it.
const xml_query kShowCapitalised = {failure_form::command_was, "DATASTORE", ": Document not parsed successfully",
                                    ": empty document", ": document of the wrong type, root node != DATASTORE"};

// The show document as the type and safe-directory queries read it.
const xml_query kShow = {failure_form::command, "DATASTORE", ": document not parsed successfully",
                         ": empty document", ": document of the wrong type, root node != DATASTORE"};

std::string show_bare(const std::string& id)
{
    return "/usr/bin/onedatastore show " + shell_quote(id) + " -x";
}

std::string show_quoted(const std::string& id)
{
    return "/usr/bin/onedatastore show " + shell_quote(id, quote_style::always) + " -x";
}

}  // namespace

bool does_datastore_exist(const std::string& id)
{
    std::string output;
    return run_command("/usr/bin/onedatastore show " + shell_quote(id, quote_style::always), output) == 0;
}

int get_datastore_capacity_mb(const std::string& id, int& free_mb)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        xml_document doc;
        if (!run_xml_query(prototype, show_bare(id), kShowCapitalised, doc))
            return 1;
        xmlNode* free = first_child_element(xmlDocGetRootElement(doc.get()), "FREE_MB");
        if (free == nullptr)
            return 0;
        const std::string text = element_text(free);
        if (text.empty()) {
            log_error(prototype + ": got empty FREE_MB value for datastore with ID " + id);
            return 1;
        }
        free_mb = std::stoi(text);
        return 0;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

TM_MAD_TYPE get_datastore_tm_mad(const std::string& id)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        xml_document doc;
        if (!run_xml_query(prototype, show_bare(id), kShowCapitalised, doc))
            return TM_MAD_NONE;
        xmlNode* tm = first_child_element(xmlDocGetRootElement(doc.get()), "TM_MAD");
        if (tm == nullptr)
            return TM_MAD_NONE;
        return tm_mad_from_name(element_text(tm));
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return TM_MAD_NONE;
    }
}

bool get_datastore_tm_mad_name(const std::string& id, std::string& name)
{
    std::string output;
    if (run_command(show_bare(id), output) != 0)
        return false;
    const xml_document doc = parse_xml_text(output);
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (root == nullptr || !is_element(root, "DATASTORE"))
        return false;
    xmlNode* tm = first_child_element(root, "TM_MAD");
    name = tm == nullptr ? std::string() : element_text(tm);
    return true;
}

bool get_datastore_base_path(const std::string& id, std::string& path)
{
    std::string output;
    if (run_command(show_quoted(id), output) != 0)
        return false;
    const xml_document doc = parse_xml_text(output);
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (root == nullptr || !is_element(root, "DATASTORE"))
        return false;
    xmlNode* base = first_child_element(root, "BASE_PATH");
    path = base == nullptr ? std::string() : element_text(base);
    return true;
}

int get_datastore_type(const std::string& id, int& type)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    type = -1;
    xml_document doc;
    if (!run_xml_query(prototype, show_quoted(id), kShow, doc))
        return 1;
    if (xmlNode* node = first_child_element(xmlDocGetRootElement(doc.get()), "TYPE"))
        type = std::stoi(element_text(node));  // a malformed number reaches the caller
    if (type == -1) {
        log_error(prototype + ": can't get type of datastore ID: " + double_quoted(id));
        return 1;
    }
    return 0;
}

int get_safe_dirs_from_datastore(const std::string& id, std::string& dirs)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    xml_document doc;
    if (!run_xml_query(prototype, show_quoted(id), kShow, doc))
        return 1;
    dirs.clear();
    for_each_child_element(xmlDocGetRootElement(doc.get()), "TEMPLATE",
                           [&dirs](xmlNode* tpl) { dirs += joined_child_texts(tpl, "SAFE_DIRS"); });
    if (dirs.empty()) {
        log_error(prototype + ": got empty SAFE_DIRS value");
        return 1;
    }
    return 0;
}

}  // namespace hx_opennebula_common

#include "opennebula/image_lists.h"

#include <algorithm>

#include "opennebula/layer_log.h"
#include "opennebula/platform_command.h"

namespace hx_opennebula_common {

namespace {

const char* const kListCommand = "/usr/bin/oneimage list -x";
const char* const kWrongRoot = ": document of the wrong type, root node != IMAGE_POOL";
// The pool as the name queries read it.
const xml_query kNameList = {failure_form::command, "IMAGE_POOL", ": document not parsed successfully",
                             ": empty document", kWrongRoot};

}  // namespace

std::vector<std::string> image_pool_field_texts(xmlNode* pool, const char* field)
{
    std::vector<std::string> texts;
    for (xmlNode* image = pool->children; image != nullptr; image = image->next) {
        if (!is_element(image, "IMAGE"))
            continue;
        for (xmlNode* child = image->children; child != nullptr; child = child->next)
            if (is_element(child, field))
                texts.push_back(element_text(child));
    }
    return texts;
}

int get_image_list(std::vector<std::string>& ids)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kList = {failure_form::command, "IMAGE_POOL", ": Document not parsed successfully",
                                    ": empty document", kWrongRoot};
    xml_document doc;
    if (!run_xml_query(prototype, kListCommand, kList, doc))
        return 1;
    const std::vector<std::string> found = image_pool_field_texts(xmlDocGetRootElement(doc.get()), "ID");
    ids.insert(ids.end(), found.begin(), found.end());
    return 0;
}

int get_available_image_names(std::vector<std::string>& names)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kList = {failure_form::line_produced, "IMAGE_POOL", nullptr, nullptr, kWrongRoot,
                                    ": can't parse xml data"};
    xml_document doc;
    if (!run_xml_query(prototype, kListCommand, kList, doc))
        return 1;
    const std::vector<std::string> found = image_pool_field_texts(xmlDocGetRootElement(doc.get()), "NAME");
    names.insert(names.end(), found.begin(), found.end());
    if (found.empty())
        log_warning(prototype + ": got empty list of image names");
    return 0;
}

bool does_image_name_exist(const std::string& name)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    xml_document doc;
    if (!run_xml_query(prototype, kListCommand, kNameList, doc))
        return false;
    const std::vector<std::string> names = image_pool_field_texts(xmlDocGetRootElement(doc.get()), "NAME");
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<std::string> owned_image_ids(xmlNode* pool, const std::string& name, const char* owner_field,
                                         const std::string& owner)
{
    std::vector<std::string> ids;
    for_each_child_element(pool, "IMAGE", [&](xmlNode* image) {
        if (joined_child_texts(image, "NAME") == name && joined_child_texts(image, owner_field) == owner)
            ids.push_back(joined_child_texts(image, "ID"));
    });
    return ids;
}

std::vector<std::string> image_ids_named(xmlNode* pool, const std::string& name)
{
    std::vector<std::string> ids;
    for_each_child_element(pool, "IMAGE", [&](xmlNode* image) {
        if (joined_child_texts(image, "NAME") == name)
            ids.push_back(joined_child_texts(image, "ID"));
    });
    return ids;
}

int get_image_pool(std::vector<pool_object>& objects)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    xml_document doc;
    if (!run_xml_query(prototype, kListCommand, kNameList, doc))
        return 1;
    const std::vector<pool_object> found = pool_objects(xmlDocGetRootElement(doc.get()), "IMAGE");
    objects.insert(objects.end(), found.begin(), found.end());
    return 0;
}

int get_owned_image_id(const std::string& name, const char* owner_field, const std::string& owner, std::string& id)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    xml_document doc;
    if (!run_xml_query(prototype, kListCommand, kNameList, doc))
        return 1;
    const std::vector<std::string> ids = owned_image_ids(xmlDocGetRootElement(doc.get()), name, owner_field, owner);
    const std::string whose = std::string(owner_field) + " " + owner;
    if (ids.empty()) {
        log_error(prototype + ": no image named '" + name + "' belongs to the owner with " + whose);
        return 1;
    }
    if (ids.size() > 1) {
        log_error(prototype + ": the image name '" + name + "' is ambiguous: " + std::to_string(ids.size()) +
                  " images of the owner with " + whose + " have it");
        return 1;
    }
    id = ids.front();
    return 0;
}

}  // namespace hx_opennebula_common

#include "opennebula/image_queries.h"

#include <exception>

#include "common/shell_quote.h"
#include "opennebula/image_document.h"
#include "opennebula/image_signature.h"
#include "opennebula/layer_log.h"
#include "opennebula/object_ids.h"
#include "opennebula/platform_command.h"

namespace hx_opennebula_common {

namespace {

using kelvomar::quote_style;
using kelvomar::shell_quote;

const xml_query kShow = {failure_form::command, "IMAGE", ": document not parsed successfully", ": empty document",
                         ": document of the wrong type, root node != IMAGE"};

std::string show_quoted(const std::string& image)
{
    return "/usr/bin/oneimage show " + shell_quote(image, quote_style::always) + " -x";
}

}  // namespace

namespace {

// What describing an image does when its disk type carries no data.
enum class data_less_image { fail, describe };

// The steps of get_image_attributes, its records after `prototype`; with
// `data_less` describe, an image without data gets no unique signature.
int describe_image(const std::string& prototype, const std::string& id, oneimage& image, bool md5,
                   data_less_image data_less)
{
    {
        xml_document doc;
        if (!run_xml_query(prototype, show_quoted(id), kShow, doc))
            return 1;
        read_image_document(xmlDocGetRootElement(doc.get()), image);
    }
    TM_MAD_TYPE tm = TM_MAD_NONE;
    if (resolve_datastore_facts(prototype, image, tm) != 0)
        return 1;
    if (data_less == data_less_image::describe && !disk_type_has_data(image.disk_type)) {
        log_info("The image " + image.id + " (disk type " + disk_type_to_str(image.disk_type) +
                 ") has no data; it is described without a unique signature");
        return 0;
    }
    if (!calculate_unique_signature(image, tm, md5)) {
        log_error(prototype + ": can't calculate image unique signature");
        return 1;
    }
    return 0;
}

// The prototype that begins the records of get_image_attributes, whichever of
// the two describing operations ran.
const char* const kAttributesPrototype =
    "int hx_opennebula_common::get_image_attributes(const std::string&, oneimage&, bool)";

}  // namespace

int get_image_attributes(const std::string& id, oneimage& image, bool md5)
{
    return describe_image(kAttributesPrototype, id, image, md5, data_less_image::fail);
}

int get_image_description(const std::string& id, oneimage& image, bool md5)
{
    return describe_image(kAttributesPrototype, id, image, md5, data_less_image::describe);
}

namespace {

// Runs the bare show of image `id`: 0 with `name` and `owner` = its top-level
// NAME and UNAME texts, each concatenated; 1 after the records (after `prototype`).
int read_image_name_and_owner(const std::string& prototype, const std::string& id, std::string& name,
                              std::string& owner)
{
    xml_document doc;
    if (!run_xml_query(prototype, "/usr/bin/oneimage show " + shell_quote(id) + " -x", kShow, doc))
        return 1;
    xmlNode* root = xmlDocGetRootElement(doc.get());
    name = joined_child_texts(root, "NAME");
    owner = joined_child_texts(root, "UNAME");
    return 0;
}

}  // namespace

int get_image_name(const std::string& id, std::string& name)
{
    std::string owner;
    return read_image_name_and_owner(__PRETTY_FUNCTION__, id, name, owner);
}

int get_image_name_and_owner(const std::string& id, std::string& name, std::string& owner)
{
    return read_image_name_and_owner(__PRETTY_FUNCTION__, id, name, owner);
}

int get_image_id(const std::string& image, std::string& id)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    xml_document doc;
    if (!run_xml_query(prototype, show_quoted(image), kShow, doc))
        return 1;
    id = joined_child_texts(xmlDocGetRootElement(doc.get()), "ID");
    if (id.empty()) {
        log_error(prototype + ": got empty ID for image " + image);
        return 1;
    }
    return 0;
}

int get_image_state(const std::string& image, int& state)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    xml_document doc;
    if (!run_xml_query(prototype, show_quoted(image), kShow, doc))
        return 1;
    const std::string text = joined_child_texts(xmlDocGetRootElement(doc.get()), "STATE");
    if (text.empty()) {
        log_error(prototype + ": Got empty STATE for image " + image);
        return 1;
    }
    state = std::stoi(text);  // a malformed number reaches the caller
    return 0;
}

int get_image_source(const std::string& image, std::string& source)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kShowSource = {failure_form::command_was, "IMAGE", ": document not parsed successfully",
                                          ": empty document", ": document of the wrong type, root node != IMAGE"};
    try {
        xml_document doc;
        if (!run_xml_query(prototype, show_quoted(image), kShowSource, doc))
            return 1;
        xmlNode* node = first_child_element(xmlDocGetRootElement(doc.get()), "SOURCE");
        if (node == nullptr)
            return 1;
        source = element_text(node);
        return 0;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

bool does_image_exist_by_id(const std::string& id)
{
    std::string output;
    return run_command("/usr/bin/oneimage show " + shell_quote(id, quote_style::always), output) == 0;
}

int delete_image(const std::string& id)
{
    // The records keep the prototype they have always carried.
    const std::string prototype = "void hx_opennebula_common::delete_image(const std::string&)";
    // Only an ID names one image: the delete command reads a name as a list.
    if (!is_object_id(id)) {
        log_error(prototype + ": unable to delete image: " + id);
        log_error(prototype + ": not an image ID: " + id);
        return 1;
    }
    const std::string command = "/usr/bin/oneimage delete " + shell_quote(id, quote_style::always);
    std::string output;
    if (run_command(command, output) != 0) {
        log_error(prototype + ": unable to delete image: " + id);
        log_error("Command was: " + command);
        log_error("Command output: " + output);
        return 1;
    }
    return 0;
}

}  // namespace hx_opennebula_common

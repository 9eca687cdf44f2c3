#include "opennebula/template_queries.h"

#include <exception>

#include "common/shell_quote.h"
#include "opennebula/image_queries.h"
#include "opennebula/layer_log.h"
#include "opennebula/object_ids.h"
#include "opennebula/platform_command.h"

namespace hx_opennebula_common {

namespace {

using kelvomar::quote_style;
using kelvomar::shell_quote;

}  // namespace

int get_template_name(const std::string& id, std::string& name)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kShow = {failure_form::command_was, "VMTEMPLATE", ": document not parsed successfully",
                                    ": empty document", ": document of the wrong type, root node != VMTEMPLATE"};
    try {
        xml_document doc;
        if (!run_xml_query(prototype, "/usr/bin/onetemplate show " + shell_quote(id) + " -x ", kShow, doc))
            return 1;
        xmlNode* node = first_child_element(xmlDocGetRootElement(doc.get()), "NAME");
        if (node == nullptr) {
            log_error(prototype + ": can't find template name");
            return 1;
        }
        name = element_text(node);
        return 0;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

bool does_template_name_exist(const std::string& name)
{
    std::string output;
    return run_command("/usr/bin/onetemplate show " + shell_quote(name, quote_style::always), output) == 0;
}

int get_template_id(const std::string& tpl, std::string& id)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kShow = {failure_form::command_was, "VMTEMPLATE", ": document not parsed successfully",
                                    ": empty document", ": document of the wrong type, root node != VMTEMPLATE"};
    try {
        xml_document doc;
        if (!run_xml_query(prototype, "/usr/bin/onetemplate show " + shell_quote(tpl, quote_style::always) + " -x",
                           kShow, doc))
            return 1;
        xmlNode* node = first_child_element(xmlDocGetRootElement(doc.get()), "ID");
        if (node == nullptr || !is_object_id(element_text(node))) {
            log_error(prototype + ": can't find the ID of the template: " + tpl);
            return 1;
        }
        id = element_text(node);
        return 0;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

int get_template_ids_by_name(const std::string& name, std::vector<std::string>& ids)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kList = {failure_form::command_was, "VMTEMPLATE_POOL", ": document not parsed successfully",
                                    ": empty document",
                                    ": document of the wrong type, root node != VMTEMPLATE_POOL"};
    try {
        xml_document doc;
        if (!run_xml_query(prototype, "/usr/bin/onetemplate list -x", kList, doc))
            return 1;
        for_each_child_element(xmlDocGetRootElement(doc.get()), "VMTEMPLATE", [&](xmlNode* tpl) {
            xmlNode* id = first_child_element(tpl, "ID");
            xmlNode* own = first_child_element(tpl, "NAME");
            if (id != nullptr && own != nullptr && element_text(own) == name)
                ids.push_back(element_text(id));
        });
        return 0;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

int delete_template(const std::string& id, const std::string& name, bool with_images)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    // Only an ID names one template: the delete command reads a name as a
    // list of IDs, ranges and names, separated by commas.
    if (!is_object_id(id)) {
        log_error(prototype + ": unable to delete template clone: " + name);
        log_error(prototype + ": not a template ID: " + id);
        return 1;
    }
    const std::string command =
        "/usr/bin/onetemplate delete " + shell_quote(id, quote_style::always) + (with_images ? " --recursive" : "");
    std::string output;
    if (run_command(command, output) != 0) {
        log_error(prototype + ": unable to delete template clone: " + name);
        log_error(prototype + ": command: " + command);
        log_error("Command output: " + output);
        return 1;
    }
    log_info("Delete template clone: " + name);
    return 0;
}

std::vector<template_disk_image> template_disk_images(xmlNode* root)
{
    std::vector<template_disk_image> disks;
    for_each_child_element(root, "TEMPLATE", [&disks](xmlNode* tpl) {
        for_each_child_element(tpl, "DISK", [&disks](xmlNode* disk) {
            if (xmlNode* id = first_child_element(disk, "IMAGE_ID"))
                disks.push_back({true, element_text(id)});
            else if (xmlNode* image = first_child_element(disk, "IMAGE"))
                disks.push_back({false, element_text(image)});
        });
    });
    return disks;
}

int get_simple_template_image_list(const std::string& tpl, std::vector<std::string>& ids)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kShow = {failure_form::command_was, "VMTEMPLATE", ": document not parsed successfully",
                                    ": empty document", ": document of the wrong type, root node != VMTEMPLATE: "};
    try {
        std::vector<template_disk_image> disks;
        {
            xml_document doc;
            if (!run_xml_query(prototype, "/usr/bin/onetemplate show " + shell_quote(tpl, quote_style::always) + " -x ",
                               kShow, doc))
                return 1;
            disks = template_disk_images(xmlDocGetRootElement(doc.get()));
        }
        // One entry per disk, in disk order: a disk named only by its image's name
        // gets that image's ID in its own place.
        for (const template_disk_image& disk : disks) {
            if (disk.by_id) {
                ids.push_back(disk.value);
                continue;
            }
            std::string id;
            if (get_image_id(disk.value, id) != 0) {
                log_error(prototype + ": can't get ID of the image '" + disk.value + "'");
                return 1;
            }
            ids.push_back(id);
        }
        return 0;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

int get_template_image_list(const std::string& tpl, std::vector<oneimage>& images)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        std::vector<std::string> ids;
        if (get_simple_template_image_list(tpl, ids) != 0) {
            log_error(prototype + ": can't get simple template image list of: " + tpl);
            return 1;
        }
        for (const std::string& id : ids) {
            oneimage image;
            if (get_image_attributes(id, image, false) != 0)
                return 1;
            images.push_back(image);
        }
        return 0;
    } catch (const std::exception& e) {
        log_error(prototype + ": exception: " + e.what());
        return 1;
    }
}

}  // namespace hx_opennebula_common

#include "opennebula/template_queries.h"

#include <exception>

#include "common/shell_quote.h"
#include "opennebula/image_lists.h"
#include "opennebula/image_queries.h"
#include "opennebula/layer_log.h"
#include "opennebula/object_ids.h"
#include "opennebula/platform_command.h"

namespace hx_opennebula_common {

namespace {

using kelvomar::quote_style;
using kelvomar::shell_quote;

// Runs `command` (a "onetemplate show ... -x") and reads the text of the
// template's `field` into `value`. 0 on success; 1 after the query's records,
// `missing` when the field is absent, or the exception's record.
int read_template_field(const std::string& prototype, const std::string& command, const char* field,
                        const std::string& missing, std::string& value)
{
    static const xml_query kShow = {failure_form::command_was, "VMTEMPLATE", ": document not parsed successfully",
                                    ": empty document", ": document of the wrong type, root node != VMTEMPLATE"};
    try {
        xml_document doc;
        if (!run_xml_query(prototype, command, kShow, doc))
            return 1;
        xmlNode* node = first_child_element(xmlDocGetRootElement(doc.get()), field);
        if (node == nullptr) {
            log_error(prototype + missing);
            return 1;
        }
        value = element_text(node);
        return 0;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

}  // namespace

int get_template_name(const std::string& id, std::string& name)
{
    return read_template_field(__PRETTY_FUNCTION__, "/usr/bin/onetemplate show " + shell_quote(id) + " -x ", "NAME",
                               ": can't find template name", name);
}

bool does_template_name_exist(const std::string& name)
{
    std::string output;
    return run_command("/usr/bin/onetemplate show " + shell_quote(name, quote_style::always), output) == 0;
}

int get_template_id(const std::string& tpl, std::string& id)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    const std::string missing = ": can't find the ID of the template: " + tpl;
    std::string found;
    if (read_template_field(prototype, "/usr/bin/onetemplate show " + shell_quote(tpl, quote_style::always) + " -x",
                            "ID", missing, found) != 0)
        return 1;
    if (!is_object_id(found)) {
        log_error(prototype + missing);
        return 1;
    }
    id = found;
    return 0;
}

std::vector<std::string> template_ids_named(xmlNode* pool, const std::string& name)
{
    std::vector<std::string> ids;
    for_each_child_element(pool, "VMTEMPLATE", [&](xmlNode* tpl) {
        xmlNode* id = first_child_element(tpl, "ID");
        xmlNode* own = first_child_element(tpl, "NAME");
        if (id != nullptr && own != nullptr && element_text(own) == name)
            ids.push_back(element_text(id));
    });
    return ids;
}

namespace {

const xml_query kTemplatePool = {failure_form::command_was, "VMTEMPLATE_POOL", ": document not parsed successfully",
                                 ": empty document", ": document of the wrong type, root node != VMTEMPLATE_POOL"};

}  // namespace

int get_template_pool(std::vector<pool_object>& objects)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        xml_document doc;
        if (!run_xml_query(prototype, "/usr/bin/onetemplate list -x", kTemplatePool, doc))
            return 1;
        const std::vector<pool_object> found = pool_objects(xmlDocGetRootElement(doc.get()), "VMTEMPLATE");
        objects.insert(objects.end(), found.begin(), found.end());
        return 0;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

int get_template_ids_by_name(const std::string& name, std::vector<std::string>& ids)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        xml_document doc;
        if (!run_xml_query(prototype, "/usr/bin/onetemplate list -x", kTemplatePool, doc))
            return 1;
        const std::vector<std::string> named = template_ids_named(xmlDocGetRootElement(doc.get()), name);
        ids.insert(ids.end(), named.begin(), named.end());
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

std::vector<template_disk_image> disk_images_of_template(xmlNode* tmpl)
{
    std::vector<template_disk_image> disks;
    std::size_t index = 0;
    for_each_child_element(tmpl, "DISK", [&disks, &index](xmlNode* disk) {
        if (xmlNode* id = first_child_element(disk, "IMAGE_ID")) {
            disks.push_back({true, element_text(id), nullptr, std::string(), index});
        } else if (xmlNode* image = first_child_element(disk, "IMAGE")) {
            template_disk_image reference{false, element_text(image), nullptr, std::string(), index};
            if (xmlNode* uname = first_child_element(disk, "IMAGE_UNAME")) {
                reference.owner_field = "UNAME";
                reference.owner = element_text(uname);
            } else if (xmlNode* uid = first_child_element(disk, "IMAGE_UID")) {
                reference.owner_field = "UID";
                reference.owner = element_text(uid);
            }
            disks.push_back(reference);
        }
        ++index;
    });
    return disks;
}

std::vector<template_disk_image> template_disk_images(xmlNode* root)
{
    std::vector<template_disk_image> disks;
    for_each_child_element(root, "TEMPLATE", [&disks](xmlNode* tpl) {
        const std::vector<template_disk_image> more = disk_images_of_template(tpl);
        disks.insert(disks.end(), more.begin(), more.end());
    });
    return disks;
}

int disk_image_ids(const std::string& prototype, const std::vector<template_disk_image>& disks,
                   std::vector<std::string>& ids)
{
    // One entry per disk, in disk order: a disk named by its image's name gets
    // that image's ID in its own place. A name is unique only per owner: with
    // the owner given, it is looked up among that owner's images.
    for (const template_disk_image& disk : disks) {
        std::string id = disk.value;
        const int result = disk.by_id                  ? 0
                           : disk.owner_field != nullptr ? get_owned_image_id(disk.value, disk.owner_field, disk.owner, id)
                                                         : get_image_id(disk.value, id);
        if (result != 0) {
            log_error(prototype + ": can't get ID of the image '" + disk.value + "'");
            return 1;
        }
        ids.push_back(id);
    }
    return 0;
}

namespace {

// The DISK image references of template `tpl`, read by "onetemplate show -x"
// (records after `prototype`); false after the query's records.
bool read_disk_images(const std::string& prototype, const std::string& tpl, std::vector<template_disk_image>& disks)
{
    static const xml_query kShow = {failure_form::command_was, "VMTEMPLATE", ": document not parsed successfully",
                                    ": empty document", ": document of the wrong type, root node != VMTEMPLATE: "};
    xml_document doc;
    if (!run_xml_query(prototype, "/usr/bin/onetemplate show " + shell_quote(tpl, quote_style::always) + " -x ", kShow,
                       doc))
        return false;
    const std::vector<template_disk_image> found = template_disk_images(xmlDocGetRootElement(doc.get()));
    disks.insert(disks.end(), found.begin(), found.end());
    return true;
}

}  // namespace

int get_template_disk_images(const std::string& tpl, std::vector<template_disk_image>& disks)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        return read_disk_images(prototype, tpl, disks) ? 0 : 1;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

int get_simple_template_image_list(const std::string& tpl, std::vector<std::string>& ids)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        std::vector<template_disk_image> disks;
        if (!read_disk_images(prototype, tpl, disks))
            return 1;
        return disk_image_ids(prototype, disks, ids);
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
            // Images without data (a CD-ROM disk) belong to the template too: they are described, unsigned.
            oneimage image;
            if (get_image_description(id, image, false) != 0)
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

#include "opennebula/template_xml_files.h"

#include <exception>

#include "common/shell_quote.h"
#include "opennebula/image_queries.h"
#include "opennebula/layer_log.h"
#include "opennebula/platform_command.h"
#include "opennebula/template_queries.h"

namespace hx_opennebula_common {

namespace {

// Opens a saved file whose root must be `root`; the failures name the file.
bool open_xml_file(const std::string& prototype, const std::string& file, const char* root, const char* empty,
                   xml_document& doc)
{
    doc = parse_xml_file(file);
    if (!doc) {
        log_error(prototype + ": document not parsed successfully: " + file);
        return false;
    }
    xmlNode* top = xmlDocGetRootElement(doc.get());
    if (top == nullptr) {
        doc.reset();
        log_error(prototype + empty + file);
        return false;
    }
    if (!is_element(top, root)) {
        doc.reset();
        log_error(prototype + ": document of the wrong type, root node != " + root + ": " + file);
        return false;
    }
    return true;
}

bool save_or_log(const std::string& prototype, xmlDoc* doc, const std::string& file)
{
    if (save_document(doc, file) == -1) {
        log_error(prototype + ": can't save: " + file);
        return false;
    }
    return true;
}

// Rewrites one DISK: each IMAGE_ID met before the first IMAGE is replaced by
// IMAGE (the image's name) and IMAGE_UNAME (the image's owner, who need not
// own the template), appended at the DISK's end.
int rewrite_disk(const std::string& prototype, xmlNode* disk, const image_name_lookup& lookup)
{
    xmlNode* child = disk->children;
    while (child != nullptr) {
        if (is_element(child, "IMAGE"))
            break;
        xmlNode* next = child->next;
        if (is_element(child, "IMAGE_ID")) {
            const std::string id = element_text(child);
            std::string name;
            std::string owner;
            if (lookup(id, name, owner) != 0)
                return 1;
            remove_element(child);
            if (append_text_child(disk, "IMAGE", name) == nullptr) {
                log_error(prototype + ": can't change image ID to image name in XML structure");
                return 1;
            }
            log_info("Change image ID: " + id + " to image name: " + name + " in XML template file");
            if (append_text_child(disk, "IMAGE_UNAME", owner) == nullptr) {
                log_error(prototype + ": can't add IMAGE_UNAME to XML structure");
                return 1;
            }
            log_info("Add IMAGE_UNAME : " + owner + " to XML template file");
        }
        child = next;
    }
    return 0;
}

}  // namespace

int build_template_file_document(const std::string& prototype, const std::string& tpl, xmlDoc* doc,
                                 const std::string& new_name, const image_name_lookup& lookup)
{
    xmlNode* root = xmlDocGetRootElement(doc);
    std::string template_name;
    xmlNode* tmpl = nullptr;
    for (xmlNode* child = root->children; child != nullptr; child = child->next) {
        if (is_element(child, "TEMPLATE")) {
            tmpl = child;
            break;
        }
        if (is_element(child, "NAME"))
            template_name += element_text(child);
    }
    if (tmpl == nullptr) {
        // Without its TEMPLATE there is nothing a restore could re-create: no file must pass for a backup of it.
        log_error(prototype + ": no TEMPLATE element in the description of template: " + tpl);
        return 1;
    }
    xmlNode* disk = tmpl->children;
    while (disk != nullptr) {
        xmlNode* next = disk->next;
        if (is_element(disk, "DISK") && rewrite_disk(prototype, disk, lookup) != 0)
            return 1;
        disk = next;
    }
    xmlNode* former = xmlDocSetRootElement(doc, tmpl);
    if (former != nullptr)
        xmlFreeNode(former);

    const std::string restore_name = new_name.empty() ? template_name : new_name;
    log_info("Template will be restored with the name: " + restore_name);
    if (append_text_child(tmpl, "NAME", restore_name) == nullptr) {
        log_error(prototype + ": can't add template new name in XML structure");
        return 1;
    }
    return 0;
}

int create_template_xml(const std::string& tpl, const std::string& file, const std::string& new_name)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    static const xml_query kShow = {failure_form::command_colon, "VMTEMPLATE", ": document not parsed successfully",
                                    ": empty document: ", ": document of the wrong type, root node != VMTEMPLATE: "};
    try {
        const std::string command =
            "/usr/bin/onetemplate show " + kelvomar::shell_quote(tpl, kelvomar::quote_style::always) + " -x";
        xml_document doc;
        if (!run_xml_query(prototype, command, kShow, doc))
            return 1;
        if (build_template_file_document(prototype, tpl, doc.get(), new_name, get_image_name_and_owner) != 0)
            return 1;
        return save_or_log(prototype, doc.get(), file) ? 0 : 1;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

int change_name_in_template_xml(const std::string& file, const std::string& new_name)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        xml_document doc;
        if (!open_xml_file(prototype, file, "TEMPLATE", ": empty document: ", doc))
            return 1;
        xmlNode* name = first_child_element(xmlDocGetRootElement(doc.get()), "NAME");
        if (name == nullptr) {
            log_error(prototype + ": can't change template name in the file: " + file);
            return 1;
        }
        set_element_text(name, new_name);
        return save_or_log(prototype, doc.get(), file) ? 0 : 1;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

int change_image_name_in_template_xml(const std::string& file, const std::vector<oneimage>& images)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        xml_document doc;
        if (!open_xml_file(prototype, file, "TEMPLATE", ": empty document: ", doc))
            return 1;
        for (xmlNode* disk = xmlDocGetRootElement(doc.get())->children; disk != nullptr; disk = disk->next) {
            if (!is_element(disk, "DISK"))
                continue;
            for (xmlNode* image = disk->children; image != nullptr; image = image->next) {
                if (!is_element(image, "IMAGE"))
                    continue;
                const std::string text = element_text(image);
                bool matched = false;
                for (const oneimage& record : images) {
                    if (record.name == text) {
                        set_element_text(image, record.restore_name);
                        matched = true;
                    }
                }
                if (!matched) {
                    log_error(prototype + ": can't find an image in the archive that corresponds to: " + text);
                    return 1;
                }
            }
        }
        return save_or_log(prototype, doc.get(), file) ? 0 : 1;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

int get_template_name_from_file(const std::string& file, std::string& name)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        xml_document doc;
        if (!open_xml_file(prototype, file, "TEMPLATE", ": empty document: ", doc))
            return 1;
        xmlNode* node = first_child_element(xmlDocGetRootElement(doc.get()), "NAME");
        if (node == nullptr) {
            log_error(prototype + ": can't get template name from the file: " + file);
            return 1;
        }
        name = element_text(node);
        return 0;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

int convert_image_xml(const std::string& file)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        xml_document doc;
        if (!open_xml_file(prototype, file, "IMAGE", ": empty document:", doc))
            return 1;
        for_each_child_element(xmlDocGetRootElement(doc.get()), "VMS", remove_element);
        return save_or_log(prototype, doc.get(), file) ? 0 : 1;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

int get_template_file_image_ids(const std::string& file, std::vector<std::string>& ids)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        std::vector<template_disk_image> disks;
        {
            xml_document doc;
            if (!open_xml_file(prototype, file, "TEMPLATE", ": empty document: ", doc))
                return 1;
            disks = disk_images_of_template(xmlDocGetRootElement(doc.get()));
        }
        return disk_image_ids(prototype, disks, ids);
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

}  // namespace hx_opennebula_common

#include <exception>

#include "opennebula/image_queries.h"
#include "opennebula/layer_log.h"
#include "opennebula/platform_command.h"
#include "opennebula/vm_template_files.h"

namespace hx_opennebula_common {

namespace {

// Opens a saved VM template file whose root must be TEMPLATE; the failures name the file.
bool open_vm_file(const std::string& prototype, const std::string& path, xml_document& doc,
                  const char* not_parsed = ": document not parsed successfully: ")
{
    doc = parse_xml_file(path);
    if (!doc) {
        log_error(prototype + not_parsed + path);
        return false;
    }
    xmlNode* root = xmlDocGetRootElement(doc.get());
    if (root == nullptr) {
        doc.reset();
        log_error(prototype + ": empty document: " + path);
        return false;
    }
    if (!is_element(root, "TEMPLATE")) {
        doc.reset();
        log_error(prototype + ": document of the wrong type, root node != TEMPLATE: " + path);
        return false;
    }
    return true;
}

// The readers without an empty-document case: a wrong or missing root is one
// failure, its record without the path.
bool open_vm_file_briefly(const std::string& prototype, const std::string& path, xml_document& doc)
{
    doc = parse_xml_file(path);
    if (!doc) {
        log_error(prototype + ": document not parsed successfully: " + path);
        return false;
    }
    if (!is_element(xmlDocGetRootElement(doc.get()), "TEMPLATE")) {
        doc.reset();
        log_error(prototype + ": document of the wrong type, root node != TEMPLATE ");
        return false;
    }
    return true;
}

int save_or_log(const std::string& prototype, xmlDoc* doc, const std::string& path)
{
    if (save_document(doc, path) == -1) {
        log_error(prototype + ": can't save: " + path);
        return 1;
    }
    return 0;
}

// Calls `visit` with every child named `name` of every top-level DISK, in document order.
template <typename Visit>
void for_each_disk_child(xmlNode* root, const char* name, Visit visit)
{
    for_each_child_element(root, "DISK", [&](xmlNode* disk) { for_each_child_element(disk, name, visit); });
}

}  // namespace

int change_name_in_VM_xml(const std::string& path, const std::string& new_name)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    xml_document doc;
    if (!open_vm_file(prototype, path, doc))
        return 1;
    xmlNode* name = first_child_element(xmlDocGetRootElement(doc.get()), "NAME");
    if (name == nullptr) {
        log_error(prototype + ": can't change VM name in XML file " + path);
        return 1;
    }
    set_element_text(name, new_name);
    return save_or_log(prototype, doc.get(), path);
}

int remove_cdrom_from_VM_xml(const std::string& path)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    xml_document doc;
    if (!open_vm_file(prototype, path, doc))
        return 1;
    for_each_child_element(xmlDocGetRootElement(doc.get()), "DISK", [](xmlNode* disk) {
        bool cdrom = false;
        for_each_child_element(disk, "TYPE", [&cdrom](xmlNode* type) {
            const std::string text = element_text(type);
            cdrom = cdrom || text == "CDROM" || text == "RBD_CDROM";
        });
        if (cdrom)
            remove_element(disk);
    });
    return save_or_log(prototype, doc.get(), path);
}

int change_image_in_VM_xml(const std::string& path, const std::string& old_image, const std::string& new_image,
                           const std::string& old_id, const std::string& new_id)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    xml_document doc;
    if (!open_vm_file(prototype, path, doc, ": Document not parsed successfully: "))
        return 1;
    bool changed = false;
    xmlNode* root = xmlDocGetRootElement(doc.get());
    for_each_disk_child(root, "IMAGE", [&](xmlNode* image) {
        if (element_text(image) == old_image) {
            set_element_text(image, new_image);
            changed = true;
        }
    });
    for_each_disk_child(root, "IMAGE_ID", [&](xmlNode* id) {
        if (element_text(id) == old_id) {
            set_element_text(id, new_id);
            changed = true;
        }
    });
    if (!changed) {
        log_error(prototype + ": can't find records to change: " + path);
        return 1;
    }
    return save_or_log(prototype, doc.get(), path);
}

int get_VM_image_ID_list_from_xml(const std::string& path, std::vector<std::string>& ids)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    ids.clear();
    xml_document doc;
    if (!open_vm_file(prototype, path, doc))
        return 1;
    for_each_disk_child(xmlDocGetRootElement(doc.get()), "IMAGE_ID",
                        [&ids](xmlNode* id) { ids.push_back(element_text(id)); });
    return 0;
}

int get_VM_image_list_from_xml(const std::string& path, std::vector<oneimage>& images)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    images.clear();
    std::vector<std::string> ids;
    {
        xml_document doc;
        if (!open_vm_file(prototype, path, doc))
            return 1;
        for_each_disk_child(xmlDocGetRootElement(doc.get()), "IMAGE_ID",
                            [&ids](xmlNode* id) { ids.push_back(element_text(id)); });
    }
    try {
        for (const std::string& id : ids) {
            oneimage image;
            if (get_image_attributes(id, image, false) != 0)
                return 1;
            images.push_back(image);
        }
    } catch (const std::exception& e) {
        // A malformed number in an image's description ends the list like any other failure.
        log_error(prototype + ": " + e.what());
        return 1;
    }
    return 0;
}

int get_VM_name_from_file(const std::string& path, std::string& name)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    xml_document doc;
    if (!open_vm_file(prototype, path, doc))
        return 1;
    xmlNode* node = first_child_element(xmlDocGetRootElement(doc.get()), "NAME");
    if (node == nullptr) {
        log_error(prototype + ": can't get VM name from file: " + path);
        return 1;
    }
    name = element_text(node);
    return 0;
}

int get_total_vm_disks_size_mb(const std::string& path, unsigned int& total)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    total = 0;
    xml_document doc;
    if (!open_vm_file_briefly(prototype, path, doc))
        return 1;
    for_each_child_element(xmlDocGetRootElement(doc.get()), "DISK", [&total](xmlNode* disk) {
        xmlNode* type = first_child_element(disk, "TYPE");
        const std::string text = type == nullptr ? std::string() : element_text(type);
        if (text == "fs" || text == "CDROM")
            return;
        for_each_child_element(disk, "SIZE", [&total](xmlNode* size) {
            total += static_cast<unsigned int>(std::stoi(element_text(size)));  // a malformed number reaches the caller
        });
    });
    return 0;
}

TM_MAD_TYPE get_vm_tm_mad_type(const std::string& path)
{
    // The driver type is named as the layer's callers know it, without its namespace.
    const std::string prototype = "TM_MAD_TYPE hx_opennebula_common::get_vm_tm_mad_type(const std::string&)";
    xml_document doc;
    if (!open_vm_file_briefly(prototype, path, doc))
        return TM_MAD_NONE;
    for (xmlNode* child = xmlDocGetRootElement(doc.get())->children; child != nullptr; child = child->next) {
        if (!is_element(child, "TM_MAD_SYSTEM"))
            continue;
        const std::string text = element_text(child);
        for (const auto& entry : TM_MAD_TYPE_STR)
            if (entry.second == text)
                return entry.first;
    }
    return TM_MAD_NONE;
}

}  // namespace hx_opennebula_common

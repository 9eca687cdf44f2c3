#include "opennebula/vm_document_readers.h"

#include "opennebula/xml_access.h"

namespace hx_opennebula_common {

void read_vm_state(xmlNode* vm_root, opennebula_vm_state& state)
{
    for (xmlNode* child = vm_root->children; child != nullptr; child = child->next) {
        if (is_element(child, "STATE"))
            state.state = std::stoi(element_text(child));
        else if (is_element(child, "LCM_STATE"))
            state.lcm_state = std::stoi(element_text(child));
    }
}

std::vector<std::string> vm_pool_names(xmlNode* pool_root)
{
    std::vector<std::string> names;
    for_each_child_element(pool_root, "VM", [&names](xmlNode* vm) {
        for_each_child_element(vm, "NAME", [&names](xmlNode* name) { names.push_back(element_text(name)); });
    });
    return names;
}

bool find_vm_host(xmlNode* pool_root, const std::string& vm, std::string& host)
{
    for (xmlNode* entry = pool_root->children; entry != nullptr; entry = entry->next) {
        if (!is_element(entry, "HOST"))
            continue;
        // The name belongs to this host only: a host without NAME never inherits the previous one's.
        std::string name;
        for (xmlNode* child = entry->children; child != nullptr; child = child->next) {
            if (is_element(child, "NAME")) {
                name = element_text(child);
            } else if (is_element(child, "VMS")) {
                for (xmlNode* id = child->children; id != nullptr; id = id->next) {
                    if (is_element(id, "ID") && element_text(id) == vm) {
                        host = name;
                        return true;
                    }
                }
            }
        }
    }
    return false;
}

bool find_host_id_by_hostname(xmlNode* pool_root, const std::string& hostname, std::string& id)
{
    for (xmlNode* entry = pool_root->children; entry != nullptr; entry = entry->next) {
        if (!is_element(entry, "HOST"))
            continue;
        xmlNode* host_id = first_child_element(entry, "ID");
        if (host_id != nullptr)
            id = element_text(host_id);
        for (xmlNode* tmpl = entry->children; tmpl != nullptr; tmpl = tmpl->next) {
            if (!is_element(tmpl, "TEMPLATE"))
                continue;
            for (xmlNode* name = tmpl->children; name != nullptr; name = name->next)
                if (is_element(name, "HOSTNAME") && element_text(name) == hostname)
                    return true;
        }
    }
    id.clear();
    return false;
}

bool find_eth0_mac(xmlNode* vm_root, std::string& mac)
{
    for (xmlNode* tmpl = vm_root->children; tmpl != nullptr; tmpl = tmpl->next) {
        if (!is_element(tmpl, "TEMPLATE"))
            continue;
        for (xmlNode* context = tmpl->children; context != nullptr; context = context->next) {
            if (!is_element(context, "CONTEXT"))
                continue;
            xmlNode* node = first_child_element(context, "ETH0_MAC");
            if (node != nullptr) {
                mac = element_text(node);
                return true;
            }
        }
    }
    return false;
}

bool vm_document_shows_lock(xmlNode* vm_root)
{
    xmlNode* lock = first_child_element(vm_root, "LOCK");
    return lock != nullptr && first_child_element(lock, "LOCKED") != nullptr;
}

xmlNode* vm_disk_with_target(xmlNode* vm_root, const std::string& target)
{
    for (xmlNode* tmpl = vm_root->children; tmpl != nullptr; tmpl = tmpl->next) {
        if (!is_element(tmpl, "TEMPLATE"))
            continue;
        for (xmlNode* disk = tmpl->children; disk != nullptr; disk = disk->next) {
            if (!is_element(disk, "DISK"))
                continue;
            for (xmlNode* child = disk->children; child != nullptr; child = child->next)
                if (is_element(child, "TARGET") && element_text(child) == target)
                    return disk;
        }
    }
    return nullptr;
}

void clean_vm_template(xmlNode* tmpl)
{
    xmlNode* child = tmpl->children;
    while (child != nullptr) {
        xmlNode* next = child->next;
        if (is_element(child, "DISK")) {
            xmlNode* type = first_child_element(child, "TYPE");
            if (type != nullptr && element_text(type) == "fs")
                remove_element(child);
        } else if (is_element(child, "GRAPHICS")) {
            for_each_child_element(child, "PORT", [](xmlNode* port) { remove_element(port); });
        } else if (is_element(child, "OS")) {
            for_each_child_element(child, "BOOT", [](xmlNode* boot) {
                if (element_text(boot) != "disk0")
                    remove_element(boot);
            });
        } else if (is_element(child, "NIC")) {
            for (const char* address : {"MAC", "IP", "IP6_GLOBAL", "IP6_LINK"}) {
                xmlNode* node = first_child_element(child, address);
                if (node != nullptr)
                    remove_element(node);
            }
        }
        child = next;
    }
}

}  // namespace hx_opennebula_common

#include "opennebula/vm_template_files.h"

#include <exception>

#include "opennebula/layer_log.h"
#include "opennebula/platform_command.h"
#include "opennebula/vm_document_readers.h"
#include "opennebula/vm_show.h"

namespace hx_opennebula_common {

int create_vm_xml(const std::string& vm, const std::string& path, const std::string& new_name)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        xml_document doc;
        if (!read_vm_show(prototype, vm, kVmShowDocument, doc))
            return 1;
        xmlNode* root = xmlDocGetRootElement(doc.get());
        std::string vm_name;
        xmlNode* tmpl = nullptr;
        for (xmlNode* child = root->children; child != nullptr; child = child->next) {
            if (is_element(child, "TEMPLATE")) {
                tmpl = child;
                break;
            }
            if (is_element(child, "ID"))
                log_info("Virtual machine ID: " + element_text(child));
            else if (is_element(child, "NAME"))
                vm_name += element_text(child);
        }
        if (tmpl == nullptr) {
            // Without its TEMPLATE nothing could re-create the VM: no file must pass for a backup of it.
            log_error(prototype + ": no TEMPLATE element in the description of VM: " + vm);
            return 1;
        }
        clean_vm_template(tmpl);
        xmlNode* former = xmlDocSetRootElement(doc.get(), tmpl);
        if (former != nullptr)
            xmlFreeNode(former);

        const std::string restore_name = new_name.empty() ? vm_name : new_name;
        log_info("VM will be restored with the name: " + restore_name);
        if (append_text_child(tmpl, "NAME", restore_name) == nullptr) {
            log_error(prototype + ": can't add template new name in XML structure");
            return 1;
        }
        if (save_document(doc.get(), path) == -1) {
            log_error(prototype + ": can't save: " + path);
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

}  // namespace hx_opennebula_common

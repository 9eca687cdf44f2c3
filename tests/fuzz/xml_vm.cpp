// "onevm show -x": state, host placement, lock, disks and the VM's template.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "opennebula/vm_disk_discovery.h"
#include "opennebula/vm_document_readers.h"
#include "tests/fuzz/platform_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hx_opennebula_common;
    xml_document doc = kevra_fuzz::platform_document(data, size, "VM");
    if (!doc) {
        return 0;
    }
    xmlNode* root = xmlDocGetRootElement(doc.get());
    opennebula_vm_state state;
    try {
        read_vm_state(root, state);
    } catch (const std::exception&) {
        // a state that is not a number reaches the query's caller
    }
    std::string mac;
    find_eth0_mac(root, mac);
    (void)vm_document_shows_lock(root);
    (void)vm_disk_with_target(root, "vda");
    for_each_child_element(root, "TEMPLATE", [&doc](xmlNode* tpl) {
        for_each_child_element(tpl, "DISK", [&doc](xmlNode* disk) {
            opennebula_device_info device;
            try {
                get_temporary_disk_info(doc.get(), disk, device);
            } catch (const std::exception&) {
                // a SIZE that is not a number reaches the caller
            }
        });
        clean_vm_template(tpl);
    });
    return 0;
}

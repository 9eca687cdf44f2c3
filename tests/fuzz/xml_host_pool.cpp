// "onehost list -x": the host of a VM and the host ID of a host name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "opennebula/vm_document_readers.h"
#include "tests/fuzz/platform_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hx_opennebula_common;
    xml_document doc = kevra_fuzz::platform_document(data, size, "HOST_POOL", true);
    if (!doc) {
        return 0;
    }
    xmlNode* root = xmlDocGetRootElement(doc.get());
    std::string host;
    find_vm_host(root, "0", host);
    std::string id;
    find_host_id_by_hostname(root, "host0", id);
    return 0;
}

// "onevm list -x": the names of the VM pool.
#include <cstddef>
#include <cstdint>

#include "opennebula/vm_document_readers.h"
#include "tests/fuzz/platform_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hx_opennebula_common;
    xml_document doc = kevra_fuzz::platform_document(data, size, "VM_POOL", true);
    if (doc) {
        (void)vm_pool_names(xmlDocGetRootElement(doc.get()));
    }
    return 0;
}

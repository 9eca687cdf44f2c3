#include "opennebula/vm_device_records.h"

namespace hx_opennebula_common {

std::uint64_t disk_size_bytes(const std::string& megabytes)
{
    return static_cast<std::uint64_t>(std::stoull(megabytes, nullptr, 0)) << 20;
}

}  // namespace hx_opennebula_common

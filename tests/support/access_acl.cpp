#include "tests/support/access_acl.h"

#include <sys/xattr.h>

#include <vector>

namespace kevra_test {

bool give_acl_entry(const std::string& path, uid_t uid, std::uint16_t perm)
{
    const std::uint32_t undefined = 0xffffffffu;
    struct Entry {
        std::uint16_t tag;
        std::uint16_t perm;
        std::uint32_t id;
    };
    // In the order of their tags: the owner, a named user, the group, the mask, others.
    const Entry entries[] = {{0x01, 7, undefined}, {0x02, perm, static_cast<std::uint32_t>(uid)},
                             {0x04, 0, undefined}, {0x10, perm, undefined}, {0x20, 0, undefined}};
    std::vector<unsigned char> value;
    const auto put = [&value](std::uint32_t number, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            value.push_back(static_cast<unsigned char>((number >> (8 * i)) & 0xff));
        }
    };
    put(2, 4);  // the version of the attribute's format, little-endian as every field
    for (const Entry& entry : entries) {
        put(entry.tag, 2);
        put(entry.perm, 2);
        put(entry.id, 4);
    }
    return ::lsetxattr(path.c_str(), "system.posix_acl_access", value.data(), value.size(), 0) == 0;
}

}  // namespace kevra_test

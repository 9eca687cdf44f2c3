// tar's two listings of a snapshot file (the names, a NUL byte, the long
// listing) paired into members, and each member checked for unpacking.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "modules/snapshot_members.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input = kevra_fuzz::input_text(data, size);
    const std::string::size_type cut = input.find('\0');
    const std::string names = input.substr(0, cut);
    const std::string long_listing = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    std::vector<kelvomar::module::snapshot_member> members;
    if (!kelvomar::module::read_snapshot_listing(names, long_listing, members)) {
        return 0;
    }
    for (const kelvomar::module::snapshot_member& member : members) {
        (void)kelvomar::module::snapshot_member_refusal(member);
    }
    return 0;
}

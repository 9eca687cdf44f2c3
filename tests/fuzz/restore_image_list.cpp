// The archive's image list as a restore reads it back: each line normalised,
// the clone name line, comments, and the image records with their restore names.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <sstream>
#include <string>

#include "opennebula/image_record.h"
#include "opennebula/platform_types.h"
#include "template_module/restore_rules.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream in(kevra_fuzz::input_text(data, size));
    std::string clone_name;
    for (std::string raw; std::getline(in, raw);) {
        const std::string line = kevra_template::normalised_list_line(raw);
        if (!kevra_template::is_image_list_record(line, clone_name)) {
            continue;
        }
        hx_opennebula_common::oneimage image;
        try {
            if (kevra_template::read_image_list_fields(line, image) < 2) {
                continue;
            }
        } catch (const std::exception&) {
            return 0;  // a type that is not a number ends the restore
        }
        (void)kevra_template::restore_image_name("restored", image.name, clone_name);
        (void)kevra_template::name_suffix(image.name, clone_name);
        (void)hx_opennebula_common::disk_type_has_data(image.disk_type);
        (void)kevra_template::restored_persistent(false, image.persistent);
    }
    return 0;
}

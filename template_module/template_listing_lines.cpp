// The "ID|NAME" lines of the template listing.
#include "template_module/template_listing_lines.h"

#include "common/one_line_text.h"
#include "opennebula/xml_access.h"

namespace kevra_template {

std::string template_listing_lines(xmlNode* pool)
{
    using namespace hx_opennebula_common;
    std::string lines;
    for_each_child_element(pool, "VMTEMPLATE", [&lines](xmlNode* node) {
        lines += kelvomar::line_breaks_escaped(joined_child_texts(node, "ID")) + "|" +
                 kelvomar::line_breaks_escaped(joined_child_texts(node, "NAME")) + "\n";
    });
    return lines;
}

}  // namespace kevra_template

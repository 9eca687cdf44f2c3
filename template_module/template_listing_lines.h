#ifndef KEVRA_TEMPLATE_MODULE_TEMPLATE_LISTING_LINES_H
#define KEVRA_TEMPLATE_MODULE_TEMPLATE_LISTING_LINES_H

// The lines of the template listing, made from the platform's template pool.

#include <libxml/tree.h>

#include <string>

namespace kevra_template {

// One "ID|NAME" line per VMTEMPLATE of a parsed VMTEMPLATE_POOL, each ended by
// a line feed. The texts are printed as the platform holds them, with only
// their line breaks escaped (kelvomar::line_breaks_escaped): a name that holds
// a line break still stays on its own line, and a name with a tab or a
// backslash reads back as itself.
std::string template_listing_lines(xmlNode* pool);

}  // namespace kevra_template

#endif

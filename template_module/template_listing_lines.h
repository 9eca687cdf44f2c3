#ifndef KEVRA_TEMPLATE_MODULE_TEMPLATE_LISTING_LINES_H
#define KEVRA_TEMPLATE_MODULE_TEMPLATE_LISTING_LINES_H

// The lines of the template listing, made from the platform's template pool.

#include <libxml/tree.h>

#include <string>

namespace kevra_template {

// One "ID|NAME" line per VMTEMPLATE of a parsed VMTEMPLATE_POOL, each ended by
// a line feed; control characters of the texts are escaped, so a name that
// holds a line break still stays on its own line.
std::string template_listing_lines(xmlNode* pool);

}  // namespace kevra_template

#endif

#ifndef KEVRA_TEMPLATE_MODULE_CLIENT_CHECK_H
#define KEVRA_TEMPLATE_MODULE_CLIENT_CHECK_H
// The host check as the listings and the restore preparation run it: quietly,
// with one Error record when the host does not qualify.

#include <string>

#include "template_module/hx_module_kevra_template.h"

namespace kevra_template {

// module.check_client(false): 0 when the module can run on this host; else its
// code, after the Error record "<signature>: unable to run the module on this
// client. Reason: <code>". Throws what check_client throws.
int checked_client(HxModuleKevraTemplate& module, const std::string& signature);

}  // namespace kevra_template

#endif

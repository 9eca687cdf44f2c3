#include "template_module/client_check.h"

#include "common/hx_logger.h"

namespace kevra_template {

int checked_client(HxModuleKevraTemplate& module, const std::string& signature)
{
    const int code = module.check_client(false);
    if (code != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": unable to run the module on this client. "
                                     << "Reason: " << code << std::endl;
    }
    return code;
}

}  // namespace kevra_template

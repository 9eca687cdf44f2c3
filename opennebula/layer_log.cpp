#include "opennebula/layer_log.h"

#include <ostream>

#include "common/hx_logger.h"
#include "common/quoting.h"

namespace hx_opennebula_common {

void log_error(const std::string& text)
{
    HxLogStream(HxLogLvl::Error) << text << std::endl;
}

void log_warning(const std::string& text)
{
    HxLogStream(HxLogLvl::Warning) << text << std::endl;
}

void log_info(const std::string& text)
{
    HxLogStream(HxLogLvl::Info) << text << std::endl;
}

std::string double_quoted(const std::string& text)
{
    return kelvomar::as_quoted(text, '"', '\\');
}

}  // namespace hx_opennebula_common

#include "common/hw_platform.h"

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"

namespace hx_utils_common {

bool get_hw_platform(std::string& output)
{
    const std::string command =
        "dmidecode -t system|grep " + kelvomar::shell_quote("Manufacturer\\|Product", kelvomar::quote_style::always);
    if (execute_command(command, output) == 0) {
        return true;
    }
    HxLogStream(HxLogLvl::Error) << "bool hx_utils_common::get_hw_platform(std::string&)"
                                 << ": the following command produced an error: " << command << "\n"
                                 << std::endl;
    HxLogStream(HxLogLvl::Error) << "command output: " << output << std::endl;
    return false;
}

}  // namespace hx_utils_common

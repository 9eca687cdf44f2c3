#include "template_module/backup_records.h"

#include "common/hx_logger.h"

namespace kevra_template {

const char* const kPrepareSignature =
    "virtual bool HxModuleKevraTemplate::prepare_resource_before_backup(const bool&)";

void log_prepare_error(const std::string& text)
{
    HxLogStream(HxLogLvl::Error) << kPrepareSignature << text << std::endl;
}

void log_failed_command(const std::string& command, const std::string& output)
{
    HxLogStream(HxLogLvl::Error) << "Command was: " << command << std::endl;
    HxLogStream(HxLogLvl::Error) << "Command output: " << output << std::endl;
}

}  // namespace kevra_template

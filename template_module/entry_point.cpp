// Start-up of the template backup module program.
#include "template_module/entry_point.h"

#include <boost/filesystem/path.hpp>

#include "common/hx_logger.h"
#include "template_module/hx_module_kevra_template.h"

namespace kevra_template {

std::string log_file_path(const std::string& program)
{
    return "/opt/kelvomar/log/" + boost::filesystem::path(program).filename().string() + ".log";
}

void install_log_destinations(const std::string& log_file)
{
    HxLogStream::set_default_loggers(HxDestination::File(log_file), HxDestination::Stdout());
    HxLogStream::set_log_level_logger(HxLogLvl::Error, HxDestination::File(log_file), HxDestination::Stderr());
    HxLogStream::set_global_log_level(HxLogLvl::Debug);
}

HxModuleOptions template_module_options()
{
    HxModuleOptions options;
    options.incremental_supported = true;
    options.differential_supported = true;
    options.dedup_supported = true;
    options.archiving_supported = true;
    options.autonomous_supported = false;
    options.one_operation_per_resource = true;
    options.restriction_list_file = "/opt/kelvomar/etc/kelvomar_restriction.list.kevra_template";
    return options;
}

int run_program(int argc, char** argv)
{
    const std::string program = argc > 0 && argv[0] != nullptr ? argv[0] : "kevra_template";
    install_log_destinations(log_file_path(program));

    const HxModuleOptions options = template_module_options();
    HxModuleKevraTemplate module(options);
    if (!module.init(argc, argv)) {
        HxLogStream(HxLogLvl::Error) << "int main(int, char**)" << ": wrong combination of options" << std::endl;
        return 14;
    }
    return static_cast<int>(module.run());
}

}  // namespace kevra_template

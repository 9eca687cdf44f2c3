#ifndef KEVRA_TEMPLATE_MODULE_ENTRY_POINT_H
#define KEVRA_TEMPLATE_MODULE_ENTRY_POINT_H

// The program's start-up, kept out of main so that it can be tested.

#include <string>

#include "modules/hx_module_options.h"

namespace kevra_template {

// "/opt/kelvomar/log/" + the file-name part of `program` + ".log".
std::string log_file_path(const std::string& program);

// Installs the default log destinations (the log file, then standard output;
// for Error the log file, then standard error) and sets the level to Debug
// until the first record reads the logging configuration.
void install_log_destinations(const std::string& log_file);

// A default options record with the template module's properties.
HxModuleOptions template_module_options();

// The whole program: builds the module, runs init and run; returns the exit status.
int run_program(int argc, char** argv);

}  // namespace kevra_template

#endif

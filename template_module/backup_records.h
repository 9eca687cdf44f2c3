#ifndef KEVRA_TEMPLATE_MODULE_BACKUP_RECORDS_H
#define KEVRA_TEMPLATE_MODULE_BACKUP_RECORDS_H

// Log records of the steps of a template backup.

#include <string>

namespace kevra_template {

// The signature that begins every Error record of the backup's preparation.
extern const char* const kPrepareSignature;

// Writes kPrepareSignature + `text` as one Error record.
void log_prepare_error(const std::string& text);

// Writes the two records of a failed command: "Command was: " + `command` and
// "Command output: " + `output`, at Error.
void log_failed_command(const std::string& command, const std::string& output);

}  // namespace kevra_template

#endif

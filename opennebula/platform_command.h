#ifndef KEVRA_OPENNEBULA_PLATFORM_COMMAND_H
#define KEVRA_OPENNEBULA_PLATFORM_COMMAND_H

// The one helper through which the layer runs a platform command line and
// parses the XML document it prints, with the layer's fixed failure records.

#include <string>

#include "opennebula/xml_access.h"

namespace hx_opennebula_common {

// The five fixed record forms of a failed command.
enum class failure_form {
    command = 1,           // ": command " + line; output
    command_was = 2,       // ": command was: " + line; "Command output: " + output
    command_colon = 3,     // ": command: " + line; output
    produced_error = 4,    // ": the following command produced an error: " + line; "Command output: " + output
    line_produced = 5      // ": command " + line + " produced an error"; "Command output: " + output
};

// Logs the two records of `form` for a failed `command` that printed `output`.
void log_command_failure(const std::string& prototype, failure_form form, const std::string& command,
                         const std::string& output);

// Runs `command` through the shell runner into a fresh `output`.
// Returns the command's exit status (0 success); nothing is logged.
int run_command(const std::string& command, std::string& output);

// How one query reads a document: the record form of a failed command, the
// expected root element and the message pieces (each follows the prototype).
// With `not_parsed` null the text goes through parse_xml_document, whose own
// record is followed by `parse_failed` when that is not null.
struct xml_query {
    failure_form form;
    const char* root;
    const char* not_parsed;
    const char* empty;
    const char* wrong_root;
    const char* parse_failed = nullptr;
};

// Runs `command` and parses its output as a document with root `query.root`.
// True with `doc` owning the document; false after logging the failure (command, parse, root).
bool run_xml_query(const std::string& prototype, const std::string& command, const xml_query& query,
                   xml_document& doc);

// Checks an already parsed text: true with `doc` set when it is a document with
// root `query.root`; false after logging as run_xml_query does.
bool accept_xml_output(const std::string& prototype, const std::string& output, const xml_query& query,
                       xml_document& doc);

// Runs a text-printing command line; true with `text` = its output without any
// "\n"; false after logging `form`.
bool run_text_command(const std::string& prototype, const std::string& command, failure_form form,
                      std::string& text);

// `text` with every "\n" removed.
std::string without_newlines(const std::string& text);

}  // namespace hx_opennebula_common

#endif

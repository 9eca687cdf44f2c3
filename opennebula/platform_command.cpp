#include "opennebula/platform_command.h"

#include <algorithm>

#include "common/hx_utils_common.h"
#include "opennebula/layer_log.h"

namespace hx_opennebula_common {

void log_command_failure(const std::string& prototype, failure_form form, const std::string& command,
                         const std::string& output)
{
    switch (form) {
    case failure_form::command:
        log_error(prototype + ": command " + command);
        log_error(output);
        break;
    case failure_form::command_was:
        log_error(prototype + ": command was: " + command);
        log_error("Command output: " + output);
        break;
    case failure_form::command_colon:
        log_error(prototype + ": command: " + command);
        log_error(output);
        break;
    case failure_form::produced_error:
        log_error(prototype + ": the following command produced an error: " + command);
        log_error("Command output: " + output);
        break;
    case failure_form::line_produced:
        log_error(prototype + ": command " + command + " produced an error");
        log_error("Command output: " + output);
        break;
    }
}

int run_command(const std::string& command, std::string& output)
{
    output.clear();
    return hx_utils_common::execute_command(command, output);
}

bool accept_xml_output(const std::string& prototype, const std::string& output, const xml_query& query,
                       xml_document& doc)
{
    if (query.not_parsed == nullptr) {
        xmlDoc* raw = nullptr;
        if (parse_xml_document(output, raw) != 0) {
            if (query.parse_failed != nullptr)
                log_error(prototype + query.parse_failed);
            return false;
        }
        doc.reset(raw);
    } else {
        doc = parse_xml_text(output);
        if (!doc) {
            log_error(prototype + query.not_parsed);
            return false;
        }
        if (xmlDocGetRootElement(doc.get()) == nullptr) {
            doc.reset();
            log_error(prototype + query.empty);
            return false;
        }
    }
    if (!is_element(xmlDocGetRootElement(doc.get()), query.root)) {
        doc.reset();
        log_error(prototype + query.wrong_root);
        return false;
    }
    return true;
}

bool run_xml_query(const std::string& prototype, const std::string& command, const xml_query& query,
                   xml_document& doc)
{
    std::string output;
    if (run_command(command, output) != 0) {
        log_command_failure(prototype, query.form, command, output);
        return false;
    }
    return accept_xml_output(prototype, output, query, doc);
}

bool run_text_command(const std::string& prototype, const std::string& command, failure_form form,
                      std::string& text)
{
    std::string output;
    if (run_command(command, output) != 0) {
        log_command_failure(prototype, form, command, output);
        return false;
    }
    text = without_newlines(output);
    return true;
}

std::string without_newlines(const std::string& text)
{
    std::string result = text;
    result.erase(std::remove(result.begin(), result.end(), '\n'), result.end());
    return result;
}

}  // namespace hx_opennebula_common

// The template listings that the agent offers for backup: the header labels of
// the platform's template list, and one "ID|NAME" line per template.
#include "template_module/hx_module_kevra_template.h"

#include <iostream>
#include <string>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "opennebula/platform_command.h"
#include "opennebula/xml_access.h"
#include "template_module/client_check.h"
#include "template_module/template_listing_lines.h"
#include "common/output_lines.h"

namespace {

// The first and fourth column of the plain listing's first line, joined by "|".
const char* const kHeaderCommand = "/usr/bin/onetemplate list | awk 'NR==1 {print $1\"|\"$4}'";
const char* const kPoolCommand = "/usr/bin/onetemplate list -x";

}  // namespace

int HxModuleKevraTemplate::list_header_labels()
{
    const std::string signature = __PRETTY_FUNCTION__;
    if (!client_checked_) {
        const int code = kevra_template::checked_client(*this, signature);
        if (code != 0)
            return code;
    }
    std::string output;
    // The pipeline's status is that of awk: a list command that fails prints no
    // header line at all, so an empty answer is a failure too.
    if (hx_utils_common::execute_command(kHeaderCommand, output) != 0 || output.empty()) {
        HxLogStream(HxLogLvl::Error) << signature << ": the following command produced an error: " << kHeaderCommand
                                     << std::endl;
        HxLogStream(HxLogLvl::Error) << "Command output: " << output << std::endl;
        return 2;
    }
    kelvomar::output::write_stdout(output);
    return 0;
}

int HxModuleKevraTemplate::list_all_resources()
{
    return list_all_templates(false);
}

int HxModuleKevraTemplate::list_all_resources_with_header_labels()
{
    return list_all_templates(true);
}

int HxModuleKevraTemplate::list_all_templates(const bool& with_header_labels)
{
    using namespace hx_opennebula_common;
    const std::string signature = __PRETTY_FUNCTION__;
    const int code = kevra_template::checked_client(*this, signature);
    if (code != 0)
        return code;

    std::string output;
    if (hx_utils_common::execute_command(kPoolCommand, output) != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": can't get list of templates" << std::endl;
        HxLogStream(HxLogLvl::Error) << "Command was: " << kPoolCommand << std::endl;
        HxLogStream(HxLogLvl::Error) << "Command output: " << output << std::endl;
        return 2;
    }
    static const xml_query kPool = {failure_form::command, "VMTEMPLATE_POOL", ": XML document not parsed successfully",
                                    ": empty XML document",
                                    ": XML document of the wrong type, root node != VMTEMPLATE_POOL"};
    xml_document doc;
    if (!accept_xml_output(signature, output, kPool, doc)) {
        return 2;
    }

    if (with_header_labels) {
        if (list_header_labels() != 0) {
            HxLogStream(HxLogLvl::Error) << signature << ": can't list resources header labels" << std::endl;
            return 2;
        }
        kelvomar::output::print_line("-----");
    }
    kelvomar::output::write_stdout(kevra_template::template_listing_lines(xmlDocGetRootElement(doc.get())));
    return 0;
}

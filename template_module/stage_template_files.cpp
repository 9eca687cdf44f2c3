// The template's own files in a backup: orig_template.xml (the source
// template) and template.xml (the saved template), written into the staging
// directory and staged for the engine.
#include "template_module/hx_module_kevra_template.h"

#include <boost/filesystem.hpp>

#include <string>

#include "common/hx_logger.h"
#include "opennebula/template_queries.h"
#include "opennebula/template_xml_files.h"
#include "template_module/backup_records.h"
#include "template_module/staged_files.h"

namespace {

// Writes template `tpl`'s file to `path` and stages it under `name`; false after logging.
bool stage_template_file(const std::string& tpl, const std::string& path, const std::string& name,
                         const std::string& new_name, kevra_template::staged_files& files)
{
    // A description without TEMPLATE is "written" as no file at all: the
    // engine would then miss a file of the list, so that is a failure too.
    if (hx_opennebula_common::create_template_xml(tpl, path, new_name) != 0 ||
        !boost::filesystem::is_regular_file(path)) {
        kevra_template::log_prepare_error(": can't create template XML file");
        return false;
    }
    if (!files.add(path, name)) {
        kevra_template::log_prepare_error(": two files would have the same name in the archive: " + name);
        return false;
    }
    return true;
}

}  // namespace

std::string HxModuleKevraTemplate::archive_directory_path() const
{
    return options_.tmp_operation_directory + "/" + options_.archive_name;
}

bool HxModuleKevraTemplate::stage_template_files(kevra_template::staged_files& files)
{
    const std::string& source = options_.resource;
    const std::string directory = archive_directory_path();
    if (!template_conf_.backup_only_config) {
        if (template_conf_.new_name.empty()) {
            std::string name;
            if (hx_opennebula_common::get_template_name(source_template_id_, name) != 0) {
                kevra_template::log_prepare_error(": can't get name of template with ID: " + source);
                return false;
            }
            template_conf_.new_name = name;
        }
        if (!stage_template_file(source_template_id_, directory + "/orig_template.xml", "orig_template.xml",
                                 template_conf_.new_name, files)) {
            return false;
        }
    }
    const std::string& saved = template_conf_.backup_only_config ? source_template_id_ : clone_id_;
    const std::string path = directory + "/template.xml";
    if (!stage_template_file(saved, path, "template.xml", template_conf_.new_name, files)) {
        return false;
    }
    HxLogStream(HxLogLvl::Info) << "Template configuration was captured here: " << path << std::endl;
    return true;
}

// One image of a template backup: its XML description in the snapshot
// directory and its data (the image's file or block device, or a Ceph image
// exported into the staging directory), each staged under the image's stem.
#include "template_module/hx_module_kevra_template.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/new_paths.h"
#include "common/shell_quote.h"
#include "opennebula/template_xml_files.h"
#include "template_module/backup_records.h"
#include "template_module/backup_rules.h"
#include "template_module/image_data_file.h"
#include "template_module/staged_files.h"

namespace {

using kelvomar::quote_style;
using kelvomar::shell_quote;

std::string file_content(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void log_command_code(const std::string& command, int status, const std::string& output)
{
    kevra_template::log_prepare_error(": command '" + command + "' returned code: " + std::to_string(status));
    HxLogStream(HxLogLvl::Error) << "Command output: " << output << std::endl;
}

bool name_is_free(const kevra_template::staged_files& files, const std::string& name)
{
    if (files.has_name(name)) {
        kevra_template::log_prepare_error(": two files of the template would have the same name in the archive: " +
                                          name);
        return false;
    }
    return true;
}

}  // namespace

bool HxModuleKevraTemplate::stage_image(const hx_opennebula_common::oneimage& image, const bool& replica,
                                        kevra_template::staged_files& files)
{
    using namespace hx_opennebula_common;
    const std::string stem = kevra_template::image_file_stem(image, options_.archive_name);
    if (!kevra_template::is_plain_file_name(stem)) {
        kevra_template::log_prepare_error(": the image " + image.id + " can't be archived under the file name '" +
                                          stem + "'");
        return false;
    }
    const bool with_data = !template_conf_.backup_only_config && hx_opennebula_common::disk_type_has_data(image.disk_type);
    const std::string xml_name = stem + ".xml";
    if (!name_is_free(files, xml_name) || (with_data && !name_is_free(files, stem))) {
        return false;
    }

    // Each description is written afresh into a new file, which then replaces
    // an older file of that name; a link standing there is refused.
    const std::string xml_path = snapshot_directory_path() + "/" + xml_name;
    int error = kelvomar::new_paths::check_replaceable(xml_path);
    kelvomar::new_paths::new_file description(xml_path);
    if (error == 0) {
        error = description.error();
    }
    if (error != 0) {
        kevra_template::log_prepare_error(": can't write the image description " +
                                          kelvomar::new_paths::new_paths_error(xml_path, error));
        return false;
    }
    const std::string show = "/usr/bin/oneimage show " + shell_quote(image.id, quote_style::always) + " -x > " +
                             shell_quote(description.descriptor_path());
    std::string output;
    const int status = hx_utils_common::execute_command(show, output);
    if (status != 0) {
        // The command's messages went into the file.
        log_command_code(show, status, output + file_content(description.path()));
        return false;
    }
    if (convert_image_xml(description.path()) != 0) {
        kevra_template::log_prepare_error(": can't convert image XML");
        return false;
    }
    if ((error = description.commit()) != 0) {
        kevra_template::log_prepare_error(": can't write the image description " +
                                          kelvomar::new_paths::new_paths_error(xml_path, error));
        return false;
    }
    files.add(xml_path, xml_name);
    if (template_conf_.backup_only_config) {
        return true;
    }

    HxLogStream(HxLogLvl::Info) << "Required to backup the image path: " << image.source << std::endl;
    if (image.disk_type == DISK_TYPE_FILE || image.disk_type == DISK_TYPE_BLOCK) {
        // The engine reads the data by its path: only a file or device that
        // stands there itself, no link that the platform's service account
        // could have put at SOURCE or on the way to it.
        kelvomar::untrusted_files::descriptor data;
        struct stat status {};
        std::string refusal;
        if (!kevra_template::open_image_data(image, O_RDONLY, data, status, refusal)) {
            kevra_template::log_prepare_error(": the data of the image " + image.id + " can't be archived: " +
                                              refusal + "; a backup reads only a regular file or block device "
                                              "reached without a symbolic link that another user can change");
            return false;
        }
        files.add(image.printed_source.empty() ? image.source : image.printed_source, stem);
        return true;
    }
    if (image.disk_type != DISK_TYPE_RBD) {
        return true;
    }
    if (replica) {
        kevra_template::log_prepare_error(std::string(": RADOS block device is not supported ") +
                                          "for Kelvomar remote replication");
        return false;
    }
    const std::string directory = archive_directory_path();
    const unsigned long long size = image.size;
    if (!hx_utils_common::check_free_space(directory, size)) {
        kevra_template::log_prepare_error(": there is not enough free space in: " + directory);
        return false;
    }
    const std::string exported = directory + "/" + stem;
    const std::string command = std::string("/usr/bin/rbd") + " export " + shell_quote(image.source) + " " +
                                shell_quote(exported) + " --id libvirt";
    output.clear();
    const int export_status = hx_utils_common::execute_command(command, output);
    if (export_status != 0) {
        log_command_code(command, export_status, output);
        return false;
    }
    files.add(exported, stem);
    return true;
}

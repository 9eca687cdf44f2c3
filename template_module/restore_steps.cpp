// Small steps shared by the deployment and the replica application: the
// restored file of an image, the disks of images without data, the template
// create command and the removal of what a failed restore created.
#include "template_module/hx_module_kevra_template.h"

#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/leftovers.h"
#include "common/shell_quote.h"
#include "common/termination.h"
#include "opennebula/image_queries.h"
#include "opennebula/image_record.h"
#include "opennebula/object_ids.h"
#include "opennebula/template_queries.h"
#include "template_module/backup_rules.h"
#include "template_module/ended_command_rule.h"
#include "template_module/restore_rules.h"

using hx_opennebula_common::oneimage;

std::string HxModuleKevraTemplate::restored_file_path(const oneimage& image) const
{
    const std::string stem = kevra_template::image_file_stem(image, clone_name_);
    if (!kevra_template::is_plain_file_name(stem)) {
        HxLogStream(HxLogLvl::Error) << "std::string HxModuleKevraTemplate::restored_file_path(const oneimage&) const"
                                     << ": the restored file '" << stem << "' of the image '" << image.name
                                     << "' can't stand inside the restore directory" << std::endl;
        return std::string();
    }
    return options_.tmp_operation_directory + "/" + stem;
}

void HxModuleKevraTemplate::refer_to_existing_image(oneimage& image, bool marker)
{
    // The archive holds no data of such an image (a CD-ROM, for example): the
    // template's disk is pointed at the source image, which the image list
    // names by its ID when the marker says so.
    std::string name;
    if (marker && hx_opennebula_common::does_image_exist_by_id(image.id) &&
        hx_opennebula_common::get_image_name(image.id, name) == 0 && !name.empty()) {
        image.restore_name = name;
        HxLogStream(HxLogLvl::Info) << "Image '" << image.name << "' has no data in the archive; the template refers "
                                    << "to the existing image '" << name << "'" << std::endl;
        return;
    }
    HxLogStream(HxLogLvl::Warning) << "Image '" << image.name << "' has no data in the archive and no existing image "
                                   << "stands for it; the template refers to the image '" << image.restore_name << "'"
                                   << std::endl;
}

bool HxModuleKevraTemplate::create_template_from_file(const std::string& file, const char* failure_text,
                                                      const std::string& success_text)
{
    const std::string command = "/usr/bin/onetemplate create " + kelvomar::shell_quote(file);
    std::string output;
    int status = 0;
    // Until the command has told what it made, a termination's clean-up looks
    // for the template by the name in the file, which was free when chosen,
    // among the templates made after the listing right before the command.
    if (!restore_template_name_.empty()) {
        std::vector<hx_opennebula_common::pool_object> pool;
        if (hx_opennebula_common::get_template_pool(pool) != 0) {
            HxLogStream(HxLogLvl::Error) << "virtual bool HxModuleKevraTemplate::deployment(const bool&)"
                                         << ": can't read the template pool before the template is created"
                                         << std::endl;
            return false;
        }
        pending_template_ = {restore_template_name_, hx_opennebula_common::highest_object_id(pool)};
        kelvomar::leftovers::note("template-name",
                                  kevra_template::pending_object_text("template", pending_template_) + " (ID not known)");
    }
    {
        // A termination gives the command a grace: its output names the template it made.
        const kelvomar::termination::uninterrupted object_creation;
        status = hx_utils_common::execute_command(command, output);
    }
    if (status == 0) {
        restored_template_id_ = hx_opennebula_common::printed_object_id(output);
        if (!restored_template_id_.empty()) {
            kelvomar::leftovers::note("template", "the template '" + restore_template_name_ + "' ID " +
                                                      restored_template_id_ + " (without its images)");
        }
    }
    if (!restored_template_id_.empty() || !kelvomar::termination::ended_by_termination(status)) {
        pending_template_ = {};
        kelvomar::leftovers::forget("template-name");
    }
    if (status != 0) {
        HxLogStream(HxLogLvl::Error) << "virtual bool HxModuleKevraTemplate::deployment(const bool&)" << failure_text
                                     << std::endl;
        HxLogStream(HxLogLvl::Error) << "Command was: " << command << std::endl;
        HxLogStream(HxLogLvl::Error) << "Command output: " << output << std::endl;
        return false;
    }
    HxLogStream(HxLogLvl::Info) << success_text << output << std::endl;
    return true;
}

void HxModuleKevraTemplate::remove_restored_template()
{
    static const char kSignature[] = "void HxModuleKevraTemplate::remove_restored_template()";
    if (!pending_template_.name.empty()) {
        // Only the template: images it refers to are handled as below. One
        // that can be another's stays, named in the record.
        if (delete_template_of_ended_command(pending_template_, kSignature)) {
            kelvomar::leftovers::forget("template-name");
        }
        pending_template_ = {};
    }
    if (restored_template_id_.empty()) {
        return;
    }
    // Only the template: its images are this run's (removed by ID next) or
    // images that existed before, which stay.
    HxLogStream(HxLogLvl::Info) << "Removing the template " << restored_template_id_ << " that this restore created"
                                << std::endl;
    const std::string command = "/usr/bin/onetemplate delete " + kelvomar::shell_quote(restored_template_id_);
    std::string output;
    if (hx_utils_common::execute_command(command, output) != 0) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": can't delete the template: " << restored_template_id_
                                     << std::endl;
        HxLogStream(HxLogLvl::Error) << "Command output: " << output << std::endl;
    } else {
        kelvomar::leftovers::forget("template");
    }
    restored_template_id_.clear();
}

void HxModuleKevraTemplate::handle_shutdown_signal()
{
    if (options_.operation == op_restore || options_.operation == op_apply_replica) {
        // What a restore made on the platform and in the safe directory goes;
        // the framework then removes its directories.
        if (!import_file_in_use_.empty()) {
            boost::system::error_code ignored;
            boost::filesystem::remove(import_file_in_use_, ignored);
            import_file_in_use_.clear();
            kelvomar::leftovers::forget("import-file");
        }
        remove_restored_template();
        remove_restored_images();
    }
    HxModuleUniversal::handle_shutdown_signal();
}

void HxModuleKevraTemplate::remove_restored_images()
{
    if (!pending_image_.name.empty()) {
        std::string kept;
        if (delete_image_of_ended_command(pending_image_, "void HxModuleKevraTemplate::remove_restored_images()",
                                          kept)) {
            kelvomar::leftovers::forget("image-name");
        } else if (!kept.empty()) {
            // The run's image, whose deletion failed: it stays on the record
            // of what stays behind, by its ID now.
            kelvomar::leftovers::note("image " + kept, "the image '" + pending_image_.name + "' ID " + kept);
            kelvomar::leftovers::forget("image-name");
        }
        pending_image_ = {};
    }
    for (const std::string& id : restored_image_ids_) {
        HxLogStream(HxLogLvl::Info) << "Removing the image " << id << " that this restore created" << std::endl;
        // One that can't be deleted stays on the record of what stays behind.
        if (hx_opennebula_common::delete_image(id) == 0) {
            kelvomar::leftovers::forget("image " + id);
        }
    }
    restored_image_ids_.clear();
}

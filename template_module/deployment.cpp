// Deployment of a restored template: the template file is picked, a template
// name that is free on the platform is chosen and the template is created from
// its configuration alone or, first, every image is re-created from its
// restored file. A replica applied onto an existing template goes to
// replace_template_images instead.
#include "template_module/hx_module_kevra_template.h"

#include <boost/filesystem.hpp>

#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "opennebula/image_queries.h"
#include "opennebula/image_record.h"
#include "opennebula/template_queries.h"
#include "opennebula/template_xml_files.h"
#include "template_module/backup_rules.h"
#include "template_module/restore_rules.h"

namespace {

namespace fs = boost::filesystem;
using hx_opennebula_common::oneimage;

const char* const kSignature = "virtual bool HxModuleKevraTemplate::deployment(const bool&)";

void log_error(const std::string& text)
{
    HxLogStream(HxLogLvl::Error) << kSignature << text << std::endl;
}

// True when a template of any owner has exactly the name `name`, read from the
// pool (a name of digits would be taken for an ID by a look-up); throws when
// the pool can't be read.
bool template_name_taken(const std::string& name)
{
    std::vector<std::string> ids;
    if (hx_opennebula_common::get_template_ids_by_name(name, ids) != 0) {
        throw std::runtime_error("can't read the names of the platform's templates");
    }
    return !ids.empty();
}

}  // namespace

bool HxModuleKevraTemplate::deployment(const bool& replica)
{
    using namespace hx_opennebula_common;
    const auto steps = [&]() -> bool {
        const bool only_config = replica ? template_conf_.backup_only_config
                                         : template_conf_.backup_only_config || template_conf_.restore_only_config;
        if (replica && template_conf_.restore_only_config) {
            HxLogStream(HxLogLvl::Info) << "Option '" << "restore_only_config"
                                        << "' is set, but it won't be taken into account during the replica applying"
                                        << std::endl;
            template_conf_.restore_only_config = false;
        }
        const std::string& directory = options_.tmp_operation_directory;
        const bool original = template_conf_.restore_only_config && !template_conf_.backup_only_config;
        const std::string file =
            directory + "/" + (original ? kevra_template::kOriginalTemplateFileName : kevra_template::kTemplateFileName);
        try {
            if (!fs::exists(fs::symlink_status(file))) {
                log_error(": XML template doesn't exist: " + file);
                return false;
            }
        } catch (const fs::filesystem_error& e) {
            log_error(std::string(": filesystem_error: ") + e.what());
            return false;
        }
        // The template file is read and rewritten below: only the archive's own file.
        if (!check_restore_input(file, kSignature)) {
            return false;
        }
        const std::string snapshot_directory = reference_snapshot_directory_path();
        const std::string marker_file = snapshot_directory + "/" + kevra_template::kImageIdsMarkerName;
        const bool marker = !snapshot_directory.empty() && fs::exists(fs::symlink_status(marker_file));
        if (marker && !check_restore_input(marker_file, kSignature)) {
            return false;
        }

        std::string wanted = template_conf_.new_name;
        if (wanted.empty() && (get_template_name_from_file(file, wanted) != 0 || wanted.empty())) {
            log_error(": can't get template name from XML file: " + file);
            return false;
        }
        const bool taken = template_name_taken(wanted);
        if (!taken) {
            restore_template_name_ = wanted;
            HxLogStream(HxLogLvl::Info) << "Template with the name '" << wanted << "' doesn't exist in Kevra"
                                        << std::endl;
        }
        if (replica && taken) {
            return replace_template_images(wanted);
        }
        if (taken) {
            std::string candidate = wanted + "-" + std::to_string(2);
            for (unsigned long counter = 3; template_name_taken(candidate); ++counter) {
                HxLogStream(HxLogLvl::Info) << "Template with name: " << candidate << " exists. " << std::endl;
                candidate = wanted + "-" + std::to_string(counter);
                HxLogStream(HxLogLvl::Info) << "Check new template name: " << candidate << std::endl;
            }
            restore_template_name_ = candidate;
        }
        HxLogStream(HxLogLvl::Info) << "Template will be restored with the name: " << restore_template_name_
                                    << std::endl;
        if (!restore_template_name_.empty() && change_name_in_template_xml(file, restore_template_name_) != 0) {
            log_error(": can't change the template XML file for restore: " + file);
            return false;
        }
        std::vector<oneimage> images;
        if (get_backup_images(false, images) != 0) {
            log_error(std::string(": unable to get images info from file: ") + kevra_template::kImageListName);
            return false;
        }
        if (only_config) {
            return restore_configuration_only(file, images, marker);
        }
        return restore_with_images(file, images, marker);
    };

    try {
        if (steps()) {
            return true;
        }
    } catch (const fs::filesystem_error& e) {
        log_error(std::string(": filesystem_error: ") + e.what());
    } catch (const std::exception& e) {
        log_error(std::string(": exception: ") + e.what());
    }
    // A failed restore leaves none of the images it made behind.
    remove_restored_images();
    return false;
}

bool HxModuleKevraTemplate::restore_configuration_only(const std::string& file, const std::vector<oneimage>& images,
                                                       bool marker)
{
    HxLogStream(HxLogLvl::Info) << "Restore only template's config" << std::endl;
    if (marker) {
        for (const oneimage& image : images) {
            if (!hx_opennebula_common::does_image_exist_by_id(image.id)) {
                log_error(": image: " + image.id + " doesn't exist");
                return false;
            }
            HxLogStream(HxLogLvl::Info) << "Image: " << image.id << " exists" << std::endl;
        }
    }
    // The platform takes a template whose disks name no image, and the restore
    // would pass for done: every disk must refer to an image that is there.
    std::vector<std::string> referred;
    if (hx_opennebula_common::get_template_file_image_ids(file, referred) != 0) {
        log_error(": the template in the file " + file + " refers to an image that can't be found");
        return false;
    }
    for (const std::string& id : referred) {
        if (!hx_opennebula_common::does_image_exist_by_id(id)) {
            log_error(": the template in the file " + file + " refers to the image " + id + ", which doesn't exist");
            return false;
        }
    }
    return create_template_from_file(file, ": unable to create template from XML file: ",
                                     "Template has been created successfully: ");
}

bool HxModuleKevraTemplate::restore_with_images(const std::string& file, std::vector<oneimage>& images, bool marker)
{
    HxLogStream(HxLogLvl::Info) << "Restoring template's config and it's images: " << images.size() << std::endl;
    // Every restored file is checked before the first image is handed over.
    for (const oneimage& image : images) {
        if (!hx_opennebula_common::disk_type_has_data(image.disk_type)) {
            continue;
        }
        const std::string restored = restored_file_path(image);
        if (restored.empty() || !check_restore_input(restored, kSignature)) {
            return false;
        }
    }
    for (oneimage& image : images) {
        if (!hx_opennebula_common::disk_type_has_data(image.disk_type)) {
            refer_to_existing_image(image, marker);
            continue;
        }
        const std::string restored = restored_file_path(image);
        if (restored.empty()) {
            return false;
        }
        if (create_one_image(restored, image) != 0) {
            log_error(": can't create an image in OpenNebula using the restored file: " + restored);
            return false;
        }
    }
    if (hx_opennebula_common::change_image_name_in_template_xml(file, images) != 0) {
        log_error(": unable to change image names in template XML file: " + file);
        return false;
    }
    return create_template_from_file(file, ": unable to create template from XML file",
                                     "Template '" + restore_template_name_ + ", " + "' has been created successfully: ");
}

// The archive's image list read back at a restore: one record per image line,
// each with the name its restored image gets.
#include "template_module/hx_module_kevra_template.h"

#include <algorithm>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "common/untrusted_files.h"
#include "opennebula/image_lists.h"
#include "opennebula/image_record.h"
#include "template_module/backup_rules.h"
#include "template_module/restore_rules.h"

namespace {

using hx_opennebula_common::oneimage;

const char* const kListSignature = "int HxModuleKevraTemplate::get_backup_images(bool, std::vector<oneimage>&)";
const char* const kAttributesSignature = "int HxModuleKevraTemplate::set_image_attributes(std::string&, oneimage&, bool)";
const char* const kFreeNameSignature = "int HxModuleKevraTemplate::get_free_image_name(std::string&)";

bool contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

int HxModuleKevraTemplate::get_backup_images(bool must_exist, std::vector<oneimage>& images)
{
    const std::string path = options_.tmp_operation_directory + "/" + kevra_template::kImageListName;
    // Read whole through the file that was checked.
    kelvomar::untrusted_files::input_file file;
    std::string text;
    std::string error;
    if (!open_restore_input(path, file, kListSignature) ||
        !kelvomar::untrusted_files::read_whole_file(file.file.get(), text, error)) {
        HxLogStream(HxLogLvl::Error) << kListSignature << ": can't open " << path
                                     << (error.empty() ? "" : ": " + error) << std::endl;
        return 12;
    }
    std::istringstream in(text);
    for (std::string raw; std::getline(in, raw);) {
        std::string line = kevra_template::normalised_list_line(raw);
        if (!kevra_template::is_image_list_record(line, clone_name_)) {
            continue;
        }
        oneimage image;
        if (set_image_attributes(line, image, must_exist) != 0) {
            HxLogStream(HxLogLvl::Error) << kListSignature << ": can't set image attributes based on line: " << line
                                         << std::endl;
            return 12;
        }
        images.push_back(image);
    }
    return 0;
}

int HxModuleKevraTemplate::set_image_attributes(std::string& line, oneimage& image, bool must_exist)
{
    using namespace hx_opennebula_common;
    std::size_t field_count = 0;
    try {
        field_count = kevra_template::read_image_list_fields(line, image);
    } catch (const std::exception& e) {
        // A malformed archive fails the restore like any other bad list line,
        // so that the run still cleans up after itself.
        HxLogStream(HxLogLvl::Error) << kAttributesSignature << ": wrong image type or disk type number: "
                                     << e.what() << std::endl;
        return 12;
    }
    if (field_count < 2) {
        return 0;
    }

    image.restore_name = kevra_template::restore_image_name(restore_template_name_, image.name, clone_name_);
    const bool with_data = hx_opennebula_common::disk_type_has_data(image.disk_type);
    if (must_exist) {
        // Records without data are not written anywhere: only the images that
        // receive data must be there.
        if (with_data && !does_image_name_exist(image.restore_name)) {
            HxLogStream(HxLogLvl::Error) << kAttributesSignature << ": image with the name '" << image.restore_name
                                         << "' does not exist in Kevra." << std::endl;
            return 12;
        }
        return 0;
    }
    if (!with_data) {
        // Nothing is re-created for it; the deployment points its disk at an existing image.
        HxLogStream(HxLogLvl::Info) << "Image '" << image.name << "' has no data in the archive; it is not re-created"
                                    << std::endl;
        return 0;
    }
    if (contains(reserved_image_names_, image.restore_name) || does_image_name_exist(image.restore_name)) {
        if (get_free_image_name(image.restore_name) != 0) {
            HxLogStream(HxLogLvl::Error) << kAttributesSignature << ": can't get free image name" << std::endl;
            return 12;
        }
    }
    reserved_image_names_.push_back(image.restore_name);
    HxLogStream(HxLogLvl::Info) << "Image will be restored with the name: " << image.restore_name << std::endl;
    return 0;
}

int HxModuleKevraTemplate::get_free_image_name(std::string& name)
{
    if (name.empty()) {
        HxLogStream(HxLogLvl::Error) << kFreeNameSignature << ": original image name is an empty string" << std::endl;
        return 12;
    }
    std::vector<std::string> taken;
    if (hx_opennebula_common::get_available_image_names(taken) != 0) {
        HxLogStream(HxLogLvl::Error) << kFreeNameSignature << ": can't get available image names" << std::endl;
        return 12;
    }
    // Names given to earlier images of this restore are taken too: their
    // images are created only later.
    taken.insert(taken.end(), reserved_image_names_.begin(), reserved_image_names_.end());
    std::string candidate = name;
    for (unsigned long counter = 2; contains(taken, candidate); ++counter) {
        HxLogStream(HxLogLvl::Info) << "Image with the name: " << candidate << " exists. " << std::endl;
        candidate = name + "-" + std::to_string(counter);
        HxLogStream(HxLogLvl::Info) << "Checking new image name: " << candidate << std::endl;
    }
    name = candidate;
    return 0;
}

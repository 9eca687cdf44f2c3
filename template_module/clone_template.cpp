// The clone of the template that a backup archives: made under the archive
// name, checked, and waited for until every cloned image is ready.
#include "template_module/hx_module_kevra_template.h"

#include <unistd.h>

#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/leftovers.h"
#include "common/shell_quote.h"
#include "common/termination.h"
#include "opennebula/image_lists.h"
#include "opennebula/image_queries.h"
#include "opennebula/object_ids.h"
#include "opennebula/template_queries.h"
#include "template_module/backup_records.h"
#include "template_module/backup_rules.h"
#include "template_module/ended_command_rule.h"

namespace {

const char* const kCloneSignature = "int HxModuleKevraTemplate::clone_template()";

}  // namespace

bool HxModuleKevraTemplate::clone_name_is_free(const std::string& signature, std::string* highest_id)
{
    const std::string& clone = options_.archive_name;
    std::vector<hx_opennebula_common::pool_object> pool;
    if (hx_opennebula_common::get_template_pool(pool) != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": can't find out whether a template named '" << clone
                                     << "' exists" << std::endl;
        return false;
    }
    for (const hx_opennebula_common::pool_object& object : pool) {
        if (object.name == clone) {
            HxLogStream(HxLogLvl::Error) << signature << ": a template named '" << clone
                                         << "' already exists; it can't be used as the clone of the template: "
                                         << options_.resource << std::endl;
            return false;
        }
    }
    if (highest_id != nullptr) {
        *highest_id = hx_opennebula_common::highest_object_id(pool);
    }
    return true;
}

int HxModuleKevraTemplate::clone_template()
{
    using kelvomar::quote_style;
    using kelvomar::shell_quote;
    const std::string& source = options_.resource;
    const std::string& clone = options_.archive_name;
    try {
        // The clone must be a template that this run makes: a template that
        // already has the name would be archived in its place and then deleted.
        // The listing is the last one before the clone: a template made later has a higher ID.
        std::string highest_id;
        if (!clone_name_is_free(kCloneSignature, &highest_id)) {
            return 12;
        }
        // The clone's copies of the images are made after this listing too.
        std::vector<hx_opennebula_common::pool_object> images;
        if (hx_opennebula_common::get_image_pool(images) != 0) {
            HxLogStream(HxLogLvl::Error) << kCloneSignature << ": can't read the image pool before the clone is made"
                                         << std::endl;
            return 12;
        }
        image_id_before_clone_ = hx_opennebula_common::highest_object_id(images);

        const std::string clone_command = "/usr/bin/onetemplate clone " +
                                          shell_quote(source_template_id_, quote_style::always) + " " +
                                          shell_quote(clone, quote_style::always) + " --recursive";
        HxLogStream(HxLogLvl::Info) << "Run command: " << clone_command << std::endl;
        clone_requested_ = true;
        // Until the command has told what it made, a termination's clean-up
        // looks for the clone by its name, which was free up to here, among
        // the templates made after this point.
        pending_clone_ = {clone, highest_id};
        kelvomar::leftovers::note("clone", kevra_template::pending_object_text("template", pending_clone_) +
                                               " (the clone, ID not known) with its images named '" + clone +
                                               "-disk-<N>' of the owner " + kevra_template::command_object_owner() +
                                               " " + kevra_template::made_after_text({clone, image_id_before_clone_}));
        std::string clone_output;
        int clone_status = 0;
        {
            // A termination gives the command a grace: its output names the clone it made.
            const kelvomar::termination::uninterrupted object_creation;
            clone_status = hx_utils_common::execute_command(clone_command, clone_output);
        }
        HxLogStream(HxLogLvl::Info) << "Command output: " << clone_output << std::endl;
        // Only the ID the command printed names this run's clone: a template of
        // the same name may be another process's, made after the check above.
        clone_id_ = hx_opennebula_common::printed_object_id(clone_output);
        if (!clone_id_.empty()) {
            kelvomar::leftovers::note("clone", "the clone template '" + clone + "' ID " + clone_id_ + " with its images");
        }
        if (!clone_id_.empty() || !kelvomar::termination::ended_by_termination(clone_status)) {
            // The command ended by itself: its output tells all it made.
            pending_clone_ = {};
            if (clone_id_.empty()) {
                kelvomar::leftovers::forget("clone");
            }
        }
        if (clone_id_.empty()) {
            HxLogStream(HxLogLvl::Error) << kCloneSignature << ": can't create a clone of the template: " << source
                                         << std::endl;
            HxLogStream(HxLogLvl::Error) << kCloneSignature << ": the clone command printed no template ID; "
                                         << "no template named '" << clone << "' is taken for the clone"
                                         << std::endl;
            kevra_template::log_failed_command(clone_command, clone_output);
            return 12;
        }
        if (clone_status != 0) {
            HxLogStream(HxLogLvl::Error) << kCloneSignature << ": can't create a clone of the template: " << source
                                         << std::endl;
            kevra_template::log_failed_command(clone_command, clone_output);
            return 12;
        }

        const std::string show_command = "/usr/bin/onetemplate show " + shell_quote(clone_id_, quote_style::always);
        std::string show_output;
        if (hx_utils_common::execute_command(show_command, show_output) != 0) {
            HxLogStream(HxLogLvl::Error) << kCloneSignature << ": can't create a clone of the template: " << source
                                         << std::endl;
            kevra_template::log_failed_command(show_command, show_output);
            return 12;
        }
        HxLogStream(HxLogLvl::Info) << "A clone of the template '" << clone << "' was created for backup" << std::endl;
        return wait_for_clone_images();
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kCloneSignature << ": exception: " << e.what() << std::endl;
        return 12;
    }
}

int HxModuleKevraTemplate::wait_for_clone_images()
{
    using kevra_template::clone_image_wait;
    const std::string& clone = options_.archive_name;
    std::vector<std::string> ids;
    if (hx_opennebula_common::get_simple_template_image_list(clone_id_, ids) != 0) {
        HxLogStream(HxLogLvl::Error) << kCloneSignature << ": can't get simple image list for template: " << clone
                                     << std::endl;
        return 12;
    }
    // From here on the clone's images are known by ID, for the record of what
    // a termination leaves behind.
    std::string image_ids;
    for (const std::string& id : ids) {
        image_ids += (image_ids.empty() ? " with its images ID " : ", ID ") + id;
    }
    kelvomar::leftovers::note("clone", "the clone template '" + clone + "' ID " + clone_id_ +
                                           (ids.empty() ? std::string(" with no images") : image_ids));
    HxLogStream(HxLogLvl::Info) << "Checking images cloning ..." << std::endl;
    while (!ids.empty()) {
        // One pass over the remaining images; the first ready one leaves the list and ends the pass.
        for (auto it = ids.begin(); it != ids.end(); ++it) {
            int state = -1;
            if (hx_opennebula_common::get_image_state(*it, state) != 0) {
                HxLogStream(HxLogLvl::Error) << kCloneSignature << ": can't get state for the image '" << *it << "'"
                                             << std::endl;
                return 12;
            }
            const clone_image_wait action = kevra_template::classify_clone_image_state(state);
            if (action == clone_image_wait::changing) {
                continue;
            }
            if (action == clone_image_wait::ready) {
                HxLogStream(HxLogLvl::Info) << "Image: " << *it << " is ready" << std::endl;
                ids.erase(it);
                break;
            }
            HxLogStream error(HxLogLvl::Error);
            error << kCloneSignature;
            switch (action) {
            case clone_image_wait::disabled:
                error << ": image: " << *it << " has state disabled";
                break;
            case clone_image_wait::error:
                error << ": image: " << *it << " has state error";
                break;
            case clone_image_wait::deleting:
                error << ": image: " << *it << " has state deleting now";
                break;
            default:
                error << ": wrong image state: " << state;
                break;
            }
            error << std::endl;
            return 12;
        }
        if (!ids.empty()) {
            kelvomar::termination::sleep_for(std::chrono::seconds(1));
        }
    }
    return 0;
}

#ifndef KEVRA_TEMPLATE_MODULE_HX_MODULE_KEVRA_TEMPLATE_H
#define KEVRA_TEMPLATE_MODULE_HX_MODULE_KEVRA_TEMPLATE_H

// The template backup module: backs up and restores Kevra VM templates with
// the disk images they use.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "modules/hx_module_universal.h"
#include "template_module/ended_command_rule.h"

namespace hx_opennebula_common {
struct oneimage;
}

namespace kevra_template {
class staged_files;
}

namespace kelvomar {
namespace untrusted_files {
struct input_file;
}
}  // namespace kelvomar

// The template module's own parameters, read from the module-parameter string.
struct opennebula_template_conf {
    bool backup_only_config = false;     // "backup_only_config"
    bool set_images_persistent = false;  // "set_images_persistent"
    bool restore_only_config = false;    // "restore_only_config"
    std::uint32_t dd_block_size = 5;     // "dd_block_size", megabytes, 1 to 100
    std::string new_name;                // "new_name"; at a backup also the backed-up template's name
};

class HxModuleKevraTemplate : public HxModuleUniversal {
public:
    // The platform versions the module knows, compared whole with the host's version text.
    static const std::array<std::string, 15> kSupportedVersions;

    explicit HxModuleKevraTemplate(HxModuleOptions options);
    ~HxModuleKevraTemplate() override;

    // Stages the template, its clone and its images for the engine; false when that failed.
    bool prepare_resource_before_backup(const bool& replica) override;
    // Removes the staging directory, the list file and the clone; false when that failed.
    bool release_resource_after_backup() override;
    // True: the module has no configuration file.
    bool load_module_config() override;
    // Adds nothing to the usage text.
    void usage_custom() override;
    // Host check: 0 when the module can work here, 2 otherwise.
    int check_client(const bool& verbose) override;
    // The product version + ".2fad7c4".
    std::string get_full_module_version() override;
    // Header labels of the template listing: 0, or 2 on failure.
    int list_header_labels() override;
    // The template listing: 0, or 2 on failure.
    int list_all_resources() override;
    // The template listing after its header: 0, or 2 on failure.
    int list_all_resources_with_header_labels() override;
    // Whether the template to back up exists as exactly one template (its ID is
    // kept); false after the look-up's records when it is missing or ambiguous.
    bool resource_exists() override;
    // Restore preconditions; false when the restore cannot go on.
    bool before_restore() override;
    // After every engine restore run; false when the restore cannot go on.
    bool after_restore() override;
    // After the last archive of a restore; false when the restore cannot go on.
    bool after_restore_last_file() override;
    // Re-creates the images and the template; false when that failed.
    bool deployment(const bool& replica) override;
    // Prints the backup parameters (operation 15).
    void autonomous_options() override;
    // Deletes the backed-up template with its images.
    void make_archiving() override;
    // Prints the restore parameters (operation 18).
    void list_restore_parameters() override;
    // Fills the template parameters from the special parameters. Throws a
    // standard exception when "dd_block_size" is not a decimal integer in the
    // signed 32-bit range.
    void load_custom_module_parameters() override;
    // The framework's restore directory, refused (1, exit 7) before anything is
    // made when the record id or the archive to patch holds "/" or "..": the
    // restore directory must stay inside the operation directory. 0 on success.
    int define_restore_directory() override;
    // On a termination of a restore or replica application, first removes the
    // file it put into the safe directory, the template and the images it
    // created; then the framework's clean-up.
    void handle_shutdown_signal() override;

    // Clones the template under the archive name and waits for the clone's
    // images: 0 when they are ready; 12 when the name is taken, the clone fails
    // or an image fails (logged).
    int clone_template();
    // Removes the staging directory, the engine file list and the clone, each
    // only when this run made it: 0; 12 when the clone cannot be deleted, 19 on
    // a file-system error, 20 on any other exception (logged).
    int clean_after_backup();
    // Steps of a restore and a listing; 0 on success, another code otherwise.
    int get_backup_images(bool must_exist, std::vector<hx_opennebula_common::oneimage>& images);
    int set_image_attributes(std::string& line, hx_opennebula_common::oneimage& image, bool must_exist);
    int get_free_image_name(std::string& name);
    int create_one_image(const std::string& path, hx_opennebula_common::oneimage& image);
    // Prints "ID|NAME" per template, after the header labels and "-----" when
    // asked: 0; the host check's code, or 2 when the listing fails (nothing printed).
    int list_all_templates(const bool& with_header_labels);
    // Writes a replica's image data over the template's images; false when that failed.
    bool replace_template_images(const std::string& template_name);

    const opennebula_template_conf& template_conf() const { return template_conf_; }

    // The backup's staging directory: the operation directory + "/" + the archive name.
    std::string archive_directory_path() const;

protected:
    // ---- Steps of a template backup ----------------------------------------
    // Each returns true when its step is done, false after its Error record
    // (the caller then cleans up what the run has created).

    // True when the archive name can name the staging directory and, unless
    // only the configuration is backed up, a clone that does not exist yet.
    bool accept_archive_name();
    // Writes orig_template.xml (unless only the configuration is backed up)
    // and template.xml into the staging directory and stages them.
    bool stage_template_files(kevra_template::staged_files& files);
    // Reads the images of the saved template in disk order; images whose disk
    // type carries no data get no unique signature.
    bool read_backup_images(std::vector<hx_opennebula_common::oneimage>& images);
    // Gives each clone image the ID of the source template's image at the same position.
    bool pair_with_source_images(std::vector<hx_opennebula_common::oneimage>& images);
    // Saves the image's XML description under its stem and stages it, then its data.
    bool stage_image(const hx_opennebula_common::oneimage& image, const bool& replica,
                     kevra_template::staged_files& files);
    // Waits until every image of the clone is ready; 0, or 12 when one fails.
    int wait_for_clone_images();
    // True when no template of any owner has the archive name; false after an
    // Error record (prefixed by `signature`) when one has or the pool can't be
    // read. With `highest_id`, also the highest template ID of that listing
    // (empty when the pool is empty).
    bool clone_name_is_free(const std::string& signature, std::string* highest_id = nullptr);
    // The one template that the naming command `start`, ended before it
    // printed an ID, can only have made (kevra_template::made_by_ended_command),
    // into `made`. False after an Error record (prefixed by `signature`) when
    // the pool can't be read, or none or several templates qualify (then every
    // template of the name is named by ID and owner).
    bool find_template_of_ended_command(const kevra_template::naming_command_start& start,
                                        const std::string& signature, hx_opennebula_common::pool_object& made);
    // Deletes by ID, without its images, the template that
    // find_template_of_ended_command finds. True when it was deleted; false
    // after an Error record when it is not found or the deletion fails.
    bool delete_template_of_ended_command(const kevra_template::naming_command_start& start,
                                          const std::string& signature);
    // Deletes the clone that the clone command `start`, ended before it printed
    // an ID, can only have made, without the images its disks name, then by ID
    // only its own copies (kevra_template::sort_ended_clone_images, with
    // `highest_image_before` the highest image ID right before the command).
    // Every other image its disks name stays, named in an Error record by ID
    // and owner. True when the clone and all its copies are gone; false after
    // an Error record otherwise (what is left stays on the record of what
    // stays behind).
    bool delete_clone_of_ended_command(const kevra_template::naming_command_start& start,
                                       const std::string& highest_image_before, const std::string& signature);
    // The same as find and delete for an image: true when it was deleted;
    // false after an Error record when it is not found, or (with its ID in
    // `kept_id`, empty otherwise) when its deletion failed.
    bool delete_image_of_ended_command(const kevra_template::naming_command_start& start,
                                       const std::string& signature, std::string& kept_id);

    // ---- Steps of a template restore ---------------------------------------
    // Each bool step returns true when done, false after its Error record.

    // Creates the template from file `file` alone; with `marker`, every
    // record's ID must first name an existing image.
    bool restore_configuration_only(const std::string& file, const std::vector<hx_opennebula_common::oneimage>& images,
                                    bool marker);
    // Re-creates every image that has data from its restored file, points the
    // template file's disks at them and creates the template.
    bool restore_with_images(const std::string& file, std::vector<hx_opennebula_common::oneimage>& images,
                             bool marker);
    // A record without data keeps referring to an image that exists: the source
    // image named by its ID (with `marker`), when there is one.
    void refer_to_existing_image(hx_opennebula_common::oneimage& image, bool marker);
    // Runs "onetemplate create" on `file`; true when the template was created.
    bool create_template_from_file(const std::string& file, const char* failure_text, const std::string& success_text);
    // Deletes the images that this restore created (after a failure of a later step).
    void remove_restored_images();
    // Deletes the template that this restore created (by its ID, not its images).
    void remove_restored_template();
    // The restored data file of an image inside the restore directory; empty
    // (after an Error record) when its name could lead outside that directory.
    std::string restored_file_path(const hx_opennebula_common::oneimage& image) const;

    // Opens the restore's input file `path` (below the operation directory)
    // only when it is a regular file with one link, reached without following
    // a symbolic link below the operation directory; false after an Error
    // record that starts with `signature` and names the file.
    bool open_restore_input(const std::string& path, kelvomar::untrusted_files::input_file& file,
                            const char* signature) const;
    // The same check of `path`, the file closed again.
    bool check_restore_input(const std::string& path, const char* signature) const;
    // The operation directory the restore was given (`base`) and `path`
    // relative to it (empty for the directory itself); false when `path` does
    // not lie at or below it.
    bool below_operation_directory(const std::string& path, std::string& base, std::string& relative) const;

    // True when the platform version read by the host check is one of the known versions.
    bool is_known_platform_version() const;

    bool client_checked_ = false;
    std::string platform_version_;
    std::array<std::string, 15> supported_versions_ = kSupportedVersions;
    opennebula_template_conf template_conf_;
    std::string clone_name_;
    std::string restore_template_name_;

    // What this backup run has created, so that the clean-up removes only that:
    // the staging directory and the engine file list (each once this run made
    // it), and the clone, by the ID its clone command printed (a started
    // command that printed none leaves nothing to delete).
    bool archive_directory_created_ = false;
    bool resource_list_written_ = false;
    bool clone_requested_ = false;
    std::string clone_id_;
    // The clone command was ended by a termination before it told what it
    // made: the clone is looked for by the archive name, free before it ran,
    // among the templates made after it started (an empty name: none pending).
    kevra_template::naming_command_start pending_clone_;
    // The highest image ID of the listing right before the clone command
    // (empty when the pool was empty): the clone's own copies have higher IDs.
    std::string image_id_before_clone_;
    // The ID of the template this backup saves, read once at the start: the
    // clone, the template files and the archiving refer to that template only.
    std::string source_template_id_;

    // What this restore run has created, so that a failure removes only that:
    // the IDs of the images its image-create commands made, and the names it
    // gave restored images (no two images of one restore get the same name).
    std::vector<std::string> restored_image_ids_;
    std::vector<std::string> reserved_image_names_;
    // The ID of the template this restore created, and the file it has put
    // into a safe directory for an image import (empty when none stands there).
    std::string restored_template_id_;
    std::string import_file_in_use_;
    // The operation directory as the agent named it, before the restore
    // directory was appended: the files a restore reads lie below it.
    std::string operation_directory_;
    // The names an image-create or template-create command was given, with
    // the highest ID of the pool right before it, when a termination ended it
    // before it printed the new object's ID (an empty name otherwise): the
    // clean-up looks for the object by that name among the later ones.
    kevra_template::naming_command_start pending_image_;
    kevra_template::naming_command_start pending_template_;
};

#endif

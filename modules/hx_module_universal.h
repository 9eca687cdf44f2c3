#ifndef KEVRA_MODULES_HX_MODULE_UNIVERSAL_H
#define KEVRA_MODULES_HX_MODULE_UNIVERSAL_H

// The abstract backup module. A module program performs exactly one operation
// per process: the entry point constructs the concrete module from its options
// record, calls init with the process arguments and returns run's result as
// the exit status. The concrete module implements the pure virtual operations;
// the framework calls them in a fixed order per operation.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "modules/engine_outputs.h"
#include "modules/hx_module_operations.h"
#include "modules/hx_module_options.h"
#include "modules/hx_module_signal_handler.h"
#include "modules/module_resource_lock.h"
#include "modules/snapshot_driver.h"

namespace hx_config {
class ConfigFile;
}

class HxModuleUniversal {
public:
    // One client-defined storage of the task.
    struct ClientDefinedStorageInfo {
        int type = 0;       // 1 local directory, 2 S3, 3 the module's default storage
        int id = 0;         // low 32 bits of the record's id
        std::string value;  // type 1: directory; type 2: S3 description as JSON; type 3: empty
    };

    // An archive name that carries a storage type and id: word, separator, id, "@", name.
    struct ClientDefinedArchiveInfo {
        int type = 0;
        int id = 0;
        std::string name;  // the plain archive name
    };

    // What lsblk tells about one block device.
    struct block_device_info {
        std::string name;
        std::uint64_t size = 0;
        bool ro = false;
        std::string type;
        std::vector<std::string> mountpoints;
        std::string fstype;
        std::string fsver;
        std::string label;
        std::string uuid;
        std::uint64_t fsavail = 0;
    };

    // (storage type, path) pairs of a backup to delete from a client-defined storage.
    using DeletionList = std::vector<std::pair<int, std::string>>;

    // Copies the options record and sets every member to its initial value.
    explicit HxModuleUniversal(const HxModuleOptions& options);
    HxModuleUniversal(const HxModuleUniversal&) = delete;
    HxModuleUniversal& operator=(const HxModuleUniversal&) = delete;

    // Slots 0 and 1. Restores the default signal dispositions first, then
    // releases the members (a held resource lock among them).
    virtual ~HxModuleUniversal();

    // ---- Virtual operations, in slot order -------------------------------

    // Slot 2. Prepares the resource and fills the engine file list; true when
    // ready for the engine, false otherwise (exit 6). `replica` is true for a replica.
    virtual bool prepare_resource_before_backup(const bool& replica) = 0;
    // Slot 3. Clean-up after the engine run of a backup or replica, and on a
    // termination signal; false when it failed (exit 6).
    virtual bool release_resource_after_backup() = 0;
    // Slot 4. Loads the module's configuration; false when it cannot (exit 2).
    virtual bool load_module_config() = 0;
    // Slot 5. Prints the module's own lines after the framework's usage text.
    virtual void usage_custom() = 0;
    // Slot 6. Checks that the module can work on this host; the result is the
    // exit status (0 when it can).
    virtual int check_client(const bool& verbose) = 0;
    // Slot 7. The module's full version text, shown by the usage text.
    virtual std::string get_full_module_version() = 0;
    // Slot 8. Prints the header labels; the result is the exit status.
    virtual int list_header_labels() = 0;
    // Slot 9. Prints all resources; the result is the exit status.
    virtual int list_all_resources() = 0;
    // Slot 10. Prints the header labels and all resources; the result is the exit status.
    virtual int list_all_resources_with_header_labels() = 0;
    // Slot 11. True when the resource to back up exists; false gives exit 2.
    virtual bool resource_exists() = 0;
    // Slot 12. Checks before the engine unpacks a restore or replica; false gives exit 7.
    virtual bool before_restore() = 0;
    // Slot 13. After every engine restore or replica run, also a failed one; false gives exit 7.
    virtual bool after_restore() = 0;
    // Slot 14. After the last archive of a restore and every replica; false gives exit 7.
    virtual bool after_restore_last_file() = 0;
    // Slot 15. Puts the restored data in place; false gives exit 7.
    virtual bool deployment(const bool& replica) = 0;
    // Slot 16. Prints the module's special backup options (operation 15).
    virtual void autonomous_options() = 0;
    // Slot 17. Deletes the backed-up resource after a full backup in archiving mode.
    virtual void make_archiving() = 0;
    // Slot 18. Whether the module supports the client-defined storage type;
    // base: false for every type.
    virtual bool check_supported_client_defined_storage(int storage_type);
    // Slot 19. The archive signature file: the archive file + ".signature".
    virtual std::string archive_sign_filename();
    // Slot 20. Extends the operation directory to the restore directory and
    // creates it; 0 on success, non-zero otherwise (exit 7).
    virtual int define_restore_directory();
    // Slot 21. Prints the module's restore parameters (operation 18); base: nothing.
    virtual void list_restore_parameters();
    // Slot 22. Called at the end of the module-parameter parsing so that the
    // module reads its own special parameters; base: nothing. May throw a
    // standard exception, which makes the command line unusable.
    virtual void load_custom_module_parameters();
    // Slot 23. Clean-up by operation on a termination signal: what a failed run
    // of the operation removes. Runs on the termination thread while the worker
    // stands still.
    virtual void handle_shutdown_signal();
    // Slot 24. The engine restore in replica mode; true when it succeeded.
    virtual bool apply_replica();
    // Slot 25. Whether the operation needs an electronic signature; base: only operation 20.
    virtual bool need_esign_for_operation(HxModuleOperations operation);
    // Slot 26. Deletes the backup described by the (type, path) list; true when
    // done (exit 0), false otherwise (exit 12).
    virtual bool delete_from_client_defined_storage(DeletionList list);
    // Slot 27. Verifies the archive and snapshot signatures; true when the
    // verification ran (its outcome is on standard output), false otherwise (exit 12).
    virtual bool verify_in_client_defined_storage();
    // Slot 28. Reads the electronic-signature JSON into the three texts; false
    // when the JSON is not a non-empty object.
    virtual bool parse_esign_json(const std::string& json, std::string& archive_name, std::string& archive_sign,
                                  std::string& snapshot_sign);
    // Slot 29. 0 when the configuration variable is mandatory, other values when
    // it may be left out; base: 0.
    virtual int get_config_option_presence_type(const std::string& name);
    // Slot 30. The value to keep for a variable that the old configuration has;
    // base: `value` unchanged.
    virtual std::string resolve_config_option_merge_conflict(const std::string& name, const std::string& value);
    // Slot 31. Restore clean-up: the reference snapshot directory and, for the
    // last archive, the restore directory.
    virtual void close_restore();

    // ---- Initialisation and dispatch ---------------------------------------

    // Installs the signal handler, parses the command line and loads the task's
    // client-defined storages; false when the run must not go on (exit 14).
    bool init(int argc, char** argv);
    // Performs the selected operation; returns the process exit status.
    unsigned int run();

    // ---- Options record and properties -------------------------------------

    // Writes the property report to standard output.
    void module_properties();
    // The module's options record.
    const HxModuleOptions& options() const { return options_; }

    // ---- Command line -------------------------------------------------------

    // Fills `options` from the process arguments and selects the operation;
    // true when the command line is usable, false (with the reason logged when
    // there is one) otherwise.
    bool parse_module_options(int argc, char** argv, HxModuleOptions& options);
    // Prints the usage text for `program`.
    void usage(const std::string& program);

    // ---- Module parameters --------------------------------------------------

    // Splits the module-parameter string into the framework's settings and the
    // special parameters, then calls load_custom_module_parameters. Throws a
    // standard exception for a malformed numeric engine setting.
    void parce_param_string();
    // True, with the value copied, when `name` is a special parameter with a
    // non-empty value; false with `value` unchanged otherwise.
    bool find_special_param(const std::string& name, std::string& value) const;
    // Whether `name` is a special parameter.
    bool has_special_param_passed_from_client(const std::string& name) const;
    // Adds the special records to the existing archive; true when there is
    // nothing to add or the engine added them, false otherwise.
    bool append_some_special();

    // ---- Local restrictions -------------------------------------------------

    // The lines of the local restriction list file; empty when there is none
    // (an unreadable file is reported at Error).
    std::vector<std::string> read_local_restrictions() const;
    // False when the resource equals one of the restriction lines, true otherwise.
    bool check_local_restrictions() const;

    // ---- Configuration upgrade ----------------------------------------------

    // Operation 2; true when the merged configuration was written.
    bool upgrade_config();
    // The merged configuration of the three files.
    hx_config::ConfigFile get_merged_config(const hx_config::ConfigFile& old_config,
                                            const hx_config::ConfigFile& new_config,
                                            const hx_config::ConfigFile& update_config);

    // ---- Signals ------------------------------------------------------------

    // Sends `signal` to the running engine, when there is one.
    void send_signal_to_hxfd(int signal);
    // Writes the pause record and marks the module paused (the signal handler
    // object holds the worker until a continue). Called by the signal thread.
    void set_to_pause();
    // Whether the module is paused.
    bool is_paused();
    // Writes the continue record and ends the pause. Called by the signal thread.
    void continue_working();

    // ---- Archive engine runs ------------------------------------------------

    // Runs one engine command line, keeping the engine's process id in
    // `hxfd_pid` while it runs; true when the engine exited with 0 or 100,
    // false otherwise.
    bool run_hxfd_command(const std::string& command, std::string& output, std::atomic<pid_t>& hxfd_pid,
                          std::string& result);
    // The engine's word for the compression level.
    std::string compress_mode_str(unsigned int mode);
    // The path of the per-task secret file.
    std::string get_task_secret();
    // Registers the engine flag names; called by the constructor.
    void init_hxfd_flags();
    // Appends the engine flags given as module parameters to `command`.
    void add_hxfd_options_to_command(std::string& command) const;

    // Runs the engine backup; true when it succeeded.
    bool make_backup();
    // Builds the common part of the backup command line into `command`; false
    // when an input is missing or wrong.
    bool make_backup_cmd_common(std::string& command);
    // The engine backup on this host; true when it succeeded.
    bool make_backup_locally();
    // Writes the entries to the engine file list (afresh with its header, or
    // appended); false when the file cannot be written.
    bool add_to_hxfd_list_file(const std::string& path, const std::map<std::string, std::string>& entries,
                               bool append);
    // The engine backup on the remote host; true when it succeeded.
    bool make_backup_remotely();
    // Removes the copied files from the remote host; true when both clean-up
    // commands succeeded.
    bool cleanup_remote_host(const std::string& remote_prefix);

    // The engine restore (replica mode when `replica`); true when it succeeded.
    bool make_restore(const bool& replica);
    // Removes the directory the last snapshot file was unpacked into; never throws.
    void remove_reference_snapshot_directory();

    // ---- Operation directory and snapshot files -----------------------------

    // Paths inside the operation directory, computed from the current
    // operation directory and archive name each time; they never fail.
    std::string archive_filename() const;
    std::string snapshot_filename() const;
    std::string snapshot_directory_path() const;
    std::string leveldb_directory_path() const;
    std::string meta_filename() const;
    // The directory the last snapshot file was unpacked into; empty when none.
    std::string reference_snapshot_directory_path() const;
    // Unpacks a snapshot file (or takes a meta file); 0 on success, 12 on failure.
    int unpack_snapshot_file(const std::string& file);
    // Packs the snapshot directory into the snapshot file; 0 on success, 12 on failure.
    int pack_snapshot_file() const;

    // Finishes a backup or replica creation; true when complete, false otherwise (exit 6).
    bool close_backup(const bool& replica);

    // ---- Resource lock ------------------------------------------------------

    // Points the resource lock at (module file name, `resource`); false when
    // that failed (exit 2). Never throws.
    bool reassign_resource_locker(const std::string& resource);

    // ---- Client-defined storages --------------------------------------------

    // Fills the task's client-defined storages; false when the task secret is
    // missing or the storage file cannot be read.
    bool load_client_defined_storages();
    // Chooses the storage and adapts the options; false when none is usable.
    bool client_defined_storage_prepare();
    // Parses one storage record; false when it is not a valid record.
    static bool split_client_defined_storage_record(const std::string& line, ClientDefinedStorageInfo& info);
    // Parses an archive name that carries a storage; false when it does not.
    static bool split_client_defined_archive_name(const std::string& name, ClientDefinedArchiveInfo& info);
    // Appends the deletion list of the JSON text to `list`; false when the
    // JSON is not an object.
    bool parse_json_of_client_defined_storage(const std::string& json, DeletionList& list);

    // ---- Electronic signatures ----------------------------------------------

    // Writes the bytes of the hexadecimal text to `path`; false when it cannot.
    bool write_esign(const std::string& hex, const std::string& path);
    // Runs one signature check; true when the signature is valid.
    bool check_filename_by_esing(const std::string& key, const std::string& hash, const std::string& signature_file,
                                 const std::string& file, bool use_openssl);

    // ---- Operating-system snapshots -----------------------------------------

    // The snapshot settings given as module parameters.
    bool is_OS_snapshot_using() const { return use_os_snapshot_; }
    const std::string& get_OS_snapshot_type() const { return os_snapshot_type_; }
    const std::string& script_before_snapshot() const { return script_before_snapshot_; }
    const std::string& script_after_snapshot() const { return script_after_snapshot_; }
    const std::string& script_error_snapshot() const { return script_error_snapshot_; }

    // The snapshot size in bytes for a device of `size` bytes.
    std::uint64_t calculate_OS_snapshot_size(std::uint64_t size) const;
    // Runs a hook script with one argument; true when it succeeded.
    bool run_script(const std::string& path, const std::string& argument);
    // Takes (and optionally mounts) the single snapshot; true when it succeeded.
    bool create_OS_snapshot(std::string& device, bool mount, std::string& mount_directory, std::string& mount_point);
    // Mounts the snapshot device at the default mount directory; false when the mount failed.
    bool mount_OS_snapshot(const std::string& snapshot_device, std::string& mount_directory,
                           const std::string& options) const;
    // Unmounts the single snapshot; false when that failed.
    bool umount_OS_snapshot() const;
    // Removes the single snapshot; false when that failed.
    bool remove_OS_snapshot();
    // Takes (and optionally mounts) one more snapshot of the list; false when it failed.
    bool create_OS_snapshot_multiple(const std::string& resource, std::string& device, bool mount,
                                     std::string& mount_directory, std::string& mount_point);
    // Mounts a snapshot of the list; false when the mount failed.
    bool mount_OS_snapshot_multiple(const std::string& snapshot_device, std::string& mount_directory,
                                    const std::string& options) const;
    // Unmounts one mount directory of the list; false when that failed.
    bool umount_OS_snapshot_multiple(const std::string& mount_directory) const;
    // Removes every snapshot of the list; false when one removal failed.
    bool remove_all_OS_snapshots();

    // 0 when the restored file is not sparse or cannot be examined, 7 when it is sparse.
    int check_file_to_restore_for_sparse(const std::string& path) const;

    // ---- Block devices and mount points -------------------------------------

    // The mount point of the file system that holds `path`; empty on failure.
    std::string get_mountpoint(const std::string& path) const;
    // The device mounted on `mount_point` (resolved with realpath when
    // `resolve`); empty on failure.
    std::string get_block_device(const std::string& mount_point, bool resolve) const;
    // Fills `info` from lsblk; false on failure.
    bool get_block_device_info(const std::string& device, block_device_info& info) const;

protected:
    // Members in declaration order; initial values as the constructor sets them.
    HxModuleOptions options_;
    std::map<std::string, std::string> special_records_;
    bool skip_reference_meta_ = false;
    bool remove_operation_directory_ = true;
    std::string hash_algorithm_ = "sha2";
    int hash_length_ = 256;
    int block_size_ = 16384;
    bool file_list_ = false;
    bool numeric_owner_ = false;
    bool ignore_errors_snapshot_ = true;
    std::vector<std::string> hxfd_flag_names_;
    std::map<std::string, std::string> hxfd_flags_;
    bool last_ = false;
    std::string tmp_catalog_;
    bool without_deployment_restore_ = false;
    std::atomic<pid_t> hxfd_pid_{0};       // written by the worker, read by the signal thread
    std::atomic<bool> paused_{false};      // set and cleared by the signal thread on stop and continue
    kelvomar::module::resource_file_lock resource_lock_;
    std::string reference_snapshot_directory_;
    std::unique_ptr<HxModuleSignalHandler> signal_handler_;
    std::map<std::string, std::string> special_params_;
    std::atomic<bool> shutdown_requested_{false};
    // What this run created in the operation directory, and whether a restore
    // ends by a failure (or a termination): its clean-up then removes only
    // what this run created.
    bool snapshot_directory_created_ = false;
    bool restore_directory_created_ = false;
    // The files the engine of a backup writes in the operation directory, made by this run.
    kelvomar::module::engine_outputs engine_outputs_;
    bool restore_failed_ = false;
    // The signature files of a verification stand in the tasks directory.
    bool esign_files_written_ = false;
    bool backup_result_ = false;
    bool data_incomplete_ = false;
    std::vector<ClientDefinedStorageInfo> client_defined_storages_;
    int storage_type_ = 0;
    int storage_id_ = 0;
    std::unique_ptr<Snapshot> os_snapshot_;
    std::vector<OsSnapshot> os_snapshots_;
    bool use_os_snapshot_ = false;
    std::string os_snapshot_type_;
    int os_snapshot_size_ = 10;
    std::string script_before_snapshot_;
    std::string script_after_snapshot_;
    std::string script_error_snapshot_;
};

#endif

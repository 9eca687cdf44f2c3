#ifndef KEVRA_MODULES_HX_MODULE_OPTIONS_H
#define KEVRA_MODULES_HX_MODULE_OPTIONS_H

#include <string>

#include "modules/resource_list.h"

// The parsed command line and the module's properties for one module run. The
// entry point sets the properties; the command-line parser fills the rest.
struct HxModuleOptions {
    HxModuleOptions() = default;
    HxModuleOptions(const HxModuleOptions&) = default;
    HxModuleOptions& operator=(const HxModuleOptions&) = default;
    ~HxModuleOptions() = default;

    std::string module_name;              // argv[0] as invoked
    int operation = 0;                    // HxModuleOperations
    int backup_type = 1;                  // 1 full, 2 incremental, 3 differential
    std::string resource;                 // backup, backup_list (list file path), create-replica
    ResourceList resource_list;           // resources of the backup_list file
    std::string resource_list_file;       // engine file list path, set by the module
    std::string tmp_operation_directory;  // operation directory (absolute once parsed)
    std::string archive_name;             // archive-name, client-archive
    std::string reference_snapshot;       // reference-snapshot
    std::string archive_to_patch;         // archive-to-patch
    int compress = 1;                     // 1 to 4
    bool local_restrictions = false;      // local-restrictions
    std::string module_params;            // module-params
    std::string crypto = "nocrypt";       // crypto
    std::string key_file;                 // key-file
    std::string destination_resource;     // apply-replica: copy of the operation directory
    std::string media_server;             // media-server
    std::string task_id;                  // task-id
    std::string record_id;                // restore, apply-replica
    std::string meta_file;                // meta-file
    std::string snapshot_meta_file;       // meta file of the unpacked snapshot
    unsigned int parallelism = 1;         // parallelism
    bool archiving_mode = false;          // is-archiving-supported with a full backup
    bool dgst = false;                    // dgst with a backup or replica
    bool autonomous = false;              // autonomous with a backup or restore
    std::string restriction_list_file;    // set by the entry point
    std::string granular_list;            // granular-list
    std::string granular_entities;        // granular-entities
    std::string delete_from_client_defined_storage;  // JSON of a backup to delete
    // Module properties, set by the entry point; no option changes them.
    bool incremental_supported = false;
    bool differential_supported = false;
    bool dedup_supported = false;
    bool archiving_supported = false;
    bool autonomous_supported = false;
    bool one_operation_per_resource = false;
    bool set_to_numeric = false;
    std::string remote_host;              // no option sets it
    std::string remote_user = "root";
    unsigned int memory_threshold = 0;    // memory-threshold
    std::string configs_list;             // update-config: old:new:update
    bool need_esign = false;              // need_esign
    std::string sign_hash;                // sign_hash
    std::string esign;                    // esign
};

#endif

#ifndef KEVRA_MODULES_HX_MODULE_OPERATIONS_H
#define KEVRA_MODULES_HX_MODULE_OPERATIONS_H

// The operations of one module run; the command line selects exactly one and
// stores it in HxModuleOptions::operation.
enum HxModuleOperations : int {
    op_none = 0,                          // nothing selected, or help: run returns 1
    op_check_client = 1,                  // check-client
    op_update_config = 2,                 // update-config
    op_list_all_resources = 3,            // list-all-resource
    op_list_all_resources_with_headers = 4,  // list-all-resource--with-headers
    op_list_headers = 5,                  // list-headers
    op_backup_type_supported = 6,         // full, incr or diff alone
    op_dedup_supported = 7,               // is-dedup-supported
    op_archiving_supported = 8,           // is-archiving-supported alone
    op_backup = 9,                        // backup
    op_backup_list = 10,                  // backup_list
    op_restore = 11,                      // restore
    op_create_replica = 12,               // create-replica
    op_apply_replica = 13,                // apply-replica
    op_version = 14,                      // version
    op_show_backup_options = 15,          // show-backup-options
    op_autonomous_supported = 16,         // autonomous alone
    op_show_module_properties = 17,       // show-module-properties
    op_restore_parameters = 18,           // restore-parameters
    op_delete_from_client_defined_storage = 19,  // delete_from_client_defined_storage
    op_verify_in_client_defined_storage = 20     // verify_in_client_defined_storage
};

#endif

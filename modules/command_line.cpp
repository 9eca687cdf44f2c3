// The command line: the option table and the ordered rules that bind options
// to one operation.
#include <boost/filesystem.hpp>
#include <boost/program_options.hpp>

#include <initializer_list>
#include <iostream>

#include "common/hx_logger.h"
#include "modules/hx_module_universal.h"
#include "modules/option_error_text.h"
#include "common/output_lines.h"

namespace po = boost::program_options;

namespace {

const char* const kSignature = "bool HxModuleUniversal::parse_module_options(int, char**, HxModuleOptions&)";

bool one_of(int value, std::initializer_list<int> allowed)
{
    for (int candidate : allowed) {
        if (candidate == value) {
            return true;
        }
    }
    return false;
}

// The option library reads "-1" as 4294967295 for an unsigned option; a
// negative parallelism or memory threshold is an invalid value like any other.
void refuse_negative_unsigned_values(const po::parsed_options& parsed)
{
    for (const auto& option : parsed.options) {
        if (option.string_key != "parallelism" && option.string_key != "memory-threshold") {
            continue;
        }
        for (const auto& token : option.value) {
            const auto first = token.find_first_not_of(" \t\n\v\f\r");
            if (first != std::string::npos && token[first] == '-') {
                po::invalid_option_value error(token);
                error.set_option_name("--" + option.string_key);
                throw error;
            }
        }
    }
}

// The option table; value options store into the fields of `options` when notified.
po::options_description option_table(HxModuleOptions& options)
{
    po::options_description table("Options description", po::options_description::m_default_line_length,
                                  po::options_description::m_default_line_length / 2);
    // clang-format off
    table.add_options()
        ("help,h", "this message")
        ("version,V", "show version")
        ("update-config,u", po::value<std::string>(&options.configs_list),
         "Update configuration file. Format: '<old config>:<new config>:<update config>' (Old config and/or update config may be empty. New config must be)")
        ("full,1", "Define full backup")
        ("incr,2", "Define inc backup")
        ("diff,3", "Define diff backup")
        ("autonomous", "Autonomous mode")
        ("show-backup-options", "Show special backup options for autonomous mode")
        ("show-module-properties", "Show module properties")
        ("create-replica,A", po::value<std::string>(&options.resource), "Create a replica of resource")
        ("is-archiving-supported,a", "Is archiving supported?")
        ("backup,b", po::value<std::string>(&options.resource), "Backup a resource")
        ("backup_list,B", po::value<std::string>(&options.resource),
         "Path to a json file containing list of resources to backup")
        ("crypto,C", po::value<std::string>(&options.crypto), "Crypto algorithm")
        ("list-headers,c", "List headers, if module is not browsable")
        ("is-dedup-supported,D", "Is deduplication supported?")
        ("tmp-operation-directory,d", po::value<std::string>(&options.tmp_operation_directory),
         "Temporary operation directory")
        ("module-params,e", po::value<std::string>(&options.module_params), "Module parameters")
        ("archive-to-patch,i", po::value<std::string>(&options.archive_to_patch), "Archive to patch")
        ("local-restrictions,j", "Enable local restrictions")
        ("key-file,k", po::value<std::string>(&options.key_file), "Crypto algorithm")
        ("list-all-resource,l", "List all resource, if module is not browsable")
        ("list-all-resource--with-headers,L", "List all resource with headers, if module is not browsable")
        ("media-server,m", po::value<std::string>(&options.media_server), "Define media server")
        ("archive-name,n", po::value<std::string>(&options.archive_name), "Define created archive name")
        ("meta-file,M", po::value<std::string>(&options.meta_file), "Define meta or snapshot file name")
        ("parallelism,p", po::value<unsigned int>(&options.parallelism), "Parallelism")
        ("apply-replica,R", po::value<std::string>(&options.record_id), "Apply replica record ID")
        ("restore,r", po::value<std::string>(&options.record_id), "Restore record ID")
        ("reference-snapshot,s", po::value<std::string>(&options.reference_snapshot), "Reference snapshot")
        ("task-id,T", po::value<std::string>(&options.task_id), "Task ID")
        ("check-client,t", "Check whether the module can work on the client")
        ("compress,z", po::value<int>(&options.compress), "Compress")
        ("granular-list,f", po::value<std::string>(&options.granular_list), "List of files for granular restore")
        ("granular-entities,g", po::value<std::string>(&options.granular_entities),
         "List of entities for granular restore")
        ("dgst", "generate signature for backup")
        ("restore-parameters,o", "List restore parameters")
        ("memory-threshold,G", po::value<unsigned int>(&options.memory_threshold), "Allowed amount of memory")
        ("delete_from_client_defined_storage", po::value<std::string>(&options.delete_from_client_defined_storage),
         "Delete the backup according to the json content from client defined storage")
        ("verify_in_client_defined_storage",
         "Verify the backup according to the json content in client defined storage")
        ("need_esign", "Check if esign info is needed for operation")
        ("sign_hash", po::value<std::string>(&options.sign_hash), "Signature hash")
        ("esign", po::value<std::string>(&options.esign), "Signature json")
        ("client-archive", po::value<std::string>(&options.archive_name), "Archive name for client restore.");
    // clang-format on
    return table;
}

}  // namespace

bool HxModuleUniversal::parse_module_options(int argc, char** argv, HxModuleOptions& options)
{
    try {
        if (argc >= 1 && argv != nullptr && argv[0] != nullptr) {
            options.module_name = argv[0];
        }
        if (argc <= 1) {
            usage(options.module_name);
            return false;
        }

        po::options_description table = option_table(options);
        po::variables_map given;
        const po::positional_options_description no_positional_arguments;
        const po::parsed_options parsed =
            po::command_line_parser(argc, argv).options(table).positional(no_positional_arguments).run();
        refuse_negative_unsigned_values(parsed);
        po::store(parsed, given);
        po::notify(given);

        const auto has = [&given](const char* name) { return given.count(name) != 0; };
        int& operation = options.operation;
        // Selecting an operation succeeds only while none is selected yet.
        const auto select = [&operation](int selected) {
            if (operation != op_none) {
                return false;
            }
            operation = selected;
            return true;
        };
        // backup, backup_list and create-replica combine with a backup type.
        const auto select_backup = [&operation](int selected) {
            if (operation != op_none && operation != op_backup_type_supported) {
                return false;
            }
            operation = selected;
            return true;
        };
        const auto backup_range = {9, 10, 11, 12, 13};

        if (has("help")) {
            usage(options.module_name);
            std::cout << table << std::endl;
            return true;
        }
        if (has("version") && !select(op_version)) return false;
        if (has("update-config") && !select(op_update_config)) return false;
        if (has("list-headers") && !select(op_list_headers)) return false;
        if (has("list-all-resource--with-headers") && !select(op_list_all_resources_with_headers)) return false;
        if (has("delete_from_client_defined_storage") && !select(op_delete_from_client_defined_storage)) return false;
        if (has("verify_in_client_defined_storage") && !select(op_verify_in_client_defined_storage)) return false;
        if (has("show-backup-options") && !select(op_show_backup_options)) return false;
        if (has("show-module-properties") && !select(op_show_module_properties)) return false;
        if (has("check-client") && !select(op_check_client)) return false;
        if (has("list-all-resource") && !select(op_list_all_resources)) return false;
        if (has("full")) {
            if (!select(op_backup_type_supported)) return false;
            options.backup_type = 1;
        }
        if (has("incr")) {
            if (!select(op_backup_type_supported)) return false;
            options.backup_type = 2;
        }
        if (has("diff")) {
            if (!select(op_backup_type_supported)) return false;
            options.backup_type = 3;
        }
        if (has("is-dedup-supported") && !select(op_dedup_supported)) return false;
        if (has("backup")) {
            if (!select_backup(op_backup)) return false;
            if (options.resource.empty()) {
                HxLogStream(HxLogLvl::Error) << "Resource is empty" << std::endl;
                return false;
            }
        }
        if (has("backup_list")) {
            if (!select_backup(op_backup_list)) return false;
            if (options.resource.empty()) {
                HxLogStream(HxLogLvl::Error) << kSignature << ": resource is empty" << std::endl;
                return false;
            }
            if (!options.resource_list.parse_json_file(options.resource)) {
                HxLogStream(HxLogLvl::Error) << kSignature << ": can't parse json file: " << options.resource
                                             << std::endl;
                return false;
            }
        }
        if (has("restore")) {
            if (!select(op_restore)) return false;
            if (options.record_id.empty()) {
                HxLogStream(HxLogLvl::Error)
                    << "You must define restore object, record ID in server mode or archive file for authonomous mode"
                    << std::endl;
                return false;
            }
        }
        if (has("apply-replica")) {
            if (!select(op_apply_replica)) return false;
            if (options.record_id.empty()) {
                HxLogStream(HxLogLvl::Error) << "Record ID is empty" << std::endl;
                return false;
            }
        }
        if (has("create-replica")) {
            if (!select_backup(op_create_replica)) return false;
            if (options.resource.empty()) {
                HxLogStream(HxLogLvl::Error) << "Resource is empty" << std::endl;
                return false;
            }
        }
        if (has("autonomous")) {
            if (operation == op_none) {
                operation = op_autonomous_supported;
            } else if (one_of(operation, {op_backup, op_backup_list, op_restore})) {
                if (!options.media_server.empty()) {
                    HxLogStream(HxLogLvl::Error) << "Can't use media server with autonomous mode" << std::endl;
                    return false;
                }
                options.autonomous = true;
            } else {
                return false;
            }
        }
        if (has("tmp-operation-directory")) {
            if (!one_of(operation, backup_range)) return false;
            // The engine runs from "/", so a relative directory would name
            // another place there: make it absolute against the working directory.
            if (!options.tmp_operation_directory.empty() &&
                !boost::filesystem::path(options.tmp_operation_directory).is_absolute()) {
                options.tmp_operation_directory = boost::filesystem::absolute(options.tmp_operation_directory).string();
            }
            if (operation == op_apply_replica) {
                options.destination_resource = options.tmp_operation_directory;
            }
        }
        if (has("module-params") && !one_of(operation, {9, 10, 11, 12, 13, 19, 20})) return false;
        if (has("compress")) {
            if (!one_of(operation, backup_range)) return false;
            if (options.compress < 1 || options.compress > 4) {
                options.compress = 1;
            }
        }
        if (has("local-restrictions")) {
            if (!one_of(operation, {op_backup, op_backup_list, op_create_replica})) return false;
            options.local_restrictions = true;
        }
        if (has("archive-name") && !one_of(operation, {op_backup, op_backup_list, op_create_replica})) return false;
        if (has("is-archiving-supported")) {
            if (operation == op_none) {
                operation = op_archiving_supported;
            } else if (one_of(operation, {op_backup, op_backup_list}) && options.backup_type == 1) {
                options.archiving_mode = true;
                kelvomar::output::print_line("Archiving mode: the module '" + options.module_name +
                                             "' will delete the resource after the task is completed");
            } else {
                return false;
            }
        }
        if (has("reference-snapshot")) {
            if (!one_of(operation, {op_backup, op_backup_list})) return false;
            if (options.backup_type == 1) {
                HxLogStream(HxLogLvl::Error) << "Reference snapshot cannot be defined for full backup." << std::endl;
                return false;
            }
        }
        if (has("media-server")) {
            if (!one_of(operation, backup_range)) return false;
            if (options.autonomous) {
                HxLogStream(HxLogLvl::Error) << "Can't use a media server with autonomous mode" << std::endl;
                return false;
            }
        }
        if (has("task-id")) {
            if (!one_of(operation, {9, 10, 11, 12, 13, 19, 20})) {
                HxLogStream(HxLogLvl::Error) << "Operation " << operation << " incompatible with task ID" << std::endl;
                return false;
            }
            if (options.media_server.empty() && !one_of(operation, {19, 20}) && !options.autonomous) {
                HxLogStream(HxLogLvl::Error) << "You must define media-server before task ID" << std::endl;
                return false;
            }
        }
        if (has("granular-list") && operation != op_restore) {
            HxLogStream(HxLogLvl::Error) << "The '-r' option must also be specified for granular restore\n"
                                         << std::endl;
            return false;
        }
        if (has("dgst") && one_of(operation, {op_backup, op_backup_list, op_create_replica})) {
            options.dgst = true;
        }
        if (has("restore-parameters") && !select(op_restore_parameters)) return false;
        if (has("need_esign")) {
            options.need_esign = true;
        }

        parce_param_string();
        return true;
    } catch (std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": " << kelvomar::module::option_error_text(e) << std::endl;
        return false;
    }
}

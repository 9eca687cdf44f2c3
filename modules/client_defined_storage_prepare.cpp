// Preparing a run for the task's client-defined storage: the first usable
// storage is chosen, the archive goes into its directory, the run becomes
// autonomous and archive names that carry a storage are cut to the plain name.
#include "modules/hx_module_universal.h"

#include <boost/filesystem.hpp>

#include "common/hx_logger.h"

namespace {

namespace fs = boost::filesystem;

const char kPrepareSignature[] = "bool HxModuleUniversal::client_defined_storage_prepare()";

// Replaces `name` by its plain part when it carries a storage; true when it did.
bool cut_to_plain_name(std::string& name)
{
    HxModuleUniversal::ClientDefinedArchiveInfo info;
    if (name.empty() || !HxModuleUniversal::split_client_defined_archive_name(name, info)) {
        return false;
    }
    name = info.name;
    return true;
}

}  // namespace

bool HxModuleUniversal::client_defined_storage_prepare()
{
    if (client_defined_storages_.empty()) {
        HxLogStream(HxLogLvl::Warning) << kPrepareSignature << "No client defined storage" << std::endl;
        return true;
    }

    for (std::size_t i = 0; i < client_defined_storages_.size(); ++i) {
        // A copy: the hooks called below may change the list.
        const ClientDefinedStorageInfo storage = client_defined_storages_[i];
        if (!check_supported_client_defined_storage(storage.type)) {
            HxLogStream(HxLogLvl::Info) << "The module doesn't support client defined storage type: " << storage.type
                                        << std::endl;
            return false;
        }
        storage_id_ = storage.id;
        storage_type_ = storage.type;

        if (storage.type == 1) {
            const std::string& directory = storage.value;
            HxLogStream(HxLogLvl::Info) << "Use client defined storage '" << "local-directory" << "'@" << directory
                                        << std::endl;
            // A path whose status cannot be read counts as missing: nothing may
            // throw out of the initialisation.
            boost::system::error_code error;
            const fs::file_status status = fs::status(directory, error);
            if (error || !fs::exists(status)) {
                HxLogStream(HxLogLvl::Error) << directory << " doen't exist" << std::endl;
                continue;
            }
            if (!fs::is_directory(status)) {
                HxLogStream(HxLogLvl::Error) << directory << " is not a directory" << std::endl;
                continue;
            }
            if (options_.operation != op_restore) {
                options_.tmp_operation_directory = directory;
            }
            if (!options_.autonomous_supported) {
                HxLogStream(HxLogLvl::Error) << "To use client defined storage the module MUST support autonomous mode"
                                             << std::endl;
                return false;
            }
            options_.autonomous = true;

            switch (options_.operation) {
            case op_backup:
                if (!options_.remote_host.empty()) {
                    HxLogStream(HxLogLvl::Info)
                        << "Unable to use remote backup host while you use client defined storage" << std::endl;
                    options_.remote_host.clear();
                }
                if (cut_to_plain_name(options_.reference_snapshot)) {
                    HxLogStream(HxLogLvl::Info) << "Rename reference snapshot to: " << options_.reference_snapshot
                                                << std::endl;
                }
                break;
            case op_restore:
                if (cut_to_plain_name(options_.meta_file)) {
                    HxLogStream(HxLogLvl::Info) << "Rename snapshot to: " << options_.meta_file << std::endl;
                }
                break;
            case op_delete_from_client_defined_storage:
            case op_verify_in_client_defined_storage:
                break;
            default:
                HxLogStream(HxLogLvl::Info) << kPrepareSignature << ", line: " << 960
                                            << ": unsupported operation: " << options_.operation << std::endl;
                return false;
            }
            return true;
        }
        if (storage.type == 3) {
            HxLogStream(HxLogLvl::Info) << kPrepareSignature << " Using module default storage." << std::endl;
            options_.autonomous = true;
            return true;
        }
        HxLogStream(HxLogLvl::Error) << kPrepareSignature << ": unsupported client defined storage type: "
                                     << storage.type << std::endl;
        return false;
    }

    HxLogStream(HxLogLvl::Error) << "There is no good client defined storage" << std::endl;
    return false;
}

// The engine backup of one resource on this host: the members that gather the
// inputs of the command line and run the engine with the file-creation masks.
#include "modules/hx_module_universal.h"

#include "common/hx_logger.h"
#include "modules/backup_command_line.h"

#include <boost/filesystem.hpp>

#include <sys/stat.h>

#include <exception>

namespace {

const char kLocalSignature[] = "bool HxModuleUniversal::make_backup_locally()";

// Sets the file-creation mask for the engine run and the stricter one after it,
// however the run ends.
class EngineRunMask {
public:
    EngineRunMask() { ::umask(022); }
    ~EngineRunMask() { ::umask(077); }
    EngineRunMask(const EngineRunMask&) = delete;
    EngineRunMask& operator=(const EngineRunMask&) = delete;
};

}  // namespace

bool HxModuleUniversal::make_backup()
{
    if (!options_.remote_host.empty())
        return make_backup_remotely();
    return make_backup_locally();
}

bool HxModuleUniversal::make_backup_cmd_common(std::string& command)
{
    kelvomar::module::BackupCommandCommon in;
    in.hash_algorithm = hash_algorithm_;
    in.hash_length = hash_length_;
    in.block_size = block_size_;
    in.numeric_owner = numeric_owner_;
    in.skip_reference_meta = skip_reference_meta_;
    add_hxfd_options_to_command(in.engine_flags);
    in.resource_list_file = options_.resource_list_file;
    in.resource = options_.resource;
    in.parallelism = options_.parallelism;
    in.local_restrictions = options_.local_restrictions;
    if (options_.local_restrictions)
        in.restrictions = read_local_restrictions();
    in.backup_type = options_.backup_type;
    in.reference_meta_file = options_.snapshot_meta_file;
    in.compress = options_.compress;
    in.memory_threshold = options_.memory_threshold;
    return kelvomar::module::build_backup_command_common(in, command);
}

bool HxModuleUniversal::make_backup_locally()
{
    try {
        backup_result_ = false;
        std::string command;
        if (!make_backup_cmd_common(command))
            return false;

        kelvomar::module::BackupCommandTarget target;
        target.autonomous = options_.autonomous;
        target.meta_file = meta_filename();
        if (options_.autonomous) {
            target.archive_file = archive_filename();
        } else {
            target.media_server = options_.media_server;
            target.archive_name = options_.archive_name;
            target.task_id = options_.task_id;
            target.task_secret_file = get_task_secret();
        }
        target.sign = options_.dgst;
        if (options_.dgst)
            target.sign_file = archive_sign_filename();
        target.local_restrictions = options_.local_restrictions;
        target.restriction_list_file = options_.restriction_list_file;
        target.crypto = options_.crypto;
        target.key_file = options_.key_file;
        if (!kelvomar::module::append_local_backup_arguments(target, command))
            return false;
        command += " 2>&1";

        std::string output;
        std::string result;
        bool ok;
        {
            EngineRunMask mask;
            ok = run_hxfd_command(command, output, hxfd_pid_, result);
        }
        if (!ok) {
            HxLogStream(HxLogLvl::Error) << kLocalSignature << ": " << command << std::endl;
            HxLogStream(HxLogLvl::Error) << "hxfd out: " << output;
        }
        backup_result_ = ok;
        return ok;
    } catch (const boost::filesystem::filesystem_error& e) {
        HxLogStream(HxLogLvl::Error) << kLocalSignature << ": filesystem error: " << e.what() << std::endl;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kLocalSignature << ": exception: " << e.what() << std::endl;
    }
    return false;
}

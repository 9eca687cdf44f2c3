#include "modules/backup_command_line.h"

#include "common/hx_logger.h"
#include "common/shell_quote.h"
#include "modules/engine_runner.h"

#include <boost/filesystem.hpp>

namespace kelvomar {
namespace module {

namespace {

const char kCommonSignature[] = "bool HxModuleUniversal::make_backup_cmd_common(std::string&)";
const char kMasterKey[] = "/opt/kelvomar/keys/master-key";
const char kSecretKey[] = "/opt/kelvomar/keys/secret-key.pem";

std::string word(const std::string& value)
{
    return kelvomar::shell_quote(value);
}

// The -c piece: the engine file list, else the resource itself.
bool append_resource_piece(const BackupCommandCommon& in, std::string& command)
{
    namespace fs = boost::filesystem;
    if (in.resource_list_file.empty()) {
        // Also for a directory resource: the resource is named, never the "." that the
        // "cd /" before it would turn into the whole root file system.
        command += " -c " + word(in.resource);
        return true;
    }
    if (!fs::exists(in.resource_list_file)) {
        HxLogStream(HxLogLvl::Error) << kCommonSignature << ": resource list file doesn't exist: "
                                     << in.resource_list_file << std::endl;
        return false;
    }
    if (!fs::is_regular_file(in.resource_list_file)) {
        HxLogStream(HxLogLvl::Error) << kCommonSignature
                                     << ": resource list file is not a regular file: "
                                     << in.resource_list_file << std::endl;
        return false;
    }
    command += " -c " + word(in.resource_list_file);
    return true;
}

// The -x argument: the two key files and, with local restrictions, the restricted
// resources, joined by commas into one word.
std::string key_and_restriction_word(const BackupCommandCommon& in)
{
    std::string list = std::string(kMasterKey) + "," + kSecretKey;
    if (in.local_restrictions) {
        list += ",";
        for (std::size_t i = 0; i < in.restrictions.size(); ++i) {
            if (i != 0)
                list += ",";
            list += in.restrictions[i];
        }
    }
    return word(list);
}

bool append_reference_piece(const BackupCommandCommon& in, std::string& command)
{
    switch (in.backup_type) {
    case 1:
        return true;
    case 2:
    case 3:
        if (in.backup_type == 2 && in.skip_reference_meta)
            return true;
        if (in.reference_meta_file.empty()) {
            HxLogStream(HxLogLvl::Error) << kCommonSignature
                                         << ": you must define reference snapshot name (-s option)"
                                         << std::endl;
            return false;
        }
        command += " -S " + word(in.reference_meta_file);
        return true;
    default:
        HxLogStream(HxLogLvl::Error) << kCommonSignature << ": wrong backup type: "
                                     << in.backup_type << std::endl;
        return false;
    }
}

}  // namespace

bool build_backup_command_common(const BackupCommandCommon& in, std::string& command)
{
    std::string line = "cd / && /opt/kelvomar/bin/hxfd -a " + word(in.hash_algorithm);
    line += in.hash_length == 256 ? " -2 " : " -5 ";
    line += " -b " + std::to_string(in.block_size);
    if (!append_resource_piece(in, line))
        return false;
    if (in.parallelism != 1)
        line += " -p " + std::to_string(in.parallelism);
    line += in.engine_flags;
    line += " -x " + key_and_restriction_word(in);
    if (in.numeric_owner)
        line += " --numeric-owner";
    if (!append_reference_piece(in, line))
        return false;
    if (in.compress != 0)
        line += " -z " + word(engine_compress_word(static_cast<unsigned int>(in.compress)));
    if (in.memory_threshold != 0)
        line += " --memory-threshold " + std::to_string(in.memory_threshold);
    command = line;
    return true;
}

bool append_local_backup_arguments(const BackupCommandTarget& in, std::string& command)
{
    namespace fs = boost::filesystem;
    if (in.autonomous) {
        command += " -n " + word(in.archive_file) + " -m " + word(in.meta_file);
    } else {
        command += " -M " + word(in.media_server) + " -N " + word(in.archive_name) + " -T " +
                   word(in.task_id);
        command += " -s " + word(in.task_secret_file);
        command += " -m " + word(in.meta_file);
    }
    if (in.sign) {
        command += " -g " + word(in.sign_file);
        command += std::string(" --passin ") + kMasterKey;
        command += std::string(" --sign ") + kSecretKey;
    }
    if (in.local_restrictions && fs::exists(in.restriction_list_file))
        command += " -X " + word(in.restriction_list_file);
    if (in.crypto != "nocrypt") {
        if (in.key_file.empty()) {
            HxLogStream(HxLogLvl::Error) << "you must define key file" << std::endl;
            return false;
        }
        if (!fs::exists(in.key_file)) {
            HxLogStream(HxLogLvl::Error) << "there is no key file: " << in.key_file << std::endl;
            return false;
        }
        command += " -C " + word(in.crypto) + " -k " + word(in.key_file);
    }
    return true;
}

}  // namespace module
}  // namespace kelvomar

// The engine runs of a restore and of a replica application: one archive is
// unpacked by the archive engine into the restore directory, where the
// concrete module then finds the data to put in place.
#include "modules/hx_module_universal.h"

#include "common/hx_logger.h"
#include "common/shell_quote.h"
#include "modules/shell_escaping.h"

#include <boost/filesystem.hpp>

#include <exception>
#include <string>

namespace {

const char kRestoreSignature[] = "bool HxModuleUniversal::make_restore(const bool&)";

std::string word(const std::string& value)
{
    return kelvomar::shell_quote(value);
}

// A path escaped character by character for the engine's command line; an empty
// path still stands as one (empty) word.
std::string shielded_word(std::string path)
{
    if (path.empty())
        return "''";
    shield_string_for_command(path);
    return path;
}

}  // namespace

bool HxModuleUniversal::make_restore(const bool& replica)
{
    namespace fs = boost::filesystem;
    try {
        std::string command = "/opt/kelvomar/bin/hxfd -a " + word(hash_algorithm_);
        command += hash_length_ == 256 ? " -2 " : " -5 ";
        command += " -b " + std::to_string(block_size_);

        if (options_.autonomous) {
            if (!client_defined_storages_.empty()) {
                ClientDefinedArchiveInfo info;
                const bool split = split_client_defined_archive_name(options_.archive_name, info);
                if (!split || (info.type != 1 && info.type != 3)) {
                    HxLogStream(HxLogLvl::Error) << kRestoreSignature << ": unsupported client defined storage here: "
                                                 << options_.archive_name << std::endl;
                    return false;
                }
                if (info.type == 3) {
                    HxLogStream(HxLogLvl::Info) << "Module default storage. Skipping hxfd run." << std::endl;
                    return true;
                }
                options_.archive_name = info.name;
                HxLogStream(HxLogLvl::Info) << "Rename restored object to: " << options_.archive_name << std::endl;
            }
            command += " -r " + word(options_.archive_name);
        } else {
            command += " -R " + word(options_.record_id);
            command += " -M " + word(options_.media_server) + " -T " + word(options_.task_id);
            command += " -s " + word(get_task_secret());
            command += " -m " + shielded_word(options_.snapshot_meta_file);
        }

        command += " -d " + shielded_word(options_.tmp_operation_directory);

        if (options_.crypto != "nocrypt") {
            if (options_.key_file.empty()) {
                HxLogStream(HxLogLvl::Error) << kRestoreSignature << ": you must define key file" << std::endl;
                return false;
            }
            if (!fs::exists(options_.key_file)) {
                HxLogStream(HxLogLvl::Error) << kRestoreSignature << ": there is no key file: " << options_.key_file
                                             << std::endl;
                return false;
            }
            command += " -C " + word(options_.crypto) + " -k " + word(options_.key_file);
        }
        if (replica)
            command += " -E ";
        if (options_.parallelism != 1)
            command += " -p " + std::to_string(options_.parallelism);
        if (!options_.granular_list.empty())
            command += " -f " + word(options_.granular_list);
        if (options_.set_to_numeric)
            command += " --set-to-numeric";
        add_hxfd_options_to_command(command);
        command += " 2>&1";

        std::string output;
        std::string result;
        const bool ok = run_hxfd_command(command, output, hxfd_pid_, result);
        if (!ok) {
            HxLogStream(HxLogLvl::Error) << kRestoreSignature << ": " << command << std::endl;
            HxLogStream(HxLogLvl::Error) << "hxfd out: " << output;
        } else if (!replica) {
            HxLogStream(HxLogLvl::Info) << "The archive '" << options_.record_id << "' has been unpacked successfully"
                                        << std::endl;
        }
        return ok;
    } catch (const boost::filesystem::filesystem_error& e) {
        HxLogStream(HxLogLvl::Error) << kRestoreSignature << ": filesystem error: " << e.what() << std::endl;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kRestoreSignature << ": std exception: " << e.what() << std::endl;
        HxLogStream(HxLogLvl::Error) << kRestoreSignature << ": " << e.what() << std::endl;
    }
    return false;
}

bool HxModuleUniversal::apply_replica()
{
    return make_restore(true);
}
